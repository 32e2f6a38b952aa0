// Seeds and ridge propagation on hand-made value fields: which seeds wait,
// which start, join or cut components, the links and immediate unions made
// where components meet, in both visiting orders.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "partition/partition_support.hpp"

namespace {

using namespace part_test;
namespace z = lumo::zarn;

// Runs seeds and propagation in the chosen order.
void grow(stage& s, bool marching = true) {
    s.init();
    if (marching) {
        s.create_front();
        s.propagate_front();
    } else {
        s.create_list();
        s.propagate_list();
    }
}

TEST(PartitionSeeds, FrontStatesBucketsAndReservation) {
    ridge_grid g(10, 6);
    g.seed(2, 1, 7.9);
    g.seed(2, 2, 7.9);                 // equal 4-neighbour: both pushed
    g.seed(3, 4, 0.3);
    g.seed(3, 5, 2.0);                 // undercut by its left neighbour: far
    g.seed(4, 4, 1.0, z::second_ring); // undercut by 0.3 above it: far
    g.seed(1, 8, 5.0);
    g.seed(2, 7, 4.0);                 // diagonal to (1, 8): no hold on it
    g.at(0, 3).kind = z::medial;       // rows 0 and h-1 are never scanned
    g.at(0, 3).state = z::done;
    auto s = g.make();
    s->init();
    s->create_front();
    EXPECT_EQ(g.at(2, 1).state, z::front);
    EXPECT_EQ(g.at(2, 2).state, z::front);
    EXPECT_EQ(g.at(3, 4).state, z::front);
    EXPECT_EQ(g.at(3, 5).state, z::far);
    EXPECT_EQ(g.at(4, 4).state, z::far);
    EXPECT_EQ(g.at(1, 8).state, z::front);
    EXPECT_EQ(g.at(2, 7).state, z::front);
    EXPECT_EQ(g.at(2, 3).state, z::border);  // not a seed: excluded
    EXPECT_EQ(g.at(0, 3).state, z::done);
    const auto& b = s->buckets;
    ASSERT_EQ(b.bucket(7).size(), 2u);
    EXPECT_EQ(b.bucket(7)[0], &g.at(2, 1));
    EXPECT_EQ(b.bucket(7)[1], &g.at(2, 2));
    ASSERT_EQ(b.bucket(0).size(), 1u);
    EXPECT_EQ(b.bucket(0)[0], &g.at(3, 4));
    EXPECT_EQ(b.bucket(5).size(), 1u);
    EXPECT_EQ(b.bucket(4).size(), 1u);
    EXPECT_EQ(b.bucket(1).size() + b.bucket(2).size(), 0u);
    EXPECT_EQ(s->bucket_count, 10u + 6u);
    // Seven seeds, far ones included: room for 2 x 7 + 1 components and
    // regions, at least; the first component is the pool's first record.
    EXPECT_EQ(g.storage.components.capacity(), 15u);
    EXPECT_EQ(g.storage.regions.capacity(), 15u);
    EXPECT_EQ(g.storage.components.count(), 0u);
    EXPECT_EQ(s->first_component, g.storage.components.first());
    EXPECT_NE(s->first_component, nullptr);
}

TEST(PartitionSeeds, AllocationFactorOnlyAddsRoom) {
    ridge_grid g(8, 6);
    for (size_t c = 1; c <= 6; ++c) g.seed(2, c, double(c));
    g.opts.program.memory_factor = 10;
    auto s = g.make();
    s->init();
    s->create_front();
    EXPECT_EQ(g.storage.components.capacity(), 60u);
    EXPECT_EQ(z::partition_storage<double>::records_for(10, 1.5), 21u);
    EXPECT_EQ(z::partition_storage<double>::records_for(10, 3.0), 30u);
    EXPECT_EQ(z::partition_storage<double>::records_for(10, std::nan("")), 21u);
    EXPECT_EQ(z::partition_storage<double>::records_for(0, 1.0), 1u);
}

TEST(PartitionSeeds, SortedListKeepsScanOrderOfTiesAndStates) {
    ridge_grid g(8, 6);
    g.seed(3, 5, 4.0);
    g.seed(1, 2, 4.0);
    g.seed(2, 6, 1.5);
    g.seed(4, 1, 4.0, z::second_ring);
    g.seed(2, 1, std::nan(""));
    g.at(3, 2).state = z::far;  // a state of the primal run, left as it is
    auto s = g.make();
    s->init();
    s->create_list();
    ASSERT_EQ(s->seeds.size(), 5u);
    EXPECT_EQ(s->seeds[0], &g.at(2, 6));
    EXPECT_EQ(s->seeds[1], &g.at(1, 2));
    EXPECT_EQ(s->seeds[2], &g.at(3, 5));
    EXPECT_EQ(s->seeds[3], &g.at(4, 1));
    EXPECT_EQ(s->seeds[4], &g.at(2, 1));  // NaN last
    EXPECT_EQ(g.at(3, 2).state, z::far);
    EXPECT_EQ(g.at(1, 2).state, z::done);
    EXPECT_EQ(g.storage.components.capacity(), 11u);
}

// Values beyond any bucket, below zero, NaN or infinite go to the first or
// the last bucket without an out-of-range index or conversion.
TEST(PartitionSeeds, BucketsOfAnyValue) {
    ridge_grid g(8, 6);
    auto s = g.make();
    EXPECT_EQ(s->bucket_of(7.9), 7u);
    EXPECT_EQ(s->bucket_of(0.3), 0u);
    EXPECT_EQ(s->bucket_of(-3.0), 0u);
    EXPECT_EQ(s->bucket_of(std::nan("")), 0u);
    EXPECT_EQ(s->bucket_of(inf), s->bucket_limit);
    EXPECT_EQ(s->bucket_of(-inf), 0u);
    EXPECT_EQ(s->bucket_of(1e300), s->bucket_limit);
    EXPECT_EQ(s->bucket_of(30.5), 30u);  // beyond w + h: the buckets grow
    for (bool marching : {true, false}) {
        ridge_grid h(8, 6);
        const double values[] = {1e300, -3.0, std::nan(""), -inf, inf, 30.5};
        for (size_t c = 1; c <= 6; ++c) h.seed(c % 2 ? 2 : 3, c, values[c - 1]);
        auto t = h.make();
        grow(*t, marching);
        for (size_t c = 1; c <= 6; ++c) {
            const node& n = h.at(c % 2 ? 2 : 3, c);
            EXPECT_TRUE(n.component || n.kind == z::plateau) << c;
        }
        if (marching) {
            EXPECT_GE(t->bucket_count, t->bucket_limit);
        }
    }
}

TEST(PartitionPropagation, JoinNewComponentAndEqualNeighbours) {
    for (bool marching : {true, false}) {
        SCOPED_TRACE(marching);
        ridge_grid g(10, 5);
        g.seed(2, 1, 5);
        g.seed(2, 2, 3);
        g.seed(2, 3, 4);
        g.seed(2, 4, 6);
        node& origin = g.at(4, 6);
        origin.distance = 2.5;
        g.at(2, 2).generator = &origin;
        // Two equal seeds away from the others: the first taken starts a
        // component, the second joins it; neither waits.
        g.seed(2, 7, 8);
        g.seed(2, 8, 8);
        auto s = g.make();
        grow(*s, marching);
        ASSERT_EQ(g.storage.components.count(), 2u);
        const component& c = g.storage.components[0];
        EXPECT_EQ(c.peak, 3.0);
        EXPECT_EQ(c.valley, 0.0);
        EXPECT_EQ(c.span, 100 - 3 - 2.5);
        EXPECT_EQ(c.boundary, 0);
        EXPECT_EQ(c.parent, nullptr);
        EXPECT_EQ(c.rank, 0u);
        EXPECT_EQ(c.region, nullptr);
        for (size_t col = 1; col <= 4; ++col) EXPECT_EQ(g.label_of(2, col), 0) << col;
        EXPECT_EQ(g.label_of(2, 7), 1);
        EXPECT_EQ(g.label_of(2, 8), 1);
        EXPECT_EQ(g.storage.components[1].span, 92.0);  // no origin: distance 0
        EXPECT_EQ(s->unions, 0u);
        EXPECT_TRUE(g.storage.links.empty());
        EXPECT_TRUE(s->conflicts.empty());
        if (marching) {
            EXPECT_EQ(g.at(2, 4).state, z::done);
        }
        EXPECT_EQ(g.label_of(1, 1), -1);
    }
}

// A seed 1 or more above both peaks cuts and links, the first component met
// (neighbour order: right on the image first, counter-clockwise) being c1.
TEST(PartitionPropagation, CutRecordsALink) {
    for (bool flat : {false, true}) {
        ridge_grid g(8, 5);
        g.seed(2, 1, 2);
        g.seed(2, 2, 6);
        g.seed(2, 3, 3);
        node& origin = g.at(4, 6);
        origin.distance = 1.5;
        g.at(2, 2).generator = &origin;
        g.opts.features.flat = flat;
        auto s = g.make();
        grow(*s);
        node& x = g.at(2, 2);
        EXPECT_EQ(x.kind, z::plateau);
        EXPECT_EQ(x.component, nullptr);
        ASSERT_EQ(s->conflicts.size(), 1u);
        EXPECT_EQ(s->conflicts.front(), &x);
        ASSERT_EQ(g.storage.links.size(), 1u);
        const link_record& l = g.storage.links[0];
        EXPECT_EQ(l.c1, g.at(2, 1).component);
        EXPECT_EQ(l.c2, g.at(2, 3).component);
        EXPECT_EQ(l.value, 6.0);
        EXPECT_EQ(l.width, flat ? 92.5 : 92.5 * 92.5);
        EXPECT_EQ(l.rr, 4u);   // rows 2 and 4
        EXPECT_EQ(l.rc, 8u);
        EXPECT_EQ(l.cc, 16u);  // columns 2 and 6
        EXPECT_EQ(s->unions, 0u);
    }
    {
        // Exactly one above both peaks is enough.
        ridge_grid g(8, 5);
        g.seed(2, 1, 2);
        g.seed(2, 2, 3);
        g.seed(2, 3, 2);
        auto s = g.make();
        grow(*s);
        EXPECT_EQ(g.storage.links.size(), 1u);
        EXPECT_EQ(s->unions, 0u);
    }
}

// Less than one above a peak: united at once; the node keeps the record
// met first, a child when its rank was the lower.
TEST(PartitionPropagation, ImmediateUnionKeepsTheRecordMetFirst) {
    {
        ridge_grid g(8, 5);
        g.seed(2, 1, 5.5);
        g.seed(2, 2, 6.0);
        g.seed(2, 3, 5.6);
        auto s = g.make();
        grow(*s);
        component* a = g.at(2, 1).component;
        component* b = g.at(2, 3).component;
        EXPECT_EQ(g.at(2, 2).component, a);
        EXPECT_EQ(b->parent, a);
        EXPECT_EQ(a->rank, 1u);
        EXPECT_EQ(a->peak, 5.5);
        EXPECT_EQ(a->span, 94.5);
        EXPECT_EQ(s->unions, 1u);
        EXPECT_TRUE(g.storage.links.empty());
    }
    {
        ridge_grid g(8, 5);
        g.seed(2, 1, 5.5);  // A
        g.seed(2, 2, 6.0);  // unites A with B's tree, under B
        g.seed(2, 3, 5.2);  // B
        g.seed(2, 4, 5.9);  // unites B and C: B's rank becomes 1
        g.seed(2, 5, 5.3);  // C
        auto s = g.make();
        grow(*s);
        component* a = g.at(2, 1).component;
        component* b = g.at(2, 3).component;
        EXPECT_EQ(g.at(2, 2).component, a);
        EXPECT_EQ(a->parent, b);
        EXPECT_EQ(g.at(2, 5).component->parent, b);
        EXPECT_EQ(b->rank, 1u);
        EXPECT_EQ(b->peak, 5.2);
        EXPECT_EQ(s->unions, 2u);
        EXPECT_EQ(g.storage.components.count(), 3u);
    }
}

// Three components around one seed at three corners: a link from the first
// to the second, then from the second to the third, or a union.
TEST(PartitionPropagation, ThirdComponentIsTestedAgainstTheSecond) {
    for (double third : {5.0, 8.5}) {
        ridge_grid g(9, 5);
        g.seed(2, 4, 9);
        g.seed(3, 3, 2);  // position 1: lower left on the image
        g.seed(1, 3, 3);  // position 3
        g.seed(1, 5, third);  // position 5
        auto s = g.make();
        grow(*s);
        component* a = g.at(3, 3).component;
        component* b = g.at(1, 3).component;
        component* c = g.at(1, 5).component;
        EXPECT_EQ(g.at(2, 4).kind, z::plateau);
        if (third == 5.0) {
            ASSERT_EQ(g.storage.links.size(), 2u);
            EXPECT_EQ(g.storage.links[1].c1, b);
            EXPECT_EQ(g.storage.links[1].c2, c);
            EXPECT_EQ(s->unions, 0u);
        } else {
            ASSERT_EQ(g.storage.links.size(), 1u);
            EXPECT_EQ(s->unions, 1u);
            EXPECT_EQ(c->parent, b);
        }
        EXPECT_EQ(g.storage.links[0].c1, a);
        EXPECT_EQ(g.storage.links[0].c2, b);
    }
}

// On the second frame ring a wide span unites instead of linking, unless
// -pa 0 lifts the margin; the frame ring marks the components it touches.
TEST(PartitionPropagation, FrameRingMarginAndBoundaryFlag) {
    for (bool no_margin : {false, true}) {
        ridge_grid g(8, 5);
        g.seed(2, 1, 2);
        g.seed(2, 2, 6, z::second_ring);  // span 94 > 50
        g.seed(2, 3, 3);
        if (no_margin) g.opts.partition.margin = z::size_max;
        auto s = g.make();
        grow(*s);
        component* a = g.at(2, 1).component;
        if (no_margin) {
            EXPECT_EQ(g.storage.links.size(), 1u);
            EXPECT_EQ(g.at(2, 2).kind, z::plateau);
            EXPECT_EQ(a->boundary, 0);
        } else {
            EXPECT_TRUE(g.storage.links.empty());
            EXPECT_EQ(s->unions, 1u);
            EXPECT_EQ(g.at(2, 2).component, a);
            EXPECT_EQ(a->boundary, 1);
        }
    }
    {
        // A narrow span links as on any other node.
        ridge_grid g(8, 5, 10.0);
        g.seed(2, 1, 2);
        g.seed(2, 2, 6, z::second_ring);  // span 4
        g.seed(2, 3, 3);
        auto s = g.make();
        grow(*s);
        EXPECT_EQ(g.storage.links.size(), 1u);
    }
    {
        ridge_grid g(8, 5);
        g.seed(2, 2, 4, z::second_ring);
        g.seed(2, 5, 4);
        auto s = g.make();
        grow(*s);
        EXPECT_EQ(g.at(2, 2).component->boundary, 1);
        EXPECT_EQ(g.at(2, 5).component->boundary, 0);
    }
}

// A seed that no component reaches, beside a cut of lower or equal value,
// is a cut without a link.
TEST(PartitionPropagation, SeedBesideACutIsACut) {
    for (double y : {7.0, 6.0}) {
        ridge_grid g(8, 5);
        g.seed(3, 1, 2);  // corners of the cut: not adjacent to its right
        g.seed(1, 1, 3);
        g.seed(2, 2, 6);  // cut
        g.seed(2, 3, y);
        auto s = g.make();
        grow(*s);
        EXPECT_EQ(g.at(2, 2).kind, z::plateau);
        EXPECT_EQ(g.at(2, 3).kind, z::plateau);
        EXPECT_EQ(g.at(2, 3).component, nullptr);
        EXPECT_EQ(g.storage.links.size(), 1u);
        EXPECT_EQ(g.storage.components.count(), 2u);
        ASSERT_EQ(s->conflicts.size(), 2u);
        EXPECT_EQ(s->conflicts[1], &g.at(2, 3));
    }
}

// The bucket queue takes a waiting seed after its lower neighbours: a
// diagonal lower neighbour queued behind it holds it back.
TEST(PartitionPropagation, LowerNeighbourPendingHoldsANodeBack) {
    ridge_grid g(8, 5);
    g.seed(2, 2, 6.8);
    g.seed(3, 3, 6.2);  // diagonal: both pushed, 6.8 first
    g.seed(1, 6, 1.0);
    auto s = g.make();
    s->init();
    s->create_front();
    EXPECT_EQ(g.at(2, 2).state, z::front);
    EXPECT_EQ(g.at(3, 3).state, z::front);
    s->propagate_front();
    // 6.2 was assigned first and started a component; 6.8 joined it.
    ASSERT_EQ(g.storage.components.count(), 2u);
    EXPECT_EQ(g.label_of(3, 3), 1);
    EXPECT_EQ(g.label_of(2, 2), 1);
    EXPECT_EQ(g.storage.components[1].peak, 6.2);
    EXPECT_EQ(s->buckets.take(), nullptr);  // the queue is drained
}

TEST(PartitionPropagation, NoSeedEndsAtOnce) {
    for (bool marching : {true, false}) {
        ridge_grid g(6, 5);
        auto s = g.make();
        grow(*s, marching);
        EXPECT_EQ(g.storage.components.count(), 0u);
        EXPECT_NE(s->first_component, nullptr);
        EXPECT_EQ(s->name, "partition");
    }
}

// With one seed per bucket both visiting orders take the seeds in ascending
// value and give every seed the same outcome.
TEST(PartitionPropagation, SortedAndMarchingAgreeOnDistinctBuckets) {
    auto build = [](ridge_grid& g) {
        std::mt19937 rng(5);
        std::vector<int> values(200);
        for (int k = 0; k < 200; ++k) values[k] = k;
        std::shuffle(values.begin(), values.end(), rng);
        size_t next = 0;
        for (size_t r = 1; r + 1 < 12; ++r)
            for (size_t c = 1; c + 1 < 14; ++c)
                if (rng() % 3 == 0) g.seed(r, c, 1.5 + values[next++]);
    };
    ridge_grid a(14, 12), b(14, 12);
    build(a);
    build(b);
    auto sa = a.make();
    auto sb = b.make();
    grow(*sa, true);
    grow(*sb, false);
    ASSERT_EQ(a.storage.components.count(), b.storage.components.count());
    EXPECT_EQ(a.storage.links.size(), b.storage.links.size());
    EXPECT_EQ(sa->unions, sb->unions);
    for (size_t i = 0; i < a.nodes.length(); ++i) {
        EXPECT_EQ(a.nodes[i].kind, b.nodes[i].kind) << i;
        const component* ca = a.nodes[i].component;
        const component* cb = b.nodes[i].component;
        ASSERT_EQ(ca == nullptr, cb == nullptr) << i;
        if (ca) {
            EXPECT_EQ(ca->peak, cb->peak) << i;
        }
        if (z::is_ridge_seed(a.nodes[i])) {
            EXPECT_TRUE(ca || a.nodes[i].kind == z::plateau) << i;
        }
    }
}

}  // namespace
