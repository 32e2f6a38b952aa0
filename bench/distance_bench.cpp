// Times the weighted and the binary distance transform stage by stage on
// generated 1, 4 and 16 megapixel images and on two images of the
// repository, beside OpenCV's exact Euclidean distance transform on the same
// images (one thread and all threads). Each case runs in a child process, so
// that it starts with empty displacement tables (the first image of a run
// pays for them) and its peak memory is its own.
//
// Then the exactness of the binary distance: the real distances that the
// stage leaves in the grid, against the exact Euclidean distance transform
// of the same mask, on the repository's masks and on generated disks.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "bench_support.hpp"
#include "distance/distance_transform.hpp"
#include "pipeline/padding.hpp"

namespace {

using namespace bench;

// What a child reports back to the parent.
struct result {
    double stage_ms[5] = {0, 0, 0, 0, 0};
    double cv_one_ms = 0, cv_all_ms = 0;
    long peak_kb = 0;
    size_t pixels = 0;
    bool ok = false;
};

// Best of three runs of OpenCV's exact distance transform of the binary
// image (distance of nonzero pixels to the nearest zero pixel).
double time_opencv(const cv::Mat& binary) {
    cv::Mat dist;
    return best_ms(3, [&] { cv::distanceTransform(binary, dist, cv::DIST_L2, cv::DIST_MASK_PRECISE, CV_32F); });
}

result run_case(const cv::Mat& img, bool weighted) {
    result r;
    r.pixels = size_t(img.rows) * size_t(img.cols);
    grid_case c(img, weighted);
    {
        z::distance_transform<false, double> t(c.nodes, c.opts, c.input, c.gradient);
        time_into(r.stage_ms[0], [&] { t.init_factory(); });
        if (weighted)
            time_into(r.stage_ms[1], [&] { t.compute_height(); });
        else
            time_into(r.stage_ms[1], [&] { t.copy_input(); });
        time_into(r.stage_ms[2], [&] { t.create_front(); });
        time_into(r.stage_ms[3], [&] { t.propagate(); });
        if (!weighted)
            time_into(r.stage_ms[4], [&] {
                t.reconstruct_distance();
                t.reconstruct_generators();
            });
    }
    r.peak_kb = peak_rss_kb();
    // OpenCV measures distances to zero pixels: the background gets the
    // distance to the foreground when the mask is inverted. Gray images are
    // thresholded at the middle gray for it.
    const cv::Mat foreground = weighted ? cv::Mat(img > 127) : cv::Mat(img > 0);
    const cv::Mat inverted = foreground == 0;
    cv::setNumThreads(1);
    r.cv_one_ms = time_opencv(inverted);
    cv::setNumThreads(-1);
    r.cv_all_ms = time_opencv(inverted);
    r.ok = true;
    return r;
}

void print_header(bool weighted) {
    std::printf("\n%s distance (ns per image pixel; OpenCV: DIST_L2, DIST_MASK_PRECISE%s)\n",
                weighted ? "Weighted" : "Binary",
                weighted ? ", on the image thresholded at 127" : ", on the inverted mask");
    std::printf("%-22s %9s %8s %8s %8s %8s %8s %9s %9s %9s %9s %8s\n", "image", "pixels", "tables",
                weighted ? "height" : "copy", "front", "propag", weighted ? "-" : "recon",
                "total", "w/o tab", "cv 1 thr", "cv all", "peak MB");
}

void print_row(const std::string& name, const result& r, bool weighted) {
    if (!r.ok) {
        std::printf("%-22s failed\n", name.c_str());
        return;
    }
    const double n = double(r.pixels) / 1e6;  // ms per megapixel = ns per pixel
    double total = 0;
    for (double v : r.stage_ms) total += v;
    const double no_tables = total - r.stage_ms[0];
    std::printf("%-22s %9zu %8.2f %8.2f %8.2f %8.2f %8.2f %9.2f %9.2f %9.2f %9.2f %8.0f", name.c_str(),
                r.pixels, r.stage_ms[0] / n, r.stage_ms[1] / n, r.stage_ms[2] / n, r.stage_ms[3] / n,
                r.stage_ms[4] / n, total / n, no_tables / n, r.cv_one_ms / n, r.cv_all_ms / n,
                r.peak_kb / 1024.0);
    if (!weighted)
        std::printf("   ours w/o tables / cv 1 thread: %.2fx", no_tables / r.cv_one_ms);
    std::printf("\n");
}

// ---------------------------------------------------------------------------
// Exactness of the binary distance.
//
// zarn's distance: the stage run as the timing above runs it (tables, input
// copy, front, propagation, reconstruction of distances and generators) on
// the padded input, then the node field `distance` read without the padding
// as the pipeline hands it out (extract_node_field, border 2): element
// (i, j) is image row i, column j, the real distance in pixels before any
// normalisation for output. The read is checked: 0 exactly on the
// foreground, finite and positive on every zero pixel, and every value the
// length of the displacement to its generator, a foreground pixel.
//
// The reference: OpenCV's exact transform (DIST_L2, DIST_MASK_PRECISE,
// CV_32F) of the inverted mask (OpenCV measures non-zero pixels to the
// nearest zero pixel, so the zero pixels of the mask are made non-zero). Its
// single-precision values are taken back to the integer squared distances
// whose roots they round (each value is checked to lie within that
// rounding; the squares are recovered exactly below about 2000 pixels of
// distance, far above these cases), so that the comparison is exact: zarn's value is the square root
// of an integer squared length too, and equal lengths compare equal. The
// reference is checked against SciPy's distance_transform_edt
// (bench/edt_peer.py, squared distances in integers from its nearest pixels)
// on every image, and against a brute-force transform where it is small
// enough.
//
// The frame: zarn pads the image by 2 with replicated edges and fences the
// outer ring (no foreground, never crossed); the inner ring repeats the edge
// pixels, so zarn's foreground is the image's plus copies of its edge pixels
// one pixel outside. A copy is never nearer to an image pixel than the edge
// pixel it copies (it lies farther out on the same row or column, or
// diagonally at a corner), so over the image the exact distance is the one
// with no foreground outside the image, as OpenCV and SciPy take it. The run
// checks this too: the exact transform of the mask padded by one replicated
// pixel, cropped to the image, is the same.

const std::filesystem::path source_dir = std::filesystem::path(__FILE__).parent_path();

// Pixels where zarn's distance counts as larger than the exact one.
constexpr double excess_tolerance = 1e-9;

// What a child reports for one mask. Checks: -1 not run, 0 failed, 1 passed.
struct exactness {
    size_t pixels = 0;    // image pixels
    size_t measured = 0;  // zero pixels: where a distance is measured and compared
    size_t over = 0;      // of them, zarn's distance above the exact one by more than 1e-9
    double max_excess = 0, sum_excess = 0;
    double min_difference = 0;   // smallest zarn - exact over the measured pixels
    double cv_rounding = 0;      // largest |OpenCV - sqrt(n)| in units of 2^-24 max(1, sqrt(n))
    int read = -1, generators = -1, frame = -1, scipy = -1, brute = -1;
    bool empty = false;  // no foreground: +infinity everywhere, skipped
    bool ok = false;
};

// Exact squared distances (row by row, 0 on the foreground) of the exact
// transform that OpenCV gives, and the largest rounding seen.
std::vector<std::int64_t> opencv_squared(const cv::Mat& mask, double& rounding) {
    const cv::Mat background = mask == 0;
    cv::Mat d;
    cv::distanceTransform(background, d, cv::DIST_L2, cv::DIST_MASK_PRECISE, CV_32F);
    std::vector<std::int64_t> n(mask.total());
    rounding = 0;
    for (int r = 0; r < mask.rows; ++r)
        for (int c = 0; c < mask.cols; ++c) {
            const double v = d.at<float>(r, c);
            const std::int64_t k = std::llround(v * v);
            const double root = std::sqrt(double(k));
            rounding = std::max(rounding, std::abs(v - root) / (std::ldexp(1.0, -24) * std::max(1.0, root)));
            n[size_t(r) * size_t(mask.cols) + size_t(c)] = k;
        }
    return n;
}

// Brute force: for every zero pixel the least squared distance to a
// foreground pixel that has a zero 4-neighbour. The nearest foreground pixel
// always has one: the step from it towards the zero pixel along an axis on
// which they differ comes strictly nearer, so it lands on a zero pixel.
std::vector<std::int64_t> brute_squared(const cv::Mat& mask) {
    std::vector<int> br, bc;
    for (int r = 0; r < mask.rows; ++r)
        for (int c = 0; c < mask.cols; ++c) {
            if (!mask.at<unsigned char>(r, c)) continue;
            const bool edge = (r > 0 && !mask.at<unsigned char>(r - 1, c)) ||
                              (r + 1 < mask.rows && !mask.at<unsigned char>(r + 1, c)) ||
                              (c > 0 && !mask.at<unsigned char>(r, c - 1)) ||
                              (c + 1 < mask.cols && !mask.at<unsigned char>(r, c + 1));
            if (edge) {
                br.push_back(r);
                bc.push_back(c);
            }
        }
    std::vector<std::int64_t> n(mask.total(), 0);
    for (int r = 0; r < mask.rows; ++r)
        for (int c = 0; c < mask.cols; ++c) {
            if (mask.at<unsigned char>(r, c)) continue;
            std::int64_t best = std::numeric_limits<std::int64_t>::max();
            for (size_t k = 0; k < br.size(); ++k) {
                const std::int64_t dr = r - br[k], dc = c - bc[k];
                best = std::min(best, dr * dr + dc * dc);
            }
            n[size_t(r) * size_t(mask.cols) + size_t(c)] = best;
        }
    return n;
}

// Foreground pixels with a zero 4-neighbour in the image: the candidates the
// brute force tries for every zero pixel.
size_t edge_pixel_count(const cv::Mat& mask) {
    cv::Mat eroded;
    cv::erode(mask != 0, eroded, cv::getStructuringElement(cv::MORPH_CROSS, cv::Size(3, 3)), cv::Point(-1, -1),
              1, cv::BORDER_CONSTANT, cv::Scalar(255));
    return size_t(cv::countNonZero(mask != 0)) - size_t(cv::countNonZero(eroded));
}

// SciPy's squared distances of the mask (bench/edt_peer.py), or an empty
// vector when the peer cannot run.
std::vector<std::int64_t> scipy_squared(const cv::Mat& mask, const std::string& folder) {
    const std::string stem = folder + "/edt_" + std::to_string(getpid());
    const std::string in = stem + ".mask", out = stem + ".sq";
    {
        std::ofstream f(in, std::ios::binary);
        for (int r = 0; r < mask.rows; ++r) f.write(mask.ptr<const char>(r), mask.cols);
    }
    const std::string script = quoted((source_dir / "edt_peer.py").string());
    const command_run p = run_command("/usr/bin/python3 " + script + " " + std::to_string(mask.rows) + " " +
                                      std::to_string(mask.cols) + " " + quoted(in) + " " + quoted(out));
    std::vector<std::int64_t> n;
    if (p.ok && p.out.rfind("ok", 0) == 0) {
        n.resize(mask.total());
        std::ifstream f(out, std::ios::binary);
        if (!f.read(reinterpret_cast<char*>(n.data()), std::streamsize(n.size() * sizeof n[0]))) n.clear();
    }
    std::filesystem::remove(in);
    std::filesystem::remove(out);
    return n;
}

exactness compare_exact(const cv::Mat& mask, const std::string& folder, double brute_budget) {
    exactness e;
    const size_t rows = size_t(mask.rows), cols = size_t(mask.cols);
    e.pixels = rows * cols;
    if (cv::countNonZero(mask) == 0) {
        e.empty = true;
        e.ok = true;
        return e;
    }

    // zarn's stage, as run_case runs it.
    grid_case g(mask, false);
    z::distance_transform<false, double> t(g.nodes, g.opts, g.input, g.gradient);
    t.init_factory();
    t.copy_input();
    t.create_front();
    t.propagate();
    t.reconstruct_distance();
    t.reconstruct_generators();
    lumo::array_2d<double> zd;
    z::extract_node_field(g.nodes, &node::distance, zd, z::pipeline_border);
    if (zd.size(0) != rows || zd.size(1) != cols) return e;
    const auto zarn_at = [&](size_t r, size_t c) { return zd[r + rows * c]; };

    // The read: 0 exactly on the foreground, finite and positive elsewhere;
    // every distance the length to its generator, a foreground pixel of the
    // padded input inside the fence.
    e.read = 1;
    e.generators = 1;
    const size_t w = g.nodes.size(0), h = g.nodes.size(1), b = z::pipeline_border;
    for (size_t c = 0; c < cols; ++c)
        for (size_t r = 0; r < rows; ++r) {
            const double v = zarn_at(r, c);
            const bool fg = mask.at<unsigned char>(int(r), int(c)) != 0;
            if (fg ? v != 0 : !(v > 0 && std::isfinite(v))) e.read = 0;
            const node& n = g.nodes[(r + b) + w * (c + b)];
            if (!n.generator) {
                e.generators = 0;
                continue;
            }
            const size_t k = size_t(n.generator - g.nodes.raw());
            const size_t gr = k % w, gc = k / w;
            const std::int64_t dr = std::int64_t(gr) - std::int64_t(r + b);
            const std::int64_t dc = std::int64_t(gc) - std::int64_t(c + b);
            if (gr < 1 || gr + 1 >= w || gc < 1 || gc + 1 >= h || g.input[k] == 0 ||
                v != std::sqrt(double(dr * dr + dc * dc)))
                e.generators = 0;
        }

    // The reference and its checks.
    const std::vector<std::int64_t> exact = opencv_squared(mask, e.cv_rounding);
    {
        cv::Mat padded;
        cv::copyMakeBorder(mask, padded, 1, 1, 1, 1, cv::BORDER_REPLICATE);
        double unused = 0;
        const std::vector<std::int64_t> p = opencv_squared(padded, unused);
        e.frame = 1;
        for (size_t r = 0; r < rows; ++r)
            for (size_t c = 0; c < cols; ++c)
                if (p[(r + 1) * (cols + 2) + c + 1] != exact[r * cols + c]) e.frame = 0;
    }
    {
        const std::vector<std::int64_t> s = scipy_squared(mask, folder);
        if (!s.empty()) e.scipy = s == exact ? 1 : 0;
    }
    const size_t zeros = e.pixels - size_t(cv::countNonZero(mask));
    if (double(zeros) * double(edge_pixel_count(mask)) <= brute_budget) e.brute = brute_squared(mask) == exact ? 1 : 0;

    // The comparison on the zero pixels (the foreground is 0 in both: the
    // read check).
    e.min_difference = std::numeric_limits<double>::infinity();
    for (size_t r = 0; r < rows; ++r)
        for (size_t c = 0; c < cols; ++c) {
            if (mask.at<unsigned char>(int(r), int(c)) != 0) continue;
            ++e.measured;
            const double d = zarn_at(r, c) - std::sqrt(double(exact[r * cols + c]));
            e.min_difference = std::min(e.min_difference, d);
            if (d > excess_tolerance) {
                ++e.over;
                e.sum_excess += d;
                e.max_excess = std::max(e.max_excess, d);
            }
        }
    if (e.measured == 0) e.min_difference = 0;
    e.ok = true;
    return e;
}

// A disk of radius `radius` centred off the pixel grid, in a non-square
// image with a margin; the disk is the foreground, or with `inside` the
// rest of the image is (the distance then measures the disk's inside).
cv::Mat disk_mask(int radius, bool inside) {
    const int margin = std::max(8, radius / 2);
    const int rows = 2 * (radius + margin) + 1, cols = rows + 10 + radius / 4;
    const double cy = (rows - 1) / 2.0 + 0.37, cx = (cols - 1) / 2.0 - 0.29;
    cv::Mat m(rows, cols, CV_8U);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) {
            const bool in_disk = (r - cy) * (r - cy) + (c - cx) * (c - cx) <= double(radius) * radius;
            m.at<unsigned char>(r, c) = in_disk != inside ? 255 : 0;
        }
    return m;
}

