#include <gtest/gtest.h>

#include <deque>
#include <string>

#include <lumo/details/array/array>
#include <lumo/details/array_2d/array_2d>

using lumo::make_size_array;
using lumo::size_array;

TEST(Array, ShrinkAndRegrowWithinCapacityTouchNothing) {
    lumo::array<int> a;
    a.reserve_hint(10);
    int v = 7;
    a.resize(3, &v, 0);  // a fill value goes up to the capacity
    EXPECT_EQ(a.capacity(), 10u);
    a[0] = 1;
    int w = 9;
    a.resize(5, &w, 0);  // within the capacity: the source is ignored
    EXPECT_EQ(a.length(), 5u);
    EXPECT_EQ(a[3], 7);
    EXPECT_EQ(a[4], 7);
    a.resize(2);
    EXPECT_EQ(a.capacity(), 10u);
    a.resize(0);
    EXPECT_EQ(a.capacity(), 0u);
    EXPECT_EQ(a.data(), nullptr);
}

TEST(Array, GrowthAllocatesExactlyAndCopiesARunOnlyUpToTheNewLength) {
    lumo::array<int> a;
    int v = 4;
    a.resize(4, &v, 0);
    EXPECT_EQ(a.capacity(), 4u);
    const int src[2] = {10, 11};
    a.resize(6, src, 1);
    EXPECT_EQ(a.capacity(), 6u);
    EXPECT_EQ(a[3], 4);
    EXPECT_EQ(a[4], 10);
    EXPECT_EQ(a[5], 11);
    // A run with a larger hint reads only the n source elements it has.
    lumo::array<int> b;
    b.reserve_hint(100);
    b.resize(2, src, 1);
    EXPECT_EQ(b.capacity(), 100u);
    EXPECT_EQ(b[0], 10);
    EXPECT_EQ(b[1], 11);
}

TEST(Array, ConstructedElementsHiddenByAShrinkReappear) {
    lumo::array<std::deque<int>> q;
    q.resize(3);
    q[2].push_back(42);
    q.resize(1);
    q.resize(3);
    ASSERT_EQ(q[2].size(), 1u);
    EXPECT_EQ(q[2].front(), 42);
}

TEST(Array, AssignmentKeepsTheBlockOnlyForEqualLengths) {
    lumo::array<std::string> five(5, std::string("x")), three(3, std::string("y"));
    lumo::array<std::string> other(5, std::string("z"));
    const std::string* block = five.data();
    five = other;
    EXPECT_EQ(five.data(), block);
    EXPECT_EQ(five[4], "z");
    five = three;
    EXPECT_EQ(five.capacity(), 3u);
    EXPECT_EQ(five[2], "y");
    five = five;
    EXPECT_EQ(five.length(), 3u);
    const lumo::array<std::string> copy(lumo::array<std::string>{});
    EXPECT_EQ(copy.data(), nullptr);
}

TEST(SizeArray, ProductShiftCumulativeProductMaxAndEquality) {
    EXPECT_EQ(lumo::product(size_array{}), 1u);
    EXPECT_EQ(lumo::product(make_size_array(3, 4)), 12u);
    EXPECT_EQ(lumo::product(make_size_array(0, 7)), 0u);
    EXPECT_TRUE(lumo::shift(make_size_array(3, 4), 1, 1) == make_size_array(1, 3));
    EXPECT_TRUE(lumo::strides_of(make_size_array(3, 4, 5)) == make_size_array(1, 3, 12));
    size_array m;
    m.resize(4);
    m[0] = 2, m[1] = 9, m[2] = 9, m[3] = 1;
    EXPECT_EQ(lumo::max(m), 9u);
    EXPECT_TRUE(make_size_array(2, 3) == make_size_array(2, 3));
    EXPECT_FALSE(make_size_array(2, 3) == make_size_array(3, 2));
    size_array one;
    one.resize(1);
    one[0] = 2;
    EXPECT_FALSE(one == make_size_array(2, 1));
    EXPECT_TRUE(size_array{} == size_array{});
}

