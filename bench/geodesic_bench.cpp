// Times the weighted medial axis (-m) stage by stage with the geodesic
// sequence (the default) and without it (-la 0, the component sequence), on
// a photograph scaled to 1 and 4 megapixels and on generated smooth gray
// images of the same sizes, so that the cost of the geodesic stage and of
// the pruning it brings is known. Beside it, scikit-image's minimum-cost-path
// search (MCP_Geometric, 8 neighbours) from the same boundary nodes over a
// flat cost, bounded by the same length: the nearest common task to the
// geodesic propagation. Each case runs in a child process.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "bench_support.hpp"
#include "distance/distance_transform.hpp"
#include "geodesic/geodesic_distance.hpp"
#include "graph/graph.hpp"
#include "medial/run_medial.hpp"

namespace {

using namespace bench;

enum stage_id {
    distance_stage,
    boundary_stage,
    geodesic_front,        // initialization and front creation
    geodesic_propagation,  // fronts and meetings
    geodesic_chains,       // crossing removal and path tracing
    geodesic_connection,   // connection, traversing, vertex data
    structure_stage,
    medial_stage,
    stage_count
};

struct result {
    double stage_ms[stage_count] = {};
    size_t pixels = 0, length = 0, sources = 0, paths = 0, final_paths = 0;
    long peak_kb = 0;
    bool ok = false;
};

// The boundary nodes (the fronts' sources) in image coordinates, for the peer.
void write_seeds(const std::string& file, const z::node_array<false, double>& nodes,
                 size_t length) {
    const size_t rows = nodes.size(0), cols = nodes.size(1);
    std::vector<long long> seeds;
    for (size_t i = 0; i < nodes.length(); ++i)
        if (nodes[i].kind == z::boundary_seed && nodes[i].vertex) {
            seeds.push_back(static_cast<long long>(i % rows) - 2);
            seeds.push_back(static_cast<long long>(i / rows) - 2);
        }
    const long long head[4] = {static_cast<long long>(rows - 4), static_cast<long long>(cols - 4),
                               static_cast<long long>(length),
                               static_cast<long long>(seeds.size() / 2)};
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(head), sizeof head);
    out.write(reinterpret_cast<const char*>(seeds.data()),
              std::streamsize(seeds.size() * sizeof(long long)));
}

result run_case(const cv::Mat& img, bool geodesic, const std::string& seed_file) {
    result r;
    r.pixels = size_t(img.rows) * size_t(img.cols);
    lumo::array_2d<unsigned char> input = padded_input(img);
    lumo::array_2d<unsigned char> gradient;
    z::node_array<false, double> nodes;
    init_grid(nodes, input.size(0), input.size(1));
    z::options<double> opts;
    opts.commands.medial = true;
    if (!geodesic) opts.distance.max_length = 0;
    time_into(r.stage_ms[distance_stage], [&] {
        z::distance_transform<false, double> t(nodes, opts, input, gradient);
        t.run();
    });
    if (geodesic) {
        z::path_storage<false, double> storage(0, 1.0);
        z::path_graph<false, double> g(nodes, opts, storage);
        z::geodesic_distance<false, double> geo(nodes, opts, storage);
        r.length = geo.length_limit();
        time_into(r.stage_ms[boundary_stage], [&] { g.parse_boundary(); });
        time_into(r.stage_ms[geodesic_front], [&] {
            geo.init();
            geo.create_front();
        });
        r.sources = storage.vertices.used();
        time_into(r.stage_ms[geodesic_propagation], [&] { geo.propagate(); });
        time_into(r.stage_ms[geodesic_chains], [&] {
            geo.remove_crossings();
            geo.trace_paths();
        });
        time_into(r.stage_ms[geodesic_connection], [&] {
            geo.connect_paths();
            geo.traverse_paths();
            geo.store_vertex_data();
        });
        r.paths = storage.paths.used();
        time_into(r.stage_ms[structure_stage], [&] { g.parse_structure(); });
        for (const auto& p : storage.paths) r.final_paths += p.removed == 0;
        time_into(r.stage_ms[medial_stage], [&] { z::run_medial_stage(nodes, opts, g); });
        if (!seed_file.empty()) write_seeds(seed_file, nodes, r.length);
    } else {
        z::component_storage<false, double> storage(0, 1.0);
        z::component_graph<false, double> g(nodes, opts, storage);
        time_into(r.stage_ms[boundary_stage], [&] { g.parse_boundary(); });
        r.sources = storage.vertices.used();
        time_into(r.stage_ms[structure_stage], [&] { g.parse_structure(); });
        time_into(r.stage_ms[medial_stage], [&] { z::run_medial_stage(nodes, opts, g); });
    }
    r.peak_kb = peak_rss_kb();
    r.ok = true;
    return r;
}

