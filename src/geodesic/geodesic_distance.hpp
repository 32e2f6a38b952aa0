// The geodesic stage: fronts from every boundary node over the height
// surface, each confined to the distance-transform region of its own boundary
// node and to lengths up to L, and the paths of the boundary graph that their
// meetings become.
//
// The propagation is a Dijkstra search with one FIFO bucket per integer part
// of the distance; neighbours are tried in the fixed order -w, +w, -1, +1,
// -w+1, +w-1, -w-1, +w+1 and every comparison is strict, so ties keep what
// was there first. A meeting of two fronts is kept per pair of boundary
// vertices, the shortest one (the first of equals). Afterwards the parent
// links are straightened where two diagonal links cross, every path side is
// counted along its chain of parents, and where that count changes along a
// chain a vertex is made; consecutive vertices become edges, and each path
// gets one connecting edge between its two meeting ends.
#ifndef ZARN_GEODESIC_GEODESIC_DISTANCE_HPP
#define ZARN_GEODESIC_GEODESIC_DISTANCE_HPP

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <vector>

#include <lumo/details/array_2d/array_2d>

#include "app/options.hpp"
#include "distance/queues.hpp"
#include "geodesic/geodesic_display.hpp"
#include "graph/graph.hpp"
#include "pipeline/grassfire.hpp"
#include "pipeline/node_grid.hpp"
#include "pipeline/stage_timer.hpp"

namespace lumo::zarn {

// Neighbour k of a node, in the order the fronts try them: its index offset
// in units of (w, 1), and the direction code of the step towards it.
struct neighbour_step {
    int w_units;
    int unit;
    std::uint8_t code;
};
inline constexpr neighbour_step geodesic_neighbours[8] = {
    {-1, 0, 4}, {1, 0, 0},  {0, -1, 2},  {0, 1, 6},  // axial
    {-1, 1, 5}, {1, -1, 1}, {-1, -1, 3}, {1, 1, 7},  // diagonal
};
// A diagonal neighbour 4 + j is usable only when neither axial neighbour
// flanking it is a boundary node: fronts never cut between two of them.
inline constexpr int diagonal_flanks[4][2] = {{0, 3}, {1, 2}, {2, 0}, {3, 1}};

template <bool debug, typename T>
class geodesic_distance : public node_grid<debug, T> {
public:
    using node = node_type<debug, T>;
    using base = node_grid<debug, T>;
    using graph_type = path_graph<debug, T>;
    using storage = path_storage<debug, T>;
    using vertex = path_vertex<debug, T>;
    using base_vertex = graph_vertex<debug, T>;
    using edge = graph_edge<debug, T>;
    using path = graph_path<debug, T>;

    // One bucket per integer part 0..L: a node whose distance is exactly L
    // is still entered.
    geodesic_distance(node_array<debug, T>& grid, options<T>& o, storage& s)
        : base(this, &grid, &o),
          timer(o.program.timing),
          store(&s),
          max_length(o.distance.geodesic_length(grid.size())),
          buckets(max_length + 1) {}

    geodesic_distance(const geodesic_distance&) = delete;
    geodesic_distance& operator=(const geodesic_distance&) = delete;

    // The stage driver; returns the timed total in ms (0 untimed).
    double run() {
        timer.rule('-');
        timer.time("Geodesic distance initialization:", [this] { init(); });
        timer.time("Front creation:", [this] { create_front(); });
        if (this->opts->grassfire.geodesic_step == T(0))
            timer.time("Geodesic propagation along boundaries:", [this] { propagate(); });
        else
            timer.time("Geodesic propagation along boundaries:", [this] { propagate_fire(); });
        timer.time("Crossing removal:", [this] { remove_crossings(); });
        timer.time("Path tracing:", [this] { trace_paths(); });
        timer.time("Path connection:", [this] { connect_paths(); });
        timer.time("Path traversing:", [this] { traverse_paths(); });
        timer.time("Vertex data storage:", [this] { store_vertex_data(); });
        if (timer.enabled) {
            if (this->opts->program.statistics) print_statistics(*store);
            timer.rule('-');
        }
        return timer.total;
    }

