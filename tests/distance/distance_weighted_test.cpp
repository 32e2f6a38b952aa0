#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "distance_support.hpp"

namespace {

using namespace dist_test;
using lumo::zarn::status;
namespace z = lumo::zarn;

constexpr double high = 1000;  // above max(w, h): never a seed

// Every node high except the given seeds.
void set_heights(grid_setup& s, double v) {
    for (size_t i = 0; i < s.nodes.length(); ++i) s.nodes[i].value = v;
}

TEST(DistanceWeightedFront, SeedsAndExclusions) {
    grid_setup s(9, 8, true);
    set_heights(s, high);
    // Left, right and upper neighbours at 4, lower at 10: excluded although
    // the lower neighbour is higher.
    s.at(4, 3).value = 5;
    s.at(3, 3).value = 4;
    s.at(5, 3).value = 4;
    s.at(4, 2).value = 4;
    s.at(4, 4).value = 10;
    // The same with the upper neighbour at 4.5: a seed in bucket 5.
    s.at(2, 6).value = 5;
    s.at(1, 6).value = 4;
    s.at(3, 6).value = 4;
    s.at(2, 5).value = 4.5;
    s.at(2, 7).value = 10;
    // Height exactly t = 9 is still a candidate; t + 0.5 is far.
    s.at(6, 1).value = 9;
    s.at(7, 5).value = 9.5;
    s.at(7, 4).value = std::nan("");
    auto t = s.make();
    t->init_factory();
    t->create_front();
    EXPECT_EQ(s.at(4, 3).state, z::far);
    EXPECT_EQ(s.at(2, 6).state, z::front);
    EXPECT_EQ(s.at(2, 6).distance, 5.0);
    EXPECT_EQ(s.at(2, 6).bucket, 5u);
    EXPECT_EQ(s.at(2, 6).generator, &s.at(2, 6));
    EXPECT_EQ(s.at(2, 6).length_position, t->length_centre);
    EXPECT_EQ(*t->length_centre, 0.0);
    EXPECT_EQ(s.at(6, 1).state, z::front);
    EXPECT_EQ(s.at(7, 5).state, z::far);
    EXPECT_EQ(s.at(7, 4).state, z::far);  // NaN is no seed
    // Seeds of one bucket in scan order; the frame is border.
    ASSERT_EQ(t->buckets.bucket(9).size(), 1u);
    EXPECT_EQ(t->buckets.bucket(9)[0], &s.at(6, 1));
    EXPECT_EQ(t->buckets.bucket(4).size(), 6u);  // five 4s and the 4.5
    for (size_t y = 0; y < 8; ++y)
        for (size_t x = 0; x < 9; ++x) {
            const node& n = s.at(x, y);
            if (x == 0 || y == 0 || x == 8 || y == 7) {
                EXPECT_EQ(n.state, z::border);
                EXPECT_EQ(n.kind, z::border);
            } else {
                EXPECT_EQ(n.kind, z::ordinary);
            }
        }
}

// A negative height is a seed in bucket 0, and a push past the last bucket
// enlarges the array instead of failing.
TEST(DistanceWeightedFront, BucketIndicesOutsideTheArray) {
    grid_setup s(6, 6, true);
    set_heights(s, high);
    s.at(2, 2).value = -3.5;
    auto t = s.make();
    t->init_factory();
    t->create_front();
    EXPECT_EQ(s.at(2, 2).bucket, 0u);
    EXPECT_EQ(t->buckets.bucket(0).size(), 1u);
    EXPECT_EQ(t->buckets.count(), 12u);
    t->buckets.push(&s.at(3, 3), 40);
    EXPECT_GT(t->buckets.count(), 40u);
    EXPECT_EQ(t->buckets.bucket(40).size(), 1u);
    EXPECT_EQ(t->buckets.bucket(0).size(), 1u);
}

// A at height 0, M (3) to its right and B (5) to the right of M.
TEST(DistanceWeightedPropagation, ThreeSeedsInARow) {
    grid_setup s(9, 7, true);
    set_heights(s, high);
    node& a = s.at(3, 3);
    node& m = s.at(4, 3);
    node& b = s.at(5, 3);
    a.value = 0;
    m.value = 3;
    b.value = 5;
    auto t = s.make();
    t->init_factory();
    t->create_front();
    EXPECT_EQ(t->buckets.bucket(0)[0], &a);
    EXPECT_EQ(t->buckets.bucket(3)[0], &m);
    EXPECT_EQ(t->buckets.bucket(5)[0], &b);
    t->propagate_weighted();
    EXPECT_EQ(m.distance, 1.0);
    EXPECT_EQ(m.bucket, 1u);
    EXPECT_EQ(m.generator, &a);
    EXPECT_EQ(b.distance, 2.0);
    EXPECT_EQ(b.bucket, 2u);
    EXPECT_EQ(b.generator, &a);
    EXPECT_EQ(b.length_position, t->length_centre - 2);
    EXPECT_EQ(m.state, z::done);
    EXPECT_EQ(b.state, z::done);
    EXPECT_EQ(t->name, "distance");
    EXPECT_EQ(t->buckets.cursor(), t->buckets.count());
}

TEST(DistanceWeightedPropagation, FlatHeightsGiveZeroAndCeilingTwo) {
    grid_setup s(8, 7, true);
    set_heights(s, 0);
    auto t = s.make();
    weighted_from_heights(*t);
    for (size_t y = 1; y < 6; ++y)
        for (size_t x = 1; x < 7; ++x) {
            EXPECT_EQ(s.at(x, y).distance, 0.0);
            EXPECT_EQ(s.at(x, y).generator, &s.at(x, y));
        }
    EXPECT_EQ(s.opts.distance.ceiling, 2.0);
}

// With no seed at all nothing is settled, and H is 2.
TEST(DistanceWeightedPropagation, NoSeedLeavesNodesAndCeilingTwo) {
    grid_setup s(6, 6, true);
    set_heights(s, high);
    s.opts.distance.ceiling = 77;
    auto t = s.make();
    weighted_from_heights(*t);
    EXPECT_EQ(s.opts.distance.ceiling, 2.0);
    EXPECT_EQ(s.at(2, 2).distance, inf);
    EXPECT_EQ(s.at(2, 2).state, z::far);
}

// Two seeds at equal distance from the node between them: the wave that
// reaches it first keeps it, as the later equal candidate changes nothing.
TEST(DistanceWeightedPropagation, EqualCandidatesKeepTheFirst) {
    grid_setup s(11, 7, true);
    set_heights(s, high);
    s.at(2, 3).value = 0;
    s.at(6, 3).value = 0;
    auto t = s.make();
    weighted_from_heights(*t);
    EXPECT_EQ(s.at(4, 3).distance, 2.0);
    EXPECT_EQ(s.at(4, 3).generator, &s.at(2, 3));
}

// A seed relaxed by an equal candidate keeps itself; so does a seed whose
// re-evaluation finds an equal candidate at a front neighbour.
TEST(DistanceWeightedPropagation, SeedsKeepThemselvesAgainstEqualCandidates) {
    {
        grid_setup s(11, 7, true);
        set_heights(s, high);
        s.at(2, 3).value = 0;
        s.at(5, 3).value = 3;
        auto t = s.make();
        weighted_from_heights(*t);
        EXPECT_EQ(s.at(5, 3).generator, &s.at(5, 3));
        EXPECT_EQ(s.at(5, 3).length_position, t->length_centre);
    }
    {
        grid_setup s(20, 20, true);
        set_heights(s, high);
        s.at(5, 5).value = 0;
        node& p = s.at(9, 9);
        p.value = std::sqrt(32.0);  // exactly |(4, 4)| from the first seed
        auto t = s.make();
        t->init_factory();
        t->create_front();
        // Before p settles, its upper and left neighbours are front at
        // distance 5 from the first seed.
        t->propagate_weighted();
        EXPECT_EQ(p.generator, &p);
        EXPECT_EQ(p.distance, std::sqrt(32.0));
        EXPECT_EQ(s.at(9, 8).generator, &s.at(5, 5));
        EXPECT_EQ(s.at(9, 8).distance, 5.0);
    }
}

TEST(DistanceWeightedPropagation, RelaxationBucketEntries) {
    grid_setup s(6, 6, true);
    set_heights(s, high);
    auto t = s.make();
    t->init_factory();
    node& g = s.at(2, 2);
    g.value = 0.9;
    node& q = s.at(3, 3);
    const double* c = t->length_centre;
    t->reach_weighted(&q, c, &g, 7.9);
    EXPECT_EQ(q.state, z::front);
    EXPECT_EQ(q.bucket, 7u);
    EXPECT_EQ(t->buckets.bucket(7).size(), 1u);
    t->relax_weighted(&q, c, &g, 7.9);  // equal: nothing
    t->relax_weighted(&q, c - 1, &g, 6.2);  // 7.2: recorded, no new entry
    EXPECT_EQ(q.distance, 7.2);
    EXPECT_EQ(q.length_position, c - 1);
    EXPECT_EQ(q.bucket, 7u);
    EXPECT_EQ(t->buckets.bucket(7).size(), 1u);
    t->relax_weighted(&q, c, &g, 6.8);  // 6.8: an entry in bucket 6
    EXPECT_EQ(q.bucket, 6u);
    EXPECT_EQ(t->buckets.bucket(6).size(), 1u);
    t->relax_weighted(&q, c, &g, -5);  // negative: bucket 0
    EXPECT_EQ(q.bucket, 0u);
    EXPECT_EQ(t->buckets.bucket(0).size(), 1u);
}

struct weighted_agreement {
    size_t nodes = 0, exact = 0, larger = 0;
    double max_error = 0, sum_error = 0;
};

// The weighted distance against its definition: the minimum over the seeds
// g of height(g) + |p - g|.
void compare_with_definition(unsigned seed, size_t w, size_t h, double seed_fraction,
                             double spread, weighted_agreement& out) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> unit(0, 1);
    grid_setup s(w, h, true);
    for (size_t i = 0; i < s.nodes.length(); ++i)
        s.nodes[i].value = unit(rng) < seed_fraction ? spread * unit(rng) : high;
    auto t = s.make();
    t->init_factory();
    t->create_front();
    struct seed_at {
        double x, y, height;
    };
    std::vector<seed_at> seeds;
    for (size_t y = 0; y < h; ++y)
        for (size_t x = 0; x < w; ++x)
            if (s.at(x, y).state == z::front)
                seeds.push_back({double(x), double(y), s.at(x, y).value});
    t->propagate_weighted();
    for (size_t y = 1; y + 1 < h; ++y)
        for (size_t x = 1; x + 1 < w; ++x) {
            const node& n = s.at(x, y);
            if (seeds.empty()) continue;
            ASSERT_EQ(n.state, z::done) << x << "," << y;
            double best = inf;
            for (const seed_at& g : seeds)
                best = std::min(best, g.height + std::hypot(x - g.x, y - g.y));
            // The distance is what its own generator gives.
            const node& g = *n.generator;
            const double gx = double(g.index % w), gy = double(g.index / w);
            ASSERT_NEAR(n.distance, g.value + std::hypot(gx - x, gy - y), 1e-9);
            ASSERT_GE(n.distance, best - 1e-9);
            const double err = n.distance - best;
            ++out.nodes;
            if (err <= 1e-9)
                ++out.exact;
            else
                ++out.larger;
            out.max_error = std::max(out.max_error, err);
            out.sum_error += err;
        }
}

