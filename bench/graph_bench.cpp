// Times boundary parsing (detection, connection) and cycle parsing of the
// boundary graph on the images of the distance benchmark: generated 1, 4 and
// 16 megapixel masks and gray images and two images of the repository. The
// distance transform runs first, untimed. Beside it, OpenCV's contour
// tracing of the same mask (the nearest common task: following every
// boundary once), best of three. Each case runs in a child process.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "bench_support.hpp"
#include "distance/distance_transform.hpp"
#include "graph/graph.hpp"

namespace {

using namespace bench;

struct result {
    double stage_ms[4] = {0, 0, 0, 0};  // clear, detection, connection, cycles
    double contours_ms = 0;
    size_t pixels = 0, vertices = 0, edges = 0, cycles = 0;
    long peak_kb = 0;
    bool ok = false;
};

double time_contours(const cv::Mat& mask) {
    std::vector<std::vector<cv::Point>> contours;
    return best_ms(3, [&] { cv::findContours(mask, contours, cv::RETR_LIST, cv::CHAIN_APPROX_NONE); });
}

result run_case(const cv::Mat& img, bool weighted) {
    result r;
    r.pixels = size_t(img.rows) * size_t(img.cols);
    grid_case c(img, weighted);
    {
        z::distance_transform<false, double> t(c.nodes, c.opts, c.input, c.gradient);
        t.run();
    }
    z::component_storage<false, double> storage(0, 1.0);
    {
        z::component_graph<false, double> g(c.nodes, c.opts, storage);
        time_into(r.stage_ms[0], [&] { g.clear_node_vertices(); });
        time_into(r.stage_ms[1], [&] { g.detect_boundary(); });
        if (weighted)
            time_into(r.stage_ms[2], [&] { g.connect_boundary_weighted(); });
        else
            time_into(r.stage_ms[2], [&] { g.connect_boundary(); });
        time_into(r.stage_ms[3], [&] { g.parse_cycles<true>(); });
    }
    r.vertices = storage.vertices.used();
    r.edges = storage.edges.used();
    r.cycles = storage.cycles.used();
    r.peak_kb = peak_rss_kb();
    const cv::Mat mask = weighted ? cv::Mat(img > 127) : cv::Mat(img > 0);
    r.contours_ms = time_contours(mask);
    r.ok = true;
    return r;
}

void print_header(bool weighted) {
    std::printf("\n%s mode, component configuration (ns per image pixel; contours: OpenCV "
                "findContours of the mask%s)\n",
                weighted ? "Weighted" : "Binary", weighted ? " thresholded at 127" : "");
    std::printf("%-20s %9s %8s %8s %8s %8s %8s %8s %9s %8s %8s %8s %8s\n", "image", "pixels",
                "clear", "detect", "connect", "boundary", "cycles", "total", "contours",
                "V/pix", "E/V", "Y/V", "peak MB");
}

void print_row(const std::string& name, const result& r) {
    if (!r.ok) {
        std::printf("%-20s failed\n", name.c_str());
        return;
    }
    const double n = double(r.pixels) / 1e6;  // ms per megapixel = ns per pixel
    const double boundary = r.stage_ms[0] + r.stage_ms[1] + r.stage_ms[2];
    const double v = double(std::max<size_t>(r.vertices, 1));
    std::printf("%-20s %9zu %8.2f %8.2f %8.2f %8.2f %8.2f %8.2f %9.2f %8.3f %8.2f %8.2f %8.0f\n",
                name.c_str(), r.pixels, r.stage_ms[0] / n, r.stage_ms[1] / n, r.stage_ms[2] / n,
                boundary / n, r.stage_ms[3] / n, (boundary + r.stage_ms[3]) / n,
                r.contours_ms / n, double(r.vertices) / double(r.pixels), double(r.edges) / v,
                double(r.cycles) / v, r.peak_kb / 1024.0);
}

}  // namespace

int main() {
    const std::filesystem::path data = data_dir();
    const int sides[] = {1024, 2048, 4096};

    print_header(true);
    for (const char* file : {"camera.png", "coins.png"}) {
        const std::string path = (data / file).string();
        print_row(file, measure([&] { return cv::imread(path, cv::IMREAD_GRAYSCALE); }, true, run_case));
    }
    for (int s : sides)
        print_row("smooth " + std::to_string(s) + "x" + std::to_string(s),
                  measure([&] { return smooth_gray(s, s, unsigned(s)); }, true, run_case));

    print_header(false);
    {
        const std::string path = (data / "horse_mask.png").string();
        print_row("horse_mask.png",
                  measure([&] { return cv::imread(path, cv::IMREAD_GRAYSCALE); }, false, run_case));
    }
    for (int s : sides)
        print_row("blobs " + std::to_string(s) + "x" + std::to_string(s),
                  measure([&] { return blob_mask(s, s, unsigned(s) + 1); }, false, run_case));
    std::printf("\nboundary = clear + detect + connect; V/pix vertices per pixel, E/V edges and "
                "Y/V cycles per vertex.\n");
    return 0;
}