// Random disks of radius 4 to 64 with off-grid centres, covering about a
// third of the image; swapped with `inside`.
cv::Mat disk_field(int rows, int cols, unsigned seed, bool inside) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> ur(0, rows), uc(0, cols), ud(4, 64);
    cv::Mat m = cv::Mat::zeros(rows, cols, CV_8U);
    double covered = 0;
    while (covered < 0.3 * rows * cols) {
        const double cy = ur(rng), cx = uc(rng), radius = ud(rng);
        for (int r = std::max(0, int(cy - radius) - 1); r <= std::min(rows - 1, int(cy + radius) + 1); ++r)
            for (int c = std::max(0, int(cx - radius) - 1); c <= std::min(cols - 1, int(cx + radius) + 1); ++c)
                if ((r - cy) * (r - cy) + (c - cx) * (c - cx) <= radius * radius) m.at<unsigned char>(r, c) = 255;
        covered += std::numbers::pi * radius * radius;
    }
    return inside ? cv::Mat(m == 0) : m;
}

const char* check_word(int v) { return v < 0 ? "-" : v ? "ok" : "FAIL"; }

struct exactness_summary {
    double bound = 0, share = 0, lowest = std::numeric_limits<double>::infinity(), rounding = 0;
    std::string bound_case, share_case;
    int cases = 0, scipy = 0, brute = 0, skipped = 0;
    bool checks_ok = true;
};