    // Every node: no trace, no parent, no source, direction 0, distance 0.
    // Only reached nodes are given other values, so that nothing later reads
    // what an earlier stage left in the shared fields.
    void init() {
        for (node* p = this->first_row; p != this->end; ++p) {
            p->label = 0;
            p->cover = 0;
            p->parent = nullptr;
            p->source = nullptr;
            p->geodesic_distance = T(0);
        }
    }

    // Every boundary node of rows 1 to h-2 is its own source in bucket 0, in
    // index order; every other ordinary node is far.
    void create_front() {
        for (node* p = this->row_1; p != this->row_h_minus_1; ++p) {
            if (p->kind.has(border) || p->kind.has(interior)) {
                p->cover = 0;
            } else if (p->kind != boundary_seed) {
                p->state = far;
            } else {
                buckets.push(p, 0);
                p->cover = 0;
                p->bucket = 0;
                p->geodesic_distance = T(0);
                p->source = p;
                p->parent = nullptr;
                p->state = front;
            }
        }
    }

    void propagate() { spread<false>(); }
    void propagate_fire() { spread<true>(); }

    // A front neighbour y, reached from the node x being settled: taken over
    // when strictly shorter and of x's region, else offered as a meeting.
    void relax(node* x, node* y, node* sb, std::uint8_t d, T s, T dx, T dy) {
        const T n = dx + s;
        if (!std::isfinite(n)) return;  // across an infinite or undefined height
        node* sa = x->source;
        if (n < dy && sa == y->generator) {
            record_meeting(x, sa, y, sb, y, opposite_direction(y->cover), y->parent, y->residue,
                           dy + n);
            y->geodesic_distance = n;
            y->source = sa;
            y->cover = d;
            y->parent = x;
            y->residue = s;
            const size_t b = static_cast<size_t>(n);
            if (b < y->bucket) {
                y->bucket = b;
                buckets.push(y, b);  // its copy in the old bucket is skipped later
            }
        } else {
            record_meeting(x, sa, y, sb, x, d, y, s, dy + n);
        }
    }

    // The contact of node p (region of the source sa of the node x being
    // settled) with node q across the step of code d and length s, total the
    // length of the whole path. Kept as the path of the two sources' vertices
    // when it is axial, joins two different sources that are not already
    // joined by a boundary edge, is not a contact of two sources themselves,
    // and is the first or a strictly shorter contact of the pair.
    void record_meeting(node* x, node* sa, node* nb, node* sb, node* p, std::uint8_t d, node* q,
                        T s, T total) {
        if (d & 1) return;
        if (sa == sb) return;
        if (nb == sb && sa == x) return;
        vertex* va = graph_type::vertex_of(sa);
        vertex* vb = graph_type::vertex_of(sb);
        if (!va || !vb) return;
        for (unsigned k = 0; k < slot_count; ++k) {
            if (va->neighbours[k] != vb) continue;
            if (va->edges[k]) return;
            break;
        }
        path* found = nullptr;
        for (size_t i = 0; i < va->path_neighbours.size(); ++i)
            if (va->path_neighbours[i] == vb) {
                found = va->paths[i];
                break;
            }
        if (!found) {
            graph_type::add_path(*store, va, p, d, q, vb, s, total);
            return;
        }
        if (found->total <= total) return;
        found->step = s;
        found->total = total;
        if (found->a == va) {
            found->node_a = p;
            found->node_b = q;
            found->direction = d;
        } else {
            found->node_a = q;
            found->node_b = p;
            found->direction = opposite_direction(d);
        }
    }

