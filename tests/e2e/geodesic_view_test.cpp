// The geodesic windows of the built binary under the test's X display: the
// grassfire snapshots of -gf, the traces and paths views of -vt and -vp, and
// none of them where the geodesic stage does not run. Skipped without a
// display.
#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <regex>
#include <string>
#include <vector>

#include "e2e/view_harness.hpp"

using zarn_test::lines_of;
using zarn_test::run_in_view;
using zarn_test::temp_folder;
using zarn_test::view_run;

namespace {

const std::string binary = ZARN_BINARY;

// Soft ridges and valleys: fronts of a few boundary nodes run long.
void write_waves(const temp_folder& t, const std::string& name) {
    cv::Mat img(36, 40, CV_8UC1);
    for (int r = 0; r < img.rows; ++r)
        for (int c = 0; c < img.cols; ++c)
            img.at<unsigned char>(r, c) =
                static_cast<unsigned char>(128 + 100 * std::sin(r * 0.4) * std::cos(c * 0.3));
    ASSERT_TRUE(cv::imwrite(t / name, img));
}

const std::string medial_title = "w.png [medial] -- zarn";
const std::string fire_title = "w.png [geodesic fire] -- zarn";

// The snapshot levels: 0, step, 2 step, ... with one decimal, one window each.
void expect_levels(const std::vector<std::string>& fire_lines, double step) {
    const std::regex fire("geodesic fire @([0-9]+\\.[0-9])");
    for (size_t i = 0; i < fire_lines.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(fire_lines[i], m, fire)) << fire_lines[i];
        EXPECT_EQ(std::stod(m[1]), step * double(i));
    }
}

}  // namespace

TEST(ViewGeodesic, GrassfireSnapshotsAfterAnEmptyLine) {
    REQUIRE_DISPLAY();
    temp_folder t;
    write_waves(t, "w.png");
    const view_run r = run_in_view(t, binary, "-v -gf 2 -lf 0.3 -m w.png");
    EXPECT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = lines_of(r.out);
    ASSERT_GE(lines.size(), 4u) << r.out;
    EXPECT_EQ(lines.front(), "w.png: ");  // ended by the empty line
    EXPECT_TRUE(std::regex_match(lines.back(), std::regex("done in [0-9]+\\.[0-9] ms")))
        << lines.back();
    const std::vector<std::string> fire(lines.begin() + 1, lines.end() - 1);
    ASSERT_GE(fire.size(), 3u);
    expect_levels(fire, 2.0);
    ASSERT_EQ(r.titles.size(), fire.size() + 1);
    for (size_t i = 0; i < fire.size(); ++i) EXPECT_EQ(r.titles[i], fire_title);
    EXPECT_EQ(r.titles.back(), medial_title);
}

TEST(ViewGeodesic, GrassfireSnapshotsBetweenRulesWithTiming) {
    REQUIRE_DISPLAY();
    temp_folder t;
    write_waves(t, "w.png");
    const view_run r = run_in_view(t, binary, "-v -t -gf 3 -lf 0.3 -m w.png");
    EXPECT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = lines_of(r.out);
    size_t i = 0;
    while (i < lines.size() && lines[i].rfind("Front creation:", 0) != 0) ++i;
    ASSERT_LT(i + 2, lines.size()) << r.out;
    EXPECT_EQ(lines[++i], std::string(70, '='));
    std::vector<std::string> fire;
    while (++i < lines.size() && lines[i].rfind("geodesic fire", 0) == 0) fire.push_back(lines[i]);
    ASSERT_LT(i + 1, lines.size());
    EXPECT_EQ(lines[i], std::string(70, '='));
    EXPECT_EQ(lines[i + 1].rfind("Geodesic propagation along boundaries:", 0), 0u);
    ASSERT_GE(fire.size(), 2u);
    expect_levels(fire, 3.0);
    ASSERT_EQ(r.titles.size(), fire.size() + 1);
    EXPECT_EQ(r.titles.front(), fire_title);
}

// Traces, then paths, after structure parsing and before the medial axis.
TEST(ViewGeodesic, TracesAndPathsWindowsBeforeTheMedialAxis) {
    REQUIRE_DISPLAY();
    temp_folder t;
    write_waves(t, "w.png");
    view_run r = run_in_view(t, binary, "-v -vt -vp -m w.png");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.titles, (std::vector<std::string>{"w.png [traces] -- zarn", "w.png [paths] -- zarn",
                                                  medial_title}));
    r = run_in_view(t, binary, "-v -vp -m w.png");
    EXPECT_EQ(r.titles, (std::vector<std::string>{"w.png [paths] -- zarn", medial_title}));
}

// No geodesic stage, no geodesic window: binary mode, no length limit.
TEST(ViewGeodesic, NoGeodesicWindowsWithoutTheStage) {
    REQUIRE_DISPLAY();
    temp_folder t;
    write_waves(t, "w.png");
    for (const std::string args :
         {"-v -b -vt -vp -gf 1 -m w.png", "-v -la 0 -vt -vp -gf 1 -m w.png"}) {
        SCOPED_TRACE(args);
        const view_run r = run_in_view(t, binary, args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.titles, std::vector<std::string>{medial_title});
    }
}
