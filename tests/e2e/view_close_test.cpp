// A window closed by the window manager (its title bar's close button) counts
// as a key press: every kind of window, closed so, lets the run go on exactly
// as keys do. Skipped without a display.
#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <regex>
#include <string>

#include "e2e/view_harness.hpp"

using zarn_test::run_closing_in_view;
using zarn_test::run_in_view;
using zarn_test::temp_folder;
using zarn_test::view_run;

namespace {

const std::string binary = ZARN_BINARY;

// Small enough for a few windows per grassfire, uneven enough for merges.
void write_ramp(const temp_folder& t) {
    cv::Mat img(18, 22, CV_8UC1);
    for (int r = 0; r < img.rows; ++r)
        for (int c = 0; c < img.cols; ++c) img.at<unsigned char>(r, c) = (r * 11 + c * c * 3) % 256;
    ASSERT_TRUE(cv::imwrite(t / "ramp.png", img));
}

// Times differ from run to run; everything else must not.
std::string without_times(const std::string& out) {
    return std::regex_replace(out, std::regex(zarn_test::ms_pattern), "<time>");
}

}  // namespace

// A single window, the distance and medial grassfires, the cuts, the merging
// steps and a sample's two windows: the same titles and lines either way. A
// run that hangs on a closed window ends at the short deadline with the
// status of `timeout`, not 0.
TEST(ViewClose, EveryWindowKindClosedByTheWindowManagerGoesOnAsAfterAKey) {
    REQUIRE_DISPLAY();
    for (const std::string args : {"-v -d ramp.png", "-v -df 5 -d ramp.png", "-m -mf 5 -t ramp.png out",
                                   "-p -vc -t ramp.png out", "-p -pc 3 -vi -t -vs ramp.png out", "-sa 3"}) {
        SCOPED_TRACE(args);
        temp_folder keys, closes;
        write_ramp(keys);
        write_ramp(closes);
        const view_run pressed = run_in_view(keys, binary, args);
        const view_run closed = run_closing_in_view(closes, binary, args, 30);
        ASSERT_EQ(pressed.status, 0) << pressed.err;
        EXPECT_FALSE(pressed.titles.empty());
        EXPECT_EQ(closed.status, 0) << closed.err;
        EXPECT_EQ(closed.titles, pressed.titles);
        EXPECT_EQ(without_times(closed.out), without_times(pressed.out));
    }
}