    // Where two diagonal parent links cross inside a 2 x 2 block, the child
    // whose parent is strictly farther moves to the other parent by an axial
    // link (on a tie the other child moves). Blocks in index order, each
    // seeing the links that earlier blocks changed; at most one change each.
    void remove_crossings() {
        const size_t w = this->width;
        for (node* p = this->row_1; p != this->row_h_minus_2; ++p) {
            node* e = p + 1;
            node* s = p + w;
            node* d = p + w + 1;
            const std::uint8_t dp = p->cover, de = e->cover, ds = s->cover, dd = d->cover;
            if (ds == 1 && dp == 3) {
                if (d->geodesic_distance > e->geodesic_distance)
                    reparent(p, e, 2);
                else
                    reparent(s, d, 2);
            } else if (dd != 7 && de == 5 && dp == 3) {
                if (d->geodesic_distance > s->geodesic_distance)
                    reparent(p, s, 4);
                else
                    reparent(e, d, 4);
            } else if (dd == 7 && de == 5) {
                if (s->geodesic_distance > p->geodesic_distance)
                    reparent(e, p, 6);
                else
                    reparent(d, s, 6);
            } else if (dd == 7 && de != 5 && ds == 1) {
                if (e->geodesic_distance > p->geodesic_distance)
                    reparent(s, p, 0);
                else
                    reparent(d, e, 0);
            }
        }
    }

    // Counts every path side on the nodes of its chain below the root, and
    // moves the side's vertex to the root the chain really ends at.
    void trace_paths() {
        for (auto it = store->paths.begin(); it != store->paths.end(); ++it) {
            trace_side(it->node_a, it->a);
            trace_side(it->node_b, it->b);
        }
    }

    void connect_paths() { connect_paths(*store); }

    // Vertices where the trace count changes along a chain, edges between
    // consecutive ones, and one connecting edge per path.
    void connect_paths(storage& s) {
        for (auto it = s.paths.begin(); it != s.paths.end(); ++it) {
            path& p = *it;
            const side_end a = connect_side(s, p.node_a, p.a, p.direction);
            const side_end b = connect_side(s, p.node_b, p.b, opposite_direction(p.direction));
            p.connecting = graph_type::add_edge(s, a.end, b.end, a.slot, b.slot,
                                                p.step + a.extra + b.extra, 1);
        }
    }

    // Each path's edges from its connecting edge out to its two vertices:
    // side b starts with the connecting edge.
    void traverse_paths() {
        for (auto it = store->paths.begin(); it != store->paths.end(); ++it) {
            path& p = *it;
            edge* e = p.connecting;
            if (!e) continue;
            p.side_b.push_back(e);
            collect_chain(e->a, p.a, p.side_a);
            collect_chain(e->b, p.b, p.side_b);
        }
    }

    // Every vertex's source: the vertex of the boundary node whose front
    // reached its node (a boundary vertex is its own).
    void store_vertex_data() {
        for (auto it = store->vertices.begin(); it != store->vertices.end(); ++it) {
            node* s = it->node->source;
            it->source = s ? graph_type::vertex_of(s) : nullptr;
        }
    }

    void print_statistics() { print_statistics(*store); }
    void print_statistics(const storage& s) const {
        std::cout << "-> Vertices / edges         before geo: " << s.saved_vertices << " / "
                  << s.saved_edges << std::endl;
        std::cout << "-> Vertices / edges / paths after  geo: " << s.vertices.used() << " / "
                  << s.edges.used() << " / " << s.paths.used() << std::endl;
    }

    // The two views after structure parsing; each waits for a key.
    void show_traces() { show_traces(*store); }
    void show_traces(const storage& s) const {
        lumo::image<unsigned char> picture;
        render_traces(*this->nodes, s, picture);
        lumo::show_image_titled(picture, this->opts->program.file_name, "traces");
    }
    void show_paths() { show_paths(*store); }
    void show_paths(const storage& s) const {
        lumo::image<unsigned char> picture;
        render_paths(*this->nodes, s, picture);
        lumo::show_image_titled(picture, this->opts->program.file_name, "paths");
    }

