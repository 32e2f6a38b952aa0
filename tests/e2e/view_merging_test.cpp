// The interactive merging view under the test's X display: one step report
// and one window per merge, the same results as without it; and every
// option that opens windows asks for a display before the first image.
#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <regex>
#include <string>
#include <vector>

#include "e2e/view_harness.hpp"

using zarn_test::lines_of;
using zarn_test::quote;
using zarn_test::run;
using zarn_test::run_in_view;
using zarn_test::temp_folder;
using zarn_test::view_run;

namespace {

const std::string binary = ZARN_BINARY;
const std::string data = ZARN_DATA_DIR;

#define REQUIRE_DISPLAY() \
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no DISPLAY"

void write_ramp(const std::string& path) {
    cv::Mat img(18, 22, CV_8UC1);
    for (int r = 0; r < img.rows; ++r)
        for (int c = 0; c < img.cols; ++c) img.at<unsigned char>(r, c) = (r * 11 + c * c * 3) % 256;
    ASSERT_TRUE(cv::imwrite(path, img));
}

// A coin's edge: six components, and a merge that makes a feature.
void write_coin(const std::string& path) {
    const cv::Mat coins = cv::imread(data + "/coins.png", cv::IMREAD_GRAYSCALE);
    ASSERT_FALSE(coins.empty());
    ASSERT_TRUE(cv::imwrite(path, coins(cv::Rect(240, 200, 36, 32))));
}

bool same_file(const std::string& a, const std::string& b) {
    return run("cmp -s " + quote(a) + " " + quote(b)).status == 0;
}

size_t index_of(const std::vector<std::string>& lines, const std::string& prefix) {
    for (size_t k = 0; k < lines.size(); ++k)
        if (lines[k].rfind(prefix, 0) == 0) return k;
    return lines.size();
}

// B - A from "-> Components before / after merging:   B / A".
size_t merges_counted(const std::vector<std::string>& lines) {
    const std::regex counts("-> Components before / after merging:   ([0-9]+) / ([0-9]+)");
    std::smatch m;
    const size_t k = index_of(lines, "-> Components before");
    if (k == lines.size() || !std::regex_match(lines[k], m, counts)) return 0;
    return std::stoul(m[1]) - std::stoul(m[2]);
}

// Four lines per step from `first` on: the link line, the two component
// lines, an empty line. Returns the line after the last step.
size_t check_steps(const std::vector<std::string>& lines, size_t first, const std::regex& component_line,
                   size_t& steps) {
    const std::regex link_line("link height [0-9]+\\.[0-9]{2}, width/gap [0-9]+\\.[0-9]{2} -> [0-9]+");
    size_t k = first;
    steps = 0;
    while (k + 3 < lines.size() && std::regex_match(lines[k], link_line)) {
        EXPECT_TRUE(std::regex_match(lines[k + 1], component_line)) << lines[k + 1];
        EXPECT_NE(lines[k + 1].find("cyan   "), std::string::npos) << lines[k + 1];
        EXPECT_NE(lines[k + 2].find("yellow "), std::string::npos) << lines[k + 2];
        EXPECT_EQ(lines[k + 3], "");
        k += 4;
        ++steps;
    }
    return k;
}

const std::string number = "-?[0-9]+\\.[0-9]{2}";

}  // namespace

// -pc 3: a step per union down to three components; stopped by the count,
// the loop closes without a rule. The picture is the one without -vi.
TEST(ViewMerging, PartitionStepsDownToTheComponentCount) {
    REQUIRE_DISPLAY();
    temp_folder t;
    write_ramp(t / "ramp.png");
    const view_run r = run_in_view(t, binary, "-p -pc 3 -vi -t -vs ramp.png vi");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> l = lines_of(r.out);
    const size_t cleanup = index_of(l, "Component cleanup:");
    ASSERT_LT(cleanup + 1, l.size()) << r.out;
    EXPECT_EQ(l[cleanup + 1], std::string(70, '='));
    size_t steps = 0;
    const std::regex component_line("(cyan  |yellow) [0-9]+: peak " + number + ", valley " + number +
                                    ", span " + number);
    const size_t after = check_steps(l, cleanup + 2, component_line, steps);
    ASSERT_LT(after, l.size());
    EXPECT_EQ(l[after].rfind("Component merging:", 0), 0u) << l[after];
    EXPECT_GE(steps, 1u);
    EXPECT_EQ(steps, merges_counted(l)) << r.out;
    EXPECT_NE(r.out.find("-> Components before / after merging:   " + std::to_string(3 + steps) + " / 3\n"),
              std::string::npos);
    EXPECT_EQ(r.titles, std::vector<std::string>(steps, "ramp.png [interactive partition] -- zarn"));

    ASSERT_EQ(run("cd " + quote(t.path()) + " && " + quote(binary) + " -p -pc 3 ramp.png plain").status, 0);
    EXPECT_TRUE(same_file(t / "vi/ramp_part.png", t / "plain/ramp_part.png"));
}

