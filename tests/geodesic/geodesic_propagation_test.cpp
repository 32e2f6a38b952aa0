// The fronts of the geodesic stage: distances against a brute-force shortest
// path search, the region and length limits, ties, and the meetings that
// become paths.
#include <gtest/gtest.h>

#include <cmath>
#include <queue>
#include <random>
#include <utility>

#include "geodesic/geodesic_support.hpp"

namespace {

using namespace geo_test;
const double r2 = std::sqrt(2.0);

// Shortest lengths over the height surface from every boundary node, each
// inside its own region, entering only nodes whose length is at most L, no
// diagonal step between two boundary nodes. Unreached: -1.
std::vector<double> reference_distances(picture_grid& g, size_t L) {
    const size_t n = g.nodes.length();
    const std::ptrdiff_t w = static_cast<std::ptrdiff_t>(g.nodes.size(0));
    const std::ptrdiff_t offsets[8] = {-w, w, -1, 1, -w + 1, w - 1, -w - 1, w + 1};
    const int flanks[4][2] = {{0, 3}, {1, 2}, {2, 0}, {3, 1}};
    std::vector<double> d(n, -1);
    using item = std::pair<double, size_t>;
    std::priority_queue<item, std::vector<item>, std::greater<item>> queue;
    for (size_t i = 0; i < n; ++i)
        if (g.nodes[i].kind == z::boundary_seed) {
            d[i] = 0;
            queue.push({0.0, i});
        }
    std::vector<bool> settled(n, false);
    while (!queue.empty()) {
        const auto [du, u] = queue.top();
        queue.pop();
        if (settled[u]) continue;
        settled[u] = true;
        const node& x = g.nodes[u];
        for (int k = 0; k < 8; ++k) {
            if (k >= 4) {
                const node& f0 = g.nodes[u + offsets[flanks[k - 4][0]]];
                const node& f1 = g.nodes[u + offsets[flanks[k - 4][1]]];
                if (f0.kind == z::boundary_seed || f1.kind == z::boundary_seed) continue;
            }
            const size_t v = u + offsets[k];
            const node& y = g.nodes[v];
            if (settled[v] || y.kind == z::border || y.kind == z::interior) continue;
            if (y.generator != x.generator) continue;
            const double dz = y.value - x.value;
            const double c = du + (k < 4 ? std::sqrt(dz * dz + 1.0) : std::sqrt(dz * dz + 2.0));
            if (d[v] < 0 ? c <= double(L) : c < d[v]) {
                d[v] = c;
                queue.push({c, v});
            }
        }
    }
    return d;
}

// Regions grown from random seeds by breadth-first search, random heights,
// a sprinkle of interior nodes; the seeds are the boundary nodes.
std::vector<std::string> random_picture(std::mt19937& rng, size_t rows, size_t cols, int seeds) {
    std::vector<std::string> pic(rows, std::string(cols, '#'));
    std::vector<int> owner(rows * cols, -1);
    std::queue<size_t> q;
    for (int s = 0; s < seeds; ++s) {
        const size_t r = 1 + rng() % (rows - 2), c = 1 + rng() % (cols - 2);
        if (owner[r * cols + c] >= 0) continue;
        owner[r * cols + c] = s;
        pic[r][c] = static_cast<char>('A' + s);
        q.push(r * cols + c);
    }
    while (!q.empty()) {
        const size_t i = q.front();
        q.pop();
        const size_t r = i / cols, c = i % cols;
        const size_t next[4] = {i - cols, i + cols, i - 1, i + 1};
        for (size_t j : next) {
            const size_t rr = j / cols, cc = j % cols;
            if (rr == 0 || cc == 0 || rr + 1 >= rows || cc + 1 >= cols || owner[j] >= 0) continue;
            owner[j] = owner[i];
            pic[rr][cc] = rng() % 23 == 0 ? '~' : static_cast<char>('a' + owner[i]);
            q.push(j);
        }
        (void)r;
        (void)c;
    }
    return pic;
}

TEST(GeodesicFront, DistancesMatchABruteForceSearchOnRandomSurfaces) {
    std::mt19937 rng(11);
    for (int trial = 0; trial < 40; ++trial) {
        SCOPED_TRACE(trial);
        const size_t rows = 6 + rng() % 20, cols = 6 + rng() % 20;
        picture_grid g(random_picture(rng, rows, cols, 1 + int(rng() % 12)), 4 + rng() % 20);
        // Boundary nodes that are regions of their own, to block diagonals.
        for (int k = int(rng() % (rows * cols / 8)); k > 0; --k) {
            node& n = g.at(1 + rng() % (rows - 2), 1 + rng() % (cols - 2));
            if (n.kind != z::ordinary) continue;
            n.kind = z::status(z::boundary_seed);
            n.generator = &n;
            graph_ops::add_vertex(g.store, &n);
        }
        g.seal();
        std::uniform_real_distribution<double> height(0, trial % 2 ? 3.0 : 0.4);
        for (size_t i = 0; i < g.nodes.length(); ++i) g.nodes[i].value = height(rng);
        auto s = g.propagated();
        const std::vector<double> want = reference_distances(g, s->length_limit());
        for (size_t i = 0; i < g.nodes.length(); ++i) {
            const node& n = g.nodes[i];
            if (n.kind == z::border || n.kind == z::interior) continue;
            if (want[i] < 0) {
                EXPECT_EQ(n.state, z::far) << i;
                EXPECT_EQ(n.geodesic_distance, 0.0) << i;
                EXPECT_EQ(n.parent, nullptr) << i;
                continue;
            }
            ASSERT_EQ(n.state, z::done) << i;
            EXPECT_EQ(n.geodesic_distance, want[i]) << i;
            EXPECT_EQ(n.source, n.generator) << i;
            if (n.kind == z::boundary_seed) {
                EXPECT_EQ(n.parent, nullptr);
                continue;
            }
            // The parent link: the step of the stored code, of the stored length.
            const node& p = *n.parent;
            const std::ptrdiff_t w = std::ptrdiff_t(rows);
            const std::ptrdiff_t by_code[8] = {w, w - 1, -1, -w - 1, -w, -w + 1, 1, w + 1};
            EXPECT_EQ(std::ptrdiff_t(n.index) - std::ptrdiff_t(p.index), by_code[n.cover]) << i;
            EXPECT_EQ(n.geodesic_distance, p.geodesic_distance + n.residue) << i;
        }
        EXPECT_EQ(s->buckets.take(), nullptr);
        for (size_t k = 0; k < g.store.paths.used(); ++k) {
            const path& p = g.path_at(k);
            EXPECT_TRUE(std::isfinite(p.total));
            EXPECT_EQ(p.direction % 2, 0);
            EXPECT_EQ(p.node_a->source, p.a->node);
            EXPECT_EQ(p.node_b->source, p.b->node);
        }
    }
}

// Flat: 1 per axial and sqrt 2 per diagonal step, up to L, inside the region.
TEST(GeodesicFront, FlatSurfaceGivesChamferLengthsUpToTheLimit) {
    picture_grid g({"#######",
                    "#Aaaaa#",
                    "#aaaaa#",
                    "#aaabb#",
                    "#aabbB#",
                    "#######"},
                   3);
    g.propagated();
    EXPECT_EQ(g.at(1, 2).geodesic_distance, 1.0);
    EXPECT_EQ(g.at(2, 2).geodesic_distance, r2);
    EXPECT_EQ(g.at(3, 3).geodesic_distance, r2 + r2);
    EXPECT_EQ(g.at(2, 3).geodesic_distance, r2 + 1.0);
    EXPECT_EQ(g.at(1, 4).geodesic_distance, 3.0);  // exactly L: entered
    EXPECT_EQ(g.at(1, 5).state, z::far);           // 4 > L
    EXPECT_EQ(g.at(3, 4).geodesic_distance, r2);  // B's region, reached by B
    EXPECT_EQ(g.at(3, 4).source, g.source('B'));
    EXPECT_EQ(g.at(3, 3).geodesic_distance, r2 + r2);  // A's, next to it
}

// A 6 x 6 image has L = 1: the nodes one step away are still entered.
TEST(GeodesicFront, LengthLimitOfOneStillEntersTheFirstRing) {
    picture_grid g({"####", "#Aa#", "#aa#", "####"}, 1);
    auto s = g.propagated();
    EXPECT_EQ(s->bucket_count(), 2u);
    EXPECT_EQ(g.at(1, 2).state, z::done);
    EXPECT_EQ(g.at(1, 2).geodesic_distance, 1.0);
    EXPECT_EQ(g.at(2, 2).state, z::far);  // sqrt 2 > 1
}

// Of two equally short ways, the parent is the node queued first: the
// source queues -w, +w, -1, +1 (left, right, up, down) before the diagonals.
TEST(GeodesicFront, TiesKeepTheParentQueuedFirst) {
    picture_grid g({"#####", "#aaa#", "#aAa#", "#aaa#", "#####"});
    g.propagated();
    node* A = g.source('A');
    EXPECT_EQ(g.at(1, 1).parent, A);  // diagonal sqrt 2 beats 2
    // (1, 2) above A: distance 1 from A directly.
    EXPECT_EQ(g.at(1, 2).parent, A);
    picture_grid h({"######", "#aaaa#", "#aAaa#", "#aaaa#", "######"});
    h.propagated();
    // (1, 4): 1 + sqrt 2 both through (1, 3) and through (2, 3); (2, 3) is
    // queued first (right of A, before the diagonal up-right).
    EXPECT_EQ(h.at(1, 4).geodesic_distance, 1.0 + r2);
    EXPECT_EQ(h.at(1, 4).parent, &h.at(2, 3));
    EXPECT_EQ(h.at(1, 4).cover, 1);  // step +w-1: one column right, one row up
}

// Round a ring to the node opposite the source, both ways are equally long:
// the way that starts with the neighbour tried first (left before right, up
// before down) is queued first all along and gives the parent.
TEST(GeodesicFront, TiesAroundARingGoTheWayTriedFirst) {
    picture_grid g({"#######", "#aaaaa#", "#a~~~a#", "#aaAaa#", "#######"});
    g.propagated();
    EXPECT_EQ(g.at(1, 3).geodesic_distance, 2.0 + 2.0 * r2);
    EXPECT_EQ(g.at(1, 3).parent, &g.at(1, 2));  // from the left
    picture_grid h({"#####", "#aaa#", "#a~a#", "#a~A#", "#a~a#", "#aaa#", "#####"});
    h.propagated();
    EXPECT_EQ(h.at(3, 1).parent, &h.at(2, 1));  // from above
}

// T is queued first from the upper way round the ring, whose last step is
// steep, and lowered later from the lower way, which descends gently: it
// moves to a lower bucket and keeps the later parent.
TEST(GeodesicFront, RelaxationLowersAQueuedNode) {
    picture_grid g({"#######",
                    "#Aaaaa#",
                    "#a~~~a#",
                    "#aaaaa#",
                    "#######"},
                   20);
    const double H = 4;
    g.set_heights({{0, 0, 0, 0, 0, 0, 0},
                   {0, H, H, H, H, H, 0},
                   {0, 3.2, 0, 0, 0, H, 0},
                   {0, 2.4, 1.6, 0.8, 0.4, 0, 0},
                   {0, 0, 0, 0, 0, 0, 0}});
    g.propagated();
    const node& T = g.at(3, 5);
    const node& upper = g.at(2, 5);
    const node& lower = g.at(3, 4);
    const double through_upper = upper.geodesic_distance + std::sqrt(H * H + 1.0);
    EXPECT_LT(upper.geodesic_distance, lower.geodesic_distance);  // settled first
    EXPECT_LT(T.geodesic_distance, through_upper);
    EXPECT_EQ(T.parent, &lower);
    EXPECT_EQ(T.bucket, size_t(T.geodesic_distance));
    EXPECT_LT(T.bucket, size_t(through_upper));
    EXPECT_EQ(T.geodesic_distance, reference_distances(g, 20)[T.index]);
}

// Infinite and undefined heights end every way through them.
TEST(GeodesicFront, NonFiniteHeightsAreUnreachable) {
    picture_grid g({"######", "#AaabB#", "#aaabb#", "######"});
    const double nan = std::numeric_limits<double>::quiet_NaN();
    g.set_heights(
        {{0, 0, 0, 0, 0, 0}, {0, 0, inf, 0, 0, 0}, {0, 0, nan, 0, 0, 0}, {0, 0, 0, 0, 0, 0}});
    g.propagated();
    EXPECT_EQ(g.at(1, 2).state, z::far);
    EXPECT_EQ(g.at(2, 2).state, z::far);
    EXPECT_EQ(g.at(1, 3).state, z::far);  // behind the wall
    for (size_t k = 0; k < g.store.paths.used(); ++k)
        EXPECT_TRUE(std::isfinite(g.path_at(k).total));
}

// Fronts of A and B meet between the two middle nodes of a corridor: the
// processed node is on B's side, the queued one on A's.
TEST(GeodesicMeeting, CorridorGivesOnePathWithItsTotal) {
    picture_grid g({"#######", "#AaabB#", "#######"});
    g.propagated();
    ASSERT_EQ(g.store.paths.used(), 1u);
    const path& p = g.path_at(0);
    EXPECT_EQ(p.a, g.vertex_of('B'));
    EXPECT_EQ(p.b, g.vertex_of('A'));
    EXPECT_EQ(p.node_a, &g.at(1, 4));
    EXPECT_EQ(p.node_b, &g.at(1, 3));
    EXPECT_EQ(p.direction, 4);  // one column left
    EXPECT_EQ(p.step, 1.0);
    EXPECT_EQ(p.total, 4.0);
    EXPECT_EQ(p.removed, 0);
    // Both vertices list the path and each other.
    EXPECT_EQ(g.vertex_of('A')->paths, std::vector<path*>{g.store.paths.at(0).get()});
    EXPECT_EQ(g.vertex_of('B')->path_neighbours, std::vector<vertex*>{g.vertex_of('A')});
    EXPECT_EQ(g.vertex_of('A')->path_neighbours, std::vector<vertex*>{g.vertex_of('B')});
}

TEST(GeodesicMeeting, SourcesJoinedByABoundaryEdgeGetNoPath) {
    picture_grid g({"#######", "#AaabB#", "#######"});
    g.join('A', 'B', 6, 4.0);  // A sees B to the right
    g.propagated();
    EXPECT_EQ(g.store.paths.used(), 0u);
}

// Regions that touch only diagonally never meet.
TEST(GeodesicMeeting, DiagonalContactsMakeNoPath) {
    picture_grid g({"######", "#Aa..#", "#aa..#", "#..bb#", "#..bB#", "######"});
    g.propagated();
    EXPECT_EQ(g.at(3, 3).state, z::done);
    EXPECT_EQ(g.store.paths.used(), 0u);
}

// Two boundary nodes side by side are no meeting; their regions' fronts
// next to them are.
TEST(GeodesicMeeting, TwoSourcesTouchingAreNoPathTheirFrontsAre) {
    picture_grid g({"#####", "#AB##", "#ab.#", "#####"});
    g.propagated();
    ASSERT_EQ(g.store.paths.used(), 1u);
    const path& p = g.path_at(0);
    EXPECT_EQ(p.node_a, &g.at(2, 1));
    EXPECT_EQ(p.node_b, &g.at(2, 2));
    EXPECT_EQ(p.total, 3.0);
}

// The first contact of a pair stays until a strictly shorter one comes; a
// shorter one seen from the other side is stored turned round.
TEST(GeodesicMeeting, ShortestContactPerPairFirstOfEquals) {
    picture_grid g({"#######", "#AaabB#", "#######"});
    auto s = g.propagated();
    path& p = *g.store.paths.at(0);
    node* A = g.source('A');
    node* B = g.source('B');
    node* x = &g.at(1, 2);
    node* y = &g.at(1, 3);
    // Equal total from A's side: kept.
    s->record_meeting(x, A, y, B, x, 6, y, 1.0, 4.0);
    EXPECT_EQ(p.node_a, &g.at(1, 4));
    EXPECT_EQ(p.total, 4.0);
    // Shorter, from A's side (p of A's region): stored as seen from B.
    s->record_meeting(x, A, y, B, x, 6, y, 0.5, 3.5);
    EXPECT_EQ(p.a, g.vertex_of('B'));
    EXPECT_EQ(p.node_a, y);
    EXPECT_EQ(p.node_b, x);
    EXPECT_EQ(p.direction, 2);
    EXPECT_EQ(p.step, 0.5);
    EXPECT_EQ(p.total, 3.5);
    // Shorter, from B's side: stored as given.
    s->record_meeting(y, B, x, A, y, 2, x, 0.25, 3.0);
    EXPECT_EQ(p.node_a, y);
    EXPECT_EQ(p.node_b, x);
    EXPECT_EQ(p.direction, 2);
    EXPECT_EQ(p.total, 3.0);
    // Diagonal codes and contacts of one source are never kept.
    s->record_meeting(y, B, x, A, y, 3, x, 0.25, 1.0);
    s->record_meeting(y, B, x, B, y, 2, x, 0.25, 1.0);
    EXPECT_EQ(p.total, 3.0);
    EXPECT_EQ(g.store.paths.used(), 1u);
}

// Initialization leaves nothing of earlier stages in the shared fields of
// nodes that no front reaches.
TEST(GeodesicFront, UnreachedNodesHoldNoParentSourceOrDirection) {
    picture_grid g({"######", "#Aa..#", "#aa..#", "######"});
    for (size_t i = 0; i < g.nodes.length(); ++i) {
        node& n = g.nodes[i];
        n.parent = &g.nodes[0];
        n.source = &g.nodes[1];
        n.cover = 3;
        n.label = 9;
        n.geodesic_distance = 7;
    }
    g.completed();
    for (size_t r = 1; r <= 2; ++r)
        for (size_t c = 3; c <= 4; ++c) {
            const node& n = g.at(r, c);
            EXPECT_EQ(n.parent, nullptr);
            EXPECT_EQ(n.source, nullptr);
            EXPECT_EQ(n.cover, 0);
            EXPECT_EQ(n.label, 0u);
            EXPECT_EQ(n.geodesic_distance, 0.0);
            EXPECT_EQ(n.state, z::far);
        }
    EXPECT_EQ(g.nodes[0].parent, nullptr);  // the frame too
}

}  // namespace
