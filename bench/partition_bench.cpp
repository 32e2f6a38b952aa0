// Times `zarn -p` on 1 and 4 megapixel photographs and masks, the whole
// process and each partition stage (from its -t lines), beside OpenCV's
// cv::watershed and scikit-image's watershed on the same images, both grown
// from markers at the local maxima of the Euclidean distance of the binary
// image. Every tool runs in a process of its own; each figure is the best of
// three runs.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "bench_support.hpp"

namespace {

namespace fs = std::filesystem;
using namespace bench;

// The stages of `zarn -p -t` reported here, in the order they print.
const std::vector<std::string> stage_labels = {
    "Partition initialization:", "Component front/list creation:",
    "Ridge propagation / component creation:", "Link creation/expansion:", "Primal type backup:",
    "Dual distance", "Component cleanup:", "Component merging:", "Partition output:"};
const std::vector<std::string> stage_names = {"init", "seeds", "ridge", "links", "backup",
                                              "dual", "clean", "merge", "output"};

struct zarn_figures {
    double wall_ms = 1e300;   // whole process: load, compute, save
    double total_ms = 0;      // the "Total:" line
    std::vector<double> stage_ms = std::vector<double>(stage_labels.size(), 0);
    bool ok = false;
};

// Runs zarn once with -t and reads its stage lines; the dual distance is the
// sum of the distance lines that follow "Primal type backup:".
zarn_figures run_zarn(const std::string& binary, const std::string& image, bool binary_mode,
                      const std::string& out) {
    zarn_figures f;
    const command_run r = run_command(quoted(binary) + " -p -t " + (binary_mode ? "-b " : "") +
                                      quoted(image) + " " + quoted(out));
    f.wall_ms = r.ms;
    if (!r.ok) return f;
    bool after_backup = false;
    read_timing_lines(r.out, [&](const std::string& label, double ms) {
        if (label == "Total:") f.total_ms = ms;
        if (label == "Primal type backup:") after_backup = true;
        if (after_backup && label.rfind("Distance ", 0) == 0) f.stage_ms[5] += ms;
        for (size_t k = 0; k < stage_labels.size(); ++k)
            if (label == stage_labels[k]) f.stage_ms[k] = ms;
        if (label == "Partition output:") after_backup = false;
    });
    f.ok = true;
    return f;
}

zarn_figures best_zarn(const std::string& binary, const std::string& image, bool binary_mode,
                       const std::string& out) {
    zarn_figures best;
    for (int k = 0; k < 3; ++k) {
        const zarn_figures f = run_zarn(binary, image, binary_mode, out);
        if (f.ok && (!best.ok || f.total_ms < best.total_ms)) best = f;
        if (f.ok) best.wall_ms = std::min(best.wall_ms, f.wall_ms);
    }
    return best;
}

struct peer_figures {
    double markers_ms = 0;    // distance and markers
    double watershed_ms = 0;  // the watershed itself
    int regions = 0;
    bool ok = false;
};

// OpenCV: exact distance of the binary image, local maxima (equal to their
// 3 x 3 dilation, inside the foreground) labelled as markers, cv::watershed
// of the image in three channels. Runs in a child process.
peer_figures run_opencv(const std::string& image, bool photo) {
    return in_child<peer_figures>([&] {
        peer_figures r;
        const cv::Mat gray = cv::imread(image, cv::IMREAD_GRAYSCALE);
        if (gray.empty()) return r;
        cv::setNumThreads(1);
        r.markers_ms = r.watershed_ms = 1e300;
        for (int k = 0; k < 3; ++k) {
            auto t0 = clock_type::now();
            const cv::Mat binary = photo ? cv::Mat(gray > 127) : cv::Mat(gray > 0);
            cv::Mat distance, dilated, markers;
            cv::distanceTransform(binary, distance, cv::DIST_L2, cv::DIST_MASK_PRECISE, CV_32F);
            cv::dilate(distance, dilated, cv::Mat::ones(3, 3, CV_8U));
            const cv::Mat peaks = (distance == dilated) & binary;
            r.regions = cv::connectedComponents(peaks, markers, 8, CV_32S) - 1;
            r.markers_ms = std::min(r.markers_ms, ms_since(t0));
            cv::Mat colour;
            cv::cvtColor(gray, colour, cv::COLOR_GRAY2BGR);
            t0 = clock_type::now();
            cv::watershed(colour, markers);
            r.watershed_ms = std::min(r.watershed_ms, ms_since(t0));
        }
        r.ok = true;
        return r;
    });
}

// scikit-image through the script beside this file.
peer_figures run_skimage(const std::string& script, const std::string& image, bool photo) {
    peer_figures r;
    const command_run c = run_command("/usr/bin/python3 " + quoted(script) + " " + quoted(image) + " " +
                                      (photo ? "photo" : "mask"));
    double edt = 0, markers = 0, ws = 0;
    int regions = 0;
    const int got =
        std::sscanf(c.out.c_str(), "edt %lf markers %lf watershed %lf regions %d", &edt, &markers, &ws, &regions);
    if (got != 4 || !c.ok) return r;
    r.markers_ms = edt + markers;
    r.watershed_ms = ws;
    r.regions = regions;
    r.ok = true;
    return r;
}

struct bench_image {
    std::string name;
    std::string path;
    bool photo;
};

// The repository's pictures scaled to the sizes of the benchmark: cubic
// for photographs, nearest for masks.
std::vector<bench_image> make_images(const fs::path& data, const fs::path& folder) {
    struct source {
        std::string file;
        bool photo;
    };
    const source sources[] = {{"camera.png", true}, {"chelsea.png", true}, {"horse_mask.png", false},
                              {"coins.png", false}};
    std::vector<bench_image> images;
    for (double megapixels : {1.0, 4.0})
        for (const source& s : sources) {
            cv::Mat m = cv::imread((data / s.file).string(), cv::IMREAD_GRAYSCALE);
            if (m.empty()) continue;
            if (!s.photo && s.file == "coins.png") m = m > 120;  // a mask of the coins
            const cv::Mat scaled =
                scaled_to_megapixels(m, megapixels, s.photo ? cv::INTER_CUBIC : cv::INTER_NEAREST);
            std::string stem = fs::path(s.file).stem().string();
            if (!s.photo && stem.find("mask") == std::string::npos) stem += "_mask";
            const std::string name = stem + " " + std::to_string(int(megapixels)) + "MP";
            const fs::path path = folder / (std::to_string(images.size()) + ".png");
            cv::imwrite(path.string(), scaled);
            images.push_back({name, path.string(), s.photo});
        }
    return images;
}

}  // namespace

