// Path and edge pruning on small hand-made path-configuration graphs: a
// rectangle of boundary vertices cut by geodesic edges, with every face
// length worked out by hand.
#include <gtest/gtest.h>

#include <cmath>

#include "graph_support.hpp"
#include "pipeline/capture.hpp"

namespace {

using namespace graph_test;

// The tee graph with its two paths: p1 from the top to the left side, p2
// from the top to the right side, both up e0.
template <bool debug = false>
struct tee : tee_graph<debug> {
    using G = typename tee_graph<debug>::G;
    using base = tee_graph<debug>;
    using base::g, base::top, base::left, base::right, base::e0, base::c1, base::c2;
    typename G::graph_type::path *p1, *p2;
    std::unique_ptr<typename G::graph_type> graph;

    explicit tee(double w0 = 2, double w1 = 3, double w2 = 3) : base(w0, w1, w2) {
        using graph_type = typename G::graph_type;
        p1 = graph_type::add_path(g.storage, top, &g.pixel(1, 3), code::down, &g.pixel(2, 2), left,
                                  1, w0 + w1);
        p2 = graph_type::add_path(g.storage, top, &g.pixel(1, 3), code::down, &g.pixel(2, 4), right,
                                  1, w0 + w2);
        p1->connecting = c1;
        p1->side_a = {e0};
        p1->side_b = {c1};
        p2->connecting = c2;
        p2->side_a = {e0};
        p2->side_b = {c2};
        this->set_sources();
        graph = g.make();
        graph->template parse_cycles<false>();
    }
    typename G::cycle* top_left() { return c1->cycle_ba; }
    typename G::cycle* top_right() { return c2->cycle_ab; }
    typename G::cycle* bottom() { return c1->cycle_ab; }
};

TEST(GraphPruning, FirstTracingGivesTheFacesOfTheHandCheckedGraph) {
    tee<> t;
    EXPECT_EQ(t.g.storage.cycles.used(), 4u);
    EXPECT_EQ(t.top_left()->length, 10.0);
    EXPECT_EQ(t.top_right()->length, 10.0);
    EXPECT_EQ(t.bottom()->length, 16.0);
    EXPECT_EQ(t.c2->cycle_ba, t.bottom());
    EXPECT_EQ(t.e0->cycle_ab, t.top_left());
    EXPECT_EQ(t.e0->cycle_ba, t.top_right());
    EXPECT_EQ(t.gv->cycle_count, 0);  // the first tracing keeps no positions
}

TEST(GraphPruning, PathsThatSpanHalfAFaceGoOneAfterTheOtherAndUniteTheirFaces) {
    tee<> t;
    auto& graph = *t.graph;
    // p1: 2 (e0 on the top-left face) + 3 (c1 on both) = 5, half of 10.
    EXPECT_TRUE(graph.path_spans_half_face(*t.p1));
    graph.remove_path(t.p1);
    EXPECT_EQ(t.p1->removed, 1);
    EXPECT_EQ(t.e0->path_references, 1u);  // still used by p2
    EXPECT_EQ(t.e0->removed, 0);
    EXPECT_EQ(t.c1->removed, 1);
    EXPECT_EQ(t.gv->edges[code::left], nullptr);
    EXPECT_EQ(t.gv->neighbours[code::left], nullptr);
    EXPECT_EQ(t.left->edges[code::right], nullptr);
    EXPECT_EQ(t.gv->degree, 2);
    EXPECT_EQ(t.left->degree, 2);
    auto* merged = graph.find_root(t.top_left());
    EXPECT_EQ(merged, graph.find_root(t.bottom()));
    EXPECT_EQ(merged->length, 20.0);  // 10 + 16 - 2 x 3
    // p2 now sees e0 between the top-right face and the united one.
    EXPECT_TRUE(graph.path_spans_half_face(*t.p2));
    graph.remove_path(t.p2);
    EXPECT_EQ(t.e0->removed, 1);
    EXPECT_EQ(t.c2->removed, 1);
    EXPECT_EQ(t.gv->degree, 0);
    EXPECT_EQ(graph.find_root(t.top_right())->length, 20.0);  // + 10 - 4, then - 6
}

TEST(GraphPruning, SweepsRemoveUntilNothingChangesAndTheSecondTracingSeesTheRest) {
    tee<> t;
    t.graph->prune_paths();
    EXPECT_EQ(t.p1->removed, 1);
    EXPECT_EQ(t.p2->removed, 1);
    EXPECT_EQ(t.e0->removed, 1);
    EXPECT_EQ(t.g.storage.edges.used(), 23u);  // removal keeps the records
    EXPECT_EQ(t.g.storage.paths.used(), 2u);
    t.graph->prune_edges();  // nothing left to try
    t.graph->parse_cycles<true>();
    ASSERT_EQ(t.g.storage.cycles.used(), 2u);
    EXPECT_EQ(t.g.storage.cycles[0].length, 20.0);
    EXPECT_EQ(t.g.storage.cycles[1].length, 20.0);
    EXPECT_EQ(t.gv->cycle_count, 0);
    EXPECT_EQ(t.c1->cycle_ab, t.bottom());  // a removed edge keeps its old sides
}

TEST(GraphPruning, PathsShorterThanHalfTheirFacesStay) {
    tee<> t(2, 2.9, 2.9);  // top-left 9.9 against 2 x 4.9
    t.graph->prune_paths();
    EXPECT_EQ(t.p1->removed, 0);
    EXPECT_EQ(t.p2->removed, 0);
    EXPECT_EQ(t.e0->path_references, 2u);
    EXPECT_EQ(t.top_left()->parent, nullptr);
    EXPECT_EQ(t.top_left()->length, 9.9);
}

TEST(GraphPruning, APathAlongAnEdgeWithOneFaceOnBothSidesStays) {
    tee<> t;
    auto& graph = *t.graph;
    graph.merge_cycles(t.top_left(), t.top_right(), 0.0);
    EXPECT_FALSE(graph.path_spans_half_face(*t.p1));
    EXPECT_FALSE(graph.path_spans_half_face(*t.p2));
}

TEST(GraphPruning, EdgesWithoutFacesAndPathsWithoutEdgesStay) {
    tee<true> t;
    zarn_test::cout_capture out;
    // e0 was overwritten in one of its slots before tracing: no face on it.
    t.e0->cycle_ab = nullptr;
    EXPECT_FALSE(t.graph->path_spans_half_face(*t.p1));
    t.p1->connecting = nullptr;
    EXPECT_FALSE(t.graph->path_spans_half_face(*t.p1));
    t.graph->remove_path(t.p2);
    EXPECT_EQ(t.e0->removed, 0);
    EXPECT_EQ(t.e0->path_references, 2u);
    EXPECT_EQ(t.c2->removed, 1);
    t.graph->remove_path(t.p2);
    t.graph->remove_edge(t.c2);
    EXPECT_EQ(out.text(), "OOPS path removed!\nOOPS edge removed!\n");
}

TEST(GraphPruning, RemovalClearsOnlySlotsThatStillHoldTheEdge) {
    path_grid<false> g({"#.#"});
    auto* a = g.add_vertex(0, 0);
    auto* b = g.add_vertex(0, 2);
    auto* first = g.add_edge(a, b, code::right, code::left, 1.0);
    auto* second = g.add_edge(a, b, code::right, code::left, 2.0);  // takes both slots
    path_grid<false>::graph_type::remove_edge(first);
    EXPECT_EQ(a->edges[code::right], second);
    EXPECT_EQ(b->edges[code::left], second);
    EXPECT_EQ(a->neighbours[code::right], b);
    EXPECT_EQ(a->degree, 1);
    path_grid<false>::graph_type::remove_edge(second);
    EXPECT_EQ(a->edges[code::right], nullptr);
    EXPECT_EQ(b->neighbours[code::left], nullptr);
    EXPECT_EQ(b->degree, 0);
}

TEST(GraphPruning, UnionByRankWithPathCompression) {
    using cycle = lumo::zarn::graph_cycle<double>;
    using graph_type = path_grid<false>::graph_type;
    cycle a{10, nullptr, 0, 0}, b{6, nullptr, 0, 1}, c{8, nullptr, 0, 2}, d{5, nullptr, 0, 3};
    graph_type::merge_cycles(&a, &b, 1);  // equal ranks: b under a
    EXPECT_EQ(b.parent, &a);
    EXPECT_EQ(a.rank, 1u);
    EXPECT_EQ(a.length, 14.0);  // (6 - 2) + 10
    graph_type::merge_cycles(&c, &a, 1.5);  // lower rank goes under
    EXPECT_EQ(c.parent, &a);
    EXPECT_EQ(a.length, 19.0);  // (8 - 3) + 14
    graph_type::merge_cycles(&a, &a, 2);
    EXPECT_EQ(a.length, 15.0);
    d.parent = &c;  // a chain d -> c -> a
    EXPECT_EQ(graph_type::find_root(&d), &a);
    EXPECT_EQ(d.parent, &a);
    EXPECT_EQ(graph_type::find_root(&a), &a);
}

TEST(GraphPruning, TheStableSortKeepsTiesInIndexOrder) {
    using edge = path_grid<false>::edge;
    std::vector<edge> records(6);
    const double weights[] = {3, 5, 3, 1, 5, 3};
    std::vector<edge*> items;
    for (int i = 0; i < 6; ++i) {
        records[i].weight = weights[i];
        items.push_back(&records[i]);
    }
    lumo::zarn::graph_details::stable_sort_by(items, lumo::zarn::edge_weight_greater<edge>);
    const int expected[] = {1, 4, 0, 2, 5, 3};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(items[i], &records[expected[i]]) << i;
}

// Three geodesic chords x, y, z from the top (0, 4) to the bottom (4, 4) of
// the ring around rows 0..4, columns 0..8 (perimeter 24), x leftmost.
// Faces: left 12 + x, x|y x + y, y|z y + z, right 12 + z, outer 24.
struct chords {
    path_grid<false> g{std::vector<std::string>(5, std::string(9, '.'))};
    path_grid<false>::edge *x = nullptr, *y = nullptr, *z = nullptr;

