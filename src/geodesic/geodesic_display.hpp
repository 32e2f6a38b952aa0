// The two views of the geodesic stage, drawn after structure parsing: the
// "traces" view (which nodes the fronts reached, which lie on traced chains,
// where paths met, where the boundary is) and the "paths" view (the geodesic
// paths and added vertices that pruning kept). Each is rendered into a planar
// colour image of the grid's size, one pixel per node at the node's index;
// later rules paint over earlier ones.
#ifndef ZARN_GEODESIC_GEODESIC_DISPLAY_HPP
#define ZARN_GEODESIC_GEODESIC_DISPLAY_HPP

#include <string>

#include <lumo/details/array_2d/array_2d>
#include <lumo/details/image/bridge.hpp>
#include <lumo/details/image/color.hpp>
#include <lumo/details/image/image_functions.hpp>

#include "graph/records.hpp"
#include "graph/storage.hpp"
#include "pipeline/node_grid.hpp"

namespace lumo::zarn {

// Paints every node from `from` up the parent chain, stopping before `stop`
// or after a root.
template <bool debug, typename T, typename Color>
void paint_parent_chain(lumo::color_view& view, const node_type<debug, T>* from,
                        const node_type<debug, T>* stop, const Color& c) {
    for (const node_type<debug, T>* x = from; x && x != stop; x = x->parent)
        view.set_pixel(x->index, c);
}

// Paints every node that passes the test, in index order.
template <bool debug, typename T, typename Color, typename Test>
void paint_nodes_if(lumo::color_view& view, const node_array<debug, T>& grid, const Color& c,
                    Test passes) {
    const node_type<debug, T>* nodes = grid.raw();
    for (size_t i = 0, n = grid.length(); i < n; ++i)
        if (passes(nodes[i])) view.set_pixel(nodes[i].index, c);
}

// A black colour image of the grid's size, one pixel per node.
template <bool debug, typename T>
lumo::color_view blank_view(const node_array<debug, T>& grid, lumo::image<unsigned char>& out) {
    out.resize(grid.size(0), grid.size(1), 3, static_cast<unsigned char>(0));
    return lumo::color_view(out);
}

// Dark gray: reached by a front; red: on a traced chain; yellow: meeting
// nodes; white: boundary nodes.
template <bool debug, typename T>
void render_traces(const node_array<debug, T>& grid, const path_storage<debug, T>& s,
                   lumo::image<unsigned char>& out) {
    using node = node_type<debug, T>;
    lumo::color_view view = blank_view(grid, out);
    paint_nodes_if(view, grid, lumo::color_dark_gray(),
                   [](const node& n) { return n.geodesic_distance > T(0); });
    paint_nodes_if(view, grid, lumo::color_red(), [](const node& n) { return n.label != 0; });
    const auto yellow = lumo::color_yellow();
    for (auto p = s.paths.begin(); p != s.paths.end(); ++p) {
        view.set_pixel(p->node_a->index, yellow);
        view.set_pixel(p->node_b->index, yellow);
    }
    paint_nodes_if(view, grid, lumo::color_white(),
                   [](const node& n) { return n.kind == boundary_seed; });
}

// Red: the parent chains under the live geodesic edges and the meeting
// stretches of the paths whose connecting edge is live, and added vertices
// that pass a path through (degree 2); yellow: the other added vertices that
// kept an edge; white: boundary vertices.
template <bool debug, typename T>
void render_paths(const node_array<debug, T>& grid, const path_storage<debug, T>& s,
                  lumo::image<unsigned char>& out) {
    lumo::color_view view = blank_view(grid, out);
    const auto red = lumo::color_red();
    const auto yellow = lumo::color_yellow();
    const auto white = lumo::color_white();
    for (auto e = s.edges.at(s.saved_edges); e != s.edges.end(); ++e) {
        if (e->removed || e->path_references == 0) continue;
        const node_type<debug, T>* a = e->a->node;
        const node_type<debug, T>* b = e->b->node;
        // Only a chain edge, leaving a towards its parent, runs along parents.
        if (a->parent && e->slot_a == opposite_direction(a->cover) && a->parent != b)
            paint_parent_chain(view, a->parent, b, red);
    }
    for (auto p = s.paths.begin(); p != s.paths.end(); ++p) {
        const graph_edge<debug, T>* e = p->connecting;
        if (!e || e->removed) continue;
        paint_parent_chain(view, p->node_a, e->a->node, red);
        paint_parent_chain(view, p->node_b, e->b->node, red);
    }
    for (auto v = s.vertices.at(s.saved_vertices); v != s.vertices.end(); ++v)
        if (v->trace_count == 0 || v->degree != 0)
            view.set_pixel(v->node->index, v->degree == 2 ? red : yellow);
    for (auto v = s.vertices.begin(); v != s.vertices.at(s.saved_vertices); ++v)
        view.set_pixel(v->node->index, white);
}

}  // namespace lumo::zarn

#endif