// Best of two multi-source searches of scikit-image, in milliseconds; -1
// when the peer cannot run.
double time_peer(const std::string& seed_file) {
    const std::string script = R"PY(
import sys, time, numpy as np
from skimage.graph import MCP_Geometric
d = np.fromfile(sys.argv[1], dtype=np.int64)
rows, cols, L, n = (int(v) for v in d[:4])
starts = [tuple(p) for p in d[4:4 + 2 * n].reshape(-1, 2).tolist()]
costs = np.ones((rows, cols))
best = 1e300
for _ in range(2):
    m = MCP_Geometric(costs, fully_connected=True)
    t = time.perf_counter()
    m.find_costs(starts, max_cumulative_cost=float(L))
    best = min(best, time.perf_counter() - t)
print(best * 1000)
)PY";
    const std::string py = seed_file + ".py";
    std::ofstream(py) << script;
    const command_run peer = run_command("/usr/bin/python3 " + py + " " + seed_file);
    double ms = -1;
    if (std::sscanf(peer.out.c_str(), "%lf", &ms) != 1) ms = -1;
    std::remove(py.c_str());
    return ms;
}

template <typename Make>
result measure(Make make_image, bool geodesic, const std::string& seed_file) {
    return bench::in_child<result>([&] {
        const cv::Mat img = make_image();
        return img.empty() ? result{} : run_case(img, geodesic, seed_file);
    });
}

void print_header() {
    std::printf(
        "\nWeighted -m, geodesic sequence (geo) and component sequence (-la 0), ns per "
        "image pixel\n");
    std::printf("%-22s %-6s %8s %8s %8s %8s %8s %8s %8s %8s %9s %9s %8s %5s %8s %8s\n", "image",
                "seq", "distance", "boundary", "g.front", "g.prop", "g.chain", "g.conn", "struct",
                "medial", "total", "geo cost", "MCP", "L", "paths", "peak MB");
}

// The stages after the distance, which both sequences run alike.
double after_distance(const result& r) {
    double total = 0;
    for (int k = boundary_stage; k < stage_count; ++k) total += r.stage_ms[k];
    return total;
}

void print_row(const std::string& name, const result& r, const char* sequence, const result* base,
               double peer_ms) {
    if (!r.ok) {
        std::printf("%-22s %-6s failed\n", name.c_str(), sequence);
        return;
    }
    const double n = double(r.pixels) / 1e6;  // ms per megapixel = ns per pixel
    double total = 0;
    for (double v : r.stage_ms) total += v;
    std::printf("%-22s %-6s", name.c_str(), sequence);
    for (double v : r.stage_ms) std::printf(" %8.2f", v / n);
    std::printf(" %9.2f", total / n);
    if (base)
        std::printf(" %9.2f", (after_distance(r) - after_distance(*base)) / n);
    else
        std::printf(" %9s", "-");
    if (peer_ms >= 0)
        std::printf(" %8.2f", peer_ms / n);
    else
        std::printf(" %8s", "-");
    if (r.length)
        std::printf(" %5zu %8zu", r.length, r.final_paths);
    else
        std::printf(" %5s %8s", "-", "-");
    std::printf(" %8.0f\n", r.peak_kb / 1024.0);
}

template <typename Make>
void compare(const std::string& name, Make make_image) {
    const std::string seeds = "/tmp/zarn_geodesic_bench_" + std::to_string(getpid()) + ".bin";
    const result plain = measure(make_image, false, "");
    const result geo = measure(make_image, true, seeds);
    print_row(name, plain, "-la 0", nullptr, -1);
    print_row(name, geo, "geo", plain.ok ? &plain : nullptr, geo.ok ? time_peer(seeds) : -1);
    std::remove(seeds.c_str());
}

cv::Mat scaled(const std::string& path, int side) {
    const cv::Mat img = cv::imread(path, cv::IMREAD_GRAYSCALE);
    if (img.empty()) return img;
    cv::Mat out;
    cv::resize(img, out, cv::Size(side, side), 0, 0, cv::INTER_CUBIC);
    return out;
}

}  // namespace

int main() {
    const std::string camera = (data_dir() / "camera.png").string();
    print_header();
    compare("camera.png", [&] { return cv::imread(camera, cv::IMREAD_GRAYSCALE); });
    for (int side : {1024, 2048}) {
        const std::string size = std::to_string(side) + "x" + std::to_string(side);
        compare("camera " + size, [&] { return scaled(camera, side); });
        compare("smooth " + size, [&] { return smooth_gray(side, side, unsigned(side)); });
    }
    std::printf(
        "\ng.front: geodesic initialization and front creation; g.prop: propagation and "
        "meetings; g.chain: crossing removal and tracing; g.conn: connection, traversing, "
        "vertex data; struct: cycle parsing (geo: twice, with path and edge pruning and "
        "cells); geo cost: what the stages after the distance take more than with -la 0; MCP: "
        "scikit-image MCP_Geometric find_costs from the same boundary nodes, flat cost, "
        "bounded by L (best of 2); paths: kept after pruning.\n");
    return 0;
}
