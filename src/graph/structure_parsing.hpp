// Structure parsing: the faces of the boundary graph traced into cycles with
// arc positions and components; in the path configuration the pruning of
// geodesic paths and edges by a union of faces, a second tracing and the
// cells; and the statistics lines.
#ifndef ZARN_GRAPH_STRUCTURE_PARSING_HPP
#define ZARN_GRAPH_STRUCTURE_PARSING_HPP

#include <vector>

#include "distance/queues.hpp"
#include "graph/graph.hpp"

namespace lumo::zarn {

template <bool debug, typename T, typename Config>
double graph<debug, T, Config>::parse_structure() {
    timer.restart_total();
    if constexpr (with_paths) {
        timer.time("Cycle parsing:", [this] { parse_cycles<false>(); });
        timer.time("Path pruning:", [this] { prune_paths(); });
        timer.time("Edge pruning:", [this] { prune_edges(); });
        timer.time("Cycle parsing:", [this] { parse_cycles<true>(); });
        timer.time("Cell construction:", [this] { build_cells(); });
    } else {
        timer.time("Cycle parsing:", [this] { parse_cycles<true>(); });
    }
    if (timer.enabled) {
        if (this->opts->program.weighted && this->opts->program.statistics) print_statistics();
        timer.rule('-');
    }
    return timer.total;
}

namespace graph_details {

// The walk of one face: from vertex x through slot s, it always takes, at the
// vertex it arrives at, the next edge in decreasing slot order after the edge
// of arrival, until it would leave a vertex through a slot already left.
template <bool positions, typename Vertex, typename Edge, typename Cycle, typename Queue>
void trace_face(Vertex* x, unsigned s, Cycle* c, Queue& queue) {
    Edge* e = x->edges[s];
    for (;;) {
        if constexpr (positions) {
            LUMO_CHECK(x->cycle_count < slot_count, "offset >= 0 && offset < length()");
            x->cycles[x->cycle_count] = c;
            x->positions[x->cycle_count] = c->length;
            ++x->cycle_count;
        }
        x->used_slots |= static_cast<std::uint8_t>(1u << s);
        --x->remaining_degree;
        const bool forward = e->a != e->b ? x == e->a : s == e->slot_a;
        Vertex* y;
        unsigned t;
        if (forward) {
            e->cycle_ab = c;
            y = e->b;
            t = e->slot_b;
        } else {
            e->cycle_ba = c;
            y = e->a;
            t = e->slot_a;
        }
        c->length += e->weight;
        if (y->state == far) {
            queue.push_back(y);
            y->state = status(front);
        }
        // Slot t holds the edge of arrival unless a later edge took it; a
        // vertex left with no edge at all ends the face.
        unsigned next = (t - 1) & 7;
        unsigned tries = 1;
        while (!y->edges[next] && tries < slot_count) {
            next = (next - 1) & 7;
            ++tries;
        }
        if (!y->edges[next]) return;
        if (y->used_slots & (1u << next)) return;
        x = y;
        s = next;
        e = y->edges[next];
    }
}

}  // namespace graph_details

// Breadth first from roots taken in pool order among the boundary vertices:
// every vertex reached gets the root's component, and every side of every
// edge reached is walked by exactly one face.
template <bool debug, typename T, typename Config>
template <bool positions>
void graph<debug, T, Config>::parse_cycles() {
    storage& s = *store;
    for (vertex& v : s.vertices) v.state = status(far);
    for (vertex& v : s.vertices) {
        v.used_slots = 0;
        v.cycle_count = 0;
        v.remaining_degree = v.degree;
    }
    s.cycles.clear();
    s.components.clear();

    fifo<base_vertex*> queue;
    auto root = s.vertices.begin();
    const size_t roots_end = s.saved_vertices < s.vertices.used() ? s.saved_vertices
                                                                   : s.vertices.used();
    component_identity* current = nullptr;
    for (;;) {
        base_vertex* u;
        if (!queue.empty()) {
            u = queue.pop_front();
        } else {
            while (root.index() < roots_end && root->state != far) ++root;
            if (root.index() >= roots_end) break;
            current = &s.components.append();
            u = root.get();
        }
        u->state = status(done);
        u->component = current;
        if (u->remaining_degree == 0) continue;
        for (unsigned slot = 0; slot < slot_count; ++slot) {
            if (!u->edges[slot] || (u->used_slots & (1u << slot))) continue;
            cycle* c = &s.cycles.append();
            c->length = 0;
            c->parent = nullptr;
            c->rank = 0;
            graph_details::trace_face<positions, base_vertex, edge>(u, slot, c, queue);
        }
    }
}

template <bool debug, typename T, typename Config>
void graph<debug, T, Config>::print_statistics() {
    const storage& s = *store;
    std::uint64_t paths = 0;
    for (const path& p : s.paths) paths += p.removed == 0;
    std::uint64_t edges = s.saved_edges;
    for (auto e = s.edges.at(s.saved_edges); e != s.edges.end(); ++e) edges += e->removed == 0;
    std::uint64_t vertices = s.saved_vertices;
    for (auto v = s.vertices.at(s.saved_vertices); v != s.vertices.end(); ++v)
        vertices += v->trace_count == 0 || v->degree != 0;
    std::cout << "-> Final vertices / edges / paths:      " << vertices << " / " << edges << " / "
              << paths << std::endl;
    std::cout << "-> Final components / cycles:           " << s.components.used() << " / "
              << s.cycles.used() << std::endl;
}

// --- pruning ---

template <bool debug, typename T, typename Config>
typename graph<debug, T, Config>::cycle* graph<debug, T, Config>::find_root(cycle* c) {
    cycle* root = c;
    while (root->parent) root = root->parent;
    while (c != root) {  // every cycle on the way points at the root
        cycle* next = c->parent;
        c->parent = root;
        c = next;
    }
    return root;
}

template <bool debug, typename T, typename Config>
void graph<debug, T, Config>::merge_cycles(cycle* r1, cycle* r2, T w) {
    const T twice = w + w;
    if (r1 == r2) {
        r1->length -= twice;
    } else if (r1->rank < r2->rank) {
        r1->parent = r2;
        r2->length = (r1->length - twice) + r2->length;
    } else {
        r2->parent = r1;
        r1->length = (r2->length - twice) + r1->length;
        if (r1->rank == r2->rank) ++r1->rank;
    }
}

// A slot is cleared only while it still holds this edge: a slot that a later
// edge took over belongs to that edge.
template <bool debug, typename T, typename Config>
void graph<debug, T, Config>::remove_edge(edge* e) {
    if (e->removed) {
        if constexpr (debug) std::cout << "OOPS edge removed!" << std::endl;
        return;
    }
    e->removed = 1;
    --e->a->degree;
    --e->b->degree;
    if (e->a->edges[e->slot_a] == e) {
        e->a->edges[e->slot_a] = nullptr;
        e->a->neighbours[e->slot_a] = nullptr;
    }
    if (e->b->edges[e->slot_b] == e) {
        e->b->edges[e->slot_b] = nullptr;
        e->b->neighbours[e->slot_b] = nullptr;
    }
}

namespace graph_details {

// An edge that no face walked on some side (its slots were taken over, or
// nothing traced reaches it) has no faces to unite: pruning leaves it.
template <typename Edge>
bool has_both_faces(const Edge* e) {
    return e && e->cycle_ab && e->cycle_ba;
}

}  // namespace graph_details

template <bool debug, typename T, typename Config>
bool graph<debug, T, Config>::path_spans_half_face(const path& p) requires with_paths {
    const edge* link = p.connecting;
    if (!graph_details::has_both_faces(link)) return false;
    cycle* const r1 = find_root(link->cycle_ab);
    cycle* const r2 = find_root(link->cycle_ba);
    T w1 = 0, w2 = 0;
    // Along side a the edges run against the path, so the face on the a-to-b
    // side of the connecting edge is on their b-to-a side.
    for (int side = 0; side < 2; ++side) {
        const std::vector<edge*>& edges = side == 0 ? p.side_a : p.side_b;
        for (const edge* e : edges) {
            if (!graph_details::has_both_faces(e)) return false;
            cycle* const x = find_root(side == 0 ? e->cycle_ba : e->cycle_ab);
            cycle* const y = find_root(side == 0 ? e->cycle_ab : e->cycle_ba);
            if (x == y) return false;  // no longer separates two faces here
            const bool on_first = x == r1;
            const bool on_second = y == r2;
            if (on_first) w1 += e->weight;
            if (on_second) w2 += e->weight;
            if (!on_first && !on_second) break;
        }
    }
    return w1 + w1 >= r1->length || w2 + w2 >= r2->length;
}

// An edge shared with other paths only loses one reference; an edge of this
// path alone is removed and its two faces united.
template <bool debug, typename T, typename Config>
void graph<debug, T, Config>::remove_path(path* p) requires with_paths {
    if (p->removed) {
        if constexpr (debug) std::cout << "OOPS path removed!" << std::endl;
        return;
    }
    p->removed = 1;
    for (int side = 0; side < 2; ++side) {
        for (edge* e : side == 0 ? p->side_a : p->side_b) {
            if (!graph_details::has_both_faces(e)) continue;
            if (e->path_references > 1) {
                --e->path_references;
                continue;
            }
            const bool live = !e->removed;
            remove_edge(e);  // an edge removed before is only reported
            if (live) merge_cycles(find_root(e->cycle_ab), find_root(e->cycle_ba), e->weight);
        }
    }
}

template <bool debug, typename T, typename Config>
void graph<debug, T, Config>::prune_paths() requires with_paths {
    storage& s = *store;
    for (cycle& c : s.cycles) {
        c.parent = nullptr;
        c.rank = 0;
    }
    // Sweeps until one removes nothing; each test sees the faces united by
    // the removals before it.
    bool removed_any = s.paths.used() > 0;
    while (removed_any) {
        removed_any = false;
        for (path& p : s.paths) {
            if (p.removed || !path_spans_half_face(p)) continue;
            remove_path(&p);
            removed_any = true;
        }
    }
}

namespace graph_details {

// Stable merge sort by a strict comparison; well defined whatever the
// comparison answers (unordered weights stay in their order).
template <typename P, typename Greater>
void stable_sort_by(std::vector<P>& items, Greater greater) {
    std::vector<P> buffer(items.size());
    for (size_t width = 1; width < items.size(); width *= 2) {
        for (size_t lo = 0; lo < items.size(); lo += 2 * width) {
            const size_t mid = lo + width < items.size() ? lo + width : items.size();
            const size_t hi = lo + 2 * width < items.size() ? lo + 2 * width : items.size();
            size_t i = lo, j = mid, k = lo;
            while (i < mid && j < hi) buffer[k++] = greater(items[j], items[i]) ? items[j++] : items[i++];
            while (i < mid) buffer[k++] = items[i++];
            while (j < hi) buffer[k++] = items[j++];
        }
        items.swap(buffer);
    }
}

}  // namespace graph_details

template <typename Edge>
bool edge_weight_greater(const Edge* x, const Edge* y) {
    return x->weight > y->weight;
}

// Heaviest geodesic edges first: an edge goes when the smaller of its two
// faces is at most twice as long as the edge.
template <bool debug, typename T, typename Config>
void graph<debug, T, Config>::prune_edges() requires with_paths {
    storage& s = *store;
    std::vector<edge*> candidates;
    for (auto e = s.edges.at(s.saved_edges); e != s.edges.end(); ++e)
        if (!e->removed) candidates.push_back(e.get());
    graph_details::stable_sort_by(candidates, edge_weight_greater<edge>);
    for (cycle& c : s.cycles) {
        c.parent = nullptr;
        c.rank = 0;
    }
    for (edge* e : candidates) {
        if (!graph_details::has_both_faces(e)) continue;
        cycle* const r1 = find_root(e->cycle_ab);
        cycle* const r2 = find_root(e->cycle_ba);
        if (r1 == r2) continue;
        const T twice = e->weight + e->weight;
        if (r1->length > twice && r2->length > twice) continue;
        merge_cycles(r1, r2, e->weight);
        remove_edge(e);
    }
}

// Every live vertex is filed under its source, once per face it lies on.
template <bool debug, typename T, typename Config>
void graph<debug, T, Config>::build_cells() requires with_paths {
    for (vertex& v : store->vertices) {
        if (v.trace_count != 0 && v.degree == 0) continue;  // pruned geodesic vertex
        vertex* const source = v.source;
        if (!source) continue;
        cycle* previous = nullptr;
        for (std::uint8_t i = 0; i < v.cycle_count; ++i) {
            cycle* const c = v.cycles[i];
            if (c != previous) source->cells[c].push_back(&v);
            previous = c;
        }
    }
}

template <bool debug, typename T, typename Config>
T graph<debug, T, Config>::shared_cycles_distance(base_vertex* a, base_vertex* b) requires with_paths {
    const typename vertex::cell_map& cells_a = static_cast<vertex*>(a)->cells;
    const typename vertex::cell_map& cells_b = static_cast<vertex*>(b)->cells;
    T best = infinity();
    auto i = cells_a.begin();
    auto j = cells_b.begin();
    while (i != cells_a.end() && j != cells_b.end()) {
        if (i->first == j->first) {
            cycle* const c = i->first;
            for (vertex* x : i->second)
                for (vertex* y : j->second) {
                    const T candidate = cycle_distance(x, y, c) +
                                        (x->node->geodesic_distance + y->node->geodesic_distance);
                    best = candidate < best ? candidate : best;
                }
            ++i;
            ++j;
        } else if (i->first->index < j->first->index) {
            ++i;
        } else {
            ++j;
        }
    }
    if constexpr (debug) {
        if (best > std::numeric_limits<T>::max()) {
            no_same_cycle(a->node, b->node);
            return infinity();
        }
    }
    return best;
}

}  // namespace lumo::zarn

#endif
