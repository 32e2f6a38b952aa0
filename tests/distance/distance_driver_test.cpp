#include <gtest/gtest.h>

#include <string>

#include "distance/run_distance.hpp"
#include "distance_support.hpp"

namespace {

using namespace dist_test;
namespace z = lumo::zarn;

grid_setup binary_disk() {
    grid_setup s(14, 12, false);
    for (size_t y = 4; y < 8; ++y)
        for (size_t x = 5; x < 9; ++x) s.input[x + 14 * y] = 255;
    return s;
}

TEST(DistanceDriver, SilentWithoutTiming) {
    grid_setup s = binary_disk();
    testing::internal::CaptureStdout();
    const double ms = z::run_distance_stage<false, double>(s.nodes, s.opts, s.input, s.gradient);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(ms, 0.0);
    EXPECT_EQ(s.at(2, 5).distance, 3.0);
    EXPECT_EQ(s.at(2, 5).generator, &s.at(5, 5));
}

TEST(DistanceDriver, StageLinesByMode) {
    auto lines_of = [](grid_setup& s) {
        testing::internal::CaptureStdout();
        z::run_distance_stage<false, double>(s.nodes, s.opts, s.input, s.gradient);
        return testing::internal::GetCapturedStdout();
    };
    grid_setup b = binary_disk();
    b.opts.program.timing = true;
    const std::string binary = lines_of(b);
    for (const char* label : {"Distance factory initialization:", "Input copy:",
                              "Distance front creation:", "Distance propagation:",
                              "Distance transform reconstruction:", "Reconstruction of generators:"})
        EXPECT_NE(binary.find(label), std::string::npos) << label;
    EXPECT_NE(binary.find(std::string(70, '-') + "\n"), std::string::npos);
    EXPECT_EQ(binary.find("Height"), std::string::npos);

    // Dual mode: no height stage, the given heights stay, and H is replaced.
    grid_setup d(10, 10, true);
    d.opts.program.timing = true;
    d.opts.commands.primal = false;
    for (size_t i = 0; i < d.nodes.length(); ++i) d.nodes[i].value = 1000;
    d.at(4, 4).value = 1.5;
    const std::string dual = lines_of(d);
    EXPECT_EQ(dual.find("Height function computation:"), std::string::npos);
    EXPECT_EQ(dual.find("Input copy:"), std::string::npos);
    EXPECT_NE(dual.find("Distance propagation:"), std::string::npos);
    EXPECT_EQ(d.at(4, 4).value, 1.5);
    EXPECT_EQ(d.at(4, 6).distance, 3.5);
    EXPECT_GE(d.opts.distance.ceiling, 2.0 + 1.5);
}

}  // namespace
