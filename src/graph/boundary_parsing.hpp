// Boundary parsing: which nodes are boundary nodes, one vertex on each, and
// the edges between 8-neighbouring vertices whose segment runs along
// ordinary nodes.
#ifndef ZARN_GRAPH_BOUNDARY_PARSING_HPP
#define ZARN_GRAPH_BOUNDARY_PARSING_HPP

#include <vector>

#include "graph/graph.hpp"

namespace lumo::zarn {

template <bool debug, typename T, typename Config>
double graph<debug, T, Config>::parse_boundary() {
    timer.restart_total();
    timer.time("Boundary parsing initialization:", [this] { clear_node_vertices(); });
    timer.time("Boundary detection:", [this] { detect_boundary(); });
    timer.time("Boundary connection:", [this] {
        if (this->opts->program.weighted)
            connect_boundary_weighted();
        else
            connect_boundary();
    });
    return timer.total;
}

template <bool debug, typename T, typename Config>
void graph<debug, T, Config>::clear_node_vertices() {
    for (node* n = this->first_row; n != this->end; ++n) n->vertex = nullptr;
}

// Binary mode: the seeds of the distance (kind 128) are the boundary nodes.
// Weighted mode: the self-generated nodes are, except those with no ordinary
// axial neighbour, which become interior nodes. One pass over the grid finds
// them, in index order; the vertices are then made from that list.
template <bool debug, typename T, typename Config>
void graph<debug, T, Config>::detect_boundary() {
    node* const first = this->row_1;
    node* const last = this->row_h_minus_1;
    const bool weighted = this->opts->program.weighted;
    std::vector<node*> found;
    if (weighted) {
        for (node* n = first; n < last; ++n)
            if (n->kind != border && n->generator == n) {
                n->kind = status(boundary_seed);
                found.push_back(n);
            }
    } else {
        for (node* n = first; n < last; ++n)
            if (n->kind == boundary_seed) found.push_back(n);
    }

    store->reserve(found.size());

    const std::ptrdiff_t w = static_cast<std::ptrdiff_t>(this->width);
    for (node* n : found) {
        if (weighted) {
            const unsigned long axial = n[-1].kind.bits() | n[1].kind.bits() |
                                        n[-w].kind.bits() | n[w].kind.bits();
            if (!(axial & ordinary)) {
                n->state = status(interior);
                n->kind = status(interior);
                continue;
            }
        }
        add_vertex(*store, n);
    }
}

template <bool debug, typename T, typename Config>
void graph<debug, T, Config>::connect_boundary() {
    connect<false>();
}

template <bool debug, typename T, typename Config>
void graph<debug, T, Config>::connect_boundary_weighted() {
    connect<true>();
}

// Each unordered pair of 8-neighbours is looked at once, from the node that
// sees the other in direction 2 (-1), 4 (-w), 1 (+w-1) or 3 (-w-1), in that
// order. An axial edge needs one flanking pair of ordinary nodes, a diagonal
// edge one ordinary node of the two that its ends share; so edges never cross.
// The nodes of kind 128 in rows 1 to h-2 are exactly the vertices, which lie
// in the pool in increasing node index: walking the pool visits them in grid
// order without passing over the rest of the grid.
template <bool debug, typename T, typename Config>
template <bool weighted>
void graph<debug, T, Config>::connect() {
    const std::ptrdiff_t w = static_cast<std::ptrdiff_t>(this->width);
    storage& s = *store;
    auto flag = [](const node& n, status_enum f) { return (n.kind.bits() & f) != 0; };
    auto join = [&](base_vertex* a, node* q, std::uint8_t d, T weight) {
        if (!q->vertex) return;  // a kind word of 128 with other flags has no vertex
        add_edge(s, a, q->vertex, d, opposite_direction(d), weight);
    };
    for (vertex& v : s.vertices) {
        node* const p = v.node;
        if constexpr (weighted) set_reference_height(p);
        node* const left = p - 1;           // code 2
        node* const up = p - w;             // code 4
        node* const down_left = p + w - 1;  // code 1
        node* const up_left = p - w - 1;    // code 3
        const bool left_ordinary = flag(*left, ordinary);
        const bool down_ordinary = flag(p[w], ordinary);
        const bool up_ordinary = flag(*up, ordinary);
        const bool right_ordinary = flag(p[1], ordinary);
        if (flag(*left, boundary_seed) &&
            ((flag(*down_left, ordinary) && down_ordinary) ||
             (up_ordinary && flag(*up_left, ordinary))))
            join(&v, left, 2, weighted ? weighted_axial_weight(left) : binary_axial_weight());
        if (flag(*up, boundary_seed) &&
            ((flag(*up_left, ordinary) && left_ordinary) ||
             (right_ordinary && flag(p[-w + 1], ordinary))))
            join(&v, up, 4, weighted ? weighted_axial_weight(up) : binary_axial_weight());
        if (flag(*down_left, boundary_seed) && (down_ordinary || left_ordinary))
            join(&v, down_left, 1,
                 weighted ? weighted_diagonal_weight(down_left) : binary_diagonal_weight());
        if (flag(*up_left, boundary_seed) && (left_ordinary || up_ordinary))
            join(&v, up_left, 3,
                 weighted ? weighted_diagonal_weight(up_left) : binary_diagonal_weight());
    }
    s.saved_vertices = s.vertices.used();
    s.saved_edges = s.edges.used();
}

}  // namespace lumo::zarn

#endif