    size_t length_limit() const { return max_length; }
    size_t bucket_count() const { return buckets.count(); }

    stage_timer timer;
    storage* store;
    size_t max_length;  // L
    bucket_array<node> buckets;

private:
    // Where one side of a path ends on the graph: the vertex, the slot its
    // edge takes there, and the length from that vertex to the meeting node.
    struct side_end {
        base_vertex* end;
        std::uint8_t slot;
        T extra;
    };

    // x takes y as parent by the step of code k; distance and source stay.
    static void reparent(node* x, node* y, std::uint8_t k) {
        x->parent = y;
        x->cover = k;
        x->residue = x->geodesic_distance - y->geodesic_distance;
    }

    template <bool fire>
    void spread();

    void trace_side(node* m, vertex*& v) {
        node* const n = v->node;
        if (m == n) return;
        for (node* x = m;;) {
            if (!x->parent) {
                if (x->vertex) v = graph_type::vertex_of(x);
                return;
            }
            ++x->label;
            node* up = x->parent;
            if (up == n) return;
            if (!up->parent) {
                if (up->vertex) v = graph_type::vertex_of(up);
                return;
            }
            x = up;
        }
    }

    // From the meeting node up to the first node whose count is not 1 (where
    // another path side joins, or the root); a vertex made there also builds
    // the chain above it up to the first node that already had a vertex.
    side_end connect_side(storage& s, node* m, vertex* v, std::uint8_t meeting_slot) {
        node* u = m;
        std::uint8_t slot = meeting_slot;
        while (u->label == 1 && u->parent) {
            slot = u->cover;
            u = u->parent;
        }
        const bool created = !u->vertex;
        if (created) graph_type::add_vertex(s, u, u->label);
        if (created && u != v->node) build_chain(s, u, v->node);
        return side_end{graph_type::vertex_of(u), slot,
                        m->geodesic_distance - u->geodesic_distance};
    }

    // Edges up the chain from a's vertex, one per stretch of equal count,
    // until a node that had a vertex before, or the root n.
    void build_chain(storage& s, node* a, node* n) {
        for (;;) {
            node* b = a->parent;
            if (!b) return;
            std::uint8_t k = a->cover;
            while (b->label == a->label && b->parent) {
                k = b->cover;
                b = b->parent;
            }
            const bool had_vertex = b->vertex != nullptr;
            if (!had_vertex) graph_type::add_vertex(s, b, b->label);
            graph_type::add_edge(s, a->vertex, b->vertex, opposite_direction(a->cover), k,
                                 a->geodesic_distance - b->geodesic_distance, a->label);
            if (had_vertex || b == n) return;
            a = b;
        }
    }

    // The chain edges from v up to the target vertex, each taken from the
    // slot towards the parent of v's node. The walk ends early at a root, an
    // empty slot, or an edge that does not lead strictly nearer the source
    // (a slot another edge took over), so it always ends.
    static void collect_chain(base_vertex* v, const base_vertex* target, std::vector<edge*>& list) {
        while (v != target) {
            const node* n = v->node;
            if (!n->parent) return;
            edge* f = v->edges[opposite_direction(n->cover)];
            if (!f || f->a != v) return;
            const T upper = f->b->node->geodesic_distance;
            if (!(upper < n->geodesic_distance)) return;
            list.push_back(f);
            v = f->b;
        }
    }

    // The fronts jump around the grid: the nodes around the one taken a few
    // steps later are requested now. A hint only; results never depend on it.
    // Kept inline: as a call without visible effects it would be dropped.
    static constexpr size_t prefetch_distance = 8;
    [[gnu::always_inline]] static void prefetch_neighbours(const node* p, std::ptrdiff_t w) {
        if (!p) return;
        __builtin_prefetch(p, 1);
        __builtin_prefetch(p - 1, 1);
        __builtin_prefetch(p + 1, 1);
        __builtin_prefetch(p - w, 1);
        __builtin_prefetch(p + w, 1);
        __builtin_prefetch(p - w - 1, 1);
        __builtin_prefetch(p + w - 1, 1);
        __builtin_prefetch(p - w + 1, 1);
        __builtin_prefetch(p + w + 1, 1);
    }

