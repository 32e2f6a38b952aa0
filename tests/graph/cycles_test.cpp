// Cycle parsing and the distance along the boundary: worked cases, and a
// brute-force reference on random grids that walks every face on its own.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>
#include <set>

#include "graph_support.hpp"
#include "pipeline/capture.hpp"

namespace {

using namespace graph_test;
using vertex = binary_grid::vertex;
using edge = binary_grid::edge;
using cycle = binary_grid::cycle;

template <typename Grid>
void parse_all(Grid& g) {
    parse_boundary_steps(g);
    g.make()->template parse_cycles<true>();
}

TEST(GraphCycles, OneEdgeIsOneFaceWalkedBothWays) {
    binary_grid g({"#.#"});
    vertex* a = g.add_vertex(0, 0);
    vertex* b = g.add_vertex(0, 2);
    edge* e = g.add_edge(a, b, code::right, code::left, 2.5);
    g.save_counts();
    g.make()->parse_cycles<true>();
    ASSERT_EQ(g.storage.cycles.used(), 1u);
    cycle* c = &g.storage.cycles[0];
    EXPECT_EQ(c->length, 5.0);
    EXPECT_EQ(e->cycle_ab, c);
    EXPECT_EQ(e->cycle_ba, c);
    ASSERT_EQ(a->cycle_count, 1);
    ASSERT_EQ(b->cycle_count, 1);
    EXPECT_EQ(a->positions[0], 0.0);  // the root starts the walk
    EXPECT_EQ(b->positions[0], 2.5);
    EXPECT_EQ(g.storage.components.used(), 1u);
    EXPECT_EQ(a->component, b->component);
    EXPECT_EQ(a->state, lumo::zarn::done);
    EXPECT_EQ(b->state, lumo::zarn::done);
}

TEST(GraphCycles, SquareHasAnInnerAndAnOuterFaceOfFour) {
    binary_grid g({"....",
                   ".##.",
                   ".##.",
                   "...."});
    parse_all(g);
    ASSERT_EQ(g.storage.vertices.used(), 4u);
    ASSERT_EQ(g.storage.edges.used(), 4u);
    ASSERT_EQ(g.storage.cycles.used(), 2u);
    EXPECT_EQ(g.storage.cycles[0].length, 4.0);
    EXPECT_EQ(g.storage.cycles[1].length, 4.0);
    for (auto& v : g.storage.vertices) {
        ASSERT_EQ(v.cycle_count, 2);
        EXPECT_EQ(v.cycles[0], &g.storage.cycles[0]);
        EXPECT_EQ(v.cycles[1], &g.storage.cycles[1]);
    }
    auto graph = g.make();
    // One axial edge apart: 1 on the square, not 3; diagonally opposite: 2.
    EXPECT_EQ(graph->boundary_distance(&g.pixel(1, 1), &g.pixel(1, 2)), 1.0);
    EXPECT_EQ(graph->boundary_distance(&g.pixel(1, 1), &g.pixel(2, 2)), 2.0);
    EXPECT_EQ(graph->boundary_distance(&g.pixel(2, 1), &g.pixel(2, 1)), 0.0);
}

TEST(GraphCycles, LoneVertexAndNestedRingsAreComponentsOfTheirOwn) {
    binary_grid g({"#..........",
                   "..#######..",
                   "..#.....#..",
                   "..#.###.#..",
                   "..#.#.#.#..",
                   "..#.###.#..",
                   "..#.....#..",
                   "..#######..",
                   "..........."});
    parse_all(g);
    auto graph = g.make();
    vertex* lone = g.vertex_at(0, 0);
    EXPECT_EQ(lone->state, lumo::zarn::done);
    EXPECT_EQ(lone->cycle_count, 0);
    ASSERT_NE(lone->component, nullptr);
    EXPECT_EQ(g.storage.components.used(), 3u);
    EXPECT_NE(g.vertex_at(3, 4)->component, g.vertex_at(1, 2)->component);
    EXPECT_NE(lone->component, g.vertex_at(1, 2)->component);
    EXPECT_EQ(g.vertex_at(3, 4)->component, g.vertex_at(5, 6)->component);
    EXPECT_EQ(graph->boundary_distance(&g.pixel(1, 2), &g.pixel(3, 4)), inf);
    EXPECT_EQ(graph->boundary_distance(&g.pixel(1, 2), &g.pixel(7, 8)), 12.0);
    EXPECT_EQ(graph->boundary_distance(&g.pixel(0, 0), &g.pixel(0, 0)), inf);  // no cycles
    EXPECT_EQ(graph->boundary_distance(&g.pixel(0, 1), &g.pixel(1, 2)), inf);   // no vertex
}

// Two triangles meeting at c: the outer face passes c twice.
struct figure_eight {
    binary_grid g{{".....", ".....", ".....", ".....", "....."}};
    vertex *c, *a1, *a2, *b1, *b2;
    explicit figure_eight(double top_weight = 1.0) {
        c = g.add_vertex(2, 2);
        a1 = g.add_vertex(1, 1);
        a2 = g.add_vertex(1, 3);
        b1 = g.add_vertex(3, 1);
        b2 = g.add_vertex(3, 3);
        g.add_edge(c, a1, code::up_left, code::down_right, 1.0);
        g.add_edge(c, a2, code::up_right, code::down_left, 1.0);
        g.add_edge(a1, a2, code::right, code::left, top_weight);
        g.add_edge(c, b1, code::down_left, code::up_right, 1.0);
        g.add_edge(c, b2, code::down_right, code::up_left, 1.0);
        g.add_edge(b1, b2, code::right, code::left, 1.0);
        g.save_counts();
        g.make()->parse_cycles<true>();
    }
};

TEST(GraphCycles, AFaceThatPassesAVertexTwiceGivesItTwoConsecutiveEntries) {
    figure_eight f;
    ASSERT_EQ(f.g.storage.cycles.used(), 3u);
    cycle* outer = &f.g.storage.cycles[1];
    EXPECT_EQ(outer->length, 6.0);
    ASSERT_EQ(f.c->cycle_count, 4);
    EXPECT_EQ(f.c->cycles[0], &f.g.storage.cycles[0]);
    EXPECT_EQ(f.c->cycles[1], outer);
    EXPECT_EQ(f.c->cycles[2], outer);
    EXPECT_EQ(f.c->cycles[3], &f.g.storage.cycles[2]);
    EXPECT_EQ(f.c->positions[1], 0.0);
    EXPECT_EQ(f.c->positions[2], 3.0);
    auto graph = f.g.make();
    // Through c, the nearer of its two passages.
    EXPECT_EQ(graph->boundary_distance(f.a1->node, f.b1->node), 2.0);
    EXPECT_EQ(graph->boundary_distance(f.b1->node, f.a1->node), 2.0);
}

TEST(GraphCycles, OnlyTheEarliestTracedSharedFaceIsMeasured) {
    // a1 and a2 lie on the top triangle (traced first, length 7, where they
    // are 2 apart) and on the outer face (length 10, where they are 5 apart).
    figure_eight f(5.0);
    auto graph = f.g.make();
    EXPECT_EQ(f.g.storage.cycles[0].length, 7.0);
    EXPECT_EQ(f.g.storage.cycles[1].length, 10.0);
    EXPECT_EQ(graph->boundary_distance(f.a1->node, f.a2->node), 2.0);
    EXPECT_EQ(graph->cycle_distance(f.a1, f.a2, &f.g.storage.cycles[1]), 5.0);
    EXPECT_EQ(graph->cycle_distance(f.a1, f.b1, &f.g.storage.cycles[0]), inf);  // b1 not on it
}

TEST(GraphCycles, ArcDistanceTakesTheShorterWayRoundAndIsInfiniteOnEmptyRanges) {
    binary_grid g({"#.#"});
    vertex* a = g.add_vertex(0, 0);
    vertex* b = g.add_vertex(0, 2);
    a->positions[0] = 1;
    a->positions[1] = 9;
    b->positions[0] = 4;
    using graph_type = binary_grid::graph_type;
    EXPECT_EQ(graph_type::arc_distance(a, b, 10.0, 0, 0, 1, 1), 3.0);
    EXPECT_EQ(graph_type::arc_distance(a, b, 10.0, 1, 0, 2, 1), 5.0);
    EXPECT_EQ(graph_type::arc_distance(a, b, 10.0, 0, 0, 2, 1), 3.0);
    EXPECT_EQ(graph_type::arc_distance(b, a, 10.0, 0, 1, 1, 2), 5.0);
    b->positions[0] = 3;
    EXPECT_EQ(graph_type::arc_distance(a, b, 10.0, 1, 0, 2, 1), 4.0);  // 10 - 6
    EXPECT_EQ(graph_type::arc_distance(a, b, 10.0, 1, 0, 1, 1), inf);
    EXPECT_EQ(graph_type::arc_distance(a, b, 10.0, 0, 0, 2, 0), inf);
}

TEST(GraphDebugLines, DistanceFailuresAreReportedWithTheNodeIndexes) {
    grid<true, component_config> g({"#.#.#"});
    auto* a = g.add_vertex(0, 0);
    auto* b = g.add_vertex(0, 2);
    g.add_edge(a, b, code::right, code::left, 1.0);
    g.save_counts();
    g.make()->parse_cycles<true>();
    auto graph = g.make();
    auto& lone = g.pixel(0, 4);
    auto& empty = g.pixel(0, 1);
    const auto ia = a->node->index, ie = empty.index, il = lone.index;
    zarn_test::cout_capture out;
    EXPECT_EQ(graph->boundary_distance(a->node, &empty), inf);
    EXPECT_EQ(graph->boundary_distance(a->node, b->node), 1.0);
    graph_test::grid<true, component_config>::graph_type::add_vertex(g.storage, &lone);
    g.vertex_at(0, 4)->component = a->component;  // same component, no cycles
    EXPECT_EQ(graph->boundary_distance(a->node, &lone), inf);
    // Cycles on both sides, none shared: the two nodes are marked as border.
    auto* c = g.vertex_at(0, 4);
    lumo::zarn::graph_cycle<double> other{3.0, nullptr, 0, 5};
    decltype(g)::graph_type::add_cycle(c, &other);
    EXPECT_EQ(graph->boundary_distance(a->node, &lone), inf);
    EXPECT_EQ(graph->cycle_distance(a, c, &g.storage.cycles[0]), inf);
    std::ostringstream expected;
    expected << "OOPS no vertex!       " << ia << " " << ie << "\n"
             << "OOPS no cycles!       " << ia << " " << il << "\n"
             << "OOPS no same cycle!  " << ia << " " << il << "\n"
             << "OOPS cycle not found! " << ia << " " << il << "\n";
    EXPECT_EQ(out.text(), expected.str());
    EXPECT_EQ(a->node->kind, lumo::zarn::border);
    EXPECT_EQ(lone.kind, lumo::zarn::border);
}

TEST(GraphCycles, WithoutDebuggingFailuresPrintNothingAndChangeNoKind) {
    binary_grid g({"#.#"});
    auto* a = g.add_vertex(0, 0);
    auto* b = g.add_vertex(0, 2);
    g.save_counts();
    g.make()->parse_cycles<true>();
    b->component = a->component;
    lumo::zarn::graph_cycle<double> c1{3.0, nullptr, 0, 0}, c2{3.0, nullptr, 0, 1};
    binary_grid::graph_type::add_cycle(a, &c1);
    binary_grid::graph_type::add_cycle(b, &c2);
    zarn_test::cout_capture out;
    auto graph = g.make();
    EXPECT_EQ(graph->boundary_distance(a->node, b->node), inf);
    EXPECT_EQ(graph->boundary_distance(a->node, &g.pixel(0, 1)), inf);
    EXPECT_EQ(out.text(), "");
    EXPECT_EQ(a->node->kind, lumo::zarn::boundary_seed);
}

// --- brute force: faces as orbits of darts (vertex, slot) ---

struct dart {
    vertex* v;
    unsigned slot;
    bool operator<(const dart& o) const {
        return v != o.v ? v->node->index < o.v->node->index : slot < o.slot;
    }
};

// Follows the edge in the dart's slot and turns to the next slot below the
// slot of arrival.
dart next_dart(const dart& d) {
    edge* e = d.v->edges[d.slot];
    const bool forward = e->a != e->b ? d.v == e->a : d.slot == e->slot_a;
    vertex* y = forward ? e->b : e->a;
    unsigned t = forward ? e->slot_b : e->slot_a;
    unsigned s = (t + 7) & 7;
    while (!y->edges[s]) s = (s + 7) & 7;
    return {y, s};
}

cycle* cycle_of(const dart& d) {
    edge* e = d.v->edges[d.slot];
    const bool forward = e->a != e->b ? d.v == e->a : d.slot == e->slot_a;
    return forward ? e->cycle_ab : e->cycle_ba;
}

struct face {
    double length = 0;
    std::vector<std::pair<vertex*, double>> departures;  // vertex, position
    cycle* traced = nullptr;
};

std::vector<face> brute_faces(binary_grid& g) {
    std::vector<face> faces;
    std::set<dart> seen;
    for (auto& v : g.storage.vertices)
        for (unsigned s = 0; s < 8; ++s) {
            dart start{&v, s};
            if (!v.edges[s] || seen.count(start)) continue;
            face f;
            f.traced = cycle_of(start);
            dart d = start;
            do {
                seen.insert(d);
                EXPECT_EQ(cycle_of(d), f.traced) << "one face, one cycle";
                f.departures.push_back({d.v, f.length});
                f.length += d.v->edges[d.slot]->weight;
                d = next_dart(d);
            } while (!(d.v == start.v && d.slot == start.slot));
            faces.push_back(f);
        }
    return faces;
}

double brute_distance_on(const face& f, const vertex* a, const vertex* b) {
    double best = inf;
    for (auto& [x, p] : f.departures)
        for (auto& [y, q] : f.departures)
            if (x == a && y == b) best = std::min(best, std::min(std::fabs(p - q), f.length - std::fabs(p - q)));
    return best;
}

std::vector<std::string> random_map(std::mt19937& rng, int rows, int cols) {
    std::uniform_int_distribution<int> pick(0, 9);
    std::vector<std::string> map(rows, std::string(cols, '.'));
    for (auto& row : map)
        for (char& ch : row) {
            const int k = pick(rng);
            ch = k < 5 ? '#' : k < 9 ? '.' : 'o';
        }
    return map;
}

size_t find_set(std::vector<size_t>& parent, size_t i) {
    while (parent[i] != i) i = parent[i] = parent[parent[i]];
    return i;
}

TEST(GraphCycles, FacesPositionsAndDistancesMatchABruteForceWalkOnRandomGrids) {
    std::mt19937 rng(20240611);
    for (int trial = 0; trial < 40; ++trial) {
        binary_grid g(random_map(rng, 7 + trial % 5, 9 + trial % 7));
        parse_all(g);
        auto graph = g.make();
        const std::vector<face> faces = brute_faces(g);
        ASSERT_EQ(faces.size(), g.storage.cycles.used()) << trial;
        std::set<cycle*> distinct;
        for (const face& f : faces) {
            ASSERT_NE(f.traced, nullptr);
            distinct.insert(f.traced);
            EXPECT_NEAR(f.traced->length, f.length, 1e-9);
        }
        EXPECT_EQ(distinct.size(), faces.size());

        // Components: connectivity over the edges.
        std::map<vertex*, size_t> id;
        for (auto& v : g.storage.vertices) id.emplace(&v, id.size());
        std::vector<size_t> parent(id.size());
        for (size_t i = 0; i < parent.size(); ++i) parent[i] = i;
        for (auto& e : g.storage.edges) parent[find_set(parent, id[e.a])] = find_set(parent, id[e.b]);

        for (auto& a : g.storage.vertices) {
            int departures = 0;
            for (auto* e : a.edges) departures += e != nullptr;
            EXPECT_EQ(a.cycle_count, departures);
            for (auto& b : g.storage.vertices) {
                const double got = graph->boundary_distance(a.node, b.node);
                EXPECT_EQ(got, graph->boundary_distance(b.node, a.node));
                const bool connected = find_set(parent, id[&a]) == find_set(parent, id[&b]);
                EXPECT_EQ(a.component == b.component, connected);
                // The shared face traced first decides.
                const face* first = nullptr;
                for (const face& f : faces)
                    if (std::isfinite(brute_distance_on(f, &a, &b)) &&
                        (!first || f.traced->index < first->traced->index))
                        first = &f;
                if (!first) {
                    EXPECT_EQ(got, inf) << trial;
                } else {
                    EXPECT_NEAR(got, brute_distance_on(*first, &a, &b), 1e-9) << trial;
                }
            }
        }
    }
}

// Every record of a parsed graph, as indexes, to compare two storages.
std::vector<double> fingerprint(binary_grid& g) {
    std::vector<double> f;
    std::map<const void*, double> index;
    size_t k = 0;
    for (auto& e : g.storage.edges) index[&e] = double(k++);
    k = 0;
    for (auto& c : g.storage.cycles) index[&c] = double(k++);
    k = 0;
    for (auto& c : g.storage.components) index[&c] = double(k++);
    index[nullptr] = -1;
    for (auto& v : g.storage.vertices) {
        f.push_back(double(v.node->index));
        f.push_back(v.degree);
        f.push_back(index[v.component]);
        for (auto* e : v.edges) f.push_back(index[e]);
        for (int i = 0; i < v.cycle_count; ++i) {
            f.push_back(index[v.cycles[i]]);
            f.push_back(v.positions[i]);
        }
    }
    for (auto& e : g.storage.edges) {
        f.push_back(e.weight);
        f.push_back(index[e.cycle_ab]);
        f.push_back(index[e.cycle_ba]);
    }
    for (auto& c : g.storage.cycles) f.push_back(c.length);
    return f;
}

TEST(GraphStorage, TheAllocationFactorChangesNoRecordEvenWhenTheFirstChunksOverflow) {
    std::mt19937 rng(7);
    const auto map = random_map(rng, 60, 70);
    binary_grid small(map), one(map), ten(map);
    small.storage.allocation_factor = 0.01;  // first chunks far too small
    one.storage.allocation_factor = 1;
    ten.storage.allocation_factor = 10;
    parse_all(small);
    parse_all(one);
    parse_all(ten);
    EXPECT_GT(small.storage.vertices.chunk_count(), 1u);
    EXPECT_GT(small.storage.edges.chunk_count(), 1u);
    EXPECT_GT(small.storage.cycles.chunk_count(), 1u);
    EXPECT_GT(small.storage.cycles.used(), 100u);
    const auto reference = fingerprint(ten);
    EXPECT_EQ(fingerprint(one), reference);
    EXPECT_EQ(fingerprint(small), reference);
    // Vertex pointers of the nodes point at the records of each storage.
    for (auto& v : small.storage.vertices) EXPECT_EQ(v.node->vertex, &v);
}

TEST(GraphStructure, TimingLinesAndStatisticsOfTheComponentConfiguration) {
    binary_grid g({"....",
                   ".##.",
                   ".##.",
                   "...."});
    g.opts.program.timing = true;
    g.opts.program.statistics = true;
    {
        zarn_test::cout_capture out;
        auto graph = g.make();
        const double boundary = graph->parse_boundary();
        const double structure = graph->parse_structure();
        const auto lines = out.lines();
        ASSERT_EQ(lines.size(), 5u);  // binary mode: no statistics
        EXPECT_EQ(lines[0].substr(0, 55), std::string("Boundary parsing initialization:") + std::string(23, ' '));
        EXPECT_EQ(lines[1].substr(0, 19), "Boundary detection:");
        EXPECT_EQ(lines[2].substr(0, 20), "Boundary connection:");
        EXPECT_EQ(lines[3].substr(0, 14), "Cycle parsing:");
        EXPECT_EQ(lines[4], std::string(70, '-'));
        EXPECT_GE(boundary, 0.0);
        EXPECT_GE(structure, 0.0);
        EXPECT_EQ(lines[3].size(), 70u);
        EXPECT_NEAR(std::stod(lines[3].substr(55, 12)), structure, 0.005 + 1e-9);
    }
    binary_grid w({"....",
                   ".##.",
                   ".##.",
                   "...."},
                  true);
    for (size_t i = 0; i < w.nodes.length(); ++i) w.nodes[i].generator = &w.nodes[0];
    for (size_t r = 1; r <= 2; ++r)
        for (size_t c = 1; c <= 2; ++c) w.pixel(r, c).generator = &w.pixel(r, c);
    w.opts.program.timing = true;
    w.opts.program.statistics = true;
    zarn_test::cout_capture out;
    auto graph = w.make();
    graph->parse_boundary();
    graph->parse_structure();
    const auto lines = out.lines();
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[4], "-> Final vertices / edges / paths:      4 / 4 / 0");
    EXPECT_EQ(lines[5], "-> Final components / cycles:           1 / 2");
    EXPECT_EQ(lines[6], std::string(70, '-'));
}

TEST(GraphStructure, WithoutTimingNothingIsPrintedAndBothEntriesReturnZero) {
    binary_grid g({".##.", "...."});
    g.opts.program.statistics = true;
    zarn_test::cout_capture out;
    auto graph = g.make();
    EXPECT_EQ(graph->parse_boundary(), 0.0);
    EXPECT_EQ(graph->parse_structure(), 0.0);
    EXPECT_EQ(out.text(), "");
    EXPECT_EQ(g.storage.cycles.used(), 1u);
}

}  // namespace
