// Antialiased drawing: one primitive fills a convex quadrilateral, blending
// the colour into each pixel by the part of the pixel it covers; thick lines
// and polylines are built on it.
//
// Pixel (i, j) is the unit square centred on its indices; a point's x runs
// along the image's first dimension, y along the second.
#ifndef LUMO_DETAILS_IMAGE_DRAWING_HPP
#define LUMO_DETAILS_IMAGE_DRAWING_HPP

#include <cmath>

#include <lumo/details/array/array>
#include <lumo/details/array/element_functions>
#include <lumo/details/array_2d/array_2d>
#include <lumo/details/image/color.hpp>

namespace lumo {

template <typename T>
struct point {
    T x;
    T y;
};

// A polyline coordinate: x along the image's second dimension, y the first.
template <typename T>
struct coord {
    T x;
    T y;
};

namespace image_details {

using pt = point<double>;

// q and r seen from p turn clockwise (or are collinear).
inline bool cw(const pt& p, const pt& q, const pt& r) {
    return (q.x - p.x) * (r.y - p.y) >= (q.y - p.y) * (r.x - p.x);
}

// Points on an edge count as inside.
inline bool inside(const pt& a, const pt& b, const pt& c, const pt& d, const pt& p) {
    return cw(a, b, p) && cw(b, c, p) && cw(c, d, p) && cw(d, a, p);
}

// Signed side of r against the line p-q.
inline double side(const pt& p, const pt& q, const pt& r) {
    return (q.x - p.x) * (r.y - p.y) - (q.y - p.y) * (r.x - p.x);
}

// Each segment's ends lie strictly on opposite sides of the other's line.
inline bool segments_cross(const pt& p1, const pt& p2, const pt& q1, const pt& q2) {
    const double s1 = side(q1, q2, p1), s2 = side(q1, q2, p2);
    const double s3 = side(p1, p2, q1), s4 = side(p1, p2, q2);
    return ((s1 > 0 && s2 < 0) || (s1 < 0 && s2 > 0)) && ((s3 > 0 && s4 < 0) || (s3 < 0 && s4 > 0));
}

inline array<double> four(double a, double b, double c, double d) {
    array<double> r(4);
    r[0] = a;
    r[1] = b;
    r[2] = c;
    r[3] = d;
    return r;
}

// Index range [lo, hi] of the pixels within one of the bounding box, clamped
// to [0, extent - 1]; false when empty. Kept in double so that far-away
// corners cannot overflow the integer conversion.
inline bool pixel_range(const array<double>& v, size_t extent, size_t& lo, size_t& hi) {
    if (extent == 0) return false;
    const double l = std::fmax(0.0, std::trunc(min(v)) - 1);
    const double h = std::fmin(static_cast<double>(extent - 1), std::trunc(max(v)) + 1);
    if (!(l <= h)) return false;
    lo = static_cast<size_t>(l);
    hi = static_cast<size_t>(h);
    return true;
}

// Fills the convex quadrilateral a, b, c, d into every channel of the image,
// full pixels at opacity alpha and border pixels by n x n samples.
template <typename T, typename D>
void AA_quad(image<T, D>& im, pt a, pt b, pt c, pt d, const color<T>& col, int n, double alpha) {
    if (!cw(a, b, c)) std::swap(b, d);
    LUMO_CHECK(cw(a, b, c), "cw(a, b, c)");
    LUMO_CHECK(cw(b, c, d), "cw(b, c, d)");
    LUMO_CHECK(cw(c, d, a), "cw(c, d, a)");

    const size_t channels = im.dimensions() > 2 ? im.size(2) : 1;
    array<double> cr(channels);
    for (size_t k = 0; k < channels; ++k) cr[k] = static_cast<double>(col[k]);

    size_t i0, i1, j0, j1;
    if (!pixel_range(four(a.x, b.x, c.x, d.x), im.size(0), i0, i1)) return;
    if (!pixel_range(four(a.y, b.y, c.y, d.y), im.size(1), j0, j1)) return;

    const size_t rows = im.size(0);
    const size_t plane = rows * im.size(1);
    const double step = 1.0 / (n + 1);
    const double sample_weight = n < 1 ? 0.0 : alpha / (static_cast<double>(n) * n);

    // Blends with coverage t into every channel of pixel p.
    auto blend = [&](size_t p, double t) {
        for (size_t k = 0; k < channels; ++k) {
            T& e = im[p + k * plane];
            e = static_cast<T>(static_cast<double>(e) * (1 - t) + cr[k] * t);
        }
    };

    for (size_t i = i0; i <= i1; ++i) {
        for (size_t j = j0; j <= j1; ++j) {
            const double x = static_cast<double>(i), y = static_cast<double>(j);
            const pt sq[4] = {{x - 0.5, y - 0.5}, {x + 0.5, y - 0.5}, {x + 0.5, y + 0.5}, {x - 0.5, y + 0.5}};
            int corners_in = 0;
            for (const pt& s : sq) corners_in += inside(a, b, c, d, s);
            const size_t p = i + rows * j;
            if (corners_in == 4) {
                if (alpha == 1.0) {
                    for (size_t k = 0; k < channels; ++k) im[p + k * plane] = col[k];
                } else {
                    blend(p, alpha);
                }
                continue;
            }
            bool touched = corners_in > 0;
            const pt quad[4] = {a, b, c, d};
            for (int e = 0; e < 4 && !touched; ++e)
                for (int f = 0; f < 4 && !touched; ++f)
                    touched = segments_cross(quad[e], quad[(e + 1) % 4], sq[f], sq[(f + 1) % 4]);
            if (!touched) continue;
            double cov = 0;
            for (int u = 0; u < n; ++u)
                for (int v = 0; v < n; ++v)
                    if (inside(a, b, c, d, {x - 0.5 + (u + 1) * step, y - 0.5 + (v + 1) * step}))
                        cov += sample_weight;
            blend(p, cov);
        }
    }
}

}  // namespace image_details

// A segment of the given width from p to q, as a quadrilateral sampled 8 x 8.
template <typename T, typename D>
image<T, D>& draw_thick_line(image<T, D>& im, const color<T>& col, double px, double py, double qx,
                             double qy, double width, double alpha) {
    // atan2 takes the x difference first: the offset is perpendicular to q - p.
    const double theta = std::atan2(qx - px, qy - py) + 1.5707963267948966;
    const double h = width * 0.5;
    const double ox = h * std::sin(theta), oy = h * std::cos(theta);
    image_details::AA_quad(im, {px + ox, py + oy}, {qx + ox, qy + oy}, {qx - ox, qy - oy},
                           {px - ox, py - oy}, col, 8, alpha);
    return im;
}

// Thick segments between consecutive coordinates, each (x, y) drawn at the
// point (y, x); closed adds the segment from the last back to the first.
template <typename T, typename D, typename C>
void draw_polyline(image<T, D>& im, const array<coord<C>>& cs, const color<T>& col, int width,
                   bool closed) {
    const size_t m = cs.length();
    const double w = static_cast<double>(width);
    for (size_t k = 0; k + 1 < m; ++k)
        draw_thick_line(im, col, cs[k].y, cs[k].x, cs[k + 1].y, cs[k + 1].x, w, 1.0);
    if (closed && m >= 1) draw_thick_line(im, col, cs[m - 1].y, cs[m - 1].x, cs[0].y, cs[0].x, w, 1.0);
}

}  // namespace lumo

#endif
