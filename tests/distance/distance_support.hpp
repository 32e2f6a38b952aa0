// A node grid built directly, as the pipeline's initial allocations leave it,
// with a distance transform object on it.
#ifndef ZARN_TESTS_DISTANCE_SUPPORT_HPP
#define ZARN_TESTS_DISTANCE_SUPPORT_HPP

#include <cmath>
#include <limits>
#include <memory>

#include "distance/distance_transform.hpp"

namespace dist_test {

using lumo::zarn::node_array;
using lumo::zarn::node_type;
using node = node_type<false, double>;
using transform = lumo::zarn::distance_transform<false, double>;
constexpr double inf = std::numeric_limits<double>::infinity();

struct grid_setup {
    lumo::zarn::options<double> opts;
    node_array<false, double> nodes;
    lumo::array_2d<unsigned char> input;
    lumo::array_2d<unsigned char> gradient;

    grid_setup(size_t w, size_t h, bool weighted) {
        opts.program.weighted = weighted;
        nodes.resize(w, h);
        for (size_t i = 0; i < nodes.length(); ++i) {
            node& n = nodes[i];
            n = node{};
            n.index = i;
            n.distance = inf;
            n.value = 0;
        }
        input.resize(w, h, static_cast<unsigned char>(0));
    }

    size_t w() const { return nodes.size(0); }
    node& at(size_t x, size_t y) { return nodes[x + w() * y]; }
    std::unique_ptr<transform> make() {
        return std::make_unique<transform>(nodes, opts, input, gradient);
    }
};

// Runs the weighted stages after the heights: tables, front, propagation.
inline void weighted_from_heights(transform& t) {
    t.init_factory();
    t.create_front();
    t.propagate_weighted();
}

}  // namespace dist_test

#endif
