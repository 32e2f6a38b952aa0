// Union-find over components, region moments and the record pools.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "partition/partition_support.hpp"
#include "partition/records.hpp"
#include "partition/storage.hpp"

namespace {

namespace z = lumo::zarn;
using component = z::component_type<double>;

component fresh(double peak, double span = 0) {
    return component{peak, 0, span, 0, nullptr, nullptr, 0, 0};
}

TEST(PartitionRecords, FindCompressesTheWholePath) {
    component root = fresh(1), mid = fresh(2), low = fresh(3), other = fresh(4);
    EXPECT_EQ(z::component_find(&root), &root);
    EXPECT_EQ(root.parent, nullptr);
    mid.parent = &root;
    low.parent = &mid;
    other.parent = &mid;
    EXPECT_EQ(z::component_find(&low), &root);
    EXPECT_EQ(low.parent, &root);
    EXPECT_EQ(mid.parent, &root);
    EXPECT_EQ(other.parent, &mid);  // off the path: untouched
    EXPECT_EQ(root.parent, nullptr);
}

// A chain far deeper than any call stack would allow in recursion.
TEST(PartitionRecords, FindOnALongChain) {
    std::vector<component> chain(1000000, fresh(0));
    for (size_t k = 1; k < chain.size(); ++k) chain[k].parent = &chain[k - 1];
    EXPECT_EQ(z::component_find(&chain.back()), &chain[0]);
    for (size_t k = 1; k < chain.size(); ++k) ASSERT_EQ(chain[k].parent, &chain[0]) << k;
}

TEST(PartitionRecords, UnionByRankWithMergedValues) {
    {
        // Equal ranks: b goes under a, a's rank grows, a takes the values.
        component a = fresh(5, 3), b = fresh(4, 7);
        b.boundary = 1;
        a.valley = 2;
        b.feature = 1;
        EXPECT_EQ(z::component_union(&a, &b), &a);
        EXPECT_EQ(b.parent, &a);
        EXPECT_EQ(a.parent, nullptr);
        EXPECT_EQ(a.rank, 1u);
        EXPECT_EQ(a.peak, 4.0);
        EXPECT_EQ(a.span, 7.0);
        EXPECT_EQ(a.boundary, 1);
        EXPECT_EQ(a.valley, 2.0);  // valley and feature flag untouched
        EXPECT_EQ(a.feature, 0);
        EXPECT_EQ(b.peak, 4.0);
        EXPECT_EQ(b.rank, 0u);
    }
    {
        // The lower rank goes under the higher, whose rank stays.
        component a = fresh(1, 9), b = fresh(6, 2);
        b.rank = 2;
        a.boundary = 1;
        EXPECT_EQ(z::component_union(&a, &b), &b);
        EXPECT_EQ(a.parent, &b);
        EXPECT_EQ(b.rank, 2u);
        EXPECT_EQ(b.peak, 1.0);
        EXPECT_EQ(b.span, 9.0);
        EXPECT_EQ(b.boundary, 1);
    }
    {
        // Equal peaks keep a's: the comparisons are strict.
        component a = fresh(0.0, -0.0), b = fresh(-0.0, 0.0);
        z::component_union(&a, &b);
        EXPECT_FALSE(std::signbit(a.peak));
        EXPECT_TRUE(std::signbit(a.span));
    }
}

TEST(PartitionRecords, RegionMoments) {
    z::region_type<double> r{};
    r.count = 1;
    r.sum_row = 7;
    r.sum_col = 3;
    r.sum_row2 = 49;
    r.sum_col2 = 9;
    r.sum_rowcol = 21;
    z::region_update(r);
    EXPECT_EQ(r.mean_row, 7.0);
    EXPECT_EQ(r.mean_col, 3.0);
    EXPECT_EQ(r.var_row, 0.0);
    EXPECT_EQ(r.var_col, 0.0);
    EXPECT_EQ(r.cov, 0.0);
    EXPECT_EQ(r.sqrt_det, 0.0);

    // Nodes (0, 0), (2, 0), (0, 2), (2, 2): variances 1, covariance 0.
    z::region_type<double> square{};
    square.count = 4;
    square.sum_row = 4;
    square.sum_col = 4;
    square.sum_row2 = 8;
    square.sum_col2 = 8;
    square.sum_rowcol = 4;
    z::region_update(square);
    EXPECT_EQ(square.var_row, 1.0);
    EXPECT_EQ(square.var_col, 1.0);
    EXPECT_EQ(square.cov, 0.0);
    EXPECT_EQ(square.sqrt_det, 1.0);

    // No node: no moments, and nothing that is not a number.
    z::region_type<double> empty{};
    empty.gap = 3;
    z::region_update(empty);
    EXPECT_EQ(empty.mean_row, 0.0);
    EXPECT_EQ(empty.sqrt_det, 0.0);
    EXPECT_EQ(empty.gap, 3.0);

    // 49 nodes on grid row 3: the variance across the line is exactly 0
    // (sum2 / n - mean^2 would leave a rounding residue), and so are the
    // covariance and the determinant.
    z::region_type<double> line{};
    const std::uint64_t row = 3;
    for (std::uint64_t col = 10; col < 59; ++col) part_test::add_node(line, row, col);
    z::region_update(line);
    EXPECT_EQ(line.var_row, 0.0);
    EXPECT_EQ(line.cov, 0.0);
    EXPECT_EQ(line.var_col, 200.0);  // (49^2 - 1) / 12
    EXPECT_EQ(line.sqrt_det, 0.0);
    EXPECT_DOUBLE_EQ(line.mean_row, 3.0);
    const double q = 1.0 / 49;
    EXPECT_NE(441.0 * q - (147.0 * q) * (147.0 * q), 0.0);  // what exactness avoids
}

TEST(PartitionRecords, LinkOrder) {
    z::link<double> a{}, b{};
    a.value = 1;
    b.value = 2;
    EXPECT_TRUE(z::link_value_less(a, b));
    EXPECT_FALSE(z::link_value_less(b, a));
    EXPECT_FALSE(z::link_value_less(a, a));
    b.value = std::nan("");
    EXPECT_FALSE(z::link_value_less(a, b));
    EXPECT_FALSE(z::link_value_less(b, a));
}

// Taking records never moves the ones taken before.
TEST(PartitionRecords, PoolKeepsRecordsInPlace) {
    z::partition_storage<double> s;
    s.reserve(10, 1.5);
    EXPECT_EQ(s.components.capacity(), 21u);
    component* first = s.components.first();
    std::vector<component*> taken;
    for (int k = 0; k < 21; ++k) taken.push_back(s.components.take());
    EXPECT_EQ(s.components.count(), 21u);
    EXPECT_EQ(s.components.first(), first);
    for (int k = 0; k < 21; ++k) EXPECT_EQ(taken[k], first + k);
    s.reserve(0, 1.0);
    EXPECT_EQ(s.components.count(), 0u);
    EXPECT_EQ(s.components.capacity(), 1u);
    EXPECT_TRUE(s.links.empty());
}

}  // namespace
