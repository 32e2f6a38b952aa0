// Loading and saving images through OpenCV. OpenCV reports failures by
// throwing; every such throw ends here as a failed load or save, except a
// failed allocation, which leaves as std::bad_alloc.
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <exception>
#include <new>

#include <opencv2/imgcodecs.hpp>

#include <lumo/details/file/staged_file.hpp>
#include <lumo/details/image/bridge.hpp>
#include <lumo/exception.hpp>

#include "byte_rule.hpp"
#include "ipl.hpp"

namespace lumo {
namespace {

// Load flags by mode index: unchanged, grayscale, colour.
constexpr int load_modes[] = {cv::IMREAD_UNCHANGED, cv::IMREAD_GRAYSCALE, cv::IMREAD_COLOR};

// Only a regular file (or a link to one) is read: a named pipe would block
// the reader for ever, and a device or socket is no image either.
bool regular_file(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

cv::Mat read_file(const std::string& path, int flags) {
    if (!regular_file(path)) return cv::Mat();
    try {
        return cv::imread(path, flags);
    } catch (const cv::Exception& e) {
        if (bridge::out_of_memory(e)) throw std::bad_alloc();
        return cv::Mat();  // a decoder that throws is a file that does not load
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception&) {
        return cv::Mat();
    }
}

bool write_file(const std::string& path, const cv::Mat& m) {
    try {
        return cv::imwrite(path, m);
    } catch (const cv::Exception& e) {
        if (bridge::out_of_memory(e)) throw std::bad_alloc();
        return false;  // unknown extension, unsupported depth or channel count
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception&) {
        return false;
    }
}

// The extension of the path's last component, in lower case; empty when
// it has none.
std::string lower_extension(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string ext = path.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
    return ext;
}

// Formats that store real samples as they are.
bool holds_reals(const std::string& path) {
    const std::string ext = lower_extension(path);
    return ext == ".tif" || ext == ".tiff";
}

// The channel count a format insists on, or 0 when it takes what it gets:
// a portable pixmap holds colour only, a graymap or bitmap gray only.
size_t channels_required(const std::string& path) {
    const std::string ext = lower_extension(path);
    if (ext == ".ppm") return 3;
    if (ext == ".pgm" || ext == ".pbm") return 1;
    return 0;
}

// Colour to gray by the mean of the channels (the rule by which colour input
// becomes gray); to colour, a gray image as three equal planes.
image<unsigned char> with_channels(const image<unsigned char>& im, size_t channels) {
    if (channels == 1) return grayscale(im);
    const size_t plane = im.size(0) * im.size(1);
    const size_t from = im.size(2);
    image<unsigned char> out(im.size(0), im.size(1), channels);
    for (size_t k = 0; k < channels; ++k) {
        const size_t source = from >= channels ? k : 0;
        for (size_t i = 0; i < plane; ++i) out[i + plane * k] = im[i + plane * source];
    }
    return out;
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

// The file is written under a temporary name and renamed over path only
// when complete, so that a failed write keeps an older file of that name.
template <typename T>
bool save_as_is(const image<T>& im, const std::string& path) {
    cv::Mat m;
    try {
        m = to_ipl(im);
    } catch (const exception&) {
        return false;  // a shape OpenCV cannot hold
    }
    staged_file file(path);
    return file.ready() && write_file(file.temp_path(), m) && file.commit();
}

bool save_bytes(const image<unsigned char>& im, const std::string& path) {
    const size_t channels = channels_required(path);
    if (channels != 0 && im.dimensions() == 3 && im.size(2) != channels && !im.empty())
        return save_as_is(with_channels(im, channels), path);
    return save_as_is(im, path);
}

template <typename R>
bool save_real_image(const image<R>& im, const std::string& path) {
    if (holds_reals(path)) return save_as_is(im, path);
    return save_bytes(real_image_to_bytes(im), path);
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

bool has_image_writer(const std::string& path) {
    try {
        return cv::haveImageWriter(path);
    } catch (const cv::Exception&) {
        return false;
    }
}

bool save_image(const image<unsigned char>& im, const std::string& path) { return save_bytes(im, path); }
bool save_image(const image<float>& im, const std::string& path) { return save_real_image(im, path); }
bool save_image(const image<double>& im, const std::string& path) { return save_real_image(im, path); }

}  // namespace lumo
