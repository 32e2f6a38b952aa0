// Drawing of results onto colour canvases.
#include "app/render.hpp"

#include <algorithm>
#include <cmath>

#include <lumo/details/array/element_functions>
#include <lumo/details/image/bridge.hpp>
#include <lumo/details/image/drawing.hpp>
#include <lumo/details/image/image_functions.hpp>
#include <lumo/details/image/overlay.hpp>

namespace lumo::zarn {

namespace {

using byte = unsigned char;

// Backgrounds read as three channels of pixel i.
struct gray_background {
    const byte* p;
    void at(size_t i, byte b[3]) const { b[0] = b[1] = b[2] = p[i]; }
};
struct color_background {
    const byte* p;
    size_t n;
    void at(size_t i, byte b[3]) const {
        b[0] = p[i];
        b[1] = p[i + n];
        b[2] = p[i + 2 * n];
    }
};

struct fixed_source {
    byte c[3];
    const byte* at(size_t) const { return c; }
};

// Entry layer * 255 in the layer's precision, truncated. Values outside
// [0, 1] (or a NaN) would index outside the map: they are held to 0..255.
template <typename L>
size_t palette_index(L v) {
    const L x = v * static_cast<L>(255);
    if (!(x > 0)) return 0;
    if (x >= static_cast<L>(255)) return 255;
    return static_cast<size_t>(x);
}

template <typename L>
struct palette_source {
    const L* layer;
    const lumo::palette& pal;
    const byte* at(size_t i) const { return pal[palette_index(layer[i])].data(); }
};

void check_covers(size_t length, size_t n) {
    LUMO_CHECK(length >= n, "offset >= 0 && offset < length()");
}

// One pass over the canvas: unmarked pixels take the background, marked
// ones the source colour, opaquely or at opacity mask / 255.
template <typename Bg, typename Src>
void paint(lumo::image<byte>& canvas, const Bg& bg, const lumo::array_2d<byte>& mask, const Src& src,
           bool binary) {
    const size_t n = canvas.size(0) * canvas.size(1);
    check_covers(canvas.length(), 3 * n);
    check_covers(mask.length(), n);
    byte* o = canvas.raw();
    const byte* m = mask.raw();
    for (size_t i = 0; i < n; ++i) {
        byte b[3];
        bg.at(i, b);
        if (m[i] == 0) {
            for (size_t k = 0; k < 3; ++k) o[i + k * n] = b[k];
        } else if (binary) {
            const byte* c = src.at(i);
            for (size_t k = 0; k < 3; ++k) o[i + k * n] = c[k];
        } else {
            const double a = m[i] / 255.0;
            const byte* c = src.at(i);
            for (size_t k = 0; k < 3; ++k) o[i + k * n] = static_cast<byte>(c[k] * a + b[k] * (1 - a));
        }
    }
}

// Sizes the canvas from the background and hands the pass a reader of it.
template <typename F>
void with_background(lumo::image<byte>& canvas, const lumo::array_2d<byte>& bg, F pass) {
    canvas.resize_rgb(bg.size());
    pass(gray_background{bg.raw()});
}
template <typename F>
void with_background(lumo::image<byte>& canvas, const lumo::image<byte>& bg, F pass) {
    canvas.resize_like(bg);
    const size_t n = canvas.size(0) * canvas.size(1);
    check_covers(bg.length(), 3 * n);
    pass(color_background{bg.raw(), n});
}

template <typename Bg>
void paint_color_any(lumo::image<byte>& canvas, const Bg& background, const lumo::array_2d<byte>& mask,
                     const lumo::color<byte>& colour, bool binary) {
    const fixed_source src{{colour[0], colour[1], colour[2]}};
    with_background(canvas, background, [&](const auto& bg) { paint(canvas, bg, mask, src, binary); });
}

template <typename Bg, typename L>
void paint_palette_any(lumo::image<byte>& canvas, const Bg& background, const lumo::array_2d<byte>& mask,
                       const lumo::array_2d<L>& layer, const lumo::palette& pal, bool binary) {
    with_background(canvas, background, [&](const auto& bg) {
        check_covers(layer.length(), canvas.size(0) * canvas.size(1));
        paint(canvas, bg, mask, palette_source<L>{layer.raw(), pal}, binary);
    });
}

// Medial axis over either background; the marker may be scaled in place.
template <typename T, typename Bg>
void draw_medial_any(image_set<T>& set, const options<T>& opts, lumo::image<byte>& canvas,
                     const Bg& background, bool primal, T weight) {
    lumo::array_2d<byte>& mask = primal ? set.medial : set.dual_medial;
    const lumo::array_2d<T>& dist = primal ? set.distance : set.dual_distance;
    const lumo::array_2d<T>& residue = primal ? set.residue : set.dual_residue;
    const bool binary = opts.medial.marker != 2 && weight == T(1);
    if (!(weight == T(1))) lumo::scale(mask, mask, weight);
    auto colour_map = [primal] {
        return primal ? lumo::colormap_256_cyan_blue() : lumo::colormap_256_red_lime();
    };
    if (opts.medial.times_distance)
        paint_palette(canvas, background, mask, dist, colour_map(), binary);
    else if (opts.medial.times_residue)
        paint_palette(canvas, background, mask, residue, colour_map(), binary);
    else
        paint_color(canvas, background, mask, primal ? lumo::color_blue() : lumo::color_lime(), binary);
}

// Weight of the coloured interiors over the picture.
template <typename T>
T interior_weight(const options<T>& opts) {
    if (opts.commands.partition && opts.program.overlay == 0) return opts.partition.style == 1 ? T(0.8) : T(0.5);
    return opts.program.weighted && opts.program.overlay != 2 ? T(0.2) : T(0.4);
}

}  // namespace

void paint_color(lumo::image<byte>& canvas, const lumo::array_2d<byte>& background,
                 const lumo::array_2d<byte>& mask, const lumo::color<byte>& colour, bool binary) {
    paint_color_any(canvas, background, mask, colour, binary);
}
void paint_color(lumo::image<byte>& canvas, const lumo::image<byte>& background,
                 const lumo::array_2d<byte>& mask, const lumo::color<byte>& colour, bool binary) {
    paint_color_any(canvas, background, mask, colour, binary);
}

template <typename L>
void paint_palette(lumo::image<byte>& canvas, const lumo::array_2d<byte>& background,
                   const lumo::array_2d<byte>& mask, const lumo::array_2d<L>& layer,
                   const lumo::palette& palette, bool binary) {
    paint_palette_any(canvas, background, mask, layer, palette, binary);
}
template <typename L>
void paint_palette(lumo::image<byte>& canvas, const lumo::image<byte>& background,
                   const lumo::array_2d<byte>& mask, const lumo::array_2d<L>& layer,
                   const lumo::palette& palette, bool binary) {
    paint_palette_any(canvas, background, mask, layer, palette, binary);
}

template <typename T>
void draw_medial(image_set<T>& set, const options<T>& opts, lumo::image<byte>& canvas,
                 const lumo::array_2d<byte>& background, bool primal, T weight) {
    draw_medial_any(set, opts, canvas, background, primal, weight);
}

template <typename T>
void draw_medial_under(image_set<T>& set, const options<T>& opts, lumo::image<byte>& canvas,
                       const lumo::image<byte>& background, bool primal, T weight) {
    draw_medial_any(set, opts, canvas, background, primal, weight);
}

template <typename T>
void draw_partition(image_set<T>& set, const options<T>& opts, lumo::image<byte>& canvas,
                    const lumo::array_2d<byte>& background, T w1, T w2) {
    lumo::gray_to_rgb(background, canvas);
    draw_fine_partition(set, opts, canvas, canvas, w1, w2);
}

// Everything is drawn on the canvas, which first takes the background's
// pixels; the background itself is left as it is.
template <typename T>
void draw_fine_partition(image_set<T>& set, const options<T>& opts, lumo::image<byte>& canvas,
                         const lumo::image<byte>& background, T w1, T w2) {
    if (&canvas != &background) canvas = background;
    if (opts.partition.interiors()) {
        lumo::image<byte> layer;
        render_partition(layer, set.labels);
        lumo::compose_overlay(canvas, canvas, layer, false, interior_weight(opts));
    }
    if (opts.partition.show_medial && medial_drawable(set, opts, true, set.labels))
        draw_medial_under(set, opts, canvas, canvas, true, std::min(w1, w2));
    if (opts.partition.boundaries()) {
        lumo::array_2d<byte> mask;
        lumo::label_boundaries(set.labels, mask);
        if (w1 != T(1)) lumo::scale(mask, mask, w1);
        paint_color(canvas, canvas, mask, lumo::color_lime(), w1 == T(1));
    }
}

void render_partition(lumo::image<byte>& out, const lumo::array_2d<size_t>& labels) {
    const size_t n = labels.length();
    const size_t* l = labels.raw();
    // Largest label, leaving out "no component".
    bool any = false;
    size_t m = 0;
    for (size_t i = 0; i < n; ++i)
        if (l[i] != size_max && (!any || l[i] > m)) {
            m = l[i];
            any = true;
        }
    lumo::palette pal(any ? m + 1 : 0);
    for (size_t k = 0; k < pal.length(); ++k) {
        const lumo::color<byte> c = lumo::random_color<byte>();
        for (size_t j = 0; j < 3; ++j) pal[k][j] = c[j];
    }
    out.resize(labels.size(0), labels.size(1), 3);
    byte* o = out.raw();
    for (size_t i = 0; i < n; ++i) {
        if (l[i] == size_max) {
            o[i] = o[i + n] = o[i + 2 * n] = 0;
            continue;
        }
        const byte* c = pal[l[i]].data();
        for (size_t k = 0; k < 3; ++k) o[i + k * n] = c[k];
    }
}

void overlay_input(const lumo::array_2d<byte>& input, lumo::image<byte>& canvas) {
    paint_color(canvas, canvas, input, lumo::color_white(), true);
}

template <typename T>
void draw_box(lumo::image<byte>& im, const lumo::color<byte>& colour, int width, T x0, T y0, T a, T b,
              T theta) {
    const T c = std::cos(theta), s = std::sin(theta);
    lumo::array<lumo::coord<T>> corners(4);
    corners[0] = {x0 + a * c + b * s, y0 - a * s + b * c};
    corners[1] = {x0 - a * c + b * s, y0 + a * s + b * c};
    corners[2] = {x0 - a * c - b * s, y0 + a * s - b * c};
    corners[3] = {x0 + a * c - b * s, y0 - a * s - b * c};
    // A degenerate feature (infinite or NaN entries) has no box to draw.
    for (const lumo::coord<T>& p : corners)
        if (!std::isfinite(p.x) || !std::isfinite(p.y)) return;
    lumo::draw_polyline(im, corners, colour, width, true);
}

template <typename T>
void draw_feature(lumo::image<byte>& im, const feature_type<T>& f, const lumo::color<byte>& colour) {
    draw_box(im, colour, 2, f.x, f.y, f.major, f.minor, f.angle);
}

template <typename T>
void draw_features(lumo::image<byte>& canvas, const lumo::image<byte>& background,
                   const feature_set<T>& features) {
    const size_t rows = background.size(0), cols = background.size(1);
    lumo::image<byte> boxes;
    boxes.resize(rows, cols, 1, 0);
    const lumo::color<byte> full(255, 255, 255);
    for (size_t k = 0; k < features.count; ++k) draw_feature(boxes, features.records[k], full);
    lumo::array_2d<byte> mask(rows, cols);
    std::copy(boxes.raw(), boxes.raw() + rows * cols, mask.raw());
    paint_color(canvas, background, mask, lumo::color_magenta(), false);
}

template void paint_palette<float>(lumo::image<byte>&, const lumo::array_2d<byte>&,
                                   const lumo::array_2d<byte>&, const lumo::array_2d<float>&,
                                   const lumo::palette&, bool);
template void paint_palette<double>(lumo::image<byte>&, const lumo::array_2d<byte>&,
                                    const lumo::array_2d<byte>&, const lumo::array_2d<double>&,
                                    const lumo::palette&, bool);
template void paint_palette<float>(lumo::image<byte>&, const lumo::image<byte>&,
                                   const lumo::array_2d<byte>&, const lumo::array_2d<float>&,
                                   const lumo::palette&, bool);
template void paint_palette<double>(lumo::image<byte>&, const lumo::image<byte>&,
                                    const lumo::array_2d<byte>&, const lumo::array_2d<double>&,
                                    const lumo::palette&, bool);
template void draw_medial<double>(image_set<double>&, const options<double>&, lumo::image<byte>&,
                                  const lumo::array_2d<byte>&, bool, double);
template void draw_medial_under<double>(image_set<double>&, const options<double>&, lumo::image<byte>&,
                                        const lumo::image<byte>&, bool, double);
template void draw_partition<double>(image_set<double>&, const options<double>&, lumo::image<byte>&,
                                     const lumo::array_2d<byte>&, double, double);
template void draw_fine_partition<double>(image_set<double>&, const options<double>&,
                                          lumo::image<byte>&, const lumo::image<byte>&, double, double);
template void draw_box<double>(lumo::image<byte>&, const lumo::color<byte>&, int, double, double,
                               double, double, double);
template void draw_feature<double>(lumo::image<byte>&, const feature_type<double>&,
                                   const lumo::color<byte>&);
template void draw_features<double>(lumo::image<byte>&, const lumo::image<byte>&,
                                    const feature_set<double>&);

}  // namespace lumo::zarn
