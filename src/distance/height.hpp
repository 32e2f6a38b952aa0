// The height function of the weighted distance: 5-tap Gaussian smoothing,
// the squared Gaussian-derivative gradient, and the heights sqrt(K / g)
// shifted so that the smallest is 0.
//
// Arrays are w x h with linear index x + w*y. The passes run over the index
// range [2w, n - 2w) where every tap falls inside the array; the 2-pixel frame
// is repaired afterwards.
#ifndef ZARN_DISTANCE_HEIGHT_HPP
#define ZARN_DISTANCE_HEIGHT_HPP

#include <cmath>
#include <cstddef>
#include <limits>

#include <lumo/details/array/element_functions>
#include <lumo/details/array_2d/array_2d>

namespace lumo::zarn {

// w1 = exp(-(1/sigma)^2 / 2) and w2 = w1^4; sigma 0 gives w1 = 0.
template <typename T>
struct gauss_weights {
    T w1, w2;
    explicit gauss_weights(T sigma) {
        const T inv = T(1) / sigma;
        w1 = std::exp(-(inv * inv) / T(2));
        const T sq = w1 * w1;
        w2 = sq * sq;
    }
};

// Every element within b positions of any side := v.
template <typename T>
void fill_border(lumo::array_2d<T>& a, size_t b, T v) {
    const size_t w = a.size(0), h = a.size(1);
    T* p = a.raw();
    for (size_t y = 0; y < h; ++y, p += w) {
        const bool whole = y < b || y + b >= h;
        for (size_t x = 0; x < w; ++x)
            if (whole || x < b || x + b >= w) p[x] = v;
    }
}

// Rows 0 and 1 := row 2 of src, rows h-2 and h-1 := row h-3 of src.
template <typename T>
void repeat_edge_rows(const T* src, T* dst, size_t w, size_t h) {
    for (size_t x = 0; x < w; ++x) {
        dst[x] = dst[w + x] = src[2 * w + x];
        dst[(h - 2) * w + x] = dst[(h - 1) * w + x] = src[(h - 3) * w + x];
    }
}

// 5-tap separable smoothing of in into out (the stage passes the same array).
template <typename T>
void gauss_smooth5(const lumo::array_2d<T>& in, lumo::array_2d<T>& out, T sigma) {
    const gauss_weights<T> g(sigma);
    const T norm = T(1) + T(2) * (g.w1 + g.w2);
    const T c = T(1) / norm, a1 = g.w1 / norm, a2 = g.w2 / norm;
    const size_t w = in.size(0), h = in.size(1), n = in.length();
    if (&out != &in) out.resize(in.size());
    lumo::array_2d<T> u;
    u.resize(in.size(), T(0));  // the wrapped taps of the frame read defined values
    const T* s = in.raw();
    T* up = u.raw();
    for (size_t i = 2 * w; i < n - 2 * w; ++i)
        up[i] = c * s[i] + a1 * (s[i - w] + s[i + w]) + a2 * (s[i - 2 * w] + s[i + 2 * w]);
    T* o = out.raw();
    for (size_t i = 2 * w; i < n - 2 * w; ++i)
        o[i] = c * up[i] + a1 * (up[i - 1] + up[i + 1]) + a2 * (up[i - 2] + up[i + 2]);
    // The frame of width 2 repeats the nearest smoothed row, then column
    // (read from in, which is out itself in the stage).
    repeat_edge_rows(s, o, w, h);
    for (size_t y = 0; y < h; ++y) {
        const T* r = s + y * w;
        T* q = o + y * w;
        q[0] = q[1] = r[2];
        q[w - 2] = q[w - 1] = r[w - 3];
    }
}

template <typename T>
void gauss_smooth5(lumo::array_2d<T>& a, T sigma) {
    gauss_smooth5(a, a, sigma);
}

// g := squared magnitude of the Gaussian-derivative gradient of s; s is
// overwritten (it receives the y derivative). The frame of width 2 is 0.
template <typename T>
void gradient_sq5(lumo::array_2d<T>& s_in, lumo::array_2d<T>& g_out, T sigma) {
    const gauss_weights<T> wt(sigma);
    const T w1 = wt.w1, w2 = wt.w2, d = T(2) * w1 * w1 * w1;
    const size_t w = s_in.size(0), h = s_in.size(1), n = s_in.length();
    g_out.resize(s_in.size());
    lumo::array_2d<T> dy_a, dx_a;
    dy_a.resize(s_in.size(), T(0));  // the wrapped taps of the frame read defined values
    dx_a.resize(s_in.size(), T(0));
    T* s = s_in.raw();
    T* g = g_out.raw();
    T* dy = dy_a.raw();
    T* dx = dx_a.raw();
    for (size_t i = 2 * w; i < n - 2 * w; ++i) {
        dy[i] = (s[i + w] - s[i - w]) + d * (s[i + 2 * w] - s[i - 2 * w]);
        dx[i] = (s[i + 1] - s[i - 1]) + d * (s[i + 2] - s[i - 2]);
    }
    // The cross-smoothing of dx reaches two rows beyond the range.
    repeat_edge_rows(dx, dx, w, h);
    for (size_t i = 2 * w; i < n - 2 * w; ++i) {
        s[i] = dy[i] + w1 * (dy[i - 1] + dy[i + 1]) + w2 * (dy[i - 2] + dy[i + 2]);
        g[i] = dx[i] + w1 * (dx[i - w] + dx[i + w]) + w2 * (dx[i - 2 * w] + dx[i + 2 * w]);
    }
    for (size_t i = 2 * w; i < n - 2 * w; ++i) g[i] = s[i] * s[i] + g[i] * g[i];
    fill_border(g_out, 2, T(0));
}

// Heights and the normalised gradient from a padded byte image.
template <typename T>
struct height_parameters {
    T height_factor = 4;
    T sigma = 0.5;
    bool gradient = true;
};

// g of the height function: the squared gradient, or with the gradient off
// the squared normalised intensity.
template <typename T>
void squared_gradient(const lumo::array_2d<unsigned char>& input, const height_parameters<T>& p,
                      lumo::array_2d<T>& g) {
    if (p.gradient) {
        lumo::array_2d<T> s;
        lumo::bytes_to_unit(input, s);
        gauss_smooth5(s, p.sigma);
        gradient_sq5(s, g, p.sigma);
    } else {
        lumo::bytes_to_unit(input, g);
        T* q = g.raw();
        for (size_t i = 0, n = g.length(); i < n; ++i) q[i] = q[i] * q[i];
    }
}

// K = (4.5 hf)^2 mean(g): the scale of the heights.
template <typename T>
T height_scale(const lumo::array_2d<T>& g, T height_factor) {
    const T f = T(4.5) * height_factor;
    return (f * f) * lumo::mean(g);
}

// A scale that gives every height 0/0 or inf - inf.
template <typename T>
bool degenerate_scale(T k) {
    return !(k > 0) || !std::isfinite(k);
}

// min(sqrt(g / K), 1) element by element: the gradient view before the
// conversion to bytes. All 0 for a degenerate K.
template <typename T>
void normalised_gradient(const lumo::array_2d<T>& g, T k, lumo::array_2d<T>& v) {
    v.resize(g.size());
    const T* a = g.raw();
    T* o = v.raw();
    const bool degenerate = degenerate_scale(k);
    for (size_t i = 0, n = g.length(); i < n; ++i) {
        const T r = degenerate ? T(0) : std::sqrt(a[i] / k);
        o[i] = r < T(1) ? r : T(1);
    }
}

// g becomes the heights sqrt(K / g) - min; g = 0 gives +inf. With a
// degenerate K the heights are 0 inside and +inf on the 2-pixel frame.
template <typename T>
void heights_from_gradient(lumo::array_2d<T>& g, T k) {
    T* h = g.raw();
    const size_t n = g.length();
    if (degenerate_scale(k)) {
        for (size_t i = 0; i < n; ++i) h[i] = 0;
        fill_border(g, 2, std::numeric_limits<T>::infinity());
        return;
    }
    for (size_t i = 0; i < n; ++i) h[i] = std::sqrt(k / h[i]);
    const T m = lumo::min(g);
    for (size_t i = 0; i < n; ++i) h[i] = h[i] - m;
}

}  // namespace lumo::zarn

#endif
