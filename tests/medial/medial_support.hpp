// A node grid set up by hand for the medial stage, with a stand-in boundary
// graph whose distance along the boundary is given by the test.
#ifndef ZARN_TESTS_MEDIAL_SUPPORT_HPP
#define ZARN_TESTS_MEDIAL_SUPPORT_HPP

#include <functional>
#include <memory>

#include "medial/medial_axis.hpp"
#include "support/grid_support.hpp"

namespace medial_test {

namespace z = lumo::zarn;
using grid_test::inf;
using node = z::node_type<false, double>;

// Answers every query with `arc`, or with `measure` when one is given.
struct stub_graph {
    double arc = inf;
    std::function<double(const node*, const node*)> measure;
    size_t queries = 0;
    double boundary_distance(node* a, node* b) {
        ++queries;
        return measure ? measure(a, b) : arc;
    }
};

using stage = z::medial_axis<false, double, stub_graph>;

// Grid coordinates: row = index / w, column = index % w. Every node starts
// as a frame node (state and kind 16), so only the nodes a test opens take
// part.
struct medial_grid : grid_test::node_grid_base<> {
    stub_graph graph;
    size_t w, h;

    medial_grid(size_t rows, size_t columns, bool weighted = false)
        : node_grid_base(columns, rows), w(columns), h(rows) {
        opts.program.weighted = weighted;
        each_node([](node& n) {
            n.state = z::border;
            n.kind = z::border;
            n.distance = 0;
        });
    }

    node& at(size_t row, size_t column) { return nodes[row * w + column]; }

    // An ordinary far node reached from the given origin.
    node& open(size_t row, size_t column, node& origin, double distance = 1) {
        node& n = at(row, column);
        n.state = z::far;
        n.kind = z::ordinary;
        n.generator = &origin;
        n.distance = distance;
        return n;
    }

    std::unique_ptr<stage> make() { return std::make_unique<stage>(nodes, opts, graph); }
};

}  // namespace medial_test

#endif
