// The medial creation grassfire under the test's X display: one line and one
// window per counted pass, and the same pictures as without the display.
#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <regex>
#include <string>
#include <vector>

#include "e2e/view_harness.hpp"

using zarn_test::copy_data;
using zarn_test::lines_of;
using zarn_test::run_in_view;
using zarn_test::run_zarn;
using zarn_test::same_picture;
using zarn_test::temp_folder;
using zarn_test::view_run;

namespace {

const std::string binary = ZARN_BINARY;
const std::string data = ZARN_DATA_DIR;
const std::string& ms = zarn_test::ms_pattern;

// The "<name> fire @<level>" lines from `first` on, up to the first other.
std::vector<double> fire_levels(const std::vector<std::string>& lines, size_t first, const std::string& name,
                                size_t* end = nullptr) {
    std::vector<double> levels;
    const std::regex fire(name + " fire @([0-9]+\\.[0-9])");
    size_t i = first;
    for (std::smatch m; i < lines.size() && std::regex_match(lines[i], m, fire); ++i)
        levels.push_back(std::stod(m[1]));
    if (end) *end = i;
    return levels;
}

}  // namespace

// Between two '=' rules with -t: one line per snapshot, at passes 1, 6,
// 11, ... for a step of 5, each with its window.
TEST(ViewMedial, FireLinesBetweenRulesWithTiming) {
    REQUIRE_DISPLAY();
    temp_folder t;
    copy_data("coins.png", t / "c.png");
    const view_run r = run_in_view(t, binary, "-m -mf 5 -t c.png out/");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = lines_of(r.out);
    size_t open = 0;
    while (open < lines.size() && lines[open].rfind("Creating medial axis front:", 0) != 0) ++open;
    ASSERT_LT(open + 2, lines.size()) << r.out;
    EXPECT_EQ(lines[open + 1], std::string(70, '='));
    size_t end = 0;
    const std::vector<double> levels = fire_levels(lines, open + 2, "medial", &end);
    ASSERT_GE(levels.size(), 3u) << r.out;
    for (size_t k = 0; k < levels.size(); ++k) EXPECT_EQ(levels[k], 1.0 + 5.0 * k);
    ASSERT_LT(end + 1, lines.size());
    EXPECT_EQ(lines[end], std::string(70, '='));
    EXPECT_EQ(lines[end + 1].rfind("Medial axis residue computation:", 0), 0u);
    EXPECT_EQ(r.titles, std::vector<std::string>(levels.size(), "c.png [medial fire] -- zarn"));

    // The picture is the one without the display.
    ASSERT_EQ(run_zarn(t, "-m c.png plain/").status, 0);
    EXPECT_TRUE(same_picture(t / "out/c_med.png", t / "plain/c_med.png"));
}

// Without -t an empty line opens the snapshots and nothing closes them; the
// dual axis shows its own front.
TEST(ViewMedial, DualFireAndTheEmptyLine) {
    REQUIRE_DISPLAY();
    temp_folder t;
    copy_data("coins.png", t / "c.png");
    const view_run r = run_in_view(t, binary, "-u -mf 12 c.png");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = lines_of(r.out);
    ASSERT_GE(lines.size(), 4u) << r.out;
    EXPECT_EQ(lines[0], "c.png: ");
    size_t end = 0;
    const std::vector<double> primal = fire_levels(lines, 1, "medial", &end);
    ASSERT_FALSE(primal.empty()) << r.out;
    EXPECT_EQ(lines[end], "");
    size_t dual_end = 0;
    const std::vector<double> dual = fire_levels(lines, end + 1, "dual medial", &dual_end);
    ASSERT_FALSE(dual.empty()) << r.out;
    EXPECT_EQ(primal.front(), 1.0);
    EXPECT_EQ(dual.front(), 1.0);
    ASSERT_EQ(dual_end + 1, lines.size());
    EXPECT_TRUE(std::regex_match(lines.back(), std::regex("done in [0-9]+\\.[0-9] ms"))) << lines.back();
    std::vector<std::string> titles(primal.size(), "c.png [medial fire] -- zarn");
    titles.insert(titles.end(), dual.size(), "c.png [dual medial fire] -- zarn");
    EXPECT_EQ(r.titles, titles);
}

TEST(ViewMedial, EveryMarkerGivesThePictureWithoutTheDisplay) {
    REQUIRE_DISPLAY();
    temp_folder t;
    const cv::Mat horse = 255 - cv::imread(data + "/horse_mask.png", cv::IMREAD_GRAYSCALE);
    ASSERT_TRUE(cv::imwrite(t / "h.png", horse));
    for (const std::string marker : {"-m2", "-mb", "-mg", "-mb -sd 3"}) {
        SCOPED_TRACE(marker);
        const view_run r = run_in_view(t, binary, "-m -b " + marker + " -mf 3 h.png fire/");
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_FALSE(r.titles.empty());
        ASSERT_EQ(run_zarn(t, "-m -b " + marker + " h.png plain/").status, 0);
        EXPECT_TRUE(same_picture(t / "fire/h_med.png", t / "plain/h_med.png"));
    }
}

// The presets compute the distance and the medial axis, in the debug build,
// and show both.
TEST(ViewMedial, PresetsShowTheMedialAxis) {
    REQUIRE_DISPLAY();
    temp_folder t;
    copy_data("coins.png", t / "c.png");
    const view_run r = run_in_view(t, binary, "-ho c.png");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.titles, (std::vector<std::string>{"c.png [distance] -- zarn", "c.png [medial] -- zarn"}));
    EXPECT_TRUE(std::regex_match(r.out, std::regex("c\\.png: done in " + ms + "\n"))) << r.out;
}
