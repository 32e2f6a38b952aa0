// Times `zarn -m -b` as a whole process and stage by stage (its own -t
// lines) on generated 1, 4 and 16 megapixel masks of random disks and on the
// repository's horse mask, beside scikit-image's medial_axis and
// skeletonize of the same shape (the zero region of the mask), in process
// and as a whole Python process that loads, computes and saves. Then the
// weighted medial axis of generated 1 and 4 megapixel photographs, stage by
// stage. Every zarn figure is the best of three runs, each a fresh process.
// The peers need bench/setup (Debian's python3-skimage).
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "bench_support.hpp"

namespace {

using namespace bench;

const std::filesystem::path source_dir = std::filesystem::path(__FILE__).parent_path();
const std::string python = "/usr/bin/python3";

// The -t lines of one image: label to milliseconds; labels that occur twice
// add up.
std::map<std::string, double> stage_times(const std::string& out) {
    std::map<std::string, double> t;
    read_timing_lines(out, [&](const std::string& label, double ms) { t[label] += ms; });
    return t;
}

double sum_of(const std::map<std::string, double>& t, std::initializer_list<const char*> labels) {
    double s = 0;
    for (const char* l : labels) {
        const auto it = t.find(l);
        if (it != t.end()) s += it->second;
    }
    return s;
}

// Columns of the zarn side, in ms.
struct zarn_times {
    double whole = 0, total = 0, setup = 0, distance = 0, graph = 0, output = 0;
    double medial[5] = {0, 0, 0, 0, 0};  // init, front, residue, binary, reconstruction
    bool ok = false;
};

zarn_times time_zarn(const std::string& folder, const std::string& file, const std::string& args) {
    zarn_times best;
    for (int k = 0; k < 3; ++k) {
        const command_run r = run_command("cd " + quoted(folder) + " && " + quoted(ZARN_BINARY) + " " + args + " -t " + quoted(file));
        if (!r.ok) return best;
        if (best.ok && r.ms >= best.whole) continue;
        const auto t = stage_times(r.out);
        zarn_times z;
        z.ok = true;
        z.whole = r.ms;
        z.total = sum_of(t, {"Total:"});
        z.setup = sum_of(t, {"Degenerate case check:", "Input image allocation, pad & copy:", "Initial allocations:"});
        z.distance = sum_of(t, {"Distance factory initialization:", "Input copy:", "Height function computation:",
                                "Distance front creation:", "Distance propagation:",
                                "Distance transform reconstruction:", "Reconstruction of generators:"});
        z.graph = sum_of(t, {"Boundary parsing initialization:", "Boundary detection:", "Boundary connection:",
                             "Cycle parsing:", "Path pruning:", "Edge pruning:", "Cell construction:"});
        const char* medial[] = {"Medial axis transform initialization:", "Creating medial axis front:",
                                "Medial axis residue computation:", "Medial axis binary representation:",
                                "Medial axis reconstruction:"};
        for (int s = 0; s < 5; ++s) z.medial[s] = sum_of(t, {medial[s]});
        z.output = sum_of(t, {"Output image allocation, pad & copy:"});
        best = z;
    }
    return best;
}

struct peer_times {
    double medial_axis = 0, skeletonize = 0, whole = 0;
    bool ok = false;
};

peer_times time_peers(const std::string& folder, const std::string& file) {
    peer_times p;
    const std::string script = quoted((source_dir / "medial_peers.py").string());
    const command_run t = run_command(python + " " + script + " time " + quoted(folder + "/" + file));
    if (!t.ok) return p;
    std::sscanf(t.out.c_str(), "medial_axis %lf\nskeletonize %lf", &p.medial_axis, &p.skeletonize);
    p.whole = 1e300;
    for (int k = 0; k < 3; ++k) {
        const command_run w =
            run_command(python + " " + script + " whole " + quoted(folder + "/" + file) + " " +
                        quoted(folder + "/peer.png"));
        if (!w.ok) return p;
        p.whole = std::min(p.whole, w.ms);
    }
    p.ok = true;
    return p;
}

void print_zarn_header(const char* title) {
    std::printf("\n%s (ns per pixel; whole = the zarn process, wall clock)\n", title);
    std::printf("%-18s %9s %9s %8s %8s %8s %8s %8s %8s %8s %8s %8s %8s", "image", "pixels", "whole ms",
                "whole", "total", "setup", "distance", "graph", "m.init", "m.front", "m.resid", "m.binary",
                "m.recon");
}

void print_zarn(const std::string& name, size_t pixels, const zarn_times& z) {
    if (!z.ok) {
        std::printf("\n%-18s zarn failed", name.c_str());
        return;
    }
    const double n = double(pixels) / 1e6;
    std::printf("\n%-18s %9zu %9.0f %8.1f %8.1f %8.1f %8.1f %8.1f %8.1f %8.1f %8.1f %8.1f %8.1f", name.c_str(), pixels,
                z.whole, z.whole / n, z.total / n, z.setup / n, z.distance / n, z.graph / n, z.medial[0] / n,
                z.medial[1] / n, z.medial[2] / n, z.medial[3] / n, z.medial[4] / n);
}

void print_peers(size_t pixels, const zarn_times& z, const peer_times& p) {
    if (!p.ok) {
        std::printf("   peers failed (run bench/setup)");
        return;
    }
    const double n = double(pixels) / 1e6;
    std::printf("   | %9.1f %9.1f %9.1f   %6.2fx", p.medial_axis / n, p.skeletonize / n, p.whole / n,
                z.whole / p.medial_axis);
}

// Writes the image into the folder and measures it.
void binary_case(const std::string& folder, const std::string& name, const cv::Mat& mask) {
    const std::string file = name + ".png";
    cv::imwrite(folder + "/" + file, mask);
    const size_t pixels = size_t(mask.rows) * size_t(mask.cols);
    const zarn_times z = time_zarn(folder, file, "-m -b");
    print_zarn(name, pixels, z);
    print_peers(pixels, z, time_peers(folder, file));
    std::fflush(stdout);
}

void weighted_case(const std::string& folder, const std::string& name, const cv::Mat& image) {
    const std::string file = name + ".png";
    cv::imwrite(folder + "/" + file, image);
    print_zarn(name, size_t(image.rows) * size_t(image.cols), time_zarn(folder, file, "-m"));
    std::fflush(stdout);
}

}  // namespace

