// A node grid drawn as a picture of image rows, set up as the distance stage
// and boundary detection leave it, with a geodesic stage over it.
//
//   '#'  frame node (border)
//   'A'  a boundary node: its own generator and a source of the fronts
//   'a'  an ordinary node whose generator is the boundary node 'A'
//   '.'  an ordinary node that no boundary node generated (never reached)
//   '~'  an interior node
//
// Node (row r, column c) has index r + rows * c: the first index of the grid
// is the image row.
#ifndef ZARN_TESTS_GEODESIC_SUPPORT_HPP
#define ZARN_TESTS_GEODESIC_SUPPORT_HPP

#include <cctype>
#include <cmath>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "geodesic/geodesic_distance.hpp"
#include "support/grid_support.hpp"

namespace geo_test {

namespace z = lumo::zarn;
using node = z::node_type<false, double>;
using stage = z::geodesic_distance<false, double>;
using graph_ops = z::path_graph<false, double>;
using storage = z::path_storage<false, double>;
using vertex = z::path_vertex<false, double>;
using edge = z::graph_edge<false, double>;
using path = z::graph_path<false, double>;
using grid_test::inf;

struct picture_grid : grid_test::node_grid_base<> {
    storage store{0, 1.0};
    std::vector<std::string> rows;
    std::map<char, node*> sources;

    // L = la: the length factor is far beyond the grid.
    explicit picture_grid(std::vector<std::string> picture, size_t la = 50)
        : node_grid_base(picture.size(), picture.at(0).size()), rows(std::move(picture)) {
        opts.distance.length_factor = 1000;
        opts.distance.max_length = la;
        const size_t row_count = rows.size(), column_count = rows.at(0).size();
        each_node([](node& n) {
            n.distance = 1;
            n.state = z::status(z::done);
            n.kind = z::status(z::ordinary);
        });
        for (size_t r = 0; r < row_count; ++r)
            for (size_t c = 0; c < column_count; ++c) {
                const char ch = rows[r].at(c);
                node& n = at(r, c);
                if (ch == '#') {
                    n.kind = n.state = z::status(z::border);
                } else if (ch == '~') {
                    n.kind = n.state = z::status(z::interior);
                } else if (std::isupper(static_cast<unsigned char>(ch))) {
                    n.kind = z::status(z::boundary_seed);
                    n.generator = &n;
                    n.distance = 0;
                    sources[ch] = &n;
                }
            }
        for (size_t r = 0; r < row_count; ++r)
            for (size_t c = 0; c < column_count; ++c) {
                const char ch = rows[r].at(c);
                if (std::islower(static_cast<unsigned char>(ch)))
                    at(r, c).generator = source(static_cast<char>(std::toupper(ch)));
            }
        // Vertices in node index order, as boundary detection makes them.
        for (size_t i = 0; i < nodes.length(); ++i)
            if (nodes[i].kind == z::boundary_seed) graph_ops::add_vertex(store, &nodes[i]);
        seal();
    }

    node& at(size_t r, size_t c) { return nodes[r + rows.size() * c]; }
    node* source(char ch) {
        const auto it = sources.find(ch);
        if (it == sources.end()) throw std::runtime_error("no source in the picture");
        return it->second;
    }
    vertex* vertex_of(char ch) { return graph_ops::vertex_of(source(ch)); }
    vertex* vertex_at(size_t r, size_t c) { return graph_ops::vertex_of(&at(r, c)); }

    // A boundary edge between two sources, as boundary connection makes it.
    edge* join(char from, char to, std::uint8_t slot, double weight = 1) {
        edge* e = graph_ops::add_edge(store, vertex_of(from), vertex_of(to), slot,
                                      z::opposite_direction(slot), weight);
        seal();
        return e;
    }

    // Where boundary connection ends: the geodesic stage appends after it.
    void seal() { grid_test::seal_boundary(store); }

    void set_heights(const std::vector<std::vector<double>>& h) {
        for (size_t r = 0; r < h.size(); ++r)
            for (size_t c = 0; c < h[r].size(); ++c) at(r, c).value = h[r][c];
    }

    std::unique_ptr<stage> make() { return std::make_unique<stage>(nodes, opts, store); }

    // Initialization, front creation and propagation.
    std::unique_ptr<stage> propagated() {
        auto s = make();
        s->init();
        s->create_front();
        s->propagate();
        return s;
    }

    // Every step of the stage's driver.
    std::unique_ptr<stage> completed() {
        auto s = propagated();
        s->remove_crossings();
        s->trace_paths();
        s->connect_paths();
        s->traverse_paths();
        s->store_vertex_data();
        return s;
    }

    const path& path_at(size_t i) const { return store.paths[i]; }
    const edge& edge_at(size_t i) const { return store.edges[i]; }
};

// Lanes B, A, C of parents straight up to the sources on row 1; distances
// are the row minus 1. P1 meets A's lane at its bottom from B's, P2 at its
// middle from C's: A's lane counts 1, 1 below the middle and 2, 2 from it up.
struct hand_lanes {
    picture_grid g{{"#####", "#BAC#", "#bac#", "#bac#", "#bac#", "#bac#", "#####"}};
    std::unique_ptr<stage> s = g.make();
    path* p1 = nullptr;
    path* p2 = nullptr;

    hand_lanes() {
        s->init();
        s->create_front();
        for (size_t c = 1; c <= 3; ++c)
            for (size_t r = 2; r <= 5; ++r) {
                node& n = g.at(r, c);
                n.parent = &g.at(r - 1, c);
                n.source = &g.at(1, c);
                n.cover = 6;  // one row down from the parent
                n.residue = 1;
                n.geodesic_distance = double(r - 1);
            }
        p1 = graph_ops::add_path(g.store, g.vertex_of('B'), &g.at(5, 1), 0, &g.at(5, 2),
                                 g.vertex_of('A'), 1.0, 9.0);
        p2 = graph_ops::add_path(g.store, g.vertex_of('A'), &g.at(3, 2), 0, &g.at(3, 3),
                                 g.vertex_of('C'), 1.0, 5.0);
    }
    void connect() {
        s->trace_paths();
        s->connect_paths();
        s->traverse_paths();
        s->store_vertex_data();
    }
};

}  // namespace geo_test

#endif
