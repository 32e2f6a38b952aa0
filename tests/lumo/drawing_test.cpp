#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include <lumo/details/image/drawing.hpp>

namespace {

using lumo::point;
using byte = unsigned char;
using pt = point<double>;

lumo::image<byte> blank(size_t rows, size_t cols, size_t channels = 1, byte v = 0) {
    lumo::image<byte> im;
    im.resize(rows, cols, channels, v);
    return im;
}

const lumo::color<byte> white(255, 255, 255);

// Area of the convex polygon clipped to pixel (i, j) (Sutherland-Hodgman).
double covered_area(std::vector<pt> poly, size_t i, size_t j) {
    const double lo[2] = {i - 0.5, j - 0.5}, hi[2] = {i + 0.5, j + 0.5};
    for (int axis = 0; axis < 2; ++axis)
        for (int upper = 0; upper < 2; ++upper) {
            auto coord = [&](const pt& p) { return axis == 0 ? p.x : p.y; };
            auto in = [&](const pt& p) { return upper ? coord(p) <= hi[axis] : coord(p) >= lo[axis]; };
            const double bound = upper ? hi[axis] : lo[axis];
            std::vector<pt> out;
            for (size_t k = 0; k < poly.size(); ++k) {
                const pt& a = poly[k];
                const pt& b = poly[(k + 1) % poly.size()];
                if (in(a)) out.push_back(a);
                if (in(a) != in(b)) {
                    const double t = (bound - coord(a)) / (coord(b) - coord(a));
                    out.push_back({a.x + t * (b.x - a.x), a.y + t * (b.y - a.y)});
                }
            }
            poly = out;
        }
    double area = 0;
    for (size_t k = 0; k < poly.size(); ++k) {
        const pt& a = poly[k];
        const pt& b = poly[(k + 1) % poly.size()];
        area += a.x * b.y - b.x * a.y;
    }
    return std::fabs(area) / 2;
}

}  // namespace

TEST(Drawing, QuadMatchesExactCoverageWithinSampling) {
    // A rotated rectangle: every pixel's coverage against its exact area.
    const double c = std::cos(0.4), s = std::sin(0.4);
    const pt centre{10.3, 9.7};
    auto corner = [&](double u, double v) { return pt{centre.x + u * c - v * s, centre.y + u * s + v * c}; };
    const pt a = corner(6, -3), b = corner(6, 3), cc = corner(-6, 3), d = corner(-6, -3);
    auto im = blank(22, 21);
    lumo::image_details::AA_quad(im, a, b, cc, d, white, 8, 1.0);
    // Orientation of the corner order as the drawing expects it.
    const std::vector<pt> poly = lumo::image_details::cw(a, b, cc) ? std::vector<pt>{a, b, cc, d}
                                                                   : std::vector<pt>{a, d, cc, b};
    double drawn = 0, exact = 0;
    for (size_t i = 0; i < 22; ++i)
        for (size_t j = 0; j < 21; ++j) {
            const double area = covered_area(poly, i, j);
            const double cov = im(i, j) / 255.0;
            drawn += cov;
            exact += area;
            if (area == 1.0) {
                EXPECT_EQ(im(i, j), 255) << i << "," << j;
            }
            if (area == 0.0) {
                EXPECT_EQ(im(i, j), 0) << i << "," << j;
            }
            // 8 x 8 samples resolve an edge to one row or column of samples.
            EXPECT_NEAR(cov, area, 1.0 / 8) << i << "," << j;
        }
    EXPECT_NEAR(drawn, exact, 0.01 * exact);
    EXPECT_NEAR(exact, 72.0, 1e-9);
}

TEST(Drawing, CounterClockwiseOrderDrawsTheSame) {
    const pt a{2.2, 1.3}, b{2.6, 7.9}, c{6.1, 6.4}, d{5.7, 1.8};
    auto one = blank(9, 10), two = blank(9, 10);
    lumo::image_details::AA_quad(one, a, b, c, d, white, 8, 1.0);
    lumo::image_details::AA_quad(two, a, d, c, b, white, 8, 1.0);
    for (size_t i = 0; i < one.length(); ++i) EXPECT_EQ(one[i], two[i]) << i;
}