// Feature mode visits every link: a step per join with the drawn and
// eligible markers, a closing rule; the feature file is the one without -vi.
TEST(ViewMerging, FeatureStepsWithMarkersAndTheClosingRule) {
    REQUIRE_DISPLAY();
    temp_folder t;
    write_coin(t / "coin.png");
    const view_run r = run_in_view(t, binary, "-f -vi -t -vs coin.png vi");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> l = lines_of(r.out);
    const size_t statistics = index_of(l, "Component statistics computation:");
    ASSERT_LT(statistics + 1, l.size()) << r.out;
    EXPECT_EQ(l[statistics + 1], std::string(70, '='));
    size_t steps = 0;
    const std::regex component_line("[-+] [-+] (cyan  |yellow) [0-9]+: peak " + number + ", valley " + number +
                                    ", span " + number + ", area " + number + ", gaps " + number +
                                    ", frag " + number);
    const size_t after = check_steps(l, statistics + 2, component_line, steps);
    ASSERT_LT(after + 1, l.size());
    EXPECT_EQ(l[after], std::string(70, '='));
    EXPECT_EQ(l[after + 1].rfind("Component merging:", 0), 0u) << l[after + 1];
    EXPECT_EQ(steps, merges_counted(l)) << r.out;
    EXPECT_GE(steps, 2u);
    // A component that became a feature at its merge, its box drawn.
    EXPECT_NE(r.out.find("\n+ + "), std::string::npos) << r.out;
    EXPECT_EQ(r.titles, std::vector<std::string>(steps, "coin.png [interactive partition] -- zarn"));

    ASSERT_EQ(run("cd " + quote(t.path()) + " && " + quote(binary) + " -f coin.png plain").status, 0);
    EXPECT_TRUE(same_file(t / "vi/coin_feat.txt", t / "plain/coin_feat.txt"));
    EXPECT_NE(run("cat " + quote(t / "plain/coin_feat.txt")).out, "0\n");
}

// Without a display every run that would open a window stops at once with
// the bridge's line and status 1, before any output; runs whose commands
// open no window go on.
TEST(DisplayCheck, WindowOptionsNeedADisplayBeforeTheFirstImage) {
    temp_folder t;
    write_ramp(t / "a.png");
    const std::string no_display = "cd " + quote(t.path()) + " && env -u DISPLAY " + quote(binary) + " ";
    for (const std::string args :
         {"-p -vi a.png", "-f -vi a.png", "-p -vc a.png", "-p -pf 2 a.png", "-m -mf 1 a.png", "-m -gf 1 a.png",
          "-d -df 1 a.png", "-d -sf 1 a.png", "-d -vg a.png", "-m -vt a.png", "-m -vp a.png", "-ho a.png",
          "-sa 2", "-hs"}) {
        const zarn_test::run_result r = run(no_display + args + " out");
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_EQ(r.out, "Cannot open display: windows cannot be shown!\n") << args;
    }
    EXPECT_FALSE(zarn_test::exists(t / "out"));
    for (const std::string args : {"-d -vi a.png", "-m -vc a.png", "-d -mf 1 a.png", "-b -d -vg a.png",
                                   "-m -la 0 -vt a.png", "-b -m -gf 1 a.png"}) {
        const zarn_test::run_result r = run(no_display + args + " out");
        EXPECT_EQ(r.status, 0) << args << "\n" << r.out;
    }
}
