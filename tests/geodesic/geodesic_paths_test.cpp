// From meetings to graph elements: crossing removal, path tracing, path
// connection (vertices where the trace count changes, chain edges, one
// connecting edge per path), path traversing and the vertices' sources.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "geodesic/geodesic_support.hpp"

namespace {

using namespace geo_test;

// --- crossing removal -------------------------------------------------------

// The 2 x 2 block at (2, 2): P top left, E one row below it, S one column
// right of it, D diagonal. Directions name each node's step from its parent.
struct crossing_case {
    const char* name;
    std::uint8_t dp, de, ds, dd;
    double p, e, s, d;       // geodesic distances
    char child, new_parent;  // 'P', 'E', 'S' or 'D'
    std::uint8_t code;
};

TEST(GeodesicCrossings, TheFartherParentLosesItsChildOnATieTheSecondChoice) {
    const crossing_case cases[] = {
        {"a: D farther", 3, 0, 1, 0, 3.5, 1, 2.5, 2, 'P', 'E', 2},
        {"a: tie", 3, 0, 1, 0, 2.5, 1, 2.5, 1, 'S', 'D', 2},
        {"b: D farther", 3, 5, 0, 0, 3.5, 2.5, 1, 2, 'P', 'S', 4},
        {"b: tie", 3, 5, 0, 0, 2.5, 2.5, 1, 1, 'E', 'D', 4},
        {"c: S farther", 0, 5, 0, 7, 1, 3.5, 2, 2.5, 'E', 'P', 6},
        {"c: tie", 0, 5, 0, 7, 1, 2.5, 1, 2.5, 'D', 'S', 6},
        {"d: E farther", 0, 0, 1, 7, 1, 2, 3.5, 2.5, 'S', 'P', 0},
        {"d: tie", 0, 0, 1, 7, 1, 1, 2.5, 2.5, 'D', 'E', 0},
    };
    for (const crossing_case& k : cases) {
        SCOPED_TRACE(k.name);
        picture_grid g({"######", "#Aaaa#", "#aaaa#", "#aaaa#", "#aaaa#", "######"});
        auto s = g.make();
        s->init();
        node* P = &g.at(2, 2);
        node* E = &g.at(3, 2);
        node* S = &g.at(2, 3);
        node* D = &g.at(3, 3);
        auto named = [&](char c) { return c == 'P' ? P : c == 'E' ? E : c == 'S' ? S : D; };
        // Parents at the other end of each diagonal link.
        const std::pair<node*, std::uint8_t> links[] = {{P, k.dp}, {E, k.de}, {S, k.ds}, {D, k.dd}};
        const std::pair<std::uint8_t, node*> ends[] = {{3, D}, {5, S}, {1, E}, {7, P}};
        for (auto [n, code] : links) {
            n->cover = code;
            for (auto [c, parent] : ends)
                if (code == c) n->parent = parent;
        }
        P->geodesic_distance = k.p;
        E->geodesic_distance = k.e;
        S->geodesic_distance = k.s;
        D->geodesic_distance = k.d;
        node before[4] = {*P, *E, *S, *D};
        s->remove_crossings();
        node* child = named(k.child);
        node* parent = named(k.new_parent);
        EXPECT_EQ(child->parent, parent);
        EXPECT_EQ(child->cover, k.code);
        EXPECT_EQ(child->residue, child->geodesic_distance - parent->geodesic_distance);
        // Nothing else moves; distances stay.
        const node* after[4] = {P, E, S, D};
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(after[i]->geodesic_distance, before[i].geodesic_distance);
            if (after[i] == child) continue;
            EXPECT_EQ(after[i]->parent, before[i].parent) << i;
            EXPECT_EQ(after[i]->cover, before[i].cover) << i;
        }
    }
}

// --- tracing and connection on fronts that really ran ---------------------

