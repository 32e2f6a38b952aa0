#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "distance/distance_factory.hpp"

namespace {

using lumo::zarn::entry;
// The float tables are touched by no other test, so they start empty here.
using factory = lumo::zarn::distance_factory<float>;

const entry& entry_at(int dx, int dy) {
    const size_t k = static_cast<size_t>(dy + factory::r1()) * factory::d0() +
                     static_cast<size_t>(dx + factory::r0());
    return factory::entries().data()[k];
}

TEST(DistanceTables, GrowFillAndRegrow) {
    EXPECT_EQ(factory::entry_centre(), nullptr);
    EXPECT_EQ(factory::length_centre(), nullptr);

    ASSERT_TRUE(factory::grow(304, 204));
    EXPECT_EQ(factory::c0(), 404u);
    EXPECT_EQ(factory::c1(), 304u);
    EXPECT_EQ(factory::d0(), 807u);
    EXPECT_EQ(factory::d1(), 607u);
    EXPECT_EQ(factory::centre_column(), 403u);
    EXPECT_EQ(factory::centre_row(), 303u);
    EXPECT_EQ(factory::r0(), 403);
    EXPECT_EQ(factory::r1(), 303);
    EXPECT_FALSE(factory::lengths_current());  // grow leaves the tables alone

    factory::fill_entries();
    factory::fill_lengths();
    ASSERT_EQ(factory::entries().size(0), 807u);
    ASSERT_EQ(factory::entries().size(1), 607u);
    const entry* c = factory::entry_centre();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c, &entry_at(0, 0));
    EXPECT_EQ(c->squared_length, 0);
    EXPECT_EQ(c->parity, 0);
    EXPECT_EQ(c[1].squared_length, 1);
    EXPECT_EQ(c[1].parity, 1);
    EXPECT_EQ(entry_at(1, 1).squared_length, 2);
    EXPECT_EQ(entry_at(1, 1).parity, 1);
    EXPECT_EQ(entry_at(3, 4).squared_length, 25);
    EXPECT_EQ(entry_at(3, 4).parity, 1);
    EXPECT_EQ(entry_at(2, 2).squared_length, 8);
    EXPECT_EQ(entry_at(2, 2).parity, 0);
    // One table row is one step of the second component.
    EXPECT_EQ(&c[factory::d0()], &entry_at(0, 1));
    EXPECT_EQ(entry_at(-403, -303).squared_length, 403 * 403 + 303 * 303);
    EXPECT_EQ(&entry_at(-403, -303), factory::entry_storage());

    const float* l = factory::length_centre();
    EXPECT_EQ(l[0], 0.0f);
    EXPECT_EQ(l[-1], 1.0f);
    EXPECT_EQ(l[3 + 4 * static_cast<std::ptrdiff_t>(factory::d0())], 5.0f);
    EXPECT_EQ(l[-static_cast<std::ptrdiff_t>(factory::d0()) - 1], std::sqrt(2.0f));

    // Parity is the integer part of the length, modulo 2, all over the table.
    size_t wrong = 0;
    for (int dy = -50; dy <= 50; ++dy)
        for (int dx = -50; dx <= 50; ++dx) {
            const entry& e = entry_at(dx, dy);
            const int q = dx * dx + dy * dy;
            const unsigned p = static_cast<unsigned>(std::floor(std::sqrt(double(q)))) & 1u;
            wrong += e.squared_length != q || e.parity != p;
        }
    EXPECT_EQ(wrong, 0u);

    // A grid that fits is served as it is; a larger one in either dimension
    // rebuilds the geometry from its own sizes, so a capacity may shrink.
    EXPECT_FALSE(factory::grow(404, 304));
    EXPECT_TRUE(factory::entries_current());
    ASSERT_TRUE(factory::grow(100, 305));
    EXPECT_EQ(factory::c0(), 200u);
    EXPECT_EQ(factory::c1(), 405u);
    EXPECT_EQ(factory::d0(), 399u);
    EXPECT_EQ(factory::d1(), 809u);
    EXPECT_FALSE(factory::entries_current());
    EXPECT_FALSE(factory::lengths_current());
}

// Grids a little over 46240 nodes long put table elements beyond the 32-bit
// squares in the margin; filling them must neither overflow (UBSan) nor give
// small values that would win a comparison.
TEST(DistanceTables, ElementsBeyondThirtyTwoBitSquares) {
    using wide = lumo::zarn::distance_factory<double>;
    EXPECT_EQ(wide::squared_of(46341, 0), 2147488281);
    EXPECT_EQ(wide::length_of(46341, 0), 46341.0);
    EXPECT_EQ(wide::length_of(-46341, -46341), std::sqrt(2.0 * 46341.0 * 46341.0));
    const entry beyond = wide::entry_of(46341, 0);
    EXPECT_EQ(beyond.squared_length, std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(beyond.parity, 1);
    EXPECT_EQ(wide::entry_of(46342, 0).parity, 0);
    const entry inside = wide::entry_of(46340, -1);
    EXPECT_EQ(inside.squared_length, 46340 * 46340 + 1);
    EXPECT_EQ(inside.parity, 0);

    // The fill itself, for a grid of one image row 46238 pixels long; then a
    // small grid takes the memory back.
    ASSERT_TRUE(factory::grow(46242, 5));
    ASSERT_EQ(factory::r0(), 46341);
    factory::fill_lengths();
    factory::fill_entries();
    EXPECT_EQ(entry_at(46341, 0).squared_length, std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(entry_at(-46340, 0).squared_length, 46340 * 46340);
    EXPECT_EQ(factory::lengths().data()[factory::lengths().length() - 1],
              std::sqrt(float(2147488281.0 + 104.0 * 104.0)));
    ASSERT_TRUE(factory::grow(10, 400));
    factory::fill_lengths();
    factory::fill_entries();
    EXPECT_EQ(factory::entries().length(), factory::d0() * factory::d1());
}

}  // namespace