TEST(Drawing, FullHalfAndUntouchedPixels) {
    // Rows 1 and 2 fully; the edge x = 3.0 splits row 3 through its centre.
    auto im = blank(6, 4, 3, 0);
    lumo::image_details::AA_quad(im, {0.5, -0.5}, {0.5, 3.5}, {3.0, 3.5}, {3.0, -0.5},
                                 lumo::color<byte>(10, 200, 255), 8, 1.0);
    EXPECT_EQ(im(1, 2, 0), 10);
    EXPECT_EQ(im(2, 2, 1), 200);
    EXPECT_EQ(im(2, 2, 2), 255);
    EXPECT_EQ(im(3, 1, 2), 127);  // 32 of 64 samples: 255 * 0.5 truncated
    EXPECT_EQ(im(3, 1, 0), 5);
    EXPECT_EQ(im(4, 1, 2), 0);
    EXPECT_EQ(im(5, 1, 2), 0);

    // Opacity below 1 blends a covered pixel, also on a full one.
    auto op = blank(4, 4, 1, 100);
    lumo::image_details::AA_quad(op, {0.5, 0.5}, {0.5, 2.5}, {2.5, 2.5}, {2.5, 0.5}, white, 8, 0.5);
    EXPECT_EQ(op(1, 1), 177);  // 100 * 0.5 + 255 * 0.5 = 177.5
    EXPECT_EQ(op(3, 3), 100);

    // Strictly inside one pixel, no corner inside and no edge crossed.
    auto in = blank(3, 3, 1, 40);
    lumo::image_details::AA_quad(in, {0.9, 0.9}, {0.9, 1.1}, {1.1, 1.1}, {1.1, 0.9}, white, 8, 1.0);
    for (size_t i = 0; i < in.length(); ++i) EXPECT_EQ(in[i], 40);

    // A pixel crossed by edges without any corner inside is still sampled.
    auto cross = blank(3, 3, 1, 0);
    lumo::image_details::AA_quad(cross, {0.7, -2.0}, {0.7, 4.0}, {1.3, 4.0}, {1.3, -2.0}, white, 8, 1.0);
    EXPECT_EQ(cross(1, 1), static_cast<byte>(255 * (48 / 64.0)));
}

TEST(Drawing, ThickLineCoversItsWidth) {
    auto im = blank(11, 12);
    lumo::draw_thick_line(im, white, 5.0, 2.0, 5.0, 9.0, 2.0, 1.0);
    for (size_t j = 3; j <= 8; ++j) {
        EXPECT_EQ(im(5, j), 255) << j;
        EXPECT_EQ(im(4, j), 127) << j;
        EXPECT_EQ(im(6, j), 127) << j;
        for (size_t i : {0, 1, 2, 3, 7, 8, 9, 10}) EXPECT_EQ(im(i, j), 0) << i << "," << j;
    }
    for (size_t i = 0; i < 11; ++i) EXPECT_EQ(im(i, 0), 0);
}

TEST(Drawing, DegenerateLinesAndPolylines) {
    // Zero length: no area, only samples exactly on the segment could count.
    auto dot = blank(6, 6);
    lumo::draw_thick_line(dot, white, 2.3, 2.3, 2.3, 2.3, 2.0, 1.0);
    for (size_t i = 0; i < dot.length(); ++i) EXPECT_EQ(dot[i], 0);

    auto im = blank(6, 6);
    lumo::array<lumo::coord<double>> none;
    lumo::draw_polyline(im, none, white, 2, true);
    lumo::array<lumo::coord<double>> single(1);
    single[0] = {2.0, 3.0};
    lumo::draw_polyline(im, single, white, 2, false);
    for (size_t i = 0; i < im.length(); ++i) EXPECT_EQ(im[i], 0);
}

TEST(Drawing, PolylineSwapsCoordinatesAndCloses) {
    // Coordinate x is the column: a segment from (x 2, y 5) to (x 9, y 5)
    // runs along row 5.
    auto im = blank(12, 12);
    lumo::array<lumo::coord<float>> cs(2);
    cs[0] = {2.0f, 5.0f};
    cs[1] = {9.0f, 5.0f};
    lumo::draw_polyline(im, cs, white, 2, false);
    EXPECT_EQ(im(5, 6), 255);
    EXPECT_EQ(im(6, 5), 127);
    EXPECT_EQ(im(2, 6), 0);

    // Closed: the segment back to the start is drawn over the first one,
    // so half-covered pixels are blended twice (127, then 127 + 128 * 0.5).
    auto twice = blank(12, 12);
    lumo::draw_polyline(twice, cs, white, 2, true);
    EXPECT_EQ(twice(5, 6), 255);
    EXPECT_EQ(twice(6, 6), 191);
}

TEST(DrawingDeath, NonConvexQuadAborts) {
    auto im = blank(4, 4);
    EXPECT_DEATH(lumo::image_details::AA_quad(im, {1, 0}, {1, 10}, {-1, 10}, {0, 12}, white, 8, 1.0),
                 "cw\\(b, c, d\\)");
    EXPECT_DEATH(lumo::image_details::AA_quad(im, {std::nan(""), 0}, {1, 1}, {2, 2}, {3, 0}, white, 8, 1.0),
                 "cw\\(a, b, c\\)");
}
