#include <gtest/gtest.h>

#include <random>
#include <vector>

#include <lumo/details/array_2d/array_2d>
#include <lumo/details/array_nd/sub_array.hpp>

namespace {

using lumo::index_array;
using lumo::range;
using byte_image = lumo::array_2d<unsigned char>;

size_t count_value(const byte_image& img, unsigned char v) {
    size_t n = 0;
    for (size_t i = 0; i < img.length(); ++i) n += img[i] == v;
    return n;
}

byte_image blank(size_t w, size_t h) {
    byte_image img;
    img.resize(w, h, 0);
    return img;
}

void fill_view(byte_image& img, const lumo::array<index_array>& idx, unsigned char v) {
    const lumo::sub_array<unsigned char, byte_image, false> view(img, idx);
    lumo::sub_array_assign(view, &v, 1, 0);
}

// Positions of one index array in a dimension of the given size.
std::vector<size_t> positions(const index_array& ix, size_t size) {
    std::vector<size_t> p;
    const size_t n = ix.count(size);
    for (size_t j = 0; j < n; ++j)
        p.push_back(ix.is_list() ? ix.list[j] : ix.is_range() ? ix.rng.s + j * ix.rng.st : j);
    return p;
}

index_array random_index(std::mt19937& gen, size_t size, bool allow_repeats) {
    std::uniform_int_distribution<int> kind(0, 2);
    std::uniform_int_distribution<size_t> pos(0, size - 1);
    switch (kind(gen)) {
        case 0: {
            lumo::array<size_t> l(1 + pos(gen) % 4);
            for (size_t j = 0; j < l.length(); ++j) {
                bool fresh = false;
                while (!fresh) {
                    l[j] = pos(gen);
                    fresh = allow_repeats;
                    if (!fresh) {
                        fresh = true;
                        for (size_t k = 0; k < j; ++k) fresh = fresh && l[k] != l[j];
                    }
                }
            }
            return index_array(l);
        }
        case 1: {
            const size_t s = pos(gen);
            std::uniform_int_distribution<size_t> end(s, size - 1);
            return index_array(range<size_t>(s, 1 + pos(gen) % 3, end(gen)));
        }
        default: return index_array();
    }
}

}  // namespace

TEST(SubArray, RangeCountsAndPositions) {
    EXPECT_EQ(index_array(range<size_t>(100, 400)).count(0), 301u);
    const index_array stepped(range<size_t>(150, 200, 350));
    EXPECT_EQ(stepped.count(0), 2u);
    EXPECT_EQ(positions(stepped, 0), (std::vector<size_t>{150, 350}));
    EXPECT_EQ(stepped.ends(), 350u);
    const index_array all;
    EXPECT_EQ(all.kind, 2);
    EXPECT_EQ(all.count(17), 17u);
    EXPECT_EQ(all.ends(), 0u);
}

TEST(SubArrayDeathTest, ConstructorAssertions) {
    EXPECT_DEATH(range<size_t>(5, 4), "s <= e");
    EXPECT_DEATH(range<size_t>(1, 0, 5), "st == 0 \\|\\| \\(st > 0 && s > e\\)");
    EXPECT_DEATH(range<size_t>(6, 1, 5), "st == 0");
    byte_image img = blank(500, 500);
    EXPECT_DEATH(fill_view(img, lumo::index_list({0}, range<size_t>(10, 500)), 1),
                 "idx\\[i\\].ends\\(\\) < a.size\\(\\)\\[i\\]");
    fill_view(img, lumo::index_list({0}, range<size_t>(10, 499)), 1);  // e = size - 1 is fine
    EXPECT_EQ(count_value(img, 1), 490u);
    EXPECT_DEATH(fill_view(img, lumo::index_list(index_array(lumo::array<size_t>()), {0}), 1),
                 "offset >= 0 && offset < length\\(\\)");
}