// Three lanes with their sources on top: B's front meets A's one row down,
// and A's meets C's at the same node of A's lane. Both path sides through
// A's node count there, so it becomes a vertex with one edge up to A that
// both paths share.
TEST(GeodesicConnection, TwoPathsSharingAChainShareItsEdge) {
    picture_grid g({"#####", "#BAC#", "#bac#", "#bac#", "#####"});
    g.completed();
    node& b2 = g.at(2, 1);
    node& a2 = g.at(2, 2);
    node& c2 = g.at(2, 3);
    EXPECT_EQ(b2.label, 1u);
    EXPECT_EQ(a2.label, 2u);
    EXPECT_EQ(c2.label, 1u);
    EXPECT_EQ(g.at(3, 2).label, 0u);
    EXPECT_EQ(g.source('A')->label, 0u);

    ASSERT_EQ(g.store.paths.used(), 2u);
    ASSERT_EQ(g.store.vertices.used(), 4u);
    ASSERT_EQ(g.store.edges.used(), 3u);
    vertex* va = g.vertex_of('A');
    vertex* vb = g.vertex_of('B');
    vertex* vc = g.vertex_of('C');
    vertex* v2 = g.vertex_at(2, 2);
    ASSERT_NE(v2, nullptr);
    EXPECT_EQ(v2->trace_count, 2u);
    EXPECT_EQ(v2->source, va);
    EXPECT_EQ(va->source, va);

    const edge& chain = g.edge_at(0);  // built by the first path's side b
    EXPECT_EQ(chain.a, v2);
    EXPECT_EQ(chain.b, va);
    EXPECT_EQ(chain.slot_a, 2);  // up to A
    EXPECT_EQ(chain.slot_b, 6);
    EXPECT_EQ(chain.weight, 1.0);
    EXPECT_EQ(chain.path_references, 2u);

    const path& p1 = g.path_at(0);
    EXPECT_EQ(p1.a, vb);
    EXPECT_EQ(p1.b, va);
    const edge& e1 = g.edge_at(1);
    EXPECT_EQ(p1.connecting, &e1);
    EXPECT_EQ(e1.a, vb);
    EXPECT_EQ(e1.b, v2);
    EXPECT_EQ(e1.slot_a, 6);  // B down to the meeting node below it
    EXPECT_EQ(e1.slot_b, 4);  // the meeting step, seen from A's lane
    EXPECT_EQ(e1.weight, 2.0);
    EXPECT_EQ(e1.path_references, 1u);
    EXPECT_TRUE(p1.side_a.empty());
    EXPECT_EQ(p1.side_b,
              (std::vector<edge*>{g.store.edges.at(1).get(), g.store.edges.at(0).get()}));

    const path& p2 = g.path_at(1);
    EXPECT_EQ(p2.a, va);
    EXPECT_EQ(p2.b, vc);
    const edge& e2 = g.edge_at(2);
    EXPECT_EQ(p2.connecting, &e2);
    EXPECT_EQ(e2.a, v2);
    EXPECT_EQ(e2.b, vc);
    EXPECT_EQ(e2.slot_a, 0);
    EXPECT_EQ(e2.slot_b, 6);
    EXPECT_EQ(e2.weight, 2.0);
    EXPECT_EQ(p2.side_a, std::vector<edge*>{g.store.edges.at(0).get()});
    EXPECT_EQ(p2.side_b, std::vector<edge*>{g.store.edges.at(1 + 1).get()});

    EXPECT_EQ(v2->degree, 3);
    EXPECT_EQ(va->degree, 1);
    EXPECT_EQ(vb->degree, 1);
    EXPECT_EQ(vc->degree, 1);
}

// A meeting node that is a source itself: nothing is counted on its side and
// the connecting edge leaves the source in the meeting direction. A path
// whose chains no other path uses is one edge between its two sources.
TEST(GeodesicConnection, LonePathIsOneEdgeBetweenItsSources) {
    picture_grid g({"#####", "#BbA#", "#####"});
    g.completed();
    ASSERT_EQ(g.store.paths.used(), 1u);
    const path& p = g.path_at(0);
    EXPECT_EQ(p.a, g.vertex_of('A'));
    EXPECT_EQ(p.node_a, g.source('A'));
    EXPECT_EQ(p.node_b, &g.at(1, 2));
    EXPECT_EQ(p.direction, 4);
    EXPECT_EQ(p.total, 2.0);
    EXPECT_EQ(g.source('A')->label, 0u);
    EXPECT_EQ(g.at(1, 2).label, 1u);
    ASSERT_EQ(g.store.edges.used(), 1u);
    ASSERT_EQ(g.store.vertices.used(), 2u);
    const edge& e = g.edge_at(0);
    EXPECT_EQ(p.connecting, &e);
    EXPECT_EQ(e.a, g.vertex_of('A'));
    EXPECT_EQ(e.b, g.vertex_of('B'));
    EXPECT_EQ(e.slot_a, 4);  // the path's direction
    EXPECT_EQ(e.slot_b, 0);  // B's step down its chain
    EXPECT_EQ(e.weight, p.step + 0.0 + 1.0);
    EXPECT_TRUE(p.side_a.empty());
    EXPECT_EQ(p.side_b, std::vector<edge*>{p.connecting});
}

