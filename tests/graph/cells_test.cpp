// Cells of the path configuration and the distance through them, against a
// brute-force search over every pair of vertices reached from two sources.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <map>
#include <set>

#include "graph_support.hpp"
#include "pipeline/capture.hpp"

namespace {

using namespace graph_test;

using G = path_grid<false>;
using vertex = G::vertex;
using cycle = G::cycle;

// The tee graph with a spur h below g (source: the left vertex) and a
// geodesic vertex k without edges (source: the top).
struct tee_cells : tee_graph<false> {
    vertex *h, *k;
    G::edge* spur;

    tee_cells() : tee_graph<false>(2, 3, 3) {
        h = g.add_vertex(3, 3, 1);
        k = g.add_vertex(1, 1, 1);
        spur = g.add_edge(h, gv, code::up, code::down, 1, 1);
        set_sources();
        h->source = left;
        k->source = top;
        auto graph = g.make();
        graph->parse_cycles<true>();
        graph->build_cells();
    }
};

std::vector<vertex*> cell(vertex* source, cycle* c) {
    auto found = source->cells.find(c);
    return found == source->cells.end() ? std::vector<vertex*>{} : found->second;
}

TEST(GraphCells, EveryLiveVertexIsFiledUnderItsSourceOncePerFace) {
    tee_cells t;
    cycle* top_left = t.c1->cycle_ba;
    cycle* bottom = t.c1->cycle_ab;
    cycle* top_right = t.c2->cycle_ab;
    cycle* outer = t.g.storage.edges[0].cycle_ab;  // rightwards along the top
    ASSERT_EQ(t.g.storage.cycles.used(), 4u);
    ASSERT_NE(outer, top_left);
    // The top vertex lies on three faces; g, reached from it, on three too,
    // one of which (the bottom) passes it twice because of the spur.
    EXPECT_EQ(t.gv->cycle_count, 4);
    EXPECT_EQ(t.top->cells.size(), 4u);
    EXPECT_EQ(cell(t.top, top_left), (std::vector<vertex*>{t.top, t.gv}));
    EXPECT_EQ(cell(t.top, top_right), (std::vector<vertex*>{t.top, t.gv}));
    EXPECT_EQ(cell(t.top, bottom), (std::vector<vertex*>{t.gv}));
    EXPECT_EQ(cell(t.top, outer), (std::vector<vertex*>{t.top}));
    EXPECT_EQ(cell(t.left, bottom), (std::vector<vertex*>{t.left, t.h}));
    EXPECT_TRUE(t.gv->cells.empty());
    // k has no edge left: not filed.
    for (auto& [c, list] : t.top->cells)
        for (vertex* v : list) EXPECT_NE(v, t.k);
    // Keys run in tracing order.
    const cycle* previous = nullptr;
    for (auto& [c, list] : t.top->cells) {
        if (previous) {
            EXPECT_LT(previous->index, c->index);
        }
        previous = c;
    }
}

// --- random graphs: boundary from a random grid, geodesic vertices and
// edges added in free slots ---

struct random_graph {
    G g;
    std::vector<vertex*> sources;

    random_graph(std::mt19937& rng, int rows, int cols) : g(make_map(rng, rows, cols)) {
        {
            auto graph = g.make();
            graph->clear_node_vertices();
            graph->detect_boundary();
            graph->connect_boundary();
        }
        for (auto& v : g.storage.vertices) {
            v.source = &v;
            sources.push_back(&v);
        }
        std::uniform_real_distribution<double> length(0.5, 6.0);
        std::uniform_int_distribution<int> coin(0, 3);
        std::vector<vertex*> added;
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < cols; ++c) {
                if (g.pixel(r, c).vertex || coin(rng) != 0 || sources.empty()) continue;
                vertex* v = g.add_vertex(r, c, 1 + coin(rng));
                v->source = sources[std::uniform_int_distribution<size_t>(0, sources.size() - 1)(rng)];
                v->node->geodesic_distance = length(rng);
                added.push_back(v);
            }
        std::vector<vertex*> all;
        for (auto& v : g.storage.vertices) all.push_back(&v);
        std::uniform_int_distribution<size_t> any(0, all.size() - 1);
        for (vertex* v : added)
            for (int n = coin(rng); n > 0; --n) join(rng, v, all[any(rng)], length(rng));
        auto graph = g.make();
        graph->parse_cycles<true>();
        graph->build_cells();
    }

    static std::vector<std::string> make_map(std::mt19937& rng, int rows, int cols) {
        std::uniform_int_distribution<int> pick(0, 9);
        std::vector<std::string> map(rows, std::string(cols, '.'));
        for (auto& row : map)
            for (char& ch : row) ch = pick(rng) < 4 ? '#' : '.';
        return map;
    }

