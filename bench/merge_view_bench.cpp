// Times the interactive merging view (-vi) without its windows: the
// "Component merging:" stage with and without the view on the same image,
// the difference per merge step and per pixel of the padded grid, beside
// what OpenCV takes to compose the same canvas (gray to colour and three
// weighted blends of the whole picture, as a step does). Partition mode
// stops 100 merges before its end; feature mode merges every link. Each
// case runs in a child process; each figure is the best of three runs.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <streambuf>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "bench_support.hpp"
#include "distance/run_distance.hpp"
#include "partition/partition.hpp"
#include "pipeline/pipeline.hpp"

namespace {

using namespace bench;
using stage = z::partition<false, double>;

struct result {
    double plain_ms = 1e300, view_ms = 1e300, opencv_step_ms = 1e300;
    size_t steps = 0, pixels = 0, grid = 0;
    bool ok = false;
};

// Swallows what the view prints.
struct null_buffer : std::streambuf {
    int overflow(int c) override { return c; }
};

void no_window(const lumo::image<unsigned char>&, const std::string&, const std::string&) {}

lumo::array_2d<unsigned char> as_array(const cv::Mat& img) {
    lumo::array_2d<unsigned char> a(size_t(img.rows), size_t(img.cols));
    for (int r = 0; r < img.rows; ++r)
        for (int c = 0; c < img.cols; ++c) a(size_t(r), size_t(c)) = img.at<unsigned char>(r, c);
    return a;
}

struct merge_run {
    double ms;
    size_t before, steps, grid;  // components before merging, merges, nodes
};

// One partition of the image up to merging; then the timed merge, with or
// without the view.
merge_run merge_once(const cv::Mat& img, bool features, size_t pc, bool view) {
    z::options<double> opts;
    opts.commands.partition = !features;
    opts.commands.features = features;
    opts.partition.min_components = pc;
    opts.partition.interactive = view;
    opts.validate(false);
    z::image_set<double> set;
    set.input = as_array(img);
    z::image_pipeline<false, double> pipe(opts);
    pipe.allocate_input(set.input);
    pipe.initial_allocations();
    pipe.compute_plain();
    pipe.dual_transform();
    stage s(pipe.nodes, opts, pipe.padded_input, pipe.partition_store, set.features);
    s.view.show = &no_window;
    s.run();
    pipe.enter_dual_mode();
    z::run_distance_stage<false, double>(pipe.nodes, opts, pipe.padded_input, pipe.gradient);
    pipe.leave_dual_mode();
    s.cleanup();
    if (features) {
        s.compute_gaps();
        s.compute_statistics();
    }
    const auto t0 = clock_type::now();
    s.merge();
    const double ms = ms_since(t0);
    const size_t before = s.components_at_merge - s.unions;
    return {ms, before, before - s.live_components, pipe.nodes.length()};
}

// What OpenCV takes for one step's canvas: the gray input as colour, then
// three blends of a colour layer over the whole picture.
double opencv_step_ms(const cv::Mat& img) {
    cv::Mat padded, canvas, layer(img.rows + 4, img.cols + 4, CV_8UC3, cv::Scalar(255, 255, 0));
    cv::copyMakeBorder(img, padded, 2, 2, 2, 2, cv::BORDER_REPLICATE);
    double best = 1e300;
    for (int k = 0; k < 3; ++k) {
        const auto t0 = clock_type::now();
        cv::cvtColor(padded, canvas, cv::COLOR_GRAY2BGR);
        for (double w : {0.5, 0.5, 0.3}) cv::addWeighted(canvas, 1 - w, layer, w, 0, canvas);
        best = std::min(best, ms_since(t0));
    }
    return best;
}

result run_case(const cv::Mat& img, bool features) {
    null_buffer sink;
    std::streambuf* old = std::cout.rdbuf(&sink);
    result r;
    r.pixels = size_t(img.rows) * size_t(img.cols);
    // Without -pc partition mode merges nothing.
    const size_t pc = features ? z::size_max : std::max<size_t>(merge_once(img, false, 0, false).before, 101) - 100;
    for (int k = 0; k < 3; ++k) {
        r.plain_ms = std::min(r.plain_ms, merge_once(img, features, pc, false).ms);
        const merge_run shown = merge_once(img, features, pc, true);
        r.view_ms = std::min(r.view_ms, shown.ms);
        r.steps = shown.steps;
        r.grid = shown.grid;
    }
    r.opencv_step_ms = opencv_step_ms(img);
    std::cout.rdbuf(old);
    r.ok = true;
    return r;
}

}  // namespace

int main() {
    const std::string data = ZARN_DATA_DIR;
    auto file = [](const std::string& path) { return cv::imread(path, cv::IMREAD_GRAYSCALE); };
    std::printf("%-22s %-9s %8s %12s %12s %16s %16s\n", "image", "mode", "steps", "merge ms", "with -vi ms",
                "ns/px/step -vi", "ns/px/step cv");
    const std::vector<std::pair<std::string, bool>> cases = {
        {"coins.png", false}, {"camera.png", false}, {"chelsea.png", false}, {"smooth 1 MP", false},
        {"coins.png", true},  {"camera.png", true}};
    for (const auto& [name, features] : cases) {
        const result r = in_child<result>([&] {
            const cv::Mat img = name == "smooth 1 MP" ? smooth_gray(1000, 1000, 7) : file(data + "/" + name);
            return img.empty() ? result{} : run_case(img, features);
        });
        if (!r.ok) {
            std::printf("%-22s failed\n", name.c_str());
            continue;
        }
        const double per_step = r.steps ? (r.view_ms - r.plain_ms) / double(r.steps) : 0;
        std::printf("%-22s %-9s %8zu %12.2f %12.2f %16.2f %16.2f\n", name.c_str(), features ? "-f" : "-p",
                    r.steps, r.plain_ms, r.view_ms, per_step * 1e6 / double(r.grid),
                    r.opencv_step_ms * 1e6 / double(r.grid));
    }
    return 0;
}
