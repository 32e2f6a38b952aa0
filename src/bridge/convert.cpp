// Conversions between library images, OpenCV matrices and gray bytes.
#include <climits>
#include <cstring>
#include <new>
#include <type_traits>

#include <lumo/details/image/bridge.hpp>
#include <lumo/exception.hpp>

#include "byte_rule.hpp"
#include "ipl.hpp"

namespace lumo {
namespace {

template <typename S>
unsigned char element_to_byte(S v) {
    if constexpr (std::is_same_v<S, float>) {
        return bridge::real_to_byte(static_cast<double>(v));  // widened first
    } else if constexpr (std::is_same_v<S, double>) {
        return bridge::real_to_byte(v);
    } else {
        return static_cast<unsigned char>(v);  // low 8 bits
    }
}

// Interleaved matrix rows into planar image planes.
template <typename S>
void copy_in(unsigned char* out, const cv::Mat& m) {
    const size_t rows = static_cast<size_t>(m.rows);
    const size_t cols = static_cast<size_t>(m.cols);
    const size_t ch = static_cast<size_t>(m.channels());
    const size_t plane = rows * cols;
    for (size_t r = 0; r < rows; ++r) {
        const S* src = m.ptr<S>(static_cast<int>(r));
        for (size_t c = 0; c < cols; ++c) {
            unsigned char* dst = out + r + rows * c;
            for (size_t k = 0; k < ch; ++k) dst[plane * k] = element_to_byte(src[c * ch + k]);
        }
    }
}

template <typename T>
constexpr int depth_of() {
    if constexpr (std::is_same_v<T, unsigned char>) return CV_8U;
    else if constexpr (std::is_same_v<T, float>) return CV_32F;
    else return CV_64F;
}

template <typename T>
cv::Mat planar_to_mat(const image<T>& im) {
    const size_t rows = im.size(0), cols = im.size(1), ch = im.size(2);
    if (rows > INT_MAX || cols > INT_MAX || ch < 1 || ch > CV_CN_MAX) throw ecomp();
    cv::Mat m;
    try {
        m.create(static_cast<int>(rows), static_cast<int>(cols), CV_MAKETYPE(depth_of<T>(), static_cast<int>(ch)));
    } catch (const cv::Exception& e) {
        if (bridge::out_of_memory(e)) throw std::bad_alloc();
        throw ecomp();
    }
    const T* src = im.raw();
    const size_t plane = rows * cols;
    for (size_t r = 0; r < rows; ++r) {
        T* dst = m.ptr<T>(static_cast<int>(r));
        for (size_t c = 0; c < cols; ++c) {
            const T* px = src + r + rows * c;
            for (size_t k = 0; k < ch; ++k) dst[c * ch + k] = px[plane * k];
        }
    }
    return m;
}

template <typename R>
void real_map_to_gray(const array_2d<R>& map, array_2d<unsigned char>& out) {
    out.resize(map.size());
    const R* src = map.raw();
    unsigned char* dst = out.raw();
    const size_t n = map.length();
    for (size_t i = 0; i < n; ++i) dst[i] = bridge::real_to_byte(src[i]);
}

}  // namespace

image<unsigned char>& from_ipl(image<unsigned char>& out, const cv::Mat& m) {
    const int depth = m.depth();
    if (depth != CV_8U && depth != CV_8S && depth != CV_16U && depth != CV_16S && depth != CV_32S &&
        depth != CV_32F && depth != CV_64F)
        throw ecomp();
    out.resize(static_cast<size_t>(m.rows), static_cast<size_t>(m.cols), static_cast<size_t>(m.channels()));
    unsigned char* dst = out.raw();
    switch (depth) {
        case CV_8U: copy_in<unsigned char>(dst, m); break;
        case CV_8S: copy_in<signed char>(dst, m); break;
        case CV_16U: copy_in<unsigned short>(dst, m); break;
        case CV_16S: copy_in<short>(dst, m); break;
        case CV_32S: copy_in<int>(dst, m); break;
        case CV_32F: copy_in<float>(dst, m); break;
        default: copy_in<double>(dst, m); break;
    }
    return out;
}

cv::Mat to_ipl(const image<unsigned char>& im) { return planar_to_mat(im); }
cv::Mat to_ipl(const image<float>& im) { return planar_to_mat(im); }
cv::Mat to_ipl(const image<double>& im) { return planar_to_mat(im); }

image<unsigned char> grayscale(const image<unsigned char>& in) {
    const size_t ch = in.size(2);
    LUMO_CHECK(ch > 1, "ch > 1");
    const size_t plane = in.size(0) * in.size(1);
    image<unsigned char> out;
    out.resize(make_size_array(in.size(0), in.size(1), 1), 0);
    const unsigned char* src = in.raw();
    unsigned char* dst = out.raw();
    for (size_t p = 0; p < plane; ++p) {
        std::uint64_t sum = 0;
        for (size_t k = 0; k < ch; ++k) sum += src[p + plane * k];
        dst[p] = static_cast<unsigned char>(sum / ch);
    }
    return out;
}

void image_to_array(const image<unsigned char>& in, array_2d<unsigned char>& out) {
    out.resize(make_size_array(in.size(0), in.size(1)));
    // A multi-channel image does not fit: the element check fails as it would
    // on the first element past the output's end.
    LUMO_CHECK(in.length() <= out.length(), "offset >= 0 && offset < length()");
    if (in.length() > 0) std::memcpy(out.raw(), in.raw(), in.length());
}

void map_to_gray(const array_2d<double>& map, array_2d<unsigned char>& out) { real_map_to_gray(map, out); }
void map_to_gray(const array_2d<float>& map, array_2d<unsigned char>& out) { real_map_to_gray(map, out); }

void gray_to_rgb(const array_2d<unsigned char>& gray, image<unsigned char>& out) {
    const size_t plane = gray.size(0) * gray.size(1);
    out.resize(make_size_array(gray.size(0), gray.size(1), 3));
    for (size_t k = 0; k < 3; ++k)
        if (plane > 0) std::memcpy(out.raw() + plane * k, gray.raw(), plane);
}

}  // namespace lumo
