// The union-find operations of feature merging: finds that keep feature
// components on every path, and joins that freeze a feature's region under
// a new parent.
#include <gtest/gtest.h>

#include <vector>

#include "partition/records.hpp"
#include "partition/storage.hpp"

namespace {

namespace z = lumo::zarn;
using component = z::component_type<double>;
using region = z::region_type<double>;

component fresh(double peak = 0, double span = 0) {
    return component{peak, 0, span, 0, nullptr, nullptr, 0, 0};
}

// A region of `count` nodes at (row, col), gap sums given.
region nodes_at(std::uint64_t row, std::uint64_t col, std::uint64_t count, double gap = 0) {
    region r{};
    r.count = count;
    r.sum_row = row * count;
    r.sum_col = col * count;
    r.sum_row2 = z::moment_sum(row * row) * count;
    r.sum_col2 = z::moment_sum(col * col) * count;
    r.sum_rowcol = z::moment_sum(row * col) * count;
    r.gap = gap;
    r.gap_rr = 1;
    r.gap_rc = 2;
    r.gap_cc = 3;
    z::region_update(r);
    return r;
}

TEST(FeatureRecords, FindFeatureClimbsToTheNearestFlag) {
    component* none = nullptr;
    EXPECT_EQ(z::component_find_feature(&none), nullptr);

    // x -> y -> root, no flag: nothing found, nothing written.
    component x = fresh(), y = fresh(), root = fresh();
    x.parent = &y;
    y.parent = &root;
    component* slot = &x;
    EXPECT_EQ(z::component_find_feature(&slot), nullptr);
    EXPECT_EQ(slot, &x);
    EXPECT_EQ(x.parent, &y);

    // A flagged component in the slot is returned as it is.
    y.feature = 1;
    slot = &y;
    EXPECT_EQ(z::component_find_feature(&slot), &y);
    EXPECT_EQ(y.parent, &root);

    // a -> b -> c -> f -> g (f and g flagged): a, b and c, and the slot,
    // end pointing at f.
    component a = fresh(), b = fresh(), c = fresh(), f = fresh(), g = fresh();
    a.parent = &b;
    b.parent = &c;
    c.parent = &f;
    f.parent = &g;
    f.feature = g.feature = 1;
    slot = &a;
    EXPECT_EQ(z::component_find_feature(&slot), &f);
    EXPECT_EQ(slot, &f);
    EXPECT_EQ(a.parent, &f);
    EXPECT_EQ(b.parent, &f);
    EXPECT_EQ(c.parent, &f);
    EXPECT_EQ(f.parent, &g);
}

// y -> f2 -> x -> f1 -> root (f1, f2 flagged): the root is found, x is
// bypassed, both features stay on y's path in order.
TEST(FeatureRecords, FindKeepsFeaturesOnThePath) {
    component y = fresh(), f2 = fresh(), x = fresh(), f1 = fresh(), root = fresh();
    y.parent = &f2;
    f2.parent = &x;
    x.parent = &f1;
    f1.parent = &root;
    f1.feature = f2.feature = 1;
    EXPECT_EQ(z::component_find_keep_features(&y), &root);
    EXPECT_EQ(y.parent, &f2);
    EXPECT_EQ(f2.parent, &f1);
    EXPECT_EQ(f1.parent, &root);
    EXPECT_EQ(z::component_find_keep_features(&root), &root);

    // Without features it compresses like component_find; long chains of
    // either kind need no deep recursion.
    std::vector<component> chain(200001, fresh());
    for (size_t k = 1; k < chain.size(); ++k) {
        chain[k].parent = &chain[k - 1];
        chain[k].feature = k % 2;
    }
    // Every other one flagged: each flagged one skips the one below it.
    EXPECT_EQ(z::component_find_keep_features(&chain.back()), &chain[0]);
    for (size_t k = 2; k < chain.size(); ++k)
        ASSERT_EQ(chain[k].parent, &chain[k - 1 - chain[k].feature]) << k;
    for (auto& c : chain) c.feature = 0;
    EXPECT_EQ(z::component_find_keep_features(&chain.back()), &chain[0]);
    EXPECT_EQ(chain[100001].parent, &chain[0]);
}

struct FeatureMerge : ::testing::Test {
    z::partition_storage<double> storage;
    component* a;
    component* b;
    void SetUp() override {
        storage.reserve(4, 1.0);
        a = take(5, 3, nodes_at(10, 20, 3, 1.5));
        b = take(4, 7, nodes_at(12, 20, 1, 0.5));
    }
    component* take(double peak, double span, const region& r) {
        component* c = storage.components.take();
        *c = fresh(peak, span);
        c->region = storage.regions.take();
        *c->region = r;
        return c;
    }
};

TEST_F(FeatureMerge, PlainSurvivorAbsorbsTheOther) {
    b->boundary = 1;
    b->feature = 1;  // not the survivor: its region stays as it is
    const region frozen = *b->region;
    EXPECT_EQ(z::component_merge(a, b, 9.0, storage), a);
    EXPECT_EQ(b->parent, a);
    EXPECT_EQ(a->rank, 1u);
    EXPECT_EQ(a->peak, 4.0);
    EXPECT_EQ(a->span, 7.0);
    EXPECT_EQ(a->valley, 9.0);
    EXPECT_EQ(a->boundary, 1);
    EXPECT_EQ(a->region->count, 4u);
    EXPECT_EQ(a->region->mean_row, 10.5);
    EXPECT_EQ(a->region->var_row, 0.75);
    EXPECT_EQ(a->region->gap, 2.0);
    EXPECT_EQ(a->region->gap_cc, 6u);
    EXPECT_EQ(b->region->count, frozen.count);
    EXPECT_EQ(b->region->gap, frozen.gap);
    EXPECT_EQ(storage.components.count(), 2u);
    EXPECT_EQ(storage.regions.count(), 2u);
}

TEST_F(FeatureMerge, FeatureSurvivorGetsANewParent) {
    a->feature = 1;
    b->rank = 0;
    const region frozen = *a->region;
    component* n = z::component_merge(a, b, 9.0, storage);
    EXPECT_EQ(n, storage.components.first() + 2);
    EXPECT_EQ(storage.regions.count(), 3u);
    EXPECT_EQ(a->parent, n);
    EXPECT_EQ(b->parent, n);
    EXPECT_EQ(n->parent, nullptr);
    EXPECT_EQ(n->rank, 1u);  // one above the survivor's, though the ranks were equal
    EXPECT_EQ(a->rank, 0u);
    EXPECT_EQ(n->feature, 0);
    EXPECT_EQ(n->peak, 4.0);
    EXPECT_EQ(n->span, 7.0);
    EXPECT_EQ(n->valley, 9.0);
    EXPECT_EQ(n->region->count, 4u);
    EXPECT_EQ(n->region->mean_row, 10.5);
    EXPECT_EQ(n->region->gap, 2.0);
    // The feature keeps its values and its region.
    EXPECT_EQ(a->peak, 5.0);
    EXPECT_EQ(a->valley, 0.0);
    EXPECT_EQ(a->region->count, frozen.count);
    EXPECT_EQ(a->region->gap, frozen.gap);
    EXPECT_EQ(a->region->var_row, 0.0);

    // A higher-ranked feature survivor: its rank plus one.
    component* c = take(1, 1, nodes_at(2, 2, 1));
    component* d = take(1, 1, nodes_at(3, 3, 1));
    d->rank = 4;
    d->feature = 1;
    EXPECT_EQ(z::component_merge(c, d, 2.0, storage)->rank, 5u);
}

}  // namespace
