// One sweep of directional 3 x 3 thinning templates over a byte image: each
// pass removes the pixels whose neighbourhood matches its template, reading
// one image and writing the other, so the order of the visit never matters.
#ifndef ZARN_MEDIAL_THINNING_HPP
#define ZARN_MEDIAL_THINNING_HPP

#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>

#include <lumo/details/array_2d/array_2d>

namespace lumo::zarn {

// Neighbour bits of a pixel. N and S are the previous and next rows of the
// linear layout (index -+ w), W and E the previous and next elements.
enum thin_neighbour : std::uint8_t {
    thin_n = 1,
    thin_s = 2,
    thin_w = 4,
    thin_e = 8,
    thin_nw = 16,
    thin_ne = 32,
    thin_sw = 64,
    thin_se = 128,
};

// A pixel is removed when every `set` neighbour is foreground and every
// `clear` neighbour is not; other neighbours are not looked at.
struct thin_template {
    std::uint8_t set;
    std::uint8_t clear;
};

// Passes 1 to 16.
inline constexpr std::array<thin_template, 16> thin_templates = {{
    {thin_n | thin_e, thin_s | thin_w | thin_sw},
    {thin_s | thin_e, thin_n | thin_w | thin_nw},
    {thin_s | thin_w, thin_n | thin_e | thin_ne},
    {thin_n | thin_w, thin_s | thin_e | thin_se},
    {thin_nw | thin_n | thin_ne, thin_sw | thin_s | thin_se},
    {thin_ne | thin_e | thin_se, thin_nw | thin_w | thin_sw},
    {thin_sw | thin_s | thin_se, thin_nw | thin_n | thin_ne},
    {thin_nw | thin_w | thin_sw, thin_ne | thin_e | thin_se},
    {thin_w | thin_n | thin_e, thin_s},
    {thin_n | thin_e | thin_s, thin_w},
    {thin_w | thin_s | thin_e, thin_n},
    {thin_n | thin_w | thin_s, thin_e},
    {thin_n | thin_e | thin_ne, thin_s | thin_w | thin_sw},
    {thin_s | thin_e | thin_se, thin_n | thin_w | thin_nw},
    {thin_s | thin_w | thin_sw, thin_n | thin_e | thin_ne},
    {thin_n | thin_w | thin_nw, thin_s | thin_e | thin_se},
}};

// The full sweep runs passes 1 to 12, the reduced one 13 to 16 and 5 to 8.
inline constexpr std::array<std::uint8_t, 12> thin_full_order = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
inline constexpr std::array<std::uint8_t, 8> thin_reduced_order = {13, 14, 15, 16, 5, 6, 7, 8};

// Foreground tests: any non-zero byte, or one given value.
struct nonzero_foreground {
    bool operator()(unsigned char v) const { return v != 0; }
};
struct valued_foreground {
    unsigned char value;
    bool operator()(unsigned char v) const { return v == value; }
};

// One pass over the linear indices w + 1 .. n - w - 2; a grid of at most
// 2w + 2 elements has none and the pass writes nothing.
template <typename Foreground>
void thin_pass(const lumo::array_2d<unsigned char>& src, lumo::array_2d<unsigned char>& dst,
               const thin_template& t, Foreground foreground, unsigned char background) {
    const size_t w = src.size(0), n = src.length();
    if (2 * w + 2 >= n) return;
    LUMO_CHECK(dst.length() >= n, "offset >= 0 && offset < length()");
    const unsigned char* s = src.raw();
    unsigned char* d = dst.raw();
    for (size_t i = w + 1; i <= n - w - 2; ++i) {
        const unsigned char v = s[i];
        if (!foreground(v)) {
            d[i] = v;
            continue;
        }
        auto bit = [&](size_t j, thin_neighbour b) { return foreground(s[j]) ? unsigned(b) : 0u; };
        const unsigned code = bit(i - w, thin_n) | bit(i + w, thin_s) | bit(i - 1, thin_w) | bit(i + 1, thin_e) |
                              bit(i - w - 1, thin_nw) | bit(i - w + 1, thin_ne) | bit(i + w - 1, thin_sw) |
                              bit(i + w + 1, thin_se);
        const bool removed = (code & t.set) == t.set && (code & t.clear) == 0;
        d[i] = removed ? background : v;
    }
}

// One sweep in place. The work image starts as a copy of the image, so that
// the passes reading it find the image's own bytes outside the range they
// write.
template <typename Foreground>
void thin_sweep(lumo::array_2d<unsigned char>& image, bool full, Foreground foreground,
                unsigned char background) {
    lumo::array_2d<unsigned char> work = image;
    lumo::array_2d<unsigned char>* from = &image;
    lumo::array_2d<unsigned char>* to = &work;
    auto run = [&](const auto& order) {
        for (std::uint8_t pass : order) {
            thin_pass(*from, *to, thin_templates[pass - 1], foreground, background);
            std::swap(from, to);
        }
    };
    if (full)
        run(thin_full_order);
    else
        run(thin_reduced_order);
}

inline void thin_binary(lumo::array_2d<unsigned char>& image, bool full, unsigned char background) {
    thin_sweep(image, full, nonzero_foreground{}, background);
}

inline void thin_binary_valued(lumo::array_2d<unsigned char>& image, bool full, unsigned char foreground,
                               unsigned char background) {
    thin_sweep(image, full, valued_foreground{foreground}, background);
}

inline void thin_image(lumo::array_2d<unsigned char>& image) { thin_binary(image, true, 0); }

}  // namespace lumo::zarn

#endif
