// What the stage tests share: a node grid with its options, every node as the
// pipeline's initial allocations leave it before the test shapes it, and the
// mark where boundary connection ends in a hand-made graph.
#ifndef ZARN_TESTS_SUPPORT_GRID_SUPPORT_HPP
#define ZARN_TESTS_SUPPORT_GRID_SUPPORT_HPP

#include <cstddef>
#include <limits>

#include "app/options.hpp"
#include "pipeline/node_grid.hpp"

namespace grid_test {

constexpr double inf = std::numeric_limits<double>::infinity();

template <bool debug = false>
struct node_grid_base {
    using node = lumo::zarn::node_type<debug, double>;

    lumo::zarn::options<double> opts;
    lumo::zarn::node_array<debug, double> nodes;

    node_grid_base(size_t s0, size_t s1) {
        nodes.resize(s0, s1);
        lumo::zarn::clear_nodes(nodes);
    }

    // Hands every node to set, in index order.
    template <typename Set>
    void each_node(Set set) {
        for (size_t i = 0; i < nodes.length(); ++i) set(nodes[i]);
    }
};

// Where boundary connection ends: what is appended later is the geodesic
// stage's.
template <typename Storage>
void seal_boundary(Storage& s) {
    s.saved_vertices = s.vertices.used();
    s.saved_edges = s.edges.used();
}

}  // namespace grid_test

#endif
