// A node grid built directly, as the pipeline's initial allocations leave it,
// with a distance transform object on it.
#ifndef ZARN_TESTS_DISTANCE_SUPPORT_HPP
#define ZARN_TESTS_DISTANCE_SUPPORT_HPP

#include <cmath>
#include <memory>

#include "distance/distance_transform.hpp"
#include "support/grid_support.hpp"

namespace dist_test {

using grid_test::inf;
using lumo::zarn::node_array;
using lumo::zarn::node_type;
using node = node_type<false, double>;
using transform = lumo::zarn::distance_transform<false, double>;

// Every node at an infinite distance with value 0, the input all 0.
struct grid_setup : grid_test::node_grid_base<> {
    lumo::array_2d<unsigned char> input;
    lumo::array_2d<unsigned char> gradient;

    grid_setup(size_t w, size_t h, bool weighted) : node_grid_base(w, h) {
        opts.program.weighted = weighted;
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

// Runs the binary stages up to the propagation: tables, input, front,
// propagation.
inline void binary_from_input(transform& t) {
    t.init_factory();
    t.copy_input();
    t.create_front();
    t.propagate_binary();
}

}  // namespace dist_test

#endif