TEST(ArrayDeath, IndexAtTheLengthAbortsNamingTheHeader) {
    lumo::array<float> a(3);
    EXPECT_DEATH(a[3], "details/array/array:[0-9]+: .*Assertion `offset >= 0 && offset < length\\(\\)' failed");
    EXPECT_DEATH(lumo::max(size_array{}), "offset >= 0 && offset < length\\(\\)");
    EXPECT_DEATH(lumo::cumulative_product(size_array{}), "offset >= 0 && offset < length\\(\\)");
}

TEST(Array2d, ShapesStridesAndResizes) {
    lumo::array_2d<int> a;
    EXPECT_TRUE(a.size() == make_size_array(0, 0));
    EXPECT_TRUE(a.stride() == make_size_array(1, 0));
    EXPECT_EQ(a.length(), 0u);
    a.resize(make_size_array(3, 4));
    EXPECT_EQ(a.length(), 12u);
    EXPECT_TRUE(a.stride() == make_size_array(1, 3));
    EXPECT_EQ(&a(2, 1), &a[5]);
    a[0] = 1;
    a.resize(make_size_array(4, 4), 7);  // the old content is never kept
    for (size_t i = 0; i < a.length(); ++i) EXPECT_EQ(a[i], 7);

    lumo::image<unsigned char> im;
    im.resize(make_size_array(3, 4, 3));
    EXPECT_TRUE(im.stride() == make_size_array(1, 3, 12));
    EXPECT_EQ(&im(0, 0, 1), &im[12]);
    EXPECT_EQ(&im(0, 0, 2), &im[24]);

    lumo::array_2d<unsigned char> bytes(make_size_array(5, 2));
    for (size_t i = 0; i < 10; ++i) bytes[i] = static_cast<unsigned char>(i);
    lumo::image<unsigned char> copy;
    lumo::array_to_image(bytes, copy);
    EXPECT_TRUE(copy.size() == make_size_array(5, 2, 1));
    for (size_t i = 0; i < 10; ++i) EXPECT_EQ(copy[i], i);

    lumo::image<unsigned char> two_by_six(2, 6, 1), model(3, 4, 1);
    two_by_six.resize_like(model);  // same element count: the shape stays
    EXPECT_EQ(two_by_six.size(0), 2u);
}

TEST(Array2dDeath, ResizeWithThreeSizesAbortsNamingTheHeader) {
    lumo::array_2d<int> a;
    EXPECT_DEATH(a.resize(make_size_array(1, 2, 3)),
                 "details/array_2d/array_2d:[0-9]+: .*Assertion `newsize.length\\(\\) == 2' failed");
}

// Blocks of several megabytes take the huge-page path: elements are built
// and destroyed exactly once, and growth keeps them, as for small blocks.
namespace {
struct counted {
    static inline long built = 0, destroyed = 0;
    double payload[4] = {1, 2, 3, 4};
    counted() { ++built; }
    counted(const counted& o) = default;
    counted& operator=(const counted&) = default;
    ~counted() { ++destroyed; }
};
}  // namespace

TEST(Array, LargeBlocksBuildAndDestroyEveryElementOnce) {
    counted::built = counted::destroyed = 0;
    const size_t small = 1000, large = (size_t(8) << 20) / sizeof(counted);
    {
        lumo::array<counted> a(small);
        a[small - 1].payload[0] = 42;
        a.resize(large);  // small block to large block
        EXPECT_EQ(a[small - 1].payload[0], 42);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(a.data()) % (size_t(2) << 20), 0u);
        a[large - 1].payload[3] = 7;
        a.resize(large + 1);  // large to large
        EXPECT_EQ(a[large - 1].payload[3], 7);
        EXPECT_EQ(a[large].payload[2], 3);
        EXPECT_EQ(counted::built, long(small + large + large + 1));
        EXPECT_EQ(counted::destroyed, long(small + large));
    }
    EXPECT_EQ(counted::destroyed, counted::built);
    lumo::array<unsigned char> bytes(size_t(5) << 20);
    bytes[(size_t(5) << 20) - 1] = 9;
    const lumo::array<unsigned char> copy = bytes;
    EXPECT_EQ(copy[(size_t(5) << 20) - 1], 9);
}