    // At most one snapshot per node taken; the level catches up step by step.
    void fire_at(T d) {
        if (d > this->next_fire_level) {
            this->fire_snapshot(this->next_fire_level);
            this->next_fire_level = this->next_fire_level + this->fire_step;
        }
    }
};

// One loop for both propagations; the snapshots of -gf are compiled into the
// second only.
template <bool debug, typename T>
template <bool fire>
void geodesic_distance<debug, T>::spread() {
    this->begin_fire("geodesic", this->opts->grassfire.geodesic_step);
    if (fire) open_fire_display(timer);
    const std::ptrdiff_t w = static_cast<std::ptrdiff_t>(this->width);
    std::ptrdiff_t offset[8];
    for (int k = 0; k < 8; ++k)
        offset[k] = geodesic_neighbours[k].w_units * w + geodesic_neighbours[k].unit;
    const T limit = static_cast<T>(max_length);

    while (node* x = buckets.take()) {
        prefetch_neighbours(buckets.peek(prefetch_distance), w);
        if (x->state != front) continue;  // settled through an earlier copy
        node* source = x->source;
        node* parent = x->parent;
        std::uint8_t direction = x->cover;
        T step = x->residue;
        T distance = x->geodesic_distance;
        if (fire) fire_at(distance);

        // Neighbour states as they are now decide both phases.
        node* y[8];
        status state[8];
        T length[8];
        bool usable[8];
        const T height = x->value;
        for (int k = 0; k < 8; ++k) {
            y[k] = x + offset[k];
            state[k] = y[k]->state;
            usable[k] = true;
        }
        for (int j = 0; j < 4; ++j)
            usable[4 + j] = !y[diagonal_flanks[j][0]]->kind.has(boundary_seed) &&
                            !y[diagonal_flanks[j][1]]->kind.has(boundary_seed);
        // Steps are measured only towards nodes that either phase may use.
        for (int k = 0; k < 8; ++k) {
            if (state[k] != far && state[k] != front) continue;
            const T dz = y[k]->value - height;
            length[k] = k < 4 ? axial_step_length(dz) : diagonal_step_length(dz);
        }

        // Adopt a strictly better parent among the front neighbours of the
        // same region; the first of equals wins.
        for (int k = 0; k < 8; ++k) {
            if (!usable[k] || state[k] != front) continue;
            node* q = y[k];
            const T c = q->geodesic_distance + length[k];
            if (c < distance && q->source == x->generator) {
                record_meeting(x, source, q, q->source, parent, direction, x, step, distance + c);
                direction = opposite_direction(geodesic_neighbours[k].code);
                distance = c;
                source = q->source;
                parent = q;
                step = length[k];
            }
        }
        x->source = source;
        x->parent = parent;
        x->cover = direction;
        x->residue = step;
        x->geodesic_distance = distance;

        // Spread into the region, up to L; relax or meet the front.
        for (int k = 0; k < 8; ++k) {
            if (!usable[k]) continue;
            node* q = y[k];
            if (state[k] == far) {
                const T n = distance + length[k];
                if (n <= limit && q->generator == source) {
                    q->geodesic_distance = n;
                    q->source = source;
                    q->cover = geodesic_neighbours[k].code;
                    q->residue = length[k];
                    q->parent = x;
                    q->state = front;
                    q->bucket = static_cast<size_t>(n);
                    buckets.push(q, q->bucket);
                }
            } else if (state[k] == front) {
                relax(x, q, q->source, geodesic_neighbours[k].code, length[k], distance,
                      q->geodesic_distance);
            }
        }
        x->state = done;
    }
    if (fire) close_fire_display(timer);
}

}  // namespace lumo::zarn

#endif