TEST(SubArray, RowSegmentOfSampleImage) {
    byte_image img = blank(500, 500);
    fill_view(img, lumo::index_list({400}, range<size_t>(100, 400)), 255);
    EXPECT_EQ(count_value(img, 255), 301u);
    for (size_t c = 0; c < 500; ++c) EXPECT_EQ(img(400, c), (c >= 100 && c <= 400) ? 255 : 0);
}

TEST(SubArray, MissingDimensionsSelectPositionZero) {
    byte_image img = blank(6, 7);
    fill_view(img, lumo::array<index_array>(), 9);
    EXPECT_EQ(count_value(img, 9), 1u);
    EXPECT_EQ(img(0, 0), 9);

    lumo::image<int> cube(4, 5, 3);
    cube.fill(0);
    lumo::array<index_array> two = lumo::index_list(range<size_t>(1, 2), index_array());
    const lumo::sub_array<int, lumo::image<int>, false> view(cube, two);
    int v = 4;
    lumo::sub_array_assign(view, &v, 1, 0);
    for (size_t k = 0; k < 3; ++k)
        for (size_t c = 0; c < 5; ++c)
            for (size_t r = 0; r < 4; ++r)
                EXPECT_EQ(cube(r, c, k), (k == 0 && r >= 1 && r <= 2) ? 4 : 0);
}

TEST(SubArray, AllSingleCountsTouchOneElement) {
    byte_image img = blank(5, 1);  // the second dimension has size 1
    fill_view(img, lumo::index_list({3}, index_array()), 7);
    EXPECT_EQ(count_value(img, 7), 1u);
    EXPECT_EQ(img(3, 0), 7);
}

// Every operation, against a plain loop in dense order over random
// selections of a 3-D array (lists with repeats and going backwards, stepped
// ranges, whole dimensions).
TEST(SubArray, OperationsMatchDenseReference) {
    std::mt19937 gen(12345);
    const size_t dims[3] = {7, 9, 4};
    auto f = [](int x, int y) { return 3 * x + y; };
    for (int trial = 0; trial < 400; ++trial) {
        const int op = trial % 5;
        // Repeated positions make the combining operations order dependent.
        const bool repeats = op < 2;
        lumo::array<index_array> idx(3);
        for (size_t d = 0; d < 3; ++d) idx[d] = random_index(gen, dims[d], repeats);
        const std::ptrdiff_t step = trial % 3;

        lumo::image<int> a(dims[0], dims[1], dims[2]), ref(dims[0], dims[1], dims[2]);
        for (size_t i = 0; i < a.length(); ++i) a[i] = ref[i] = static_cast<int>(i % 23);
        std::vector<std::vector<size_t>> p;
        for (size_t d = 0; d < 3; ++d) p.push_back(positions(idx[d], dims[d]));
        const size_t n = p[0].size() * p[1].size() * p[2].size();
        std::vector<int> src(n * 2 + 1), ref_src;
        for (size_t k = 0; k < src.size(); ++k) src[k] = static_cast<int>(100 + k);
        ref_src = src;

        size_t k = 0;
        for (size_t z : p[2])
            for (size_t y : p[1])
                for (size_t x : p[0]) {
                    int& e = ref(x, y, z);
                    int& s = ref_src[k++ * static_cast<size_t>(step)];
                    switch (op) {
                        case 0: s = e; break;
                        case 1: e = s; break;
                        case 2: e = f(e, 0); break;
                        case 3: e = f(e, s); break;
                        default: e = f(s, e); break;
                    }
                }
        const lumo::sub_array<int, lumo::image<int>, false> view(a, idx);
        lumo::sub_array_assign(view, src.data(), op, step, +f);
        for (size_t i = 0; i < a.length(); ++i) ASSERT_EQ(a[i], ref[i]) << "trial " << trial << " op " << op;
        ASSERT_EQ(src, ref_src) << "trial " << trial;
    }
}
