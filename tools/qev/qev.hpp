// The qev program: "qev -i <image> -sift -p1 <ellipses> -o1 <descriptors>".
// Reads the ellipse file ("0" or another header number, the count, then one
// "x y a b c" line per ellipse with the inverse covariance), computes one
// 128-value descriptor per ellipse on the gray image, and writes "128", the
// count, then per ellipse its five input values and the descriptor. Leaves
// the descriptor path + ".params" with the descriptor parameters.
#ifndef QEV_QEV_HPP
#define QEV_QEV_HPP

#include <fstream>
#include <istream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include <lumo/details/image/bridge.hpp>

#include "descriptor.hpp"

namespace qev {

struct arguments {
    std::string image, ellipses, output;
};

// Exactly -i <path>, -sift, -p1 <path>, -o1 <path>, in any order, each once.
inline bool parse_arguments(int argc, const char* const* argv, arguments& args, std::string& error) {
    bool sift = false, has_i = false, has_p = false, has_o = false;
    for (int k = 1; k < argc; ++k) {
        const std::string a = argv[k];
        auto value = [&](bool& seen, std::string& into) {
            if (seen) {
                error = "option " + a + " given twice";
                return false;
            }
            if (k + 1 >= argc) {
                error = "option " + a + " needs a path";
                return false;
            }
            seen = true;
            into = argv[++k];
            return true;
        };
        if (a == "-i") {
            if (!value(has_i, args.image)) return false;
        } else if (a == "-p1") {
            if (!value(has_p, args.ellipses)) return false;
        } else if (a == "-o1") {
            if (!value(has_o, args.output)) return false;
        } else if (a == "-sift") {
            if (sift) {
                error = "option -sift given twice";
                return false;
            }
            sift = true;
        } else {
            error = "unknown argument " + a;
            return false;
        }
    }
    if (!(sift && has_i && has_p && has_o)) {
        error = "expected -i <image> -sift -p1 <ellipse file> -o1 <output file>";
        return false;
    }
    return true;
}

// The ellipse file; false with a message on malformed content.
inline bool read_ellipses(std::istream& in, std::vector<ellipse>& out, std::string& error) {
    double header = 0;
    long long count = -1;
    if (!(in >> header) || !(in >> count) || count < 0) {
        error = "the ellipse file must begin with a header number and a count";
        return false;
    }
    out.clear();
    for (long long k = 0; k < count; ++k) {
        ellipse e;
        if (!(in >> e.x >> e.y >> e.a >> e.b >> e.c)) {
            error = "ellipse " + std::to_string(k + 1) + " of " + std::to_string(count) +
                    " is missing or malformed";
            return false;
        }
        out.push_back(e);
    }
    in >> std::ws;
    if (!in.eof()) {
        error = "more data than the count of ellipses";
        return false;
    }
    return true;
}

inline bool write_descriptors(std::ostream& out, const std::vector<ellipse>& ellipses,
                              const std::vector<descriptor>& descriptors) {
    out << descriptor_length << "\n" << ellipses.size() << "\n";
    for (size_t k = 0; k < ellipses.size(); ++k) {
        const ellipse& e = ellipses[k];
        out << e.x << " " << e.y << " " << e.a << " " << e.b << " " << e.c;
        for (float v : descriptors[k]) out << " " << v;
        out << "\n";
    }
    return static_cast<bool>(out);
}

// Row-major copy of a gray byte array; lumo arrays run down the rows
// first, element (r, c) at r + rows * c.
inline gray_image to_gray_image(const lumo::array_2d<unsigned char>& bytes) {
    gray_image img;
    const size_t rows = bytes.size(0), cols = bytes.size(1);
    img.rows = static_cast<int>(rows);
    img.cols = static_cast<int>(cols);
    img.pixels.resize(rows * cols);
    const unsigned char* src = bytes.raw();
    for (size_t c = 0; c < cols; ++c)
        for (size_t r = 0; r < rows; ++r) img.pixels[r * cols + c] = src[r + rows * c];
    return img;
}

// The image zarn analyses: loaded by zarn's own image bridge, so that deep
// samples give their low byte, reals the byte rule and colour the mean of
// all its channels.
inline bool load_gray(const std::string& path, gray_image& img) {
    lumo::array_2d<unsigned char> bytes;
    if (!lumo::load_image(bytes, path)) return false;
    img = to_gray_image(bytes);
    return true;
}

// The whole program; messages go to err. Returns the exit status.
inline int run(int argc, const char* const* argv, std::ostream& err) {
    auto fail = [&err](const std::string& message) {
        err << "qev: " << message << "\n";
        return 1;
    };
    arguments args;
    std::string error;
    if (!parse_arguments(argc, argv, args, error)) return fail(error);

    gray_image img;
    if (!load_gray(args.image, img)) return fail("cannot read image " + args.image);
    std::ifstream in(args.ellipses);
    if (!in) return fail("cannot open ellipse file " + args.ellipses);
    std::vector<ellipse> ellipses;
    if (!read_ellipses(in, ellipses, error)) return fail(args.ellipses + ": " + error);

    std::vector<descriptor> descriptors(ellipses.size());
    for (size_t k = 0; k < ellipses.size(); ++k)
        if (!describe(img, ellipses[k], descriptors[k]))
            return fail(args.ellipses + ": ellipse " + std::to_string(k + 1) +
                        " is not positive definite");

    std::ofstream out(args.output, std::ios::out | std::ios::trunc);
    if (!out) return fail("cannot open output file " + args.output);
    const bool written = write_descriptors(out, ellipses, descriptors);
    out.close();
    if (!written || !out) return fail("cannot write output file " + args.output);

    std::ofstream params(args.output + ".params", std::ios::out | std::ios::trunc);
    params << "descriptor gradient-orientation histogram\n"
           << "cells " << cells << " x " << cells << "\n"
           << "orientations " << orientation_bins << "\n"
           << "patch " << patch_size << " samples over the unit frame of each ellipse\n"
           << "clip " << clip_value << "\n";
    return 0;  // the parameter file is informative only
}

}  // namespace qev

#endif