// --- tracing and connection on parent chains laid by hand --------------------

TEST(GeodesicConnection, CountsChangeAlongAChainMakeVerticesAndChainEdges) {
    hand_lanes h;
    h.connect();
    picture_grid& g = h.g;
    for (size_t r = 2; r <= 5; ++r) EXPECT_EQ(g.at(r, 1).label, 1u) << r;
    EXPECT_EQ(g.at(5, 2).label, 1u);
    EXPECT_EQ(g.at(4, 2).label, 1u);
    EXPECT_EQ(g.at(3, 2).label, 2u);
    EXPECT_EQ(g.at(2, 2).label, 2u);
    EXPECT_EQ(g.at(3, 3).label, 1u);
    EXPECT_EQ(g.at(4, 3).label, 0u);

    vertex* junction = g.vertex_at(3, 2);
    ASSERT_NE(junction, nullptr);
    EXPECT_EQ(g.vertex_at(2, 2), nullptr);  // same count as the junction
    EXPECT_EQ(g.vertex_at(5, 2), nullptr);
    ASSERT_EQ(g.store.edges.used(), 3u);
    const edge& chain = g.edge_at(0);
    EXPECT_EQ(chain.a, junction);
    EXPECT_EQ(chain.b, g.vertex_of('A'));
    EXPECT_EQ(chain.slot_a, 2);
    EXPECT_EQ(chain.slot_b, 6);  // A's step down to (2, 2)
    EXPECT_EQ(chain.weight, 2.0);
    EXPECT_EQ(chain.path_references, 2u);

    const edge& c1 = g.edge_at(1);
    EXPECT_EQ(h.p1->connecting, &c1);
    EXPECT_EQ(c1.a, g.vertex_of('B'));
    EXPECT_EQ(c1.b, junction);
    EXPECT_EQ(c1.slot_a, 6);
    EXPECT_EQ(c1.slot_b, 6);  // down A's lane towards the meeting node
    EXPECT_EQ(c1.weight, 1.0 + 4.0 + 2.0);

    const edge& c2 = g.edge_at(2);
    EXPECT_EQ(h.p2->connecting, &c2);
    EXPECT_EQ(c2.a, junction);
    EXPECT_EQ(c2.b, g.vertex_of('C'));
    EXPECT_EQ(c2.slot_a, 0);
    EXPECT_EQ(c2.slot_b, 6);
    EXPECT_EQ(c2.weight, 1.0 + 0.0 + 2.0);

    EXPECT_TRUE(h.p1->side_a.empty());
    EXPECT_EQ(h.p1->side_b, (std::vector<edge*>{h.p1->connecting, g.store.edges.at(0).get()}));
    EXPECT_EQ(h.p2->side_a, std::vector<edge*>{g.store.edges.at(0).get()});
    EXPECT_EQ(h.p2->side_b, std::vector<edge*>{h.p2->connecting});
    EXPECT_EQ(junction->source, g.vertex_of('A'));
    EXPECT_EQ(junction->trace_count, 2u);
}

