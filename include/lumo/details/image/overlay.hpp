// Composition of a colour layer over a gray or colour base into a three-plane
// output. A layer has three colour planes and optionally a fourth that marks
// where it applies or how opaque it is. Pixels the layer does not apply to
// take the base; blended channels are trunc(b (1 - t) + s t) in double. The
// output may be the base itself: each pixel is read before it is written.
#ifndef LUMO_DETAILS_IMAGE_OVERLAY_HPP
#define LUMO_DETAILS_IMAGE_OVERLAY_HPP

#include <lumo/details/array/array>
#include <lumo/details/array_2d/array_2d>
#include <lumo/details/image/color.hpp>

namespace lumo {

namespace image_details {

inline size_t planes_of(const image<unsigned char>& im) { return im.dimensions() > 2 ? im.size(2) : 1; }

inline unsigned char blend_byte(double b, double s, double t) {
    return static_cast<unsigned char>(b * (1 - t) + s * t);
}

// Reads base pixel i as three channels: a gray value repeated, or the planes
// of a colour image.
struct gray_base {
    const array_2d<unsigned char>& im;
    unsigned char at(size_t i, size_t, size_t) const { return im[i]; }
};
struct color_base {
    const image<unsigned char>& im;
    unsigned char at(size_t i, size_t k, size_t n) const { return im[i + k * n]; }
};

inline void size_output(image<unsigned char>& out, const array_2d<unsigned char>& base) {
    out.resize_rgb(base.size());
}
inline void size_output(image<unsigned char>& out, const image<unsigned char>& base) {
    out.resize_like(base);
}

// One pass: pixels for which opacity(i, t) is false keep the base; the
// others take colour(i, k) blended at opacity t.
template <typename Base, typename Opacity, typename Colour>
void compose(image<unsigned char>& out, const Base& base, size_t n, Opacity opacity, Colour colour) {
    for (size_t i = 0; i < n; ++i) {
        double t = 0;
        const bool on = opacity(i, t);
        for (size_t k = 0; k < 3; ++k) {
            const unsigned char b = base.at(i, k, n);
            out[i + k * n] = on ? blend_byte(b, colour(i, k), t) : b;
        }
    }
}

template <typename Base, typename Opacity, typename Colour>
void compose_opaque(image<unsigned char>& out, const Base& base, size_t n, Opacity applies,
                    Colour colour) {
    for (size_t i = 0; i < n; ++i) {
        const bool on = applies(i);
        for (size_t k = 0; k < 3; ++k) out[i + k * n] = on ? colour(i, k) : base.at(i, k, n);
    }
}

template <typename Base, typename BaseImage, typename W>
void compose_overlay_impl(image<unsigned char>& out, const BaseImage& base_im,
                          const image<unsigned char>& layer, bool mask, W weight) {
    size_output(out, base_im);
    const Base base{base_im};
    const size_t n = out.size(0) * out.size(1);
    const double w = static_cast<double>(weight);
    const size_t n3 = 3 * n;
    auto layer_colour = [&](size_t i, size_t k) { return static_cast<double>(layer[i + k * n]); };
    if (planes_of(layer) < 4) {
        compose(
            out, base, n,
            [w](size_t, double& t) {
                t = w;
                return true;
            },
            layer_colour);
    } else if (mask) {
        compose(
            out, base, n,
            [&](size_t i, double& t) {
                t = w;
                return layer[i + n3] != 0;
            },
            layer_colour);
    } else {
        compose(out, base, n,
                [&](size_t i, double& t) {
                    const unsigned char m = layer[i + n3];
                    t = m * w / 255.0;
                    return m != 0;
                },
                layer_colour);
    }
}

}  // namespace image_details

// The layer over the base at weight w: a three-plane layer everywhere; a
// four-plane layer where plane 3 is non-zero, at w (mask set) or at
// plane3 * w / 255 (mask clear).
template <typename W>
void compose_overlay(image<unsigned char>& out, const image<unsigned char>& base,
                     const image<unsigned char>& layer, bool mask, W w) {
    image_details::compose_overlay_impl<image_details::color_base>(out, base, layer, mask, w);
}
template <typename W>
void compose_overlay(image<unsigned char>& out, const array_2d<unsigned char>& base,
                     const image<unsigned char>& layer, bool mask, W w) {
    image_details::compose_overlay_impl<image_details::gray_base>(out, base, layer, mask, w);
}

// A four-plane layer decides by its plane 3: opaque copies the layer where it
// is non-zero, otherwise it blends at plane3 / 255.
inline void overlay_image(image<unsigned char>& out, const image<unsigned char>& base,
                          const image<unsigned char>& layer, bool opaque) {
    out.resize_like(base);
    const image_details::color_base b{base};
    const size_t n = out.size(0) * out.size(1);
    const size_t n3 = 3 * n;
    if (opaque) {
        image_details::compose_opaque(out, b, n, [&](size_t i) { return layer[i + n3] != 0; },
                                      [&](size_t i, size_t k) { return layer[i + k * n]; });
    } else {
        image_details::compose(
            out, b, n,
            [&](size_t i, double& t) {
                const unsigned char m = layer[i + n3];
                t = m / 255.0;
                return m != 0;
            },
            [&](size_t i, size_t k) { return static_cast<double>(layer[i + k * n]); });
    }
}

// One colour through a mask: opaque takes the colour where the mask is
// non-zero, otherwise it blends at mask * alpha / 255.
template <typename A>
void overlay_image(image<unsigned char>& out, const image<unsigned char>& base,
                   const array_2d<unsigned char>& mask, const color<unsigned char>& col, bool opaque,
                   A alpha) {
    out.resize_like(base);
    const image_details::color_base b{base};
    const size_t n = out.size(0) * out.size(1);
    const unsigned char c[3] = {col[0], col[1], col[2]};
    if (opaque) {
        image_details::compose_opaque(out, b, n, [&](size_t i) { return mask[i] != 0; },
                                      [&](size_t, size_t k) { return c[k]; });
    } else {
        const double a = static_cast<double>(alpha);
        image_details::compose(
            out, b, n,
            [&](size_t i, double& t) {
                const unsigned char m = mask[i];
                t = m * a / 255.0;
                return m != 0;
            },
            [&](size_t, size_t k) { return static_cast<double>(c[k]); });
    }
}

}  // namespace lumo

#endif
