// The boundary graph stage object: a planar graph on the boundary nodes of the
// distance transform, its faces traced into cycles, and the distance along the
// boundary between two boundary nodes.
//
// Two configurations: the component configuration of the plain sequence, and
// the path configuration of the geodesic sequence, whose vertices also carry
// geodesic paths, a source and cells, and whose structure parsing prunes the
// geodesic paths and edges before tracing the faces again.
//
// Boundary parsing (detection, connection) is in graph/boundary_parsing.hpp;
// structure parsing (cycles, pruning, cells, statistics) in
// graph/structure_parsing.hpp. The record operations that the geodesic stage
// uses to append its own vertices, edges and paths are static members here.
#ifndef ZARN_GRAPH_GRAPH_HPP
#define ZARN_GRAPH_GRAPH_HPP

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <limits>

#include "app/options.hpp"
#include "graph/records.hpp"
#include "graph/storage.hpp"
#include "pipeline/node_grid.hpp"
#include "pipeline/stage_timer.hpp"

namespace lumo::zarn {

// Length of one step over the height surface, dz the height difference.
template <typename T>
inline T axial_step_length(T dz) {
    return std::sqrt(dz * dz + T(1));
}
template <typename T>
inline T diagonal_step_length(T dz) {
    return std::sqrt(dz * dz + T(2));
}

template <bool debug, typename T, typename Config>
class graph : public node_grid<debug, T> {
public:
    using node = node_type<debug, T>;
    using base_vertex = graph_vertex<debug, T>;
    using storage = graph_storage<debug, T, Config>;
    using vertex = typename storage::vertex;
    using edge = typename storage::edge;
    using path = typename storage::path;
    using cycle = typename storage::cycle;
    static constexpr bool with_paths = Config::with_paths;

    graph(node_array<debug, T>& grid, options<T>& o, storage& s)
        : node_grid<debug, T>(this, &grid, &o), timer(o.program.timing), store(&s) {}
    graph(const graph&) = delete;
    graph& operator=(const graph&) = delete;

    // --- the two entries; each returns its timed total in ms (0 untimed) ---

    // Clears every node's vertex, makes a vertex on every boundary node of
    // rows 1 to h-2 and joins neighbouring vertices by edges.
    double parse_boundary();
    // Traces the faces; in the path configuration also prunes geodesic paths
    // and edges, traces again with arc positions and builds the cells.
    double parse_structure();

    // --- boundary parsing ---
    void clear_node_vertices();
    void detect_boundary();
    void connect_boundary();           // weights 1 and sqrt 2
    void connect_boundary_weighted();  // weights over the height surface
    template <bool weighted>
    void connect();

    // --- structure parsing ---
    // Traces every face reached from the boundary vertices; with positions,
    // every departure is entered in the vertex's cycle and position lists.
    template <bool positions>
    void parse_cycles();
    void prune_paths() requires with_paths;
    void prune_edges() requires with_paths;
    void build_cells() requires with_paths;
    // True when a path's stretch along one of its two faces makes up at
    // least half of that face.
    bool path_spans_half_face(const path& p) requires with_paths;
    void remove_path(path* p) requires with_paths;
    static void remove_edge(edge* e);
    static cycle* find_root(cycle* c);
    static void merge_cycles(cycle* r1, cycle* r2, T w);
    // The two "-> Final" lines of -t -vs in weighted mode.
    void print_statistics();

    // --- distance along the boundary ---

    // +inf for a node without vertex or for vertices of different components;
    // else the distance along the earliest-traced face the two share (path
    // configuration: through the cells when they share none).
    T boundary_distance(node* a, node* b) {
        base_vertex* va = a->vertex;
        base_vertex* vb = b->vertex;
        if (!va || !vb) {
            if constexpr (debug) print_oops("OOPS no vertex!       ", a, b);
            return infinity();
        }
        if (va->component != vb->component) return infinity();
        return cycle_distance(va, vb, nullptr);
    }

    // The distance along c, or without c along the earliest-traced cycle that
    // a and b share.
    T cycle_distance(base_vertex* a, base_vertex* b, cycle* c) {
        if (a->cycle_count == 0 || b->cycle_count == 0) {
            if constexpr (debug) print_oops("OOPS no cycles!       ", a->node, b->node);
            return infinity();
        }
        std::uint8_t i = 0, j = 0;
        if (!c) {
            // Both lists are in tracing order: a merge finds the first shared.
            while (i < a->cycle_count && j < b->cycle_count) {
                if (a->cycles[i] == b->cycles[j]) break;
                if (a->cycles[i]->index < b->cycles[j]->index)
                    ++i;
                else
                    ++j;
            }
            if (i == a->cycle_count || j == b->cycle_count) {
                if constexpr (with_paths) return shared_cycles_distance(a, b);
                if constexpr (debug) no_same_cycle(a->node, b->node);
                return infinity();
            }
            c = a->cycles[i];
        } else {
            while (i < a->cycle_count && a->cycles[i] != c) ++i;
            while (j < b->cycle_count && b->cycles[j] != c) ++j;
            if (i == a->cycle_count || j == b->cycle_count) {
                if constexpr (debug) print_oops("OOPS cycle not found! ", a->node, b->node);
                return infinity();
            }
        }
        std::uint8_t i_end = i + 1, j_end = j + 1;
        while (i_end < a->cycle_count && a->cycles[i_end] == c) ++i_end;
        while (j_end < b->cycle_count && b->cycles[j_end] == c) ++j_end;
        return arc_distance(a, b, c->length, i, j, i_end, j_end);
    }

    // Through the cells of two vertices that share no face: out from a along
    // geodesic paths, along a face shared by the two cells, back to b.
    T shared_cycles_distance(base_vertex* a, base_vertex* b) requires with_paths;

