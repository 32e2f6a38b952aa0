#include <gtest/gtest.h>

#include <lumo/details/array/array>
#include <lumo/details/array_2d/array_2d>

TEST(Array, ResizeWithinCapacityExposesHiddenElements) {
    lumo::array<int> a;
    a.reserve_hint(10);
    int v = 7;
    a.resize(3, &v, 0);
    EXPECT_EQ(a.capacity(), 10u);
    a[0] = 1;
    int w = 9;
    a.resize(5, &w, 0);  // within the capacity: the source is ignored
    EXPECT_EQ(a.length(), 5u);
    EXPECT_EQ(a[3], 7);
    EXPECT_EQ(a[4], 7);
}
