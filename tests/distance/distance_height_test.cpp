#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "distance/height.hpp"
#include "distance_support.hpp"

namespace {

using lumo::zarn::gauss_weights;
using lumo::zarn::height_parameters;
constexpr double inf = std::numeric_limits<double>::infinity();

lumo::array_2d<unsigned char> random_bytes(size_t w, size_t h, unsigned seed) {
    std::mt19937 rng(seed);
    lumo::array_2d<unsigned char> a(w, h);
    for (size_t i = 0; i < a.length(); ++i) a[i] = static_cast<unsigned char>(rng() & 255);
    return a;
}

TEST(DistanceHeight, WeightsForTheUsualScales) {
    const gauss_weights<double> half(0.5);
    EXPECT_NEAR(half.w1, 0.135335, 1e-6);
    EXPECT_NEAR(half.w2, 0.000335463, 1e-9);
    EXPECT_NEAR(2 * half.w1 * half.w1 * half.w1, 0.00495750, 1e-8);
    const double norm = 1 + 2 * (half.w1 + half.w2);
    EXPECT_NEAR(1 / norm, 0.786571, 1e-6);
    EXPECT_NEAR(half.w1 / norm, 0.106451, 1e-6);
    EXPECT_NEAR(half.w2 / norm, 0.000264, 1e-6);
    EXPECT_NEAR(gauss_weights<double>(1.0).w1, std::exp(-0.5), 1e-15);
    EXPECT_EQ(gauss_weights<double>(0.0).w1, 0.0);
}

// Sigma 0: smoothing is the identity and the gradient the plain central
// difference; the frame of width 2 is 0.
TEST(DistanceHeight, ZeroScaleGivesCentralDifferences) {
    const size_t w = 9, h = 7;
    const auto bytes = random_bytes(w, h, 3);
    lumo::array_2d<double> s;
    lumo::bytes_to_unit(bytes, s);
    const lumo::array_2d<double> original = s;
    lumo::zarn::gauss_smooth5(s, 0.0);
    for (size_t y = 2; y + 2 < h; ++y)
        for (size_t x = 2; x + 2 < w; ++x) EXPECT_EQ(s(x, y), original(x, y));
    EXPECT_EQ(s(0, 3), original(2, 3));
    EXPECT_EQ(s(4, h - 1), original(4, h - 3));
    const lumo::array_2d<double> smoothed = s;
    lumo::array_2d<double> g;
    lumo::zarn::gradient_sq5(s, g, 0.0);
    for (size_t y = 0; y < h; ++y)
        for (size_t x = 0; x < w; ++x) {
            if (x < 2 || y < 2 || x + 2 >= w || y + 2 >= h) {
                EXPECT_EQ(g(x, y), 0.0);
                continue;
            }
            const double gx = smoothed(x + 1, y) - smoothed(x - 1, y);
            const double gy = smoothed(x, y + 1) - smoothed(x, y - 1);
            EXPECT_DOUBLE_EQ(g(x, y), gx * gx + gy * gy);
        }
}

// The smoothed frame repeats the nearest interior row and column.
TEST(DistanceHeight, SmoothingRepeatsTheNearestInteriorValues) {
    const size_t w = 8, h = 9;
    lumo::array_2d<double> s;
    lumo::bytes_to_unit(random_bytes(w, h, 5), s);
    const lumo::array_2d<double> original = s;
    lumo::zarn::gauss_smooth5(s, 0.5);
    const gauss_weights<double> g(0.5);
    const double n = 1 + 2 * (g.w1 + g.w2);
    auto along_y = [&](size_t x, size_t y) {
        return (original(x, y) + g.w1 * (original(x, y - 1) + original(x, y + 1)) +
                g.w2 * (original(x, y - 2) + original(x, y + 2))) / n;
    };
    const size_t x = 3, y = 4;
    const double expect = (along_y(x, y) + g.w1 * (along_y(x - 1, y) + along_y(x + 1, y)) +
                           g.w2 * (along_y(x - 2, y) + along_y(x + 2, y))) / n;
    EXPECT_NEAR(s(x, y), expect, 1e-12);
    EXPECT_EQ(s(0, 0), s(2, 2));
    EXPECT_EQ(s(w - 1, h - 1), s(w - 3, h - 3));
    EXPECT_EQ(s(1, 5), s(2, 5));
    EXPECT_EQ(s(4, 0), s(4, 2));
    EXPECT_EQ(s(4, h - 2), s(4, h - 3));
}

TEST(DistanceHeight, HeightsAreShiftedInverseRootsWithAnInfiniteFrame) {
    const size_t w = 12, h = 10;
    const auto bytes = random_bytes(w, h, 7);
    height_parameters<double> p;
    lumo::array_2d<double> g;
    lumo::zarn::squared_gradient(bytes, p, g);
    const double k = lumo::zarn::height_scale(g, p.height_factor);
    double mean = 0;
    for (size_t i = 0; i < g.length(); ++i) mean += g[i];
    EXPECT_DOUBLE_EQ(k, 324 * (mean / g.length()));
    const lumo::array_2d<double> before = g;
    lumo::zarn::heights_from_gradient(g, k);
    size_t largest = 0;
    for (size_t i = 1; i < g.length(); ++i)
        if (before[i] > before[largest]) largest = i;
    EXPECT_EQ(g[largest], 0.0);
    for (size_t y = 0; y < h; ++y)
        for (size_t x = 0; x < w; ++x) {
            const double v = g(x, y);
            if (x < 2 || y < 2 || x + 2 >= w || y + 2 >= h)
                EXPECT_EQ(v, inf);
            else
                EXPECT_GE(v, 0.0);
        }
    lumo::array_2d<double> view;
    lumo::zarn::normalised_gradient(before, k, view);
    EXPECT_EQ(view[0], 0.0);
    for (size_t i = 0; i < view.length(); ++i)
        EXPECT_EQ(view[i], before[i] >= k ? 1.0 : std::sqrt(before[i] / k));
}

// Without the gradient the heights fall as the intensity rises; black is +inf.
TEST(DistanceHeight, IntensityHeights) {
    lumo::array_2d<unsigned char> bytes(6, 6);
    for (size_t i = 0; i < bytes.length(); ++i) bytes[i] = static_cast<unsigned char>(i * 7);
    height_parameters<double> p;
    p.gradient = false;
    lumo::array_2d<double> g;
    lumo::zarn::squared_gradient(bytes, p, g);
    EXPECT_DOUBLE_EQ(g[10], (70.0 / 255) * (70.0 / 255));
    lumo::zarn::heights_from_gradient(g, lumo::zarn::height_scale(g, p.height_factor));
    EXPECT_EQ(g[0], inf);
    EXPECT_EQ(g[35], 0.0);
    for (size_t i = 2; i < g.length(); ++i) EXPECT_LT(g[i], g[i - 1]);
}

// K = 0 would give 0/0 everywhere: heights are 0 inside, +inf on the frame.
TEST(DistanceHeight, ZeroScaleGivesFlatHeights) {
    for (double k : {0.0, inf, std::numeric_limits<double>::quiet_NaN()}) {
        lumo::array_2d<double> g;
        g.resize(7, 6, 0.0);
        lumo::zarn::heights_from_gradient(g, k);
        for (size_t y = 0; y < 6; ++y)
            for (size_t x = 0; x < 7; ++x) {
                const bool frame = x < 2 || y < 2 || x >= 5 || y >= 4;
                EXPECT_EQ(g(x, y), frame ? inf : 0.0) << x << "," << y;
            }
        lumo::array_2d<double> view;
        lumo::zarn::normalised_gradient(g, k, view);
        EXPECT_EQ(view[0], 0.0);
    }
}

// The stage writes the heights into the nodes by linear index.
TEST(DistanceHeight, StageWritesNodeHeights) {
    dist_test::grid_setup s(10, 9, true);
    s.input = random_bytes(10, 9, 11);
    auto t = s.make();
    t->compute_height();
    height_parameters<double> p;
    lumo::array_2d<double> g;
    lumo::zarn::squared_gradient(s.input, p, g);
    lumo::zarn::heights_from_gradient(g, lumo::zarn::height_scale(g, 4.0));
    for (size_t i = 0; i < g.length(); ++i) EXPECT_EQ(s.nodes[i].value, g[i]);
}

}  // namespace