int main() {
    char tmpl[] = "/tmp/zarn_medial_bench_XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    const std::string folder = tmpl;
    const std::string data = data_dir().string();
    const int sides[] = {1024, 2048, 4096};

    print_zarn_header("Binary medial axis, zarn -m -b");
    std::printf("   | %9s %9s %9s   %7s", "sk medial", "sk skel", "sk whole", "whole/sk");
    // The horse is the zero region: the shape whose axis is drawn.
    binary_case(folder, "horse_mask", 255 - cv::imread(data + "/horse_mask.png", cv::IMREAD_GRAYSCALE));
    for (int s : sides)
        binary_case(folder, "blobs" + std::to_string(s), blob_mask(s, s, unsigned(s) + 1));

    std::printf("\n");
    print_zarn_header("Weighted medial axis, zarn -m");
    weighted_case(folder, "coins", cv::imread(data + "/coins.png", cv::IMREAD_GRAYSCALE));
    for (int s : {1024, 2048}) weighted_case(folder, "smooth" + std::to_string(s), smooth_gray(s, s, unsigned(s)));

    std::printf("\n\nsk medial, sk skel: scikit-image's medial_axis and skeletonize in process (best of 3);\n"
                "sk whole: a Python process that loads the mask, runs medial_axis and saves it;\n"
                "whole/sk: the zarn process over sk medial. setup: degenerate check, padding and node grid;\n"
                "m.*: the medial axis stages. total is the pipeline's own total.\n");
    std::filesystem::remove_all(folder);
    return 0;
}