// A third path joins A's lane at its top from C's: the count along A's lane
// rises 1, 2, 3 towards A, so the chain gets a vertex at each rise, and C's
// lane one where its two path sides meet.
TEST(GeodesicConnection, EveryRiseOfTheCountAlongAChainMakesAVertex) {
    hand_lanes h;
    picture_grid& g = h.g;
    path* p3 = graph_ops::add_path(g.store, g.vertex_of('C'), &g.at(2, 3), 4, &g.at(2, 2),
                                   g.vertex_of('A'), 1.0, 3.0);
    h.connect();
    EXPECT_EQ(g.at(2, 2).label, 3u);
    EXPECT_EQ(g.at(3, 2).label, 2u);
    EXPECT_EQ(g.at(2, 3).label, 2u);
    vertex* v32 = g.vertex_at(3, 2);
    vertex* v22 = g.vertex_at(2, 2);
    vertex* v23 = g.vertex_at(2, 3);
    ASSERT_TRUE(v32 && v22 && v23);
    EXPECT_EQ(v22->trace_count, 3u);
    ASSERT_EQ(g.store.edges.used(), 6u);
    struct expected {
        z::graph_vertex<false, double>* a;
        z::graph_vertex<false, double>* b;
        std::uint8_t slot_a, slot_b;
        double weight;
        std::uint64_t references;
    } want[] = {
        {v32, v22, 2, 6, 1.0, 2},               // chain: count 2 up to the rise
        {v22, g.vertex_of('A'), 2, 6, 1.0, 3},  // chain: count 3 up to A
        {g.vertex_of('B'), v32, 6, 6, 7.0, 1},  // P1
        {v23, g.vertex_of('C'), 2, 6, 1.0, 2},  // chain of C's lane
        {v32, v23, 0, 6, 2.0, 1},               // P2
        {v23, v22, 4, 0, 1.0, 1},               // P3
    };
    for (size_t i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        const edge& e = g.edge_at(i);
        EXPECT_EQ(e.a, want[i].a);
        EXPECT_EQ(e.b, want[i].b);
        EXPECT_EQ(e.slot_a, want[i].slot_a);
        EXPECT_EQ(e.slot_b, want[i].slot_b);
        EXPECT_EQ(e.weight, want[i].weight);
        EXPECT_EQ(e.path_references, want[i].references);
    }
    auto edges = [&](std::initializer_list<size_t> ids) {
        std::vector<edge*> v;
        for (size_t i : ids) v.push_back(g.store.edges.at(i).get());
        return v;
    };
    EXPECT_TRUE(h.p1->side_a.empty());
    EXPECT_EQ(h.p1->side_b, edges({2, 0, 1}));
    EXPECT_EQ(h.p2->side_a, edges({0, 1}));
    EXPECT_EQ(h.p2->side_b, edges({4, 3}));
    EXPECT_EQ(p3->side_a, edges({3}));
    EXPECT_EQ(p3->side_b, edges({5, 1}));
    EXPECT_EQ(v23->source, g.vertex_of('C'));
    EXPECT_EQ(v22->degree, 3);
    EXPECT_EQ(v32->degree, 3);
}

// A chain whose root is not the path's vertex (crossing removal moved it
// under another source) moves the path's end to that root.
TEST(GeodesicConnection, TracingMovesAPathEndToTheRootItsChainReaches) {
    hand_lanes h;
    picture_grid& g = h.g;
    g.at(4, 1).parent = &g.at(3, 2);  // B's lane joins A's lane at row 3
    g.at(4, 1).cover = 1;
    h.s->trace_paths();
    EXPECT_EQ(h.p1->a, g.vertex_of('A'));
    EXPECT_EQ(g.at(5, 1).label, 1u);
    EXPECT_EQ(g.at(4, 1).label, 1u);
    EXPECT_EQ(g.at(3, 1).label, 0u);
    EXPECT_EQ(g.at(3, 2).label, 3u);  // both sides of P1 and P2's side a
    // The path lists are not changed.
    EXPECT_EQ(g.vertex_of('B')->paths.size(), 1u);
}

// A walk that meets an empty slot or an edge leading away from the source
// stops instead of following it.
TEST(GeodesicConnection, TraversingStopsAtAnEmptyOrForeignSlot) {
    hand_lanes h;
    h.connect();
    picture_grid& g = h.g;
    vertex* junction = g.vertex_at(3, 2);
    edge* chain = junction->edges[2];
    h.p1->side_b.clear();
    h.p2->side_a.clear();
    h.p2->side_b.clear();
    h.p1->side_a.clear();
    junction->edges[2] = nullptr;
    h.s->traverse_paths();
    EXPECT_EQ(h.p1->side_b, std::vector<edge*>{h.p1->connecting});
    EXPECT_TRUE(h.p2->side_a.empty());
    // The slot towards the parent taken by an edge that leads back down.
    edge& back = g.store.edges.append();
    back = *chain;
    back.b = g.vertex_of('B');
    junction->edges[2] = &back;
    g.source('B')->geodesic_distance = 5;
    h.p2->side_a.clear();
    h.p2->side_b.clear();
    h.s->traverse_paths();
    EXPECT_TRUE(h.p2->side_a.empty());
}