    // order: creation order of the chords, e.g. "xyz".
    chords(const std::string& order, double wx, double wy, double wz) {
        make_ring(g, 4, 8);
        g.save_counts();
        auto* top = g.vertex_at(0, 4);
        auto* bottom = g.vertex_at(4, 4);
        for (char ch : order) {
            if (ch == 'x') x = g.add_edge(top, bottom, code::down_left, code::up_left, wx, 1);
            if (ch == 'y') y = g.add_edge(top, bottom, code::down, code::up, wy, 1);
            if (ch == 'z') z = g.add_edge(top, bottom, code::down_right, code::up_right, wz, 1);
        }
        auto graph = g.make();
        graph->parse_cycles<false>();
        graph->prune_edges();
    }
    std::string survivors() const {
        std::string s;
        if (!x->removed) s += 'x';
        if (!y->removed) s += 'y';
        if (!z->removed) s += 'z';
        return s;
    }
};

TEST(GraphPruning, EdgePruningTriesTiesInIndexOrder) {
    // Each chord between two faces of 10 goes when tried first; whichever
    // goes first makes its neighbour's small face large.
    EXPECT_EQ(chords("xyz", 5, 5, 5).survivors(), "z");
    EXPECT_EQ(chords("zyx", 5, 5, 5).survivors(), "x");
}

TEST(GraphPruning, EdgePruningTriesTheHeaviestEdgeFirst) {
    // y (6) goes first and unites both small faces into one of 10, which
    // then lets x go; in index order neither x nor z would.
    EXPECT_EQ(chords("xzy", 5, 6, 5).survivors(), "z");
}

TEST(GraphPruning, EdgePruningLeavesBoundaryEdgesAndRemovedEdgesAlone) {
    path_grid<true> g{std::vector<std::string>(5, std::string(9, '.'))};
    make_ring(g, 4, 8);
    g.storage.edges[0].weight = 100;  // would go, were it a candidate
    g.save_counts();
    auto* top = g.vertex_at(0, 4);
    auto* bottom = g.vertex_at(4, 4);
    auto* y = g.add_edge(top, bottom, code::down, code::up, 30, 1);
    auto graph = g.make();
    graph->parse_cycles<false>();
    y->removed = 1;  // as path pruning leaves it
    zarn_test::cout_capture out;
    graph->prune_edges();
    EXPECT_EQ(out.text(), "");
    for (auto& e : g.storage.edges) EXPECT_EQ(&e == y, e.removed == 1);
    EXPECT_EQ(y->cycle_ab->parent, nullptr);
    EXPECT_EQ(y->cycle_ba->parent, nullptr);
}

TEST(GraphPruning, EdgeGoesWhenItsSmallerFaceIsExactlyTwiceItsWeight) {
    // One chord y of 6: faces 12 + 6 on either side, 18 > 12: stays; a
    // chord of 12 makes faces of 24 = 2 x 12: goes, the faces unite to 24.
    EXPECT_EQ(chords("y", 0, 6, 0).y->removed, 0);
    chords c("y", 0, 12, 0);
    EXPECT_EQ(c.y->removed, 1);
    using graph_type = path_grid<false>::graph_type;
    auto* root = graph_type::find_root(c.y->cycle_ab);
    EXPECT_EQ(root, graph_type::find_root(c.y->cycle_ba));
    EXPECT_EQ(root->length, 24.0);  // 24 + 24 - 2 x 12
}

}  // namespace

