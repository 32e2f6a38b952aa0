// What the benchmarks share: timing helpers, shell commands and the -t lines
// they print, the repository's pictures and generated test images (smooth
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
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <numbers>
#include <random>
#include <string>
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

// Runs f and writes its wall time in ms to slot.
template <typename F>
void time_into(double& slot, F&& f) {
    const auto t0 = clock_type::now();
    f();
    slot = ms_since(t0);
}

// The shortest wall time in ms of `runs` runs of f.
template <typename F>
double best_ms(int runs, F&& f) {
    double best = 1e300;
    for (int k = 0; k < runs; ++k) {
        const auto t0 = clock_type::now();
        f();
        best = std::min(best, ms_since(t0));
    }
    return best;
}

inline long peak_rss_kb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// The repository's pictures.
inline std::filesystem::path data_dir() { return ZARN_DATA_DIR; }

// A path in single quotes for the shell.
inline std::string quoted(const std::string& path) { return "'" + path + "'"; }

// Stdout of a shell command (its standard error dropped), its wall time and
// whether it ended with status 0.
struct command_run {
    std::string out;
    double ms = 0;
    bool ok = false;
};

inline command_run run_command(const std::string& command) {
    command_run r;
    const auto t0 = clock_type::now();
    FILE* p = popen((command + " 2>/dev/null").c_str(), "r");
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    r.ok = pclose(p) == 0;
    r.ms = ms_since(t0);
    return r;
}

// Hands every line of a -t report that times a step to f(label, ms): 70
// characters, the label padded to 55, the milliseconds in 12, " ms".
// Other lines go to other(line).
template <typename Timed, typename Other>
void read_timing_lines(const std::string& text, Timed&& f, Other&& other) {
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        if (line.size() != 70 || line.compare(67, 3, " ms") != 0) {
            other(line);
            continue;
        }
        f(line.substr(0, line.find_last_not_of(' ', 54) + 1), std::atof(line.substr(55, 12).c_str()));
    }
}

template <typename Timed>
void read_timing_lines(const std::string& text, Timed&& f) {
    read_timing_lines(text, f, [](const std::string&) {});
}

// A picture scaled to about the given number of megapixels.
inline cv::Mat scaled_to_megapixels(const cv::Mat& m, double megapixels, int interpolation) {
    const double scale = std::sqrt(megapixels * 1e6 / double(m.total()));
    cv::Mat scaled;
    cv::resize(m, scaled, cv::Size(), scale, scale, interpolation);
    return scaled;
}

// Smooth random gray image: bilinear interpolation of random values on a
// coarse lattice, plus a little noise.
inline cv::Mat smooth_gray(int rows, int cols, unsigned seed) {
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
