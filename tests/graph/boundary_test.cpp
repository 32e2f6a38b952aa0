// Boundary detection and connection on small grids written in image terms.
#include <gtest/gtest.h>

#include <cmath>

#include "graph_support.hpp"
#include "pipeline/capture.hpp"

namespace {

using namespace graph_test;

template <typename Vertex>
int filled_slots(const Vertex* v) {
    int n = 0;
    for (auto* e : v->edges) n += e != nullptr;
    return n;
}

TEST(GraphConnection, VerticalPairJoinsFromTheLowerNodeWhenOneSideIsOrdinary) {
    binary_grid g({"o#.",
                   "o#."});
    parse_boundary_steps(g);
    ASSERT_EQ(g.storage.edges.used(), 1u);
    auto& e = g.storage.edges[0];
    auto* upper = g.vertex_at(0, 1);
    auto* lower = g.vertex_at(1, 1);
    EXPECT_EQ(e.a, lower);  // made from the node of higher index
    EXPECT_EQ(e.b, upper);
    EXPECT_EQ(e.slot_a, code::up);
    EXPECT_EQ(e.slot_b, code::down);
    EXPECT_EQ(e.weight, 1.0);
    EXPECT_EQ(lower->edges[code::up], &e);
    EXPECT_EQ(upper->edges[code::down], &e);
    EXPECT_EQ(lower->neighbours[code::up], upper);
    EXPECT_EQ(upper->neighbours[code::down], lower);
    EXPECT_EQ(upper->degree, 1);
    EXPECT_EQ(lower->degree, 1);
    EXPECT_EQ(e.cycle_ab, nullptr);
    EXPECT_EQ(e.cycle_ba, nullptr);
    EXPECT_EQ(g.storage.saved_vertices, 2u);
    EXPECT_EQ(g.storage.saved_edges, 1u);
}

TEST(GraphConnection, HorizontalPairJoinsFromTheRightNode) {
    binary_grid g({"..",
                   "##",
                   "oo"});
    parse_boundary_steps(g);
    ASSERT_EQ(g.storage.edges.used(), 1u);
    auto& e = g.storage.edges[0];
    EXPECT_EQ(e.a, g.vertex_at(1, 1));
    EXPECT_EQ(e.b, g.vertex_at(1, 0));
    EXPECT_EQ(e.slot_a, code::left);
    EXPECT_EQ(e.slot_b, code::right);
}

TEST(GraphConnection, AxialPairNeedsBothNodesOfOneFlankingPairOrdinary) {
    binary_grid g({".#o",
                   "o#."});
    parse_boundary_steps(g);
    EXPECT_EQ(g.storage.edges.used(), 0u);
    EXPECT_EQ(g.vertex_at(0, 1)->degree, 0);
    binary_grid h({".o",
                   "##",
                   "o."});
    parse_boundary_steps(h);
    EXPECT_EQ(h.storage.edges.used(), 0u);
}

TEST(GraphConnection, DiagonalPairNeedsOneOrdinaryCommonNeighbour) {
    // Up-right of the lower-left node: common neighbours above and right.
    binary_grid one({"o#",
                     "#."});
    parse_boundary_steps(one);
    ASSERT_EQ(one.storage.edges.used(), 1u);
    auto& e = one.storage.edges[0];
    EXPECT_EQ(e.a, one.vertex_at(1, 0));
    EXPECT_EQ(e.b, one.vertex_at(0, 1));
    EXPECT_EQ(e.slot_a, code::up_right);
    EXPECT_EQ(e.slot_b, code::down_left);
    EXPECT_EQ(e.weight, std::sqrt(2.0));
    binary_grid none({"o#",
                      "#o"});
    parse_boundary_steps(none);
    EXPECT_EQ(none.storage.edges.used(), 0u);
    // Up-left of the lower-right node.
    binary_grid other({"#o",
                       ".#"});
    parse_boundary_steps(other);
    ASSERT_EQ(other.storage.edges.used(), 1u);
    EXPECT_EQ(other.storage.edges[0].a, other.vertex_at(1, 1));
    EXPECT_EQ(other.storage.edges[0].slot_a, code::up_left);
    EXPECT_EQ(other.storage.edges[0].slot_b, code::down_right);
}

TEST(GraphConnection, TwoBoundaryRowsBetweenOrdinaryRowsStaySeparateChains) {
    binary_grid g({".....",
                   "#####",
                   "#####",
                   "....."});
    parse_boundary_steps(g);
    EXPECT_EQ(g.storage.edges.used(), 8u);
    for (auto& e : g.storage.edges) {
        EXPECT_EQ(e.slot_a, code::left);
        EXPECT_EQ(e.a->node->index - e.b->node->index, g.rows);  // same image row
    }
    for (size_t c = 0; c < 5; ++c) {
        const int ends = c == 0 || c == 4 ? 1 : 2;
        EXPECT_EQ(g.vertex_at(1, c)->degree, ends);
        EXPECT_EQ(g.vertex_at(2, c)->degree, ends);
    }
}

TEST(GraphConnection, CheckerboardGivesOnlyDiagonalEdgesOfDegreeFourInside) {
    std::vector<std::string> map;
    for (int r = 0; r < 9; ++r) {
        std::string row;
        for (int c = 0; c < 9; ++c) row += (r + c) % 2 ? '.' : '#';
        map.push_back(row);
    }
    binary_grid g(map);
    parse_boundary_steps(g);
    for (auto& e : g.storage.edges) EXPECT_EQ(e.slot_a % 2, 1) << "axial edge";
    for (int r = 1; r < 8; ++r)
        for (int c = 1; c < 8; ++c)
            if ((r + c) % 2 == 0) {
                auto* v = g.vertex_at(r, c);
                EXPECT_EQ(v->degree, 4) << r << "," << c;
                EXPECT_EQ(filled_slots(v), 4);
            }
    // Edges never cross: in no 2 x 2 block are both diagonals edges.
    EXPECT_EQ(g.storage.edges.used(), 2u * 4 * 8);
}

TEST(GraphConnection, OtherKindsNeitherJoinNorFlank) {
    binary_grid g({"xx",
                   "##",
                   "oo"});
    parse_boundary_steps(g);
    EXPECT_EQ(g.storage.edges.used(), 0u);
}

TEST(GraphConnection, WeightedEdgesMeasureTheHeightStep) {
    binary_grid g({"...",
                   "###",
                   "ooo"},
                  true);
    // Weighted detection keeps only self-generated nodes as boundary nodes.
    for (size_t i = 0; i < g.nodes.length(); ++i) g.nodes[i].generator = &g.nodes[0];
    for (size_t c = 0; c < 3; ++c) g.pixel(1, c).generator = &g.pixel(1, c);
    g.pixel(1, 0).value = 5;
    g.pixel(1, 1).value = 2;
    g.pixel(1, 2).value = 2;
    parse_boundary_steps(g);
    ASSERT_EQ(g.storage.edges.used(), 2u);
    EXPECT_EQ(g.storage.edges[0].weight, std::sqrt(10.0));  // heights 2 and 5
    EXPECT_EQ(g.storage.edges[1].weight, 1.0);              // equal heights
    for (auto& v : g.storage.vertices) EXPECT_EQ(v.trace_count, 0u);
    for (auto& e : g.storage.edges) EXPECT_EQ(e.path_references, 0u);

    binary_grid d({"o#",
                   "#."},
                  true);
    for (size_t i = 0; i < d.nodes.length(); ++i) d.nodes[i].generator = &d.nodes[0];
    d.pixel(0, 1).generator = &d.pixel(0, 1);
    d.pixel(1, 0).generator = &d.pixel(1, 0);
    d.pixel(0, 1).value = 3;
    parse_boundary_steps(d);
    ASSERT_EQ(d.storage.edges.used(), 1u);
    EXPECT_EQ(d.storage.edges[0].weight, std::sqrt(11.0));
    d.pixel(0, 1).value = inf;
    parse_boundary_steps(d);
    EXPECT_EQ(d.storage.edges[0].weight, inf);
}

TEST(GraphDetection, BinaryModeMakesOneVertexPerSeedInIndexOrder) {
    binary_grid g({"#..",
                   ".#.",
                   "..#"});
    g.nodes[0].vertex = reinterpret_cast<decltype(g.nodes[0].vertex)>(&g);  // stale
    g.nodes[g.nodes.length() - 1].vertex = g.nodes[0].vertex;
    auto graph = g.make();
    graph->clear_node_vertices();
    graph->detect_boundary();
    EXPECT_EQ(g.nodes[0].vertex, nullptr);
    EXPECT_EQ(g.nodes[g.nodes.length() - 1].vertex, nullptr);
    ASSERT_EQ(g.storage.vertices.used(), 3u);
    EXPECT_EQ(g.storage.vertices.capacity(), 3u);  // estimate x 1
    size_t previous = 0;
    for (auto& v : g.storage.vertices) {
        EXPECT_GT(v.node->index, previous);
        previous = v.node->index;
        EXPECT_EQ(v.node->vertex, &v);
        EXPECT_EQ(v.degree, 0);
        EXPECT_EQ(v.cycle_count, 0);
    }
    graph->connect_boundary();
    EXPECT_EQ(g.storage.edges.used(), 2u);  // the diagonal chain
}

TEST(GraphDetection, WeightedModeDemotesSeedsWithoutOrdinaryAxialNeighbour) {
    // A 3 x 3 block of self-generated nodes: the centre has no ordinary
    // axial neighbour and becomes interior.
    binary_grid g({".....",
                   ".###.",
                   ".###.",
                   ".###.",
                   "....."},
                  true);
    for (size_t i = 0; i < g.nodes.length(); ++i) g.nodes[i].generator = &g.pixel(2, 2);
    for (size_t r = 1; r <= 3; ++r)
        for (size_t c = 1; c <= 3; ++c) {
            g.pixel(r, c).kind = status(lumo::zarn::ordinary);
            g.pixel(r, c).generator = &g.pixel(r, c);
        }
    g.nodes[0].generator = &g.nodes[0];  // frame nodes never become boundary nodes
    parse_boundary_steps(g);
    EXPECT_EQ(g.pixel(2, 2).kind, lumo::zarn::interior);
    EXPECT_EQ(g.pixel(2, 2).state, lumo::zarn::interior);
    EXPECT_EQ(g.pixel(2, 2).vertex, nullptr);
    EXPECT_EQ(g.nodes[0].kind, lumo::zarn::border);
    EXPECT_EQ(g.storage.vertices.used(), 8u);
    EXPECT_EQ(g.storage.vertices.capacity(), 9u);  // counted before demotion
    for (size_t r = 1; r <= 3; ++r)
        for (size_t c = 1; c <= 3; ++c)
            if (r != 2 || c != 2) {
                EXPECT_EQ(g.pixel(r, c).kind, lumo::zarn::boundary_seed);
            }
    // The ring of eight: four axial edges per side pair, no diagonal through
    // the block (its common neighbours are not ordinary).
    EXPECT_EQ(g.storage.edges.used(), 8u);
}

TEST(GraphDetection, NoBoundaryNodeLeavesAnEmptyStorage) {
    binary_grid g({"...",
                   "..."});
    parse_boundary_steps(g);
    EXPECT_EQ(g.storage.vertices.used(), 0u);
    EXPECT_EQ(g.storage.vertices.capacity(), 0u);
    EXPECT_EQ(g.storage.edges.capacity(), 0u);
    EXPECT_EQ(g.storage.edges.used(), 0u);
    EXPECT_EQ(g.storage.saved_vertices, 0u);
}

TEST(GraphDebugLines, OccupiedSlotsAreReportedWhenLinking) {
    grid<true, component_config> g({"#.#"});
    auto* a = g.add_vertex(0, 0);
    auto* b = g.add_vertex(0, 2);
    zarn_test::cout_capture out;
    g.add_edge(a, b, code::right, code::left, 2.0);
    EXPECT_EQ(out.text(), "");
    g.add_edge(a, b, code::right, code::left, 3.0);
    std::ostringstream expected;
    expected << "OOPS from " << static_cast<const void*>(a->node) << " 0\n"
             << "OOPS to   " << static_cast<const void*>(b->node) << " 4\n";
    EXPECT_EQ(out.text(), expected.str());
    EXPECT_EQ(a->degree, 2);  // linked all the same
    EXPECT_EQ(a->edges[code::right], &g.storage.edges[1]);
}

TEST(GraphDebugLines, ConnectionOfADetectedBoundaryPrintsNothing) {
    grid<true, component_config> g({"#.#.#",
                                    ".#.#.",
                                    "#####",
                                    "....."});
    zarn_test::cout_capture out;
    parse_boundary_steps(g);
    EXPECT_GT(g.storage.edges.used(), 0u);
    EXPECT_EQ(out.text(), "");
}

}  // namespace
