// Gradient-orientation histogram descriptors of affine image regions: the
// patch inside an ellipse is resampled to a square through the ellipse's
// affine frame, and its Gaussian-weighted gradient orientations are binned
// into 4 x 4 cells x 8 orientations (128 values), normalised, clipped at 0.2
// and normalised again.
#ifndef QEV_DESCRIPTOR_HPP
#define QEV_DESCRIPTOR_HPP

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <vector>

namespace qev {

constexpr int cells = 4;             // per side
constexpr int orientation_bins = 8;
constexpr int cell_samples = 8;      // samples per cell side
constexpr int patch_size = cells * cell_samples;
constexpr int descriptor_length = cells * cells * orientation_bins;
constexpr float clip_value = 0.2f;

using descriptor = std::array<float, descriptor_length>;

// Row-major gray image; x is the column, y the row.
struct gray_image {
    int rows = 0;
    int cols = 0;
    std::vector<float> pixels;

    float at(int r, int c) const {  // the border repeats outside the image
        r = std::clamp(r, 0, rows - 1);
        c = std::clamp(c, 0, cols - 1);
        return pixels[static_cast<size_t>(r) * static_cast<size_t>(cols) + static_cast<size_t>(c)];
    }
};

// Centre (x, y) and the inverse covariance [a b; b c] in x-then-y order: the
// region is the set of offsets u with u' [a b; b c] u <= 1.
struct ellipse {
    double x = 0, y = 0;
    double a = 0, b = 0, c = 0;
};

// Beyond one pixel outside the image every sample is a border pixel: far (or
// non-finite) coordinates are held there, so that the integer conversion
// below stays defined.
inline double hold_near(double v, int extent) {
    if (!(v >= -1)) return -1;
    return std::min(v, static_cast<double>(extent));
}

inline float bilinear(const gray_image& img, double x, double y) {
    x = hold_near(x, img.cols);
    y = hold_near(y, img.rows);
    const double fx = std::floor(x), fy = std::floor(y);
    const int c0 = static_cast<int>(fx), r0 = static_cast<int>(fy);
    const double tx = x - fx, ty = y - fy;
    const double top = img.at(r0, c0) * (1 - tx) + img.at(r0, c0 + 1) * tx;
    const double bottom = img.at(r0 + 1, c0) * (1 - tx) + img.at(r0 + 1, c0 + 1) * tx;
    return static_cast<float>(top * (1 - ty) + bottom * ty);
}

// The symmetric square root of the covariance, M^(-1/2): it maps the unit
// circle onto the ellipse without turning it. False when M is not positive
// definite.
inline bool affine_frame(const ellipse& e, double frame[2][2]) {
    const double tr = e.a + e.c, det = e.a * e.c - e.b * e.b;
    if (!(e.a > 0) || !(det > 0) || !std::isfinite(tr) || !std::isfinite(det)) return false;
    // sqrt of a 2x2 SPD matrix: (M + sqrt(det) I) / sqrt(tr + 2 sqrt(det)).
    const double s = std::sqrt(det), t = std::sqrt(tr + 2 * s);
    const double r[2][2] = {{(e.a + s) / t, e.b / t}, {e.b / t, (e.c + s) / t}};  // M^(1/2)
    const double rdet = r[0][0] * r[1][1] - r[0][1] * r[1][0];
    frame[0][0] = r[1][1] / rdet;
    frame[0][1] = -r[0][1] / rdet;
    frame[1][0] = -r[1][0] / rdet;
    frame[1][1] = r[0][0] / rdet;
    return true;
}

// The (patch_size + 2)^2 samples, row-major, one sample of border around the
// patch for the gradient; the patch covers [-1, 1]^2 of the unit frame.
inline std::vector<float> sample_patch(const gray_image& img, const ellipse& e, const double frame[2][2]) {
    constexpr int n = patch_size + 2;
    constexpr double half = patch_size / 2.0;
    std::vector<float> patch(static_cast<size_t>(n) * n);
    for (int i = 0; i < n; ++i) {
        const double v = (i - 0.5 - half) / half;
        for (int j = 0; j < n; ++j) {
            const double u = (j - 0.5 - half) / half;
            const double x = e.x + frame[0][0] * u + frame[0][1] * v;
            const double y = e.y + frame[1][0] * u + frame[1][1] * v;
            patch[static_cast<size_t>(i) * n + j] = bilinear(img, x, y);
        }
    }
    return patch;
}

// Unit length, entries clipped at clip_value, unit length again; a zero
// histogram stays zero.
inline void normalize_clip(descriptor& d) {
    auto normalize = [&d] {
        double sum = 0;
        for (float v : d) sum += static_cast<double>(v) * v;
        if (sum <= 0) return;
        const double inv = 1.0 / std::sqrt(sum);
        for (float& v : d) v = static_cast<float>(v * inv);
    };
    normalize();
    for (float& v : d) v = std::min(v, clip_value);
    normalize();
}

// Descriptor of a sampled patch (layout of sample_patch). Entry
// (row_cell * cells + col_cell) * orientation_bins + o; orientation o covers
// [o, o + 1) x 45 degrees of atan2(dy, dx), y pointing down the rows. Each
// gradient is spread over the two nearest cells in each direction and the two
// nearest orientations.
inline descriptor describe_patch(const std::vector<float>& patch) {
    constexpr int n = patch_size + 2;
    constexpr double half = patch_size / 2.0;
    constexpr double sigma = half;
    constexpr double two_pi = 6.283185307179586;
    descriptor hist{};
    for (int i = 1; i <= patch_size; ++i) {
        const float* row = patch.data() + static_cast<size_t>(i) * n;
        const double ci = i - 0.5 - half;
        const double cell_r = (i - 0.5) / cell_samples - 0.5;
        for (int j = 1; j <= patch_size; ++j) {
            const double dx = 0.5 * (row[j + 1] - row[j - 1]);
            const double dy = 0.5 * (row[j + n] - row[j - n]);
            const double mag = std::sqrt(dx * dx + dy * dy);
            if (mag == 0) continue;
            const double cj = j - 0.5 - half;
            const double w = mag * std::exp(-(ci * ci + cj * cj) / (2 * sigma * sigma));
            double theta = std::atan2(dy, dx);
            if (theta < 0) theta += two_pi;
            double o = theta * orientation_bins / two_pi;
            if (o >= orientation_bins) o -= orientation_bins;
            const double cell_c = (j - 0.5) / cell_samples - 0.5;
            const int r0 = static_cast<int>(std::floor(cell_r));
            const int c0 = static_cast<int>(std::floor(cell_c));
            const int o0 = static_cast<int>(std::floor(o));
            const double fr = cell_r - r0, fc = cell_c - c0, fo = o - o0;
            for (int dr = 0; dr < 2; ++dr) {
                const int r = r0 + dr;
                if (r < 0 || r >= cells) continue;
                const double wr = dr ? fr : 1 - fr;
                for (int dc = 0; dc < 2; ++dc) {
                    const int c = c0 + dc;
                    if (c < 0 || c >= cells) continue;
                    const double wc = dc ? fc : 1 - fc;
                    for (int k = 0; k < 2; ++k) {
                        const int ob = (o0 + k) % orientation_bins;
                        const double wo = k ? fo : 1 - fo;
                        hist[static_cast<size_t>((r * cells + c) * orientation_bins + ob)] +=
                            static_cast<float>(w * wr * wc * wo);
                    }
                }
            }
        }
    }
    normalize_clip(hist);
    return hist;
}

// False when the ellipse is not a proper one.
inline bool describe(const gray_image& img, const ellipse& e, descriptor& out) {
    double frame[2][2];
    if (!affine_frame(e, frame)) return false;
    out = describe_patch(sample_patch(img, e, frame));
    return true;
}

}  // namespace qev

#endif
