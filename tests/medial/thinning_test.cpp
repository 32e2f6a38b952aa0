// Thinning sweeps: worked shapes, and random images against a reference
// that applies the templates written out by name.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "medial/thinning.hpp"

namespace {

namespace z = lumo::zarn;
using bytes = lumo::array_2d<unsigned char>;

// (x, y) with x fastest: y is the "row" of the linear layout (index / w).
bytes image_of(size_t w, size_t h, const std::vector<std::pair<size_t, size_t>>& on, unsigned char v = 255) {
    bytes b(w, h);
    b.fill(0);
    for (const auto& [x, y] : on) b(x, y) = v;
    return b;
}

std::vector<std::pair<size_t, size_t>> on_pixels(const bytes& b) {
    std::vector<std::pair<size_t, size_t>> out;
    for (size_t y = 0; y < b.size(1); ++y)
        for (size_t x = 0; x < b.size(0); ++x)
            if (b(x, y)) out.emplace_back(x, y);
    return out;
}

using pixels = std::vector<std::pair<size_t, size_t>>;

TEST(MedialThinning, WorkedShapes) {
    const pixels single = {{5, 5}}, run2 = {{4, 5}, {5, 5}}, run3 = {{4, 5}, {5, 5}, {6, 5}};
    for (const pixels& p : {single, run2, run3}) {
        bytes b = image_of(12, 12, p);
        z::thin_image(b);
        EXPECT_EQ(on_pixels(b), p);
    }
    bytes block = image_of(12, 12, {{4, 4}, {5, 4}, {4, 5}, {5, 5}});
    z::thin_image(block);
    EXPECT_EQ(on_pixels(block), (pixels{{4, 4}, {5, 5}}));

    // A pixel, the pixel below it and that one's right neighbour: the corner goes.
    bytes l = image_of(12, 12, {{4, 4}, {4, 5}, {5, 5}});
    z::thin_image(l);
    EXPECT_EQ(on_pixels(l), (pixels{{4, 4}, {5, 5}}));

    // A band three rows high and six wide keeps its middle row.
    pixels band, middle;
    for (size_t y = 4; y < 7; ++y)
        for (size_t x = 3; x < 9; ++x) band.emplace_back(x, y);
    for (size_t x = 3; x < 9; ++x) middle.emplace_back(x, 5);
    bytes b = image_of(14, 12, band);
    z::thin_image(b);
    EXPECT_EQ(on_pixels(b), middle);
}

TEST(MedialThinning, ReducedSweepAndBackground) {
    bytes block = image_of(12, 12, {{4, 4}, {5, 4}, {4, 5}, {5, 5}});
    z::thin_binary(block, false, 0);
    EXPECT_EQ(on_pixels(block), (pixels{{4, 4}, {5, 4}, {5, 5}}));

    bytes l = image_of(12, 12, {{4, 4}, {4, 5}, {5, 5}});
    z::thin_binary(l, true, 9);  // removed pixels take the background value
    EXPECT_EQ(l(4, 5), 9);
    EXPECT_EQ(l(4, 4), 255);
}

TEST(MedialThinning, TooSmallGridsAreLeftAlone) {
    // n <= 2w + 2: the interior range is empty.
    bytes b(4, 2);
    b.fill(255);
    z::thin_image(b);
    for (size_t i = 0; i < b.length(); ++i) EXPECT_EQ(b[i], 255);
    bytes c(1, 1);
    c.fill(7);
    z::thin_image(c);
    EXPECT_EQ(c[0], 7);
}

TEST(MedialThinning, ValuedFormTestsOneValue) {
    // The 2 x 2 block in value 3 thins as a binary block; the 5s are other
    // values: neither foreground nor removed.
    bytes b = image_of(12, 12, {{4, 4}, {5, 4}, {4, 5}, {5, 5}}, 3);
    b(8, 8) = 5;
    b(3, 4) = 5;  // beside the block: counts as background there
    bytes plain = image_of(12, 12, {{4, 4}, {5, 4}, {4, 5}, {5, 5}});
    z::thin_binary_valued(b, true, 3, 0);
    z::thin_image(plain);
    for (size_t y = 0; y < 12; ++y)
        for (size_t x = 0; x < 12; ++x) {
            if ((x == 8 && y == 8) || (x == 3 && y == 4)) {
                EXPECT_EQ(b(x, y), 5);
                continue;
            }
            EXPECT_EQ(b(x, y) == 3, plain(x, y) == 255) << x << "," << y;
        }
}

// The reference: templates by neighbour name, every pass a fresh copy of its
// source with the interior range rewritten.
const std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>> reference_templates = {
    {{"N", "E"}, {"S", "W", "SW"}},      {{"S", "E"}, {"N", "W", "NW"}},
    {{"S", "W"}, {"N", "E", "NE"}},      {{"N", "W"}, {"S", "E", "SE"}},
    {{"NW", "N", "NE"}, {"SW", "S", "SE"}}, {{"NE", "E", "SE"}, {"NW", "W", "SW"}},
    {{"SW", "S", "SE"}, {"NW", "N", "NE"}}, {{"NW", "W", "SW"}, {"NE", "E", "SE"}},
    {{"W", "N", "E"}, {"S"}},            {{"N", "E", "S"}, {"W"}},
    {{"W", "S", "E"}, {"N"}},            {{"N", "W", "S"}, {"E"}},
};

std::vector<unsigned char> reference_sweep(std::vector<unsigned char> v, long w) {
    const long n = static_cast<long>(v.size());
    const std::map<std::string, long> offset = {{"N", -w},        {"S", w},         {"W", -1},
                                                {"E", 1},         {"NW", -w - 1},   {"NE", -w + 1},
                                                {"SW", w - 1},    {"SE", w + 1}};
    for (const auto& [set, clear] : reference_templates) {
        std::vector<unsigned char> next = v;
        for (long i = w + 1; i <= n - w - 2; ++i) {
            if (!v[i]) continue;
            bool match = true;
            for (const auto& s : set) match = match && v[i + offset.at(s)] != 0;
            for (const auto& c : clear) match = match && v[i + offset.at(c)] == 0;
            if (match) next[i] = 0;
        }
        v = next;
    }
    return v;
}

TEST(MedialThinning, RandomImagesAgainstTheReference) {
    std::mt19937 rng(7);
    for (int k = 0; k < 300; ++k) {
        const size_t w = 1 + rng() % 9, h = 1 + rng() % 9;
        const unsigned density = 2 + rng() % 5;
        bytes b(w, h);
        std::vector<unsigned char> v(w * h);
        for (size_t i = 0; i < w * h; ++i) v[i] = b[i] = (rng() % density) ? 255 : 0;
        z::thin_image(b);
        const std::vector<unsigned char> expected = reference_sweep(v, static_cast<long>(w));
        for (size_t i = 0; i < w * h; ++i) {
            ASSERT_EQ(b[i], expected[i]) << "case " << k << " size " << w << "x" << h << " at " << i;
            ASSERT_LE(b[i], v[i]);  // never adds a pixel
        }
    }
}

}  // namespace
