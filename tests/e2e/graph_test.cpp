// End-to-end runs of the binary through the boundary graph: its timing
// lines, its statistics lines and their counts, the debug build's silence on
// ordinary input, and odd inputs that must pass cleanly.
#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <random>
#include <regex>

#include "e2e/e2e_support.hpp"

namespace {

using zarn_test::binary_run;
using zarn_test::copy_data;
using zarn_test::index_of;
using zarn_test::lines_of;
using zarn_test::run_zarn;
using zarn_test::temp_folder;

const std::string ms = zarn_test::ms_pattern;

void write_noise(const std::string& path, int rows, int cols, unsigned seed) {
    cv::Mat m(rows, cols, CV_8U);
    std::mt19937 rng(seed);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) m.at<unsigned char>(r, c) = rng() % 256;
    cv::imwrite(path, m);
}

bool timing_line(const std::string& line, const std::string& label) {
    return std::regex_match(line, std::regex(label + " +" + ms)) && line.size() == 70;
}

struct graph_counts {
    unsigned long vertices = 0, edges = 0, paths = 0, components = 0, cycles = 0;
};

bool parse_counts(const std::vector<std::string>& lines, graph_counts& c) {
    const size_t i = index_of(lines, "-> Final vertices");
    if (i + 1 >= lines.size()) return false;
    std::smatch m;
    if (!std::regex_match(lines[i], m,
                          std::regex("-> Final vertices / edges / paths:      ([0-9]+) / ([0-9]+) / ([0-9]+)")))
        return false;
    c.vertices = std::stoul(m[1]);
    c.edges = std::stoul(m[2]);
    c.paths = std::stoul(m[3]);
    if (!std::regex_match(lines[i + 1], m,
                          std::regex("-> Final components / cycles:           ([0-9]+) / ([0-9]+)")))
        return false;
    c.components = std::stoul(m[1]);
    c.cycles = std::stoul(m[2]);
    return true;
}

TEST(ZarnGraph, BoundaryAndStructureLinesFollowTheDistanceGroup) {
    temp_folder t;
    copy_data("horse_mask.png", t / "a.png");
    const binary_run r = run_zarn(t, "-m -b -t a.png");
    EXPECT_EQ(r.status, 0);
    const auto lines = lines_of(r.out);
    const size_t g = index_of(lines, "Reconstruction of generators:");
    ASSERT_LT(g + 6, lines.size()) << r.out;
    const std::string rule(70, '-');
    EXPECT_EQ(lines[g + 1], rule);
    EXPECT_TRUE(timing_line(lines[g + 2], "Boundary parsing initialization:")) << lines[g + 2];
    EXPECT_TRUE(timing_line(lines[g + 3], "Boundary detection:")) << lines[g + 3];
    EXPECT_TRUE(timing_line(lines[g + 4], "Boundary connection:")) << lines[g + 4];
    EXPECT_TRUE(timing_line(lines[g + 5], "Cycle parsing:")) << lines[g + 5];
    EXPECT_EQ(lines[g + 6], rule);

    const binary_run d = run_zarn(t, "-d -t a.png");
    EXPECT_EQ(d.status, 0);
    for (const char* label : {"Boundary", "Cycle parsing:", "-> Final"})
        EXPECT_EQ(d.out.find(label), std::string::npos) << label;
}

TEST(ZarnGraph, StatisticsLinesOnlyInWeightedModeWithTimingAndStatistics) {
    temp_folder t;
    copy_data("coins.png", t / "photo.png");
    const binary_run r = run_zarn(t, "-m -t -vs -la 0 photo.png");
    EXPECT_EQ(r.status, 0);
    const auto lines = lines_of(r.out);
    graph_counts c;
    ASSERT_TRUE(parse_counts(lines, c)) << r.out;
    const size_t i = index_of(lines, "-> Final vertices");
    EXPECT_TRUE(timing_line(lines[i - 1], "Cycle parsing:"));
    EXPECT_EQ(lines[i + 2], std::string(70, '-'));
    EXPECT_EQ(c.paths, 0u);
    EXPECT_GT(c.vertices, 100u);
    // Euler: faces of a plane graph with K components lie between these.
    const long base = long(c.edges) - long(c.vertices);
    EXPECT_LE(base + long(c.components), long(c.cycles));
    EXPECT_LE(long(c.cycles), base + 2 * long(c.components));

    for (const char* args : {"-m -b -t -vs -la 0 photo.png", "-m -t -la 0 photo.png",
                             "-m -vs -la 0 photo.png"}) {
        const binary_run o = run_zarn(t, args);
        EXPECT_EQ(o.status, 0) << args;
        EXPECT_EQ(o.out.find("-> Final"), std::string::npos) << args;
    }
}

TEST(ZarnGraph, TheAllocationFactorChangesNoCount) {
    temp_folder t;
    copy_data("camera.png", t / "photo.png");
    write_noise(t / "noise.png", 120, 90, 3);
    for (const char* file : {"photo.png", "noise.png"}) {
        const std::string args = std::string("-m -t -vs -la 0 ") + file;
        graph_counts one, ten;
        ASSERT_TRUE(parse_counts(lines_of(run_zarn(t, args + " -ma 1").out), one)) << file;
        ASSERT_TRUE(parse_counts(lines_of(run_zarn(t, args + " -ma 10").out), ten)) << file;
        EXPECT_EQ(one.vertices, ten.vertices) << file;
        EXPECT_EQ(one.edges, ten.edges) << file;
        EXPECT_EQ(one.components, ten.components) << file;
        EXPECT_EQ(one.cycles, ten.cycles) << file;
    }
}

TEST(ZarnGraph, DebugBuildSaysNothingOnOrdinaryInput) {
    temp_folder t;
    copy_data("horse_mask.png", t / "mask.png");
    copy_data("coins.png", t / "photo.png");
    for (const char* args : {"-m -b -db -t mask.png", "-m -db -t -la 0 photo.png",
                             "-u -db -t -la 0 photo.png"}) {
        const binary_run r = run_zarn(t, args);
        EXPECT_EQ(r.status, 0) << args;
        EXPECT_EQ(r.out.find("OOPS"), std::string::npos) << args;
        EXPECT_NE(r.out.find("Cycle parsing:"), std::string::npos) << args;
    }
}

TEST(ZarnGraph, OddInputsPassCleanly) {
    temp_folder t;
    write_noise(t / "n5.png", 5, 5, 1);
    write_noise(t / "n6.png", 6, 6, 2);
    write_noise(t / "n9.png", 9, 9, 3);
    write_noise(t / "noise.png", 64, 48, 4);
    cv::imwrite(t / "board.png", zarn_test::checkerboard(16, 16, 1));
    for (const char* mode : {"-m", "-m -b", "-u", "-m -la 1000 -lf 1"})
        for (const char* file : {"n5.png", "n6.png", "n9.png", "noise.png", "board.png"}) {
            const std::string args = std::string(mode) + " -t -vs " + file;
            const binary_run r = run_zarn(t, args);
            EXPECT_EQ(r.status, 0) << args;
            EXPECT_EQ(r.err, "") << args;
        }
}

}  // namespace