void print_exactness_header(bool scipy_found) {
    std::printf("\nBinary distance exactness (zarn's raw distances, pixels, against the exact Euclidean distance "
                "transform: OpenCV DIST_L2, DIST_MASK_PRECISE, CV_32F, of the inverted mask;\n"
                "measured = zero pixels, where a distance is measured; over = of them, zarn above the exact "
                "distance by more than 1e-9; excess in pixels;\n"
                "checks: read = 0 on the foreground and finite elsewhere, gen = each distance the length to "
                "its generator, frame = same exact distance with the replicated padding,\n"
                "scipy = reference equal to SciPy's distance_transform_edt%s, brute = equal to a brute-force "
                "transform (small cases))\n",
                scipy_found ? "" : " (not installed: run bench/setup)");
    std::printf("%-26s %9s %9s %8s %8s %10s %10s %10s  %-4s %-4s %-5s %-5s %-5s\n", "image", "pixels", "measured",
                "over", "over %", "max exc", "mean exc", "min diff", "read", "gen", "frame", "scipy", "brute");
}

void run_exactness(const std::string& name, const std::function<cv::Mat()>& make, const std::string& folder,
                   exactness_summary& s) {
    const exactness e = in_child<exactness>([&] {
        const cv::Mat m = make();
        return m.empty() ? exactness{} : compare_exact(m, folder, 1.5e9);
    });
    if (!e.ok) {
        std::printf("%-26s failed\n", name.c_str());
        s.checks_ok = false;
        return;
    }
    if (e.empty) {
        std::printf("%-26s %9zu skipped: no foreground, the distance is +infinity everywhere\n", name.c_str(),
                    e.pixels);
        ++s.skipped;
        return;
    }
    const double share = e.measured ? 100.0 * double(e.over) / double(e.measured) : 0;
    std::printf("%-26s %9zu %9zu %8zu %7.3f%% %10.6f %10.6f %10.3g  %-4s %-4s %-5s %-5s %-5s\n", name.c_str(),
                e.pixels, e.measured, e.over, share, e.max_excess, e.over ? e.sum_excess / double(e.over) : 0.0,
                e.min_difference, check_word(e.read), check_word(e.generators), check_word(e.frame),
                check_word(e.scipy), check_word(e.brute));
    ++s.cases;
    if (e.max_excess > s.bound) {
        s.bound = e.max_excess;
        s.bound_case = name;
    }
    if (share > s.share) {
        s.share = share;
        s.share_case = name;
    }
    s.lowest = std::min(s.lowest, e.min_difference);
    s.rounding = std::max(s.rounding, e.cv_rounding);
    s.scipy += e.scipy == 1;
    s.brute += e.brute == 1;
    if (e.read != 1 || e.generators != 1 || e.frame != 1 || e.scipy == 0 || e.brute == 0 || e.cv_rounding > 1)
        s.checks_ok = false;
}

