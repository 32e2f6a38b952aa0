#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "pipeline/capture.hpp"
#include "pipeline/pipeline.hpp"

namespace lumo::zarn {
namespace {

const std::string dash_rule(70, '-'), equal_rule(70, '=');

// A timing line: the label in 55 columns, the value in 12 with 2 decimals,
// " ms". Returns the value.
double timing_value(const std::string& line, const std::string& label) {
    EXPECT_EQ(line.size(), 70u) << line;
    if (line.size() != 70u) return 0;
    EXPECT_EQ(line.substr(0, 55), label + std::string(55 - label.size(), ' ')) << line;
    const std::string value = line.substr(55, 12);
    const size_t first = value.find_first_not_of(' ');
    EXPECT_NE(first, std::string::npos) << line;
    const std::string digits = value.substr(first);
    EXPECT_GE(digits.size(), 4u) << line;
    EXPECT_EQ(digits[digits.size() - 3], '.') << line;
    EXPECT_EQ(line.substr(67), " ms") << line;
    return std::stod(digits);
}

// A 12 x 9 image with an edge: not constant.
image_set<double> edge_image() {
    image_set<double> set;
    set.input.resize(12, 9);
    for (size_t j = 0; j < 9; ++j)
        for (size_t i = 0; i < 12; ++i) set.input(i, j) = i < 5 ? 30 : 200;
    return set;
}

struct run_result {
    std::vector<std::string> lines;
    double total;
};

run_result timed_run(options<double>& o, image_set<double>& set) {
    o.program.timing = true;
    zarn_test::cout_capture out;
    const double total = run_image_pipeline<false, double>(set, o);
    return {out.lines(), total};
}

// Sum of the values of the timing lines in [from, to).
double sum_of(const std::vector<std::string>& lines, size_t from, size_t to) {
    double sum = 0;
    for (size_t k = from; k < to; ++k)
        if (lines[k].size() == 70 && lines[k].substr(67) == " ms") sum += std::stod(lines[k].substr(55, 12));
    return sum;
}

TEST(PipeRunTiming, DistanceOnlyWeighted) {
    options<double> o;
    o.commands.distance = true;
    image_set<double> set = edge_image();
    const run_result r = timed_run(o, set);
    const std::vector<std::string>& l = r.lines;
    ASSERT_EQ(l.size(), 12u);
    timing_value(l[0], "Degenerate case check:");
    timing_value(l[1], "Input image allocation, pad & copy:");
    timing_value(l[2], "Initial allocations:");
    EXPECT_EQ(l[3], dash_rule);
    timing_value(l[4], "Distance factory initialization:");
    timing_value(l[5], "Height function computation:");
    timing_value(l[6], "Distance front creation:");
    timing_value(l[7], "Distance propagation:");
    EXPECT_EQ(l[8], dash_rule);
    timing_value(l[9], "Output image allocation, pad & copy:");
    const double total = timing_value(l[10], "Total:");
    EXPECT_EQ(l[11], equal_rule);
    EXPECT_NEAR(total, r.total, 0.005 + 1e-9);
    EXPECT_NEAR(sum_of(l, 0, 10), r.total, 0.05);

    ASSERT_EQ(set.distance.size(0), 12u);
    ASSERT_EQ(set.distance.size(1), 9u);
    EXPECT_EQ(set.medial.length(), 0u);
    EXPECT_TRUE(o.commands.primal);
    EXPECT_TRUE(o.program.weighted);
}

TEST(PipeRunTiming, BinaryDualDistance) {
    options<double> o;
    o.commands.dual_distance = true;
    o.program.weighted = false;
    image_set<double> set = edge_image();
    const run_result r = timed_run(o, set);
    const std::vector<std::string>& l = r.lines;
    std::vector<std::string> labels;
    for (const std::string& line : l) labels.push_back(line.size() == 70 && line.substr(67) == " ms" ? line.substr(0, 55) : line);
    auto label = [](const std::string& s) { return s + std::string(55 - s.size(), ' '); };
    const std::vector<std::string> expected = {
        label("Degenerate case check:"), label("Input image allocation, pad & copy:"),
        label("Initial allocations:"), dash_rule,
        label("Distance factory initialization:"), label("Input copy:"),
        label("Distance front creation:"), label("Distance propagation:"),
        label("Distance transform reconstruction:"), label("Reconstruction of generators:"), dash_rule,
        label("Boundary parsing initialization:"), label("Boundary detection:"),
        label("Boundary connection:"), label("Cycle parsing:"), dash_rule,
        label("Medial axis transform initialization:"), label("Creating medial axis front:"),
        label("Medial axis residue computation:"), label("Medial axis binary representation:"),
        label("Medial axis reconstruction:"), dash_rule,
        label("Output image allocation, pad & copy:"),
        label("Sub-total:"), equal_rule,
        label("Dual transform -- image boundary condition:"),
        label("Dual transform -- height / distance negation:"), dash_rule,
        label("Distance factory initialization:"), label("Distance front creation:"),
        label("Distance propagation:"), dash_rule,
        label("Boundary parsing initialization:"), label("Boundary detection:"),
        label("Boundary connection:"), label("Cycle parsing:"), dash_rule,
        label("Medial axis transform initialization:"), label("Creating medial axis front:"),
        label("Medial axis residue computation:"), label("Medial axis binary representation:"),
        label("Medial axis reconstruction:"), dash_rule,
        label("Output image allocation, pad & copy:"),
        label("Total:"), equal_rule};
    EXPECT_EQ(labels, expected);
    ASSERT_EQ(l.size(), expected.size());
    // The sub-total covers everything before it; the total everything.
    EXPECT_NEAR(timing_value(l[23], "Sub-total:"), sum_of(l, 0, 23), 0.05);
    EXPECT_NEAR(timing_value(l[44], "Total:"), r.total, 0.005 + 1e-9);
    EXPECT_NEAR(sum_of(l, 24, 44) + timing_value(l[23], "Sub-total:"), r.total, 0.05);

    // Only the dual distance was asked for; the weighted flag is restored.
    EXPECT_EQ(set.distance.length(), 0u);
    ASSERT_EQ(set.dual_distance.length(), 12u * 9u);
    EXPECT_EQ(set.dual_medial.length(), 0u);
    EXPECT_FALSE(o.program.weighted);
    EXPECT_TRUE(o.commands.primal);
    for (size_t k = 0; k < set.dual_distance.length(); ++k)
        EXPECT_TRUE(std::isfinite(set.dual_distance[k])) << k;
}

TEST(PipeRunTiming, PartitionRunsTheDualDistanceOnly) {
    options<double> o;
    o.commands.features = true;
    o.commands.dual_distance = true;  // ignored next to a partition command
    image_set<double> set = edge_image();
    set.features.count = 3;
    const run_result r = timed_run(o, set);
    const std::vector<std::string>& l = r.lines;
    ASSERT_GE(l.size(), 3u);
    EXPECT_EQ(l.back(), equal_rule);
    size_t outputs = 0, heights = 0;
    for (const std::string& line : l) {
        outputs += line.rfind("Output image allocation, pad & copy:", 0) == 0;
        heights += line.rfind("Height function computation:", 0) == 0;
    }
    EXPECT_EQ(outputs, 2u);
    EXPECT_EQ(heights, 1u);  // the dual run keeps the negated heights
    EXPECT_EQ(set.dual_distance.length(), 0u);
    EXPECT_EQ(set.features.count, 0u);
    EXPECT_TRUE(o.commands.primal);
}

TEST(PipeRunTiming, SilentWithoutTiming) {
    options<double> o;
    o.commands.distance = true;
    o.commands.both_medial = true;
    o.distance.max_length = 0;  // the plain sequence
    image_set<double> set = edge_image();
    zarn_test::cout_capture out;
    EXPECT_EQ((run_image_pipeline<true, double>(set, o)), 0.0);
    EXPECT_EQ(out.text(), "");
    EXPECT_EQ(set.distance.length(), 12u * 9u);
    EXPECT_EQ(set.dual_distance.length(), 0u);  // -u alone: dual markers only
    EXPECT_EQ(set.medial.length(), 12u * 9u);
    EXPECT_EQ(set.dual_medial.length(), 12u * 9u);
    EXPECT_EQ(set.residue.length(), 0u);  // only with -re
}

}  // namespace
}  // namespace lumo::zarn