int main() {
    const fs::path here = fs::path(__FILE__).parent_path();
    const fs::path folder = fs::temp_directory_path() / ("zarn_partition_bench_" + std::to_string(getpid()));
    fs::create_directories(folder);
    const std::vector<bench_image> images = make_images(data_dir(), folder);
    const std::string script = (here / "watershed_peer.py").string();

    std::printf("zarn -p (weighted for photographs, -b for masks): ns per image pixel; the partition\n"
                "stages as -t reports them, 'dual' the dual distance run between its two halves.\n"
                "Peers, grown from markers at the local maxima of the distance of the binary image\n"
                "(photographs at gray 127): 'mk' distance + markers, 'ws' the watershed itself.\n\n");
    std::printf("%-17s %8s %8s %8s %7s", "image", "pixels", "process", "total", "part");
    for (const std::string& s : stage_names) std::printf(" %6s", s.c_str());
    std::printf(" %7s %7s %7s %7s %7s %7s\n", "cv mk", "cv ws", "sk mk", "sk ws", "part/cv", "proc/sk");
    for (const bench_image& im : images) {
        const cv::Mat m = cv::imread(im.path, cv::IMREAD_GRAYSCALE);
        const double mp = double(m.total()) / 1e6;  // ms per megapixel = ns per pixel
        const zarn_figures z = best_zarn(ZARN_BINARY, im.path, !im.photo, (folder / "out").string());
        const peer_figures cv_r = run_opencv(im.path, im.photo);
        const peer_figures sk = run_skimage(script, im.path, im.photo);
        if (!z.ok) {
            std::printf("%-17s zarn failed\n", im.name.c_str());
            continue;
        }
        double partition = 0;
        for (double v : z.stage_ms) partition += v;
        std::printf("%-17s %8zu %8.1f %8.1f %7.1f", im.name.c_str(), size_t(m.total()), z.wall_ms / mp,
                    z.total_ms / mp, partition / mp);
        for (double v : z.stage_ms) std::printf(" %6.1f", v / mp);
        std::printf(" %7.1f %7.1f %7.1f %7.1f %6.2fx %6.2fx\n", cv_r.markers_ms / mp, cv_r.watershed_ms / mp,
                    sk.markers_ms / mp, sk.watershed_ms / mp,
                    partition / (cv_r.markers_ms + cv_r.watershed_ms),
                    z.wall_ms / (sk.markers_ms + sk.watershed_ms));
    }
    std::printf("\npart: the partition stages (init .. output); part/cv: part over OpenCV's mk + ws;\n"
                "proc/sk: the whole zarn process (load, all stages, save) over scikit-image's mk + ws.\n");
    fs::remove_all(folder);
    return 0;
}