void exactness_section() {
    const std::filesystem::path data = data_dir();
    char tmpl[] = "/tmp/zarn_bench_exact_XXXXXX";
    if (!mkdtemp(tmpl)) {
        std::printf("\nBinary distance exactness: cannot make a temporary folder\n");
        return;
    }
    const std::string folder = tmpl;
    const bool scipy_found = run_command("/usr/bin/python3 -c 'import scipy.ndimage'").ok;
    print_exactness_header(scipy_found);
    exactness_summary s;

    const auto grey = [&](const char* file) {
        const std::string path = (data / file).string();
        return [path] { return cv::imread(path, cv::IMREAD_GRAYSCALE); };
    };
    const auto horse = grey("horse_mask.png");
    run_exactness("horse_mask.png", horse, folder, s);
    run_exactness("horse_mask.png inverted", [&] { return cv::Mat(horse() == 0); }, folder, s);
    for (const char* file : {"coins.png", "camera.png"}) {
        const auto img = grey(file);
        run_exactness(std::string(file) + " >= 128", [&] { return cv::Mat(img() >= 128); }, folder, s);
        run_exactness(std::string(file) + " < 128", [&] { return cv::Mat(img() < 128); }, folder, s);
    }
    for (int radius : {5, 10, 20, 50, 100, 200})
        for (bool inside : {false, true})
            run_exactness("disk r=" + std::to_string(radius) + (inside ? " inside" : " outside"),
                          [&] { return disk_mask(radius, inside); }, folder, s);
    for (bool inside : {false, true})
        run_exactness(std::string("disks 1024x768 ") + (inside ? "inside" : "outside"),
                      [&] { return disk_field(1024, 768, 7, inside); }, folder, s);
    for (bool inside : {false, true})
        run_exactness(std::string("blobs 1024x1024 ") + (inside ? "inside" : "outside"), [&] {
            const cv::Mat m = blob_mask(1024, 1024, 1025);
            return inside ? cv::Mat(m == 0) : m;
        }, folder, s);
    run_exactness("all zero 64x48", [] { return cv::Mat(cv::Mat::zeros(64, 48, CV_8U)); }, folder, s);

    std::printf("\nsummary: %d cases compared, %d skipped; bound: largest excess %.6f pixel (%s); largest share %.3f%% "
                "of the measured pixels (%s); smallest difference %.3g (%s);\n"
                "reference: OpenCV's values within %.2f x 2^-24 (relative) of the roots of integers, equal to "
                "SciPy's on %d of %d images, to brute force on %d; %s\n",
                s.cases, s.skipped, s.bound, s.bound_case.c_str(), s.share, s.share_case.c_str(), s.lowest,
                s.lowest >= 0 ? "never below the exact distance" : "BELOW THE EXACT DISTANCE", s.rounding, s.scipy, s.cases,
                s.brute, s.checks_ok ? "all checks passed" : "SOME CHECK FAILED");
    std::filesystem::remove_all(folder);
}

}  // namespace

int main() {
    const std::filesystem::path data = data_dir();
    const int sides[] = {1024, 2048, 4096};

    print_header(true);
    {
        const std::string path = (data / "camera.png").string();
        print_row("camera.png",
                  measure([&] { return cv::imread(path, cv::IMREAD_GRAYSCALE); }, true, run_case),
                  true);
    }
    for (int s : sides)
        print_row("smooth " + std::to_string(s) + "x" + std::to_string(s),
                  measure([&] { return smooth_gray(s, s, unsigned(s)); }, true, run_case), true);

    print_header(false);
    {
        const std::string path = (data / "horse_mask.png").string();
        print_row("horse_mask.png",
                  measure([&] { return cv::imread(path, cv::IMREAD_GRAYSCALE); }, false, run_case), false);
    }
    for (int s : sides)
        print_row("blobs " + std::to_string(s) + "x" + std::to_string(s),
                  measure([&] { return blob_mask(s, s, unsigned(s) + 1); }, false, run_case), false);
    std::printf("\ntables: displacement tables grown for the image (a run pays once per larger "
                "grid); total includes them, w/o tab does not.\n");
    exactness_section();
    return 0;
}
