// Times `zarn -f` on 1 and 4 megapixel photographs (the repository's
// pictures scaled), as a whole process and stage by stage from its -t lines,
// with the features it writes per megapixel, beside OpenCV's MSER on the same
// images: cv::MSER's regions, each made an ellipse from the mean and the
// covariance of its points, as zarn makes its features. Every figure is the
// best of three runs; zarn runs as a fresh process each time, MSER in a child
// process of its own on one thread.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/features2d.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "bench_support.hpp"

namespace {

namespace fs = std::filesystem;
using namespace bench;

// The stage groups reported, in the order zarn runs them.
enum group { setup, primal, dual_transform, partition_run, dual_distance, cleanup, gaps, statistics,
             merging, generation, groups };
const char* const group_names[groups] = {"setup", "primal", "dualT", "part1", "dualD",
                                         "clean", "gaps", "stats", "merge", "gen"};

struct zarn_figures {
    double wall_ms = 0;   // the whole process: load, compute, save
    double total_ms = 0;  // its "Total:" line
    double ms[groups] = {};
    long features = 0;
    bool ok = false;
};

// The group of a -t line, given where the run stands: the distance lines
// after "Primal type backup:" belong to the dual distance.
int group_of(const std::string& label, bool after_backup) {
    static const std::pair<const char*, int> named[] = {
        {"Degenerate case check:", setup}, {"Input image allocation, pad & copy:", setup},
        {"Initial allocations:", setup},
        {"Dual transform -- image boundary condition:", dual_transform},
        {"Dual transform -- height / distance negation:", dual_transform},
        {"Partition initialization:", partition_run}, {"Component front/list creation:", partition_run},
        {"Ridge propagation / component creation:", partition_run},
        {"Link creation/expansion:", partition_run}, {"Primal type backup:", partition_run},
        {"Component cleanup:", cleanup}, {"Component boundary gap computation:", gaps},
        {"Component statistics computation:", statistics}, {"Component merging:", merging},
        {"Feature generation:", generation}};
    for (const auto& [name, g] : named)
        if (label == name) return g;
    if (label == "Total:" || label == "Sub-total:" || label == "Output image allocation, pad & copy:") return -1;
    return after_backup ? dual_distance : primal;
}

zarn_figures run_zarn(const std::string& image, const std::string& out) {
    zarn_figures f;
    const command_run r = run_command(quoted(ZARN_BINARY) + " -f -t -vs " + quoted(image) + " " + quoted(out));
    f.wall_ms = r.ms;
    if (!r.ok) return f;
    bool after_backup = false;
    const auto timed = [&](const std::string& label, double ms) {
        if (label == "Total:") f.total_ms = ms;
        const int g = group_of(label, after_backup);
        if (g >= 0) f.ms[g] += ms;
        if (label == "Primal type backup:") after_backup = true;
    };
    const auto other = [&](const std::string& line) {
        long nodes = 0, isolated = 0;
        std::sscanf(line.c_str(), "-> Total nodes / features (isolated): %ld / %ld (%ld)", &nodes, &f.features,
                    &isolated);
    };
    read_timing_lines(r.out, timed, other);
    f.ok = true;
    return f;
}

zarn_figures best_zarn(const std::string& image, const std::string& out) {
    zarn_figures best;
    for (int k = 0; k < 3; ++k) {
        const zarn_figures f = run_zarn(image, out);
        if (f.ok && (!best.ok || f.wall_ms < best.wall_ms)) best = f;
    }
    return best;
}

struct mser_figures {
    double detect_ms = 1e300;   // cv::MSER::detectRegions
    double ellipse_ms = 1e300;  // mean and covariance of every region's points
    long regions = 0;
    bool ok = false;
};

// Each region's ellipse from the moments of its points; the sum of the
// determinants keeps the work from being optimised away.
double region_ellipses(const std::vector<std::vector<cv::Point>>& regions) {
    double check = 0;
    for (const std::vector<cv::Point>& r : regions) {
        double sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
        for (const cv::Point& p : r) {
            sx += p.x;
            sy += p.y;
            sxx += double(p.x) * p.x;
            syy += double(p.y) * p.y;
            sxy += double(p.x) * p.y;
        }
        const double n = double(r.size()), mx = sx / n, my = sy / n;
        const double a = 4 * (sxx / n - mx * mx), b = 4 * (sxy / n - mx * my), c = 4 * (syy / n - my * my);
        check += a * c - b * b;
    }
    return check;
}

mser_figures run_mser(const std::string& image) {
    return in_child<mser_figures>([&] {
        mser_figures m;
        const cv::Mat gray = cv::imread(image, cv::IMREAD_GRAYSCALE);
        if (gray.empty()) return m;
        cv::setNumThreads(1);
        const cv::Ptr<cv::MSER> mser = cv::MSER::create();
        for (int k = 0; k < 3; ++k) {
            std::vector<std::vector<cv::Point>> regions;
            std::vector<cv::Rect> boxes;
            auto t0 = clock_type::now();
            mser->detectRegions(gray, regions, boxes);
            m.detect_ms = std::min(m.detect_ms, ms_since(t0));
            t0 = clock_type::now();
            volatile double check = region_ellipses(regions);
            (void)check;
            m.ellipse_ms = std::min(m.ellipse_ms, ms_since(t0));
            m.regions = long(regions.size());
        }
        m.ok = true;
        return m;
    });
}

struct bench_image {
    std::string name, path;
};

// The repository's photographs scaled (cubic) to 1 and 4 megapixels.
std::vector<bench_image> make_images(const fs::path& data, const fs::path& folder) {
    std::vector<bench_image> images;
    for (double megapixels : {1.0, 4.0})
        for (const char* file : {"camera.png", "chelsea.png", "coins.png"}) {
            const cv::Mat m = cv::imread((data / file).string(), cv::IMREAD_GRAYSCALE);
            if (m.empty()) continue;
            const cv::Mat scaled = scaled_to_megapixels(m, megapixels, cv::INTER_CUBIC);
            const fs::path path = folder / (std::to_string(images.size()) + ".png");
            cv::imwrite(path.string(), scaled);
            images.push_back({fs::path(file).stem().string() + " " + std::to_string(int(megapixels)) + "MP",
                              path.string()});
        }
    return images;
}

}  // namespace

