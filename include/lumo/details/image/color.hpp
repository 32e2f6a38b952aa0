// Colours, colour pairs, 256-entry colour maps, random colours and the
// random-number helpers under them.
//
// Element k of a colour goes into channel plane k of an image; OpenCV shows
// planes 0, 1, 2 as blue, green, red, so the bytes below are what counts,
// not the names.
#ifndef LUMO_DETAILS_IMAGE_COLOR_HPP
#define LUMO_DETAILS_IMAGE_COLOR_HPP

#include <cmath>
#include <cstdlib>
#include <ctime>

#include <lumo/details/array/array>

namespace lumo {

// Three channel values, element 0 first.
template <typename T>
class color : public array<T> {
public:
    color() : array<T>(3) {}
    color(T c0, T c1, T c2) : array<T>(3) {
        (*this)[0] = c0;
        (*this)[1] = c1;
        (*this)[2] = c2;
    }
};

// A colour as a palette element: three uninitialised channels.
template <typename T>
class rgb : public array<T> {
public:
    rgb() : array<T>(3) {}
    rgb(T c0, T c1, T c2) : array<T>(3) {
        (*this)[0] = c0;
        (*this)[1] = c1;
        (*this)[2] = c2;
    }
};

using palette = array<rgb<unsigned char>>;

inline color<unsigned char> color_gray() { return {128, 128, 128}; }
inline color<unsigned char> color_black() { return {0, 0, 0}; }
inline color<unsigned char> color_green() { return {0, 128, 0}; }
inline color<unsigned char> color_blue() { return {0, 0, 255}; }
inline color<unsigned char> color_red() { return {255, 0, 0}; }
inline color<unsigned char> color_maroon() { return {128, 0, 0}; }
inline color<unsigned char> color_white() { return {255, 255, 255}; }
inline color<unsigned char> color_magenta() { return {255, 0, 255}; }
inline color<unsigned char> color_navy() { return {0, 0, 128}; }
inline color<unsigned char> color_yellow() { return {255, 255, 0}; }
inline color<unsigned char> color_dark_gray() { return {64, 64, 64}; }
inline color<unsigned char> color_steel() { return {0, 75, 150}; }
inline color<unsigned char> color_sky() { return {0, 165, 255}; }
inline color<unsigned char> color_cyan() { return {0, 255, 255}; }
inline color<unsigned char> color_lime() { return {0, 255, 0}; }

// The two ends of a colour map.
struct color_pair {
    color<unsigned char> first;
    color<unsigned char> second;
};

inline color_pair color_pair_black_lime() { return {color_black(), color_lime()}; }
inline color_pair color_pair_cyan_blue() { return {color_cyan(), color_blue()}; }
inline color_pair color_pair_black_blue() { return {color_black(), color_blue()}; }
inline color_pair color_pair_black_red() { return {color_black(), color_red()}; }
inline color_pair color_pair_red_lime() { return {color_red(), color_lime()}; }

// 256 entries from first (0) to second (255), each channel truncated.
inline palette colormap_256(const color_pair& pair) {
    palette map(256);
    for (size_t i = 0; i < 256; ++i) {
        const double t = static_cast<double>(i) / 255.0;
        for (size_t k = 0; k < 3; ++k) {
            const double v = static_cast<double>(pair.first[k]) * (1.0 - t) +
                             static_cast<double>(pair.second[k]) * t;
            map[i][k] = static_cast<unsigned char>(v);
        }
    }
    return map;
}

inline palette colormap_256_black_lime() { return colormap_256(color_pair_black_lime()); }
inline palette colormap_256_cyan_blue() { return colormap_256(color_pair_cyan_blue()); }
inline palette colormap_256_black_blue() { return colormap_256(color_pair_black_blue()); }
inline palette colormap_256_black_red() { return colormap_256(color_pair_black_red()); }
inline palette colormap_256_red_lime() { return colormap_256(color_pair_red_lime()); }

inline void seed_random() { std::srand(static_cast<unsigned>(std::time(nullptr))); }

namespace details {
// One seeding per program, before main.
inline const bool random_seeded = (seed_random(), true);
}  // namespace details

// A real in [0, x]: x itself is reachable.
inline double rand_uniform(double x) { return std::rand() * x / 2147483647.0; }
// A real in [0, x) except by float rounding (the constant is 2^-31).
inline float rand_uniform(float x) { return std::rand() * x * 4.656613e-10f; }

inline int rand_int() { return std::rand(); }

// Uniform in [0, n) by masking and redrawing; n must be at least 1.
inline size_t rand_below(size_t n) {
    size_t mask = 4294967295u;
    if (n < 2147483648u) {  // 2n below the full mask
        while (mask > 2 * n) mask >>= 1;
    }
    size_t r;
    do {
        r = static_cast<size_t>(std::rand()) & mask;
    } while (r >= n);
    return r;
}

inline size_t abs_diff(size_t a, size_t b) { return a > b ? a - b : b - a; }
inline unsigned char abs_diff(unsigned char a, unsigned char b) {
    return static_cast<unsigned char>(a > b ? a - b : b - a);
}

// One colour from hue, saturation and value (in[0..2]) into out[0..2].
template <typename R, typename S1, typename S2>
void hsv_to_rgb(const array<R, S1>& in, array<R, S2>& out) {
    const R h = in[0], s = in[1], v = in[2];
    const R ch = s * v;
    const R r = std::fmod(6 * h, R(2));
    const R x = ch * (1 - std::fabs(r - 1));
    const R m = v - ch;
    const unsigned k = static_cast<unsigned>(6 * h);
    const unsigned q = k % 3, p = k % 2;
    const R table[3] = {ch, x, R(0)};
    out[0] = table[(q + 2) % 3] + m;
    out[1] = table[(1 - p + q) % 3] + m;
    out[2] = table[(q + p) % 3] + m;
}

// Random colours: saturation, then hue, drawn in that order, full value.
template <typename R>
color<R> random_real_color() {
    array<R> hsv(3);
    const R a = rand_uniform(R(1));
    const R b = rand_uniform(R(1));
    hsv[0] = b;
    hsv[1] = a;
    hsv[2] = R(1);
    color<R> out;
    hsv_to_rgb(hsv, out);
    return out;
}

template <typename T>
color<T> random_color();

template <>
inline color<double> random_color<double>() {
    return random_real_color<double>();
}
template <>
inline color<float> random_color<float>() {
    return random_real_color<float>();
}
template <>
inline color<unsigned char> random_color<unsigned char>() {
    const color<double> e = random_real_color<double>();
    return {static_cast<unsigned char>(e[0] * 255.0), static_cast<unsigned char>(e[1] * 255.0),
            static_cast<unsigned char>(e[2] * 255.0)};
}

}  // namespace lumo

#endif
