// Times the weighted and the binary distance transform stage by stage on
// generated 1, 4 and 16 megapixel images and on two images of the
// repository, beside OpenCV's exact Euclidean distance transform on the same
// images (one thread and all threads). Each case runs in a child process, so
// that it starts with empty displacement tables (the first image of a run
// pays for them) and its peak memory is its own.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "bench_support.hpp"
#include "distance/distance_transform.hpp"

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
    return 0;
}