int main() {
    const fs::path folder = fs::temp_directory_path() / ("zarn_features_bench_" + std::to_string(getpid()));
    fs::create_directories(folder);
    const std::vector<bench_image> images = make_images(data_dir(), folder);

    std::printf("zarn -f (weighted): ns per image pixel, the whole process and its stages as -t reports them\n"
                "(primal: distance, boundary graph and medial axis; part1: the partition before the dual\n"
                "distance dualD; then cleanup, gaps, statistics, merging, generation); feat/MP the features\n"
                "written per megapixel. OpenCV's MSER on one thread: 'detect' its regions, 'ell' their\n"
                "ellipses from the moments of their points, 'reg/MP' regions per megapixel.\n\n");
    std::printf("%-12s %8s %8s %7s", "image", "pixels", "process", "total");
    for (const char* g : group_names) std::printf(" %6s", g);
    std::printf(" %7s %8s %6s %7s %8s\n", "feat/MP", "detect", "ell", "reg/MP", "proc/cv");
    for (const bench_image& im : images) {
        const cv::Mat m = cv::imread(im.path, cv::IMREAD_GRAYSCALE);
        const double mp = double(m.total()) / 1e6;  // ms per megapixel = ns per pixel
        const zarn_figures z = best_zarn(im.path, (folder / "out").string());
        const mser_figures cv_r = run_mser(im.path);
        if (!z.ok || !cv_r.ok) {
            std::printf("%-12s %s failed\n", im.name.c_str(), z.ok ? "MSER" : "zarn");
            continue;
        }
        std::printf("%-12s %8zu %8.1f %7.1f", im.name.c_str(), size_t(m.total()), z.wall_ms / mp, z.total_ms / mp);
        for (double v : z.ms) std::printf(" %6.1f", v / mp);
        std::printf(" %7.0f %8.1f %6.1f %7.0f %7.2fx\n", z.features / mp, cv_r.detect_ms / mp, cv_r.ellipse_ms / mp,
                    cv_r.regions / mp, z.wall_ms / (cv_r.detect_ms + cv_r.ellipse_ms));
    }
    std::printf("\nproc/cv: the whole zarn process (load, all stages, save) over MSER's detect + ell.\n");
    fs::remove_all(folder);
    return 0;
}
