// View mode end to end: the binary runs under the test's X display, every
// window it opens is closed with a key, and the window titles and standard
// output are compared. Skipped without a display.
#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <regex>

#include "e2e/view_harness.hpp"

using zarn_test::copy_data;
using zarn_test::lines_of;
using zarn_test::run_in_view;
using zarn_test::temp_folder;
using zarn_test::view_run;
static const std::string& ms = zarn_test::ms_pattern;

namespace {

const std::string binary = ZARN_BINARY;

}  // namespace

TEST(ViewZarn, DistanceIsShownNotSavedAndWaitsForAKey) {
    REQUIRE_DISPLAY();
    temp_folder t;
    copy_data("coins.png", t / "coins.png");
    const view_run r = run_in_view(t, binary, "-v -d coins.png");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.titles, std::vector<std::string>{"coins.png [distance] -- zarn"});
    EXPECT_TRUE(std::regex_match(r.out, std::regex("coins\\.png: done in " + ms + "\n"))) << r.out;
    EXPECT_FALSE(zarn_test::exists(t / "coins_dist.png"));
}

TEST(ViewZarn, GradientIsShownBeforeTheDistance) {
    REQUIRE_DISPLAY();
    temp_folder t;
    copy_data("coins.png", t / "coins.png");
    const view_run r = run_in_view(t, binary, "-v -vg -d coins.png");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.titles, (std::vector<std::string>{"coins.png [gradient] -- zarn",
                                                  "coins.png [distance] -- zarn"}));
}

TEST(ViewZarn, DualDistanceWindow) {
    REQUIRE_DISPLAY();
    temp_folder t;
    copy_data("coins.png", t / "coins.png");
    const view_run r = run_in_view(t, binary, "-v -ud coins.png");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.titles, std::vector<std::string>{"coins.png [dual distance] -- zarn"});
}

// Every snapshot prints its level with one decimal and shows one window; the
// levels grow, and the "done in" time inherits the fixed notation they leave.
TEST(ViewZarn, DistanceGrassfireSnapshots) {
    REQUIRE_DISPLAY();
    temp_folder t;
    cv::Mat img(24, 30, CV_8UC1);
    for (int r = 0; r < img.rows; ++r)
        for (int c = 0; c < img.cols; ++c) img.at<unsigned char>(r, c) = (r * 7 + c * c) % 256;
    ASSERT_TRUE(cv::imwrite(t / "ramp.png", img));
    const view_run r = run_in_view(t, binary, "-v -df 5 -d ramp.png");
    EXPECT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = lines_of(r.out);
    ASSERT_GE(lines.size(), 3u) << r.out;
    EXPECT_EQ(lines.front(), "ramp.png: ");
    EXPECT_TRUE(std::regex_match(lines.back(), std::regex("done in [0-9]+\\.[0-9] ms")))
        << lines.back();
    const size_t snapshots = lines.size() - 2;
    ASSERT_GE(snapshots, 2u);
    double previous = 0;
    const std::regex fire("distance fire @([0-9]+\\.[0-9])");
    for (size_t i = 1; i + 1 < lines.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines[i], m, fire)) << lines[i];
        const double level = std::stod(m[1]);
        EXPECT_GT(level, previous);
        previous = level;
    }
    ASSERT_EQ(r.titles.size(), snapshots + 1);
    for (size_t i = 0; i < snapshots; ++i) EXPECT_EQ(r.titles[i], "ramp.png [distance fire] -- zarn");
    EXPECT_EQ(r.titles.back(), "ramp.png [distance] -- zarn");
}

// The synthetic samples run under the preset (view mode, no file name):
// distance and medial axis.
TEST(ViewZarn, SamplesRunUnderThePreset) {
    REQUIRE_DISPLAY();
    for (const std::string args : {"-hs", "-sa 1", "-sa 2", "-sa 3", "-sa 4", "-sa 5", "-sa 6",
                                    "-hs -sa 2 -hf 7"}) {
        SCOPED_TRACE(args);
        temp_folder t;
        const view_run r = run_in_view(t, binary, args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.titles, (std::vector<std::string>{"[distance] -- zarn", "[medial] -- zarn"}));
        EXPECT_TRUE(std::regex_match(r.out, std::regex("done in " + ms + "\n"))) << r.out;
    }
}