// Whole stage on random regions and heights: every path's edges run from its
// connecting edge out to its two vertices, chain edges lie along parents, and
// the edges of a path add up to the lengths of its meeting nodes and step.
TEST(GeodesicConnection, PathEdgesAddUpToThePathOnRandomSurfaces) {
    std::mt19937 rng(5);
    size_t paths_seen = 0, chains_seen = 0;
    for (int trial = 0; trial < 60; ++trial) {
        SCOPED_TRACE(trial);
        const size_t rows = 8 + rng() % 24, cols = 8 + rng() % 24;
        std::vector<std::string> pic(rows, std::string(cols, '#'));
        // Vertical stripes of regions, one source on each, at random rows.
        const size_t width = 2 + rng() % 4;
        for (size_t c = 1; c + 1 < cols; ++c) {
            const char region = static_cast<char>('a' + (c - 1) / width % 26);
            for (size_t r = 1; r + 1 < rows; ++r) pic[r][c] = region;
        }
        for (size_t c = 1; c + 1 < cols; c += width) {
            const size_t r = 1 + rng() % (rows - 2);
            pic[r][c + rng() % std::min(width, cols - 1 - c)] =
                static_cast<char>('A' + (c - 1) / width % 26);
        }
        picture_grid g(pic, 6 + rng() % 30);
        std::uniform_real_distribution<double> height(0, 2);
        for (size_t i = 0; i < g.nodes.length(); ++i) g.nodes[i].value = height(rng);
        g.completed();
        const size_t saved_edges = g.store.saved_edges;
        for (auto e = g.store.edges.at(saved_edges); e != g.store.edges.end(); ++e) {
            EXPECT_GT(e->weight, 0.0);
            EXPECT_GE(e->path_references, 1u);
        }
        for (size_t k = 0; k < g.store.paths.used(); ++k) {
            const path& p = g.path_at(k);
            ++paths_seen;
            ASSERT_NE(p.connecting, nullptr);
            ASSERT_FALSE(p.side_b.empty());
            EXPECT_EQ(p.side_b.front(), p.connecting);
            const z::graph_vertex<false, double>* v = p.connecting->a;
            double sum = p.connecting->weight;
            for (edge* e : p.side_a) {
                EXPECT_EQ(e->a, v);
                EXPECT_EQ(e->weight, e->a->node->geodesic_distance - e->b->node->geodesic_distance);
                EXPECT_EQ(e->path_references, e->a->node->label);
                v = e->b;
                sum += e->weight;
                ++chains_seen;
            }
            EXPECT_EQ(v, p.a);
            v = p.connecting->b;
            for (size_t i = 1; i < p.side_b.size(); ++i) {
                EXPECT_EQ(p.side_b[i]->a, v);
                v = p.side_b[i]->b;
                sum += p.side_b[i]->weight;
            }
            EXPECT_EQ(v, p.b);
            EXPECT_EQ(p.a->node->parent, nullptr);
            EXPECT_EQ(p.b->node->parent, nullptr);
            // The meeting total was taken while node b could still be lowered.
            const double length =
                p.node_a->geodesic_distance + p.step + p.node_b->geodesic_distance;
            EXPECT_NEAR(sum, length, 1e-9 * length);
            EXPECT_LE(length, p.total + 1e-12 * p.total);  // summed in another order
        }
        for (auto v = g.store.vertices.begin(); v != g.store.vertices.end(); ++v) {
            EXPECT_EQ(v->source, graph_ops::vertex_of(v->node->source));
            if (v.index() >= g.store.saved_vertices) {
                EXPECT_GE(v->trace_count, 2u);
                EXPECT_GE(v->degree, 1u);
            }
        }
    }
    EXPECT_GT(paths_seen, 100u);
    EXPECT_GT(chains_seen, 20u);
}

}  // namespace
