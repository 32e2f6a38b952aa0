// Loading and saving images through OpenCV. OpenCV reports failures by
// throwing; every such throw ends here as a failed load or save.
#include <algorithm>
#include <cctype>
#include <exception>

#include <opencv2/imgcodecs.hpp>

#include <lumo/details/image/bridge.hpp>
#include <lumo/exception.hpp>

#include "byte_rule.hpp"
#include "ipl.hpp"

namespace lumo {
namespace {

// Load flags by mode index: unchanged, grayscale, colour.
constexpr int load_modes[] = {cv::IMREAD_UNCHANGED, cv::IMREAD_GRAYSCALE, cv::IMREAD_COLOR};

cv::Mat read_file(const std::string& path, int flags) {
    try {
        return cv::imread(path, flags);
    } catch (const std::exception&) {
        return cv::Mat();  // a decoder that throws is a file that does not load
    }
}

bool write_file(const std::string& path, const cv::Mat& m) {
    try {
        return cv::imwrite(path, m);
    } catch (const std::exception&) {
        return false;  // unknown extension, unsupported depth or channel count
    }
}

// Formats that store real samples as they are.
bool holds_reals(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
    std::string ext = path.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
    return ext == ".tif" || ext == ".tiff";
}

// Byte formats would round [0, 1] values to 0 and 1: store the bytes the
// real image reads as instead.
template <typename R>
image<unsigned char> real_image_to_bytes(const image<R>& im) {
    image<unsigned char> out(im.size());
    const R* src = im.raw();
    unsigned char* dst = out.raw();
    const size_t n = im.length();
    for (size_t i = 0; i < n; ++i) dst[i] = bridge::real_to_byte(src[i]);
    return out;
}

template <typename T>
bool save_as_is(const image<T>& im, const std::string& path) {
    try {
        return write_file(path, to_ipl(im));
    } catch (const exception&) {
        return false;  // a shape OpenCV cannot hold
    }
}

template <typename R>
bool save_real_image(const image<R>& im, const std::string& path) {
    if (holds_reals(path)) return save_as_is(im, path);
    return save_as_is(real_image_to_bytes(im), path);
}

}  // namespace

void load_ipl(image<unsigned char>& out, const std::string& path, unsigned int mode) {
    LUMO_CHECK(mode < std::size(load_modes), "offset >= 0 && offset < length()");
    const cv::Mat m = read_file(path, load_modes[mode]);
    if (m.empty()) throw ecomp();
    from_ipl(out, m);
}

bool load_image(array_2d<unsigned char>& out, const std::string& path) {
    image<unsigned char> im(0, 0, 1);
    try {
        load_ipl(im, path, 0);
    } catch (const exception&) {
        return false;
    }
    if (im.size(2) > 1) im = grayscale(im);
    image_to_array(im, out);
    return true;
}

bool save_image(const image<unsigned char>& im, const std::string& path) { return save_as_is(im, path); }
bool save_image(const image<float>& im, const std::string& path) { return save_real_image(im, path); }
bool save_image(const image<double>& im, const std::string& path) { return save_real_image(im, path); }

}  // namespace lumo
