// Whole-image helpers beside the image types: the planar colour pixel writer,
// the boundary mask of a label array and the clipped histogram equalisation.
#ifndef LUMO_DETAILS_IMAGE_IMAGE_FUNCTIONS_HPP
#define LUMO_DETAILS_IMAGE_IMAGE_FUNCTIONS_HPP

#include <lumo/details/array/array>
#include <lumo/details/array_2d/array_2d>

namespace lumo {

// Writes colours pixel by pixel into the planes of a byte image (three colour
// planes, and on a four-plane canvas a mask plane), every write checked.
class color_view {
public:
    explicit color_view(image<unsigned char>& im)
        : im_(im), n_(im.size(0) * im.size(1)), n2_(2 * n_), n3_(3 * n_) {}

    template <typename S>
    void set_pixel(size_t p, const array<unsigned char, S>& c) {
        im_[p] = c[0];
        im_[p + n_] = c[1];
        im_[p + n2_] = c[2];
    }

    // The colour into planes 0..2 and m into plane 3.
    template <typename S>
    void set_pixel_masked(size_t p, const array<unsigned char, S>& c, unsigned char m) {
        set_pixel(p, c);
        im_[p + n3_] = m;
    }

private:
    image<unsigned char>& im_;
    size_t n_, n2_, n3_;
};

// 255 on both pixels of every pair of 4-neighbours with different labels,
// 0 elsewhere. The last pixel of a row and the first of the next are not
// neighbours.
template <typename L>
void label_boundaries(const array_2d<L>& labels, array_2d<unsigned char>& out) {
    out.resize(labels.size(), static_cast<unsigned char>(0));
    const size_t w = labels.size(0);
    const size_t n = labels.length();
    const L* l = labels.raw();
    unsigned char* o = out.raw();
    for (size_t i = 1; i < n; ++i) {
        if (i % w != 0 && l[i - 1] != l[i]) o[i - 1] = o[i] = 255;
        if (i >= w && l[i - w] != l[i]) o[i - w] = o[i] = 255;
    }
}

// Histogram equalisation with counts clipped at f * n / 255; the clipped
// total is not renormalised. f = 0 does nothing.
inline void equalize_clipped(array_2d<unsigned char>& a, double f) {
    const size_t len = a.length();
    if (f == 0 || len == 0) return;  // an empty array has no scale 255 / n
    size_t bins[256] = {};
    unsigned char* p = a.raw();
    for (size_t i = 0; i < len; ++i) ++bins[p[i]];
    const double n = static_cast<double>(len);
    const double clip = f * n / 255;
    const size_t limit = clip > 0 ? static_cast<size_t>(clip) : 0;
    bins[0] = bins[0] < limit ? bins[0] : limit;
    for (size_t k = 1; k < 256; ++k) bins[k] = (bins[k] < limit ? bins[k] : limit) + bins[k - 1];
    const double scale = 255 / n;
    for (size_t k = 0; k < 256; ++k) bins[k] = static_cast<size_t>(bins[k] * scale);
    for (size_t i = 0; i < len; ++i) p[i] = static_cast<unsigned char>(bins[p[i]]);
}

}  // namespace lumo

#endif
