// What the benchmarks share: timing helpers, the generated test images (smooth
// gray "photographs" and masks of random disks), the padded input and the node
// grid as the pipeline leaves them, and running one case in a child process
// so that it starts cold and its peak memory is its own.
#ifndef ZARN_BENCH_SUPPORT_HPP
#define ZARN_BENCH_SUPPORT_HPP

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <numbers>
#include <random>
#include <type_traits>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <lumo/details/array_2d/array_2d>

#include "pipeline/node_grid.hpp"

namespace bench {

namespace z = lumo::zarn;
using node = z::node_type<false, double>;
using clock_type = std::chrono::steady_clock;

inline double ms_since(clock_type::time_point t0) {
    return std::chrono::duration<double, std::milli>(clock_type::now() - t0).count();
}

inline long peak_rss_kb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

inline // Smooth random gray image: bilinear interpolation of random values on a
// coarse lattice, plus a little noise.
cv::Mat smooth_gray(int rows, int cols, unsigned seed) {
    std::mt19937 rng(seed);
    cv::Mat coarse(rows / 32 + 2, cols / 32 + 2, CV_8U);
    for (int r = 0; r < coarse.rows; ++r)
        for (int c = 0; c < coarse.cols; ++c) coarse.at<unsigned char>(r, c) = rng() & 255;
    cv::Mat big;
    cv::resize(coarse, big, cv::Size(cols, rows), 0, 0, cv::INTER_LINEAR);
    cv::Mat noise(rows, cols, CV_8U);
    cv::randu(noise, 0, 8);
    return big + noise;
}

// Random disks covering roughly a third of the image.
inline cv::Mat blob_mask(int rows, int cols, unsigned seed) {
    std::mt19937 rng(seed);
    cv::Mat m = cv::Mat::zeros(rows, cols, CV_8U);
    const double target = 0.3 * rows * cols;
    double covered = 0;
    while (covered < target) {
        const int radius = 3 + int(rng() % std::max(4, rows / 40));
        cv::circle(m, cv::Point(int(rng() % cols), int(rng() % rows)), radius, 255, cv::FILLED);
        covered += std::numbers::pi * radius * radius;
    }
    return m;
}

// The image padded by 2 with replicated edges, first index the image row.
inline lumo::array_2d<unsigned char> padded_input(const cv::Mat& img) {
    cv::Mat p;
    cv::copyMakeBorder(img, p, 2, 2, 2, 2, cv::BORDER_REPLICATE);
    lumo::array_2d<unsigned char> out(size_t(p.rows), size_t(p.cols));
    unsigned char* o = out.raw();
    for (int r = 0; r < p.rows; ++r) {
        const unsigned char* row = p.ptr<unsigned char>(r);
        for (int c = 0; c < p.cols; ++c) o[size_t(r) + size_t(p.rows) * size_t(c)] = row[c];
    }
    return out;
}

// The grid as the pipeline's initial allocations leave it.
inline void init_grid(z::node_array<false, double>& nodes, size_t w, size_t h) {
    nodes.resize(w, h);
    z::clear_nodes(nodes);
}

// The padded input of an image and its node grid, ready for the distance
// stage in the given mode.
struct grid_case {
    lumo::array_2d<unsigned char> input;
    lumo::array_2d<unsigned char> gradient;
    z::node_array<false, double> nodes;
    z::options<double> opts;

    grid_case(const cv::Mat& img, bool weighted) : input(padded_input(img)) {
        init_grid(nodes, input.size(0), input.size(1));
        opts.program.weighted = weighted;
    }
};

// Runs the case in a child process and returns what it measured (a plain
// record); a failed child gives a value-built record.
template <typename Result, typename Case>
Result in_child(Case run_case) {
    static_assert(std::is_trivially_copyable_v<Result>);
    int fd[2];
    if (pipe(fd) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        close(fd[0]);
        const Result r = run_case();
        const ssize_t written = write(fd[1], &r, sizeof r);
        _exit(written == ssize_t(sizeof r) ? 0 : 1);
    }
    close(fd[1]);
    Result r;
    if (read(fd[0], &r, sizeof r) != ssize_t(sizeof r)) r = Result{};
    close(fd[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return r;
}

// Runs the case on the image that make_image gives, in a child process; an
// image that cannot be made gives a failed (value-built) record.
template <typename Result, typename Make>
Result measure(Make make_image, bool weighted, Result (*run_case)(const cv::Mat&, bool)) {
    return in_child<Result>([&] {
        const cv::Mat img = make_image();
        return img.empty() ? Result{} : run_case(img, weighted);
    });
}

}  // namespace bench

#endif
