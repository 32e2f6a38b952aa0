// Node grids for the boundary-graph tests, written in image terms: one string
// per image row, one character per column, inside a one-node frame of border
// nodes. '#' boundary (kind 128), '.' ordinary (8), 'o' interior (64),
// 'x' border (16). Node (row, column) of the image is grid index
// (row + 1) + w * (column + 1), w = rows + 2: the row varies fastest.
//
// Direction codes in image terms: 0 right, 1 up-right, 2 up, 3 up-left,
// 4 left, 5 down-left, 6 down, 7 down-right.
#ifndef ZARN_TESTS_GRAPH_SUPPORT_HPP
#define ZARN_TESTS_GRAPH_SUPPORT_HPP

#include <memory>
#include <string>
#include <vector>

#include "graph/graph.hpp"
#include "support/grid_support.hpp"

namespace graph_test {

using grid_test::inf;
using lumo::zarn::component_config;
using lumo::zarn::path_config;
using lumo::zarn::status;

namespace code {
constexpr std::uint8_t right = 0, up_right = 1, up = 2, up_left = 3, left = 4, down_left = 5,
                       down = 6, down_right = 7;
}

template <bool debug, typename Config>
struct grid : grid_test::node_grid_base<debug> {
    using base = grid_test::node_grid_base<debug>;
    using typename base::node;
    using base::nodes;
    using base::opts;
    using graph_type = lumo::zarn::graph<debug, double, Config>;
    using storage_type = typename graph_type::storage;
    using vertex = typename graph_type::vertex;
    using edge = typename graph_type::edge;
    using cycle = typename graph_type::cycle;

    storage_type storage{0, 1.0};
    size_t rows = 0;  // with the frame: the row stride
    size_t cols = 0;

    explicit grid(const std::vector<std::string>& map, bool weighted = false)
        : base(map.size() + 2, (map.empty() ? 0 : map[0].size()) + 2),
          rows(map.size() + 2),
          cols((map.empty() ? 0 : map[0].size()) + 2) {
        opts.program.weighted = weighted;
        this->each_node([](node& n) { n.kind = status(lumo::zarn::border); });
        for (size_t r = 0; r < map.size(); ++r)
            for (size_t c = 0; c < map[r].size(); ++c) pixel(r, c).kind = status(kind_of(map[r][c]));
    }

    static lumo::zarn::status_enum kind_of(char ch) {
        switch (ch) {
            case '#': return lumo::zarn::boundary_seed;
            case 'o': return lumo::zarn::interior;
            case 'x': return lumo::zarn::border;
            default: return lumo::zarn::ordinary;
        }
    }

    node& pixel(size_t r, size_t c) { return nodes[(r + 1) + rows * (c + 1)]; }
    vertex* vertex_at(size_t r, size_t c) { return graph_type::vertex_of(&pixel(r, c)); }

    std::unique_ptr<graph_type> make() {
        return std::make_unique<graph_type>(nodes, opts, storage);
    }

    // A vertex on pixel (r, c) without detection.
    vertex* add_vertex(size_t r, size_t c, std::uint64_t trace_count = 0) {
        return graph_type::add_vertex(storage, &pixel(r, c), trace_count);
    }
    edge* add_edge(vertex* a, vertex* b, std::uint8_t slot_a, std::uint8_t slot_b, double weight,
                   std::uint64_t references = 0) {
        return graph_type::add_edge(storage, a, b, slot_a, slot_b, weight, references);
    }
    // Marks the end of the boundary part of a hand-made graph.
    void save_counts() { grid_test::seal_boundary(storage); }
};

// The grids of the two configurations.
using binary_grid = grid<false, component_config>;
template <bool debug>
using path_grid = grid<debug, path_config>;

// The axial ring of boundary vertices around a rectangle of rows 0..r1 and
// columns 0..c1 (image terms), unit edges; returns the vertices clockwise
// from the top-left corner.
template <typename Grid>
std::vector<typename Grid::vertex*> make_ring(Grid& g, size_t r1, size_t c1) {
    std::vector<typename Grid::vertex*> ring;
    for (size_t c = 0; c < c1; ++c) ring.push_back(g.add_vertex(0, c));
    for (size_t r = 0; r < r1; ++r) ring.push_back(g.add_vertex(r, c1));
    for (size_t c = c1; c > 0; --c) ring.push_back(g.add_vertex(r1, c));
    for (size_t r = r1; r > 0; --r) ring.push_back(g.add_vertex(r, 0));
    for (size_t i = 0; i < ring.size(); ++i) {
        auto* a = ring[i];
        auto* b = ring[(i + 1) % ring.size()];
        const long dr = long(b->node->index % g.rows) - long(a->node->index % g.rows);
        const long dc = long(b->node->index / g.rows) - long(a->node->index / g.rows);
        const std::uint8_t d = dc > 0 ? code::right : dc < 0 ? code::left : dr > 0 ? code::down : code::up;
        g.add_edge(a, b, d, lumo::zarn::opposite_direction(d), 1.0);
    }
    return ring;
}

// Boundary detection and connection, as parse_boundary runs them, untimed.
template <typename Grid>
void parse_boundary_steps(Grid& g) {
    auto graph = g.make();
    graph->clear_node_vertices();
    graph->detect_boundary();
    if (g.opts.program.weighted)
        graph->connect_boundary_weighted();
    else
        graph->connect_boundary();
}

// The ring around rows 0..4, columns 0..6 (perimeter 20) and a geodesic
// vertex g at (2, 3) joined up to the ring's top (0, 3) by e0, a chain edge of
// two path sides, and by connecting edges c1 to the middle of the left side
// and c2 to the middle of the right side. Faces: top-left 5 + c1 + e0,
// top-right 5 + c2 + e0, bottom 10 + c1 + c2, outer 20.
template <bool debug>
struct tee_graph {
    using G = path_grid<debug>;
    G g{std::vector<std::string>(5, std::string(7, '.'))};
    typename G::vertex *top, *left, *right, *gv;
    typename G::edge *e0, *c1, *c2;

    tee_graph(double w0, double w1, double w2) {
        make_ring(g, 4, 6);
        g.save_counts();
        top = g.vertex_at(0, 3);
        left = g.vertex_at(2, 0);
        right = g.vertex_at(2, 6);
        gv = g.add_vertex(2, 3, 2);
        e0 = g.add_edge(gv, top, code::up, code::down, w0, 2);
        c1 = g.add_edge(gv, left, code::left, code::right, w1, 1);
        c2 = g.add_edge(gv, right, code::right, code::left, w2, 1);
    }
    // Boundary vertices are their own sources; g was reached from the top.
    void set_sources() {
        for (auto& v : g.storage.vertices) v.source = &v;
        gv->source = top;
    }
};

}  // namespace graph_test

#endif