    // Shortest arc between position entries [a_begin, a_end) of a and
    // [b_begin, b_end) of b on one cycle of the given length.
    static T arc_distance(const base_vertex* a, const base_vertex* b, T length,
                          std::uint8_t a_begin, std::uint8_t b_begin, std::uint8_t a_end,
                          std::uint8_t b_end) {
        T best = infinity();
        for (std::uint8_t i = a_begin; i < a_end; ++i) {
            const T p = a->positions[i];
            for (std::uint8_t j = b_begin; j < b_end; ++j) {
                const T q = b->positions[j];
                const T d = p > q ? p - q : q - p;
                const T around = length - d;
                const T candidate = around < d ? around : d;
                if (candidate < best) best = candidate;
            }
        }
        return best;
    }

    // --- record operations ---

    // Enters the cycle and its current length in the vertex's lists.
    static void add_cycle(base_vertex* v, cycle* c) {
        LUMO_CHECK(v->cycle_count < slot_count, "offset >= 0 && offset < length()");
        v->cycles[v->cycle_count] = c;
        v->positions[v->cycle_count] = c->length;
        ++v->cycle_count;
    }

    // A vertex on node n, without edges; the node points to it.
    static vertex* add_vertex(storage& s, node* n, std::uint64_t trace_count = 0) {
        vertex& v = s.vertices.append();
        v.node = n;
        v.component = nullptr;
        v.cycle_count = 0;
        v.degree = 0;
        v.used_slots = 0;
        v.remaining_degree = 0;
        v.state = status();
        v.trace_count = trace_count;
        for (unsigned d = 0; d < slot_count; ++d) {
            v.edges[d] = nullptr;
            v.neighbours[d] = nullptr;
        }
        if constexpr (with_paths) {
            v.paths.clear();
            v.path_neighbours.clear();
            v.source = nullptr;
            v.cells.clear();
        }
        n->vertex = &v;
        return &v;
    }

    // Appends an edge from a (its slot slot_a) to b (its slot slot_b) and
    // links it into both vertices.
    static edge* add_edge(storage& s, base_vertex* a, base_vertex* b, std::uint8_t slot_a,
                          std::uint8_t slot_b, T weight, std::uint64_t path_references = 0) {
        edge& e = s.edges.append();
        e.a = a;
        e.b = b;
        e.slot_a = slot_a;
        e.slot_b = slot_b;
        e.removed = 0;
        e.weight = weight;
        e.path_references = path_references;
        e.cycle_ab = nullptr;
        e.cycle_ba = nullptr;
        link_edge(&e);
        return &e;
    }

    // Counts the edge at both ends and puts it in their slots; an occupied
    // slot is overwritten (the debug build says so).
    static void link_edge(edge* e) {
        base_vertex* a = e->a;
        base_vertex* b = e->b;
        if constexpr (debug) {
            if (a->edges[e->slot_a])
                std::cout << "OOPS from " << static_cast<const void*>(a->node) << " "
                          << int(e->slot_a) << std::endl;
            if (b->edges[e->slot_b])
                std::cout << "OOPS to   " << static_cast<const void*>(b->node) << " "
                          << int(e->slot_b) << std::endl;
        }
        ++a->degree;
        ++b->degree;
        a->edges[e->slot_a] = e;
        b->edges[e->slot_b] = e;
        a->neighbours[e->slot_a] = b;
        b->neighbours[e->slot_b] = a;
    }

    // A path between the sources' vertices va and vb whose fronts met at p
    // (va's side) and q; entered in both vertices' path lists.
    static path* add_path(storage& s, vertex* va, node* p, std::uint8_t d, node* q, vertex* vb,
                          T step, T total) requires with_paths {
        path& r = s.paths.append();
        r.a = va;
        r.b = vb;
        r.node_a = p;
        r.node_b = q;
        r.direction = d;
        r.step = step;
        r.total = total;
        r.removed = 0;
        r.connecting = nullptr;
        r.side_a.clear();
        r.side_b.clear();
        va->paths.push_back(&r);
        vb->paths.push_back(&r);
        va->path_neighbours.push_back(vb);
        vb->path_neighbours.push_back(va);
        return &r;
    }

    // The vertex of a node as this configuration's record (null without).
    static vertex* vertex_of(const node* n) { return static_cast<vertex*>(n->vertex); }

    void set_reference_height(const node* n) { reference_height = n->value; }
    static T binary_axial_weight() { return T(1); }
    static T binary_diagonal_weight() {
        static const T sqrt2 = std::sqrt(T(2));
        return sqrt2;
    }
    T weighted_axial_weight(const node* q) const {
        return axial_step_length(q->value - reference_height);
    }
    T weighted_diagonal_weight(const node* q) const {
        return diagonal_step_length(q->value - reference_height);
    }

    static T infinity() { return std::numeric_limits<T>::infinity(); }

    stage_timer timer;
    storage* store;
    T reference_height = 0;  // height of the node whose edges are weighed

private:
    // "<text><index of a> <index of b>"
    static void print_oops(const char* text, const node* a, const node* b) {
        std::cout << text << a->index << " " << b->index << std::endl;
    }
    // The debug build marks both nodes as border nodes, to show them.
    static void no_same_cycle(node* a, node* b) {
        print_oops("OOPS no same cycle!  ", a, b);
        a->kind = status(border);
        b->kind = status(border);
    }
};

template <bool debug, typename T>
using component_graph = graph<debug, T, component_config>;

template <bool debug, typename T>
using path_graph = graph<debug, T, path_config>;

}  // namespace lumo::zarn

#include "graph/boundary_parsing.hpp"
#include "graph/structure_parsing.hpp"

#endif
