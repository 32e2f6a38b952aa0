// The two configurations of the boundary graph and the storage of one graph:
// its record pools, the counts that mark where boundary connection ended, and
// the allocation factor that sizes the first chunk of every pool.
#ifndef ZARN_GRAPH_STORAGE_HPP
#define ZARN_GRAPH_STORAGE_HPP

#include <cstddef>
#include <cstdint>

#include "graph/pool.hpp"
#include "graph/records.hpp"

namespace lumo::zarn {

// First-chunk multipliers of the estimate, per pool.
template <unsigned Vertices, unsigned Edges, unsigned Paths, unsigned Cycles>
struct size_factor {
    static constexpr unsigned vertices = Vertices;
    static constexpr unsigned edges = Edges;
    static constexpr unsigned paths = Paths;
    static constexpr unsigned cycles = Cycles;  // also components and regions
};

// The plain sequence: boundary vertices and edges only.
struct component_config {
    static constexpr bool with_paths = false;
    using sizes = size_factor<1, 2, 0, 1>;
    template <bool debug, typename T>
    using vertex = graph_vertex<debug, T>;
};

// The geodesic sequence: geodesic paths add vertices and edges.
struct path_config {
    static constexpr bool with_paths = true;
    using sizes = size_factor<2, 3, 2, 1>;
    template <bool debug, typename T>
    using vertex = path_vertex<debug, T>;
};

template <bool debug, typename T, typename Config>
struct graph_storage {
    using vertex = typename Config::template vertex<debug, T>;
    using edge = graph_edge<debug, T>;
    using path = graph_path<debug, T>;
    using cycle = graph_cycle<T>;

    stable_pool<vertex> vertices;
    stable_pool<edge> edges;
    stable_pool<cycle> cycles;
    stable_pool<component_identity> components;
    stable_pool<component_identity> regions;
    stable_pool<path> paths;
    std::uint64_t saved_vertices = 0;  // vertices when boundary connection ended
    std::uint64_t saved_edges = 0;     // edges when boundary connection ended
    T allocation_factor;               // -ma

    explicit graph_storage(size_t n = 0, T factor = T(1)) : allocation_factor(factor) {
        reserve(n);
    }
    graph_storage(const graph_storage&) = delete;
    graph_storage& operator=(const graph_storage&) = delete;

    // Drops every record and sizes the first chunks for n boundary nodes.
    void reserve(size_t n) {
        const T scaled = static_cast<T>(n) * allocation_factor;
        // The factor only sizes first chunks: an unusable one sizes nothing.
        const size_t m = scaled > T(0) && scaled < T(1e15) ? static_cast<size_t>(scaled) : 0;
        using s = typename Config::sizes;
        vertices.reserve(s::vertices * m);
        edges.reserve(s::edges * m);
        paths.reserve(s::paths * m);
        components.reserve(s::cycles * m);
        regions.reserve(s::cycles * m);
        cycles.reserve(s::cycles * m);
        saved_vertices = 0;
        saved_edges = 0;
    }

    // Every used count to 0; the records stay where they are, since node
    // vertex pointers may still point into them.
    void clear() {
        vertices.clear();
        edges.clear();
        cycles.clear();
        components.clear();
        regions.clear();
        paths.clear();
        saved_vertices = 0;
        saved_edges = 0;
    }
};

template <bool debug, typename T>
using component_storage = graph_storage<debug, T, component_config>;

template <bool debug, typename T>
using path_storage = graph_storage<debug, T, path_config>;

}  // namespace lumo::zarn

#endif