namespace {

// parse_structure of the path configuration: its five timed stages, then the
// statistics, which count live paths, the boundary edges and live geodesic
// edges, and the geodesic vertices that kept an edge.
std::vector<std::string> structure_lines(tee<>& t) {
    t.g.opts.program.weighted = true;
    t.g.opts.program.statistics = true;
    t.graph->timer.enabled = true;  // the graph was made untimed
    zarn_test::cout_capture out;
    t.graph->parse_structure();
    std::vector<std::string> lines;
    for (const std::string& line : out.lines())
        lines.push_back(line.size() == 70 && line.substr(67) == " ms" ? line.substr(0, 20) : line);
    return lines;
}

TEST(GraphStructure, PathConfigurationPrunesTracesAgainAndCounts) {
    auto label = [](const std::string& s) { return (s + std::string(20, ' ')).substr(0, 20); };
    tee<> removed;
    EXPECT_EQ(structure_lines(removed),
              (std::vector<std::string>{label("Cycle parsing:"), label("Path pruning:"),
                                        label("Edge pruning:"), label("Cycle parsing:"),
                                        label("Cell construction:"),
                                        "-> Final vertices / edges / paths:      20 / 20 / 0",
                                        "-> Final components / cycles:           1 / 2",
                                        std::string(70, '-')}));
    EXPECT_FALSE(removed.top->cells.empty());
    tee<> kept(2, 2.9, 2.9);
    const auto lines = structure_lines(kept);
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[5], "-> Final vertices / edges / paths:      21 / 23 / 2");
    EXPECT_EQ(lines[6], "-> Final components / cycles:           1 / 4");
}

}  // namespace