    void join(std::mt19937& rng, vertex* a, vertex* b, double weight) {
        if (a == b) return;
        std::vector<std::uint8_t> free_a, free_b;
        for (std::uint8_t s = 0; s < 8; ++s) {
            if (!a->edges[s]) free_a.push_back(s);
            if (!b->edges[s]) free_b.push_back(s);
        }
        if (free_a.empty() || free_b.empty()) return;
        auto pick = [&](const std::vector<std::uint8_t>& v) {
            return v[std::uniform_int_distribution<size_t>(0, v.size() - 1)(rng)];
        };
        g.add_edge(a, b, pick(free_a), pick(free_b), weight, 1);
    }
};

double brute_arc(const vertex* x, const vertex* y, const cycle* c) {
    double best = inf;
    for (int i = 0; i < x->cycle_count; ++i)
        for (int j = 0; j < y->cycle_count; ++j)
            if (x->cycles[i] == c && y->cycles[j] == c) {
                const double d = std::fabs(x->positions[i] - y->positions[j]);
                best = std::min(best, std::min(d, c->length - d));
            }
    return best;
}

// Out from a to any vertex x reached from it, along a face that x shares
// with a vertex y reached from b, back to b.
double brute_through_cells(G& g, const vertex* a, const vertex* b) {
    auto taken = [](const vertex& v) { return v.trace_count == 0 || v.degree != 0; };
    double best = inf;
    for (auto& x : g.storage.vertices) {
        if (!taken(x) || x.source != a) continue;
        for (auto& y : g.storage.vertices) {
            if (!taken(y) || y.source != b) continue;
            for (int i = 0; i < x.cycle_count; ++i) {
                const double arc = brute_arc(&x, &y, x.cycles[i]);
                best = std::min(best, arc + (x.node->geodesic_distance + y.node->geodesic_distance));
            }
        }
    }
    return best;
}

TEST(GraphCells, DistanceThroughCellsMatchesABruteForceSearch) {
    std::mt19937 rng(1234);
    int finite = 0, fallbacks = 0;
    for (int trial = 0; trial < 25; ++trial) {
        random_graph r(rng, 6 + trial % 4, 7 + trial % 5);
        auto graph = r.g.make();
        for (vertex* a : r.sources)
            for (vertex* b : r.sources) {
                const double expected = brute_through_cells(r.g, a, b);
                const double got = graph->shared_cycles_distance(a, b);
                EXPECT_DOUBLE_EQ(got, expected) << trial;
                finite += std::isfinite(expected);
                // The boundary distance falls back on the cells exactly when
                // the two share no face.
                bool shared = false;
                for (int i = 0; i < a->cycle_count; ++i)
                    for (int j = 0; j < b->cycle_count; ++j) shared |= a->cycles[i] == b->cycles[j];
                if (!shared && a->component == b->component && a->cycle_count && b->cycle_count) {
                    ++fallbacks;
                    EXPECT_DOUBLE_EQ(graph->boundary_distance(a->node, b->node), expected);
                }
            }
    }
    EXPECT_GT(finite, 1000);  // the search found real connections
    EXPECT_GT(fallbacks, 50);
}

TEST(GraphCells, CellsListEveryFiledVertexOnceInPoolOrder) {
    std::mt19937 rng(99);
    random_graph r(rng, 9, 11);
    std::map<const vertex*, size_t> pool_index;
    for (auto& v : r.g.storage.vertices) pool_index.emplace(&v, pool_index.size());
    for (vertex* s : r.sources)
        for (auto& [c, list] : s->cells) {
            std::set<vertex*> seen;
            const vertex* previous = nullptr;
            for (vertex* v : list) {
                EXPECT_TRUE(seen.insert(v).second);
                EXPECT_EQ(v->source, s);
                EXPECT_TRUE(std::isfinite(brute_arc(v, v, c)));  // v lies on c
                if (previous) {
                    EXPECT_LT(pool_index[previous], pool_index[v]);
                }
                previous = v;
            }
        }
}

TEST(GraphDebugLines, NoSharedCellReportsAndMarksBothNodes) {
    path_grid<true> g({"#.#", "...", "#.#"});
    auto graph = g.make();
    graph->clear_node_vertices();
    graph->detect_boundary();
    graph->connect_boundary();
    for (auto& v : g.storage.vertices) v.source = &v;
    graph->parse_cycles<true>();
    graph->build_cells();
    auto* a = g.vertex_at(0, 0);
    auto* b = g.vertex_at(2, 2);
    zarn_test::cout_capture out;
    EXPECT_EQ(graph->shared_cycles_distance(a, b), inf);
    EXPECT_EQ(out.text(), "OOPS no same cycle!  " + std::to_string(a->node->index) + " " +
                              std::to_string(b->node->index) + "\n");
    EXPECT_EQ(a->node->kind, lumo::zarn::border);
    EXPECT_EQ(b->node->kind, lumo::zarn::border);
}

}  // namespace
