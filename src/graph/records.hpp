// Records of the boundary graph: vertices on boundary nodes, edges between
// them, the faces traced as cycles and, in the path configuration, the
// geodesic paths with their vertices.
//
// Slots are indexed by direction code, the code of the neighbour seen from
// the vertex's node (w the grid's row stride):
//   0 +w, 1 +w-1, 2 -1, 3 -w-1, 4 -w, 5 -w+1, 6 +1, 7 +w+1;
// even codes are axial, odd ones diagonal, the opposite of d is (d + 4) & 7.
#ifndef ZARN_GRAPH_RECORDS_HPP
#define ZARN_GRAPH_RECORDS_HPP

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

#include <lumo/details/array/array>

#include "pipeline/node.hpp"

namespace lumo::zarn {

constexpr unsigned slot_count = 8;

inline constexpr std::uint8_t opposite_direction(unsigned d) {
    return static_cast<std::uint8_t>((d + 4) & 7);
}

// A traced face. Its length is the sum of the weights walked around it and
// the period of the arc positions on it; parent and rank serve the union of
// faces during pruning. The pool index orders cycles by tracing time.
template <typename T>
struct graph_cycle {
    T length;
    graph_cycle* parent;
    std::uint64_t rank;
    std::uint64_t index;
};

// The element a component or region pointer points to: only its address is
// used, as the identity of a connected part of the graph. The partition keeps
// its own component records in its own storage.
struct component_identity {};

template <bool debug, typename T>
struct graph_edge;

// A vertex on one grid node; the node points back to it. The fields that the
// distance along the boundary reads come first, so that one query touches few
// cache lines. The cycle and position lists hold one entry per departure of
// the tracing walk, at most one per slot.
template <bool debug, typename T>
struct graph_vertex {
    using edge = graph_edge<debug, T>;
    using cycle = graph_cycle<T>;

    node_type<debug, T>* node;
    component_identity* component;  // same pointer = same connected component
    std::uint8_t cycle_count;       // entries of cycles and positions
    std::uint8_t degree;            // linked edges, each counted at both ends
    std::uint8_t used_slots;        // bit d: the tracing walk left through slot d
    std::uint8_t remaining_degree;  // degree minus the slots left so far
    cycle* cycles[slot_count];      // faces through the vertex, in tracing order
    T positions[slot_count];        // arc position on the cycle of the same entry
    status state;                   // tracing: far, front (queued), done
    std::uint64_t trace_count;      // geodesic vertices: trace count of the node
    edge* edges[slot_count];
    graph_vertex* neighbours[slot_count];
};

template <bool debug, typename T>
struct graph_edge {
    using vertex = graph_vertex<debug, T>;
    using cycle = graph_cycle<T>;

    vertex* a;
    vertex* b;
    std::uint8_t slot_a;  // direction of b seen from a: a's slot holding the edge
    std::uint8_t slot_b;  // b's slot holding the edge
    std::uint8_t removed;
    T weight;
    std::uint64_t path_references;  // geodesic edges: path sides running through
    cycle* cycle_ab;                // face walked going from a to b
    cycle* cycle_ba;                // face walked going from b to a
};

template <bool debug, typename T>
struct path_vertex;

// Where the fronts of two boundary sources met: the meeting nodes on either
// side and the graph edges that realise the path once it is connected.
template <bool debug, typename T>
struct graph_path {
    using vertex = path_vertex<debug, T>;
    using edge = graph_edge<debug, T>;

    vertex* a;
    vertex* b;
    node_type<debug, T>* node_a;
    node_type<debug, T>* node_b;
    std::uint8_t direction;  // code of the step from node_a to node_b
    std::uint8_t removed;
    T step;   // length of that step
    T total;  // geodesic distance of node_a + step + that of node_b
    edge* connecting;
    std::vector<edge*> side_a;  // edges from the connecting edge out to a
    std::vector<edge*> side_b;  // the connecting edge, then the edges out to b
};

// Orders cycles by tracing time.
template <typename T>
struct cycle_order {
    bool operator()(const graph_cycle<T>* x, const graph_cycle<T>* y) const {
        return x->index < y->index;
    }
};

// The vertex of the path configuration: a vertex with the geodesic paths
// ending at it, its geodesic source and, for a source, its cells: per face,
// the vertices reached from it that lie on that face.
template <bool debug, typename T>
struct path_vertex : graph_vertex<debug, T> {
    using path = graph_path<debug, T>;
    using cell_map = std::map<graph_cycle<T>*, std::vector<path_vertex*>, cycle_order<T>>;

    std::vector<path*> paths;                  // in order of creation
    std::vector<path_vertex*> path_neighbours; // the other end of each path
    path_vertex* source = nullptr;
    cell_map cells;
};

}  // namespace lumo::zarn

#endif
