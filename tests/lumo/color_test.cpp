#include <gtest/gtest.h>

#include <cstdlib>

#include <lumo/details/image/color.hpp>

namespace {

void expect_bytes(const lumo::array<unsigned char>& c, int a, int b, int d) {
    ASSERT_EQ(c.length(), 3u);
    EXPECT_EQ(c[0], a);
    EXPECT_EQ(c[1], b);
    EXPECT_EQ(c[2], d);
}

}  // namespace

TEST(Color, NamedColourBytes) {
    expect_bytes(lumo::color_gray(), 128, 128, 128);
    expect_bytes(lumo::color_black(), 0, 0, 0);
    expect_bytes(lumo::color_green(), 0, 128, 0);
    expect_bytes(lumo::color_blue(), 0, 0, 255);
    expect_bytes(lumo::color_red(), 255, 0, 0);
    expect_bytes(lumo::color_maroon(), 128, 0, 0);
    expect_bytes(lumo::color_white(), 255, 255, 255);
    expect_bytes(lumo::color_magenta(), 255, 0, 255);
    expect_bytes(lumo::color_navy(), 0, 0, 128);
    expect_bytes(lumo::color_yellow(), 255, 255, 0);
    expect_bytes(lumo::color_dark_gray(), 64, 64, 64);
    expect_bytes(lumo::color_steel(), 0, 75, 150);
    expect_bytes(lumo::color_sky(), 0, 165, 255);
    expect_bytes(lumo::color_cyan(), 0, 255, 255);
    expect_bytes(lumo::color_lime(), 0, 255, 0);
}

TEST(Color, ColourMapEntriesAreTruncated) {
    const lumo::palette m = lumo::colormap_256_cyan_blue();
    ASSERT_EQ(m.length(), 256u);
    expect_bytes(m[0], 0, 255, 255);
    expect_bytes(m[127], 0, 128, 255);
    expect_bytes(m[128], 0, 127, 255);
    expect_bytes(m[254], 0, 0, 255);  // 255 (1 - 254/255) is just below 1
    expect_bytes(m[255], 0, 0, 255);
    const lumo::palette r = lumo::colormap_256_red_lime();
    expect_bytes(r[0], 255, 0, 0);
    expect_bytes(r[255], 0, 255, 0);
    const lumo::color_pair p = lumo::color_pair_black_red();
    expect_bytes(p.first, 0, 0, 0);
    expect_bytes(p.second, 255, 0, 0);
    expect_bytes(lumo::colormap_256_black_lime()[255], 0, 255, 0);
    expect_bytes(lumo::colormap_256_black_blue()[1], 0, 0, 1);
}

TEST(Color, HsvToRgbSectors) {
    lumo::array<double> in(3), out(3);
    auto hsv = [&](double h, double s, double v) {
        in[0] = h;
        in[1] = s;
        in[2] = v;
        lumo::hsv_to_rgb(in, out);
    };
    hsv(0.3, 0.0, 0.7);
    EXPECT_EQ(out[0], 0.7);
    EXPECT_EQ(out[1], 0.7);
    EXPECT_EQ(out[2], 0.7);
    hsv(0, 1, 1);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 0);
    EXPECT_EQ(out[2], 1);
    hsv(0.25, 1, 1);
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(out[1], 0.5);
    EXPECT_EQ(out[2], 0);
    hsv(1.0, 1, 1);  // k = 6 behaves as sector 0
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[2], 1);
    hsv(0.75, 1, 1);  // sector 4: (ch, 0, X)
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(out[1], 0);
    EXPECT_EQ(out[2], 0.5);
}

TEST(ColorDeath, HsvNeedsThreeInputs) {
    lumo::array<double> in(2), out(3);
    EXPECT_DEATH(lumo::hsv_to_rgb(in, out), "offset >= 0 && offset < length\\(\\)");
}

TEST(Color, RandomColourDrawsSaturationThenHue) {
    std::srand(1234);
    const double a = std::rand() * 1.0 / 2147483647.0;
    const double b = std::rand() * 1.0 / 2147483647.0;
    lumo::array<double> in(3), e(3);
    in[0] = b;
    in[1] = a;
    in[2] = 1.0;
    lumo::hsv_to_rgb(in, e);
    std::srand(1234);
    const lumo::color<unsigned char> c = lumo::random_color<unsigned char>();
    for (size_t k = 0; k < 3; ++k) EXPECT_EQ(c[k], static_cast<unsigned char>(e[k] * 255.0));
    std::srand(1234);
    const lumo::color<double> d = lumo::random_color<double>();
    for (size_t k = 0; k < 3; ++k) EXPECT_EQ(d[k], e[k]);
}

TEST(Color, RandBelowMasksAndRedraws) {
    std::srand(99);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(lumo::rand_below(1), 0u);
    // n = 5 masks with 7 and redraws 5, 6, 7.
    std::srand(7);
    std::vector<size_t> expected;
    for (int i = 0; i < 200; ++i) {
        size_t r;
        do r = static_cast<size_t>(std::rand()) & 7; while (r >= 5);
        expected.push_back(r);
    }
    std::srand(7);
    for (size_t e : expected) EXPECT_EQ(lumo::rand_below(5), e);
    // Beyond 2^31 the mask stays full and every draw is accepted.
    std::srand(3);
    const size_t first = static_cast<size_t>(std::rand());
    std::srand(3);
    EXPECT_EQ(lumo::rand_below(size_t(1) << 40), first);
}

TEST(Color, UniformAndAbsDiff) {
    std::srand(5);
    const int r = std::rand();
    std::srand(5);
    EXPECT_EQ(lumo::rand_uniform(2.0), r * 2.0 / 2147483647.0);
    std::srand(5);
    EXPECT_EQ(lumo::rand_int(), r);
    EXPECT_EQ(lumo::abs_diff(size_t(3), size_t(10)), 7u);
    EXPECT_EQ(lumo::abs_diff(size_t(10), size_t(3)), 7u);
    EXPECT_EQ(lumo::abs_diff(static_cast<unsigned char>(2), static_cast<unsigned char>(250)), 248);
}