TEST(DistanceWeightedPropagation, AgreesWithTheMinimumOverSeeds) {
    weighted_agreement sparse, dense, single;
    std::mt19937 sizes(2024);
    for (unsigned k = 0; k < 120; ++k) {
        const size_t w = 5 + sizes() % 36, h = 5 + sizes() % 36;
        compare_with_definition(100 + k, w, h, 0.02, 0.5 * std::max(w, h), sparse);
        compare_with_definition(500 + k, w, h, 0.3, 6, dense);
        compare_with_definition(900 + k, w, h, 1.0 / double(w * h), 2, single);
    }
    for (auto* a : {&sparse, &dense, &single}) {
        std::printf("[ weighted ] nodes %zu, exact %.4f%%, mean error %.2e, max error %.4f\n",
                    a->nodes, 100.0 * a->exact / a->nodes, a->sum_error / a->nodes,
                    a->max_error);
    }
    EXPECT_EQ(single.larger, 0u);  // one seed: exact everywhere
    EXPECT_GE(double(sparse.exact) / sparse.nodes, 0.999);
    EXPECT_GE(double(dense.exact) / dense.nodes, 0.99);
    EXPECT_LT(sparse.max_error, 1.0);
    EXPECT_LT(dense.max_error, 1.0);
    EXPECT_LT(sparse.sum_error / sparse.nodes, 1e-3);
    EXPECT_LT(dense.sum_error / dense.nodes, 1e-3);
}

}  // namespace
