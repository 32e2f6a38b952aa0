// The partition's windows under the test's X display: the grassfire of the
// ridge propagation (-pf), the cuts (-vc) and the partition in view mode.
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

#define REQUIRE_DISPLAY() \
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no DISPLAY"

void write_ramp(const temp_folder& t) {
    cv::Mat img(18, 22, CV_8UC1);
    for (int r = 0; r < img.rows; ++r)
        for (int c = 0; c < img.cols; ++c) img.at<unsigned char>(r, c) = (r * 11 + c * c * 3) % 256;
    ASSERT_TRUE(cv::imwrite(t / "ramp.png", img));
}

bool same_picture(const std::string& a, const std::string& b) {
    const cv::Mat x = cv::imread(a, cv::IMREAD_UNCHANGED), y = cv::imread(b, cv::IMREAD_UNCHANGED);
    return !x.empty() && x.size() == y.size() && cv::norm(x, y, cv::NORM_INF) == 0;
}

size_t index_of(const std::vector<std::string>& lines, const std::string& prefix) {
    for (size_t k = 0; k < lines.size(); ++k)
        if (lines[k].rfind(prefix, 0) == 0) return k;
    return lines.size();
}

}  // namespace

// Between the seed and the propagation lines: a '=' rule, one line and one
// window per snapshot at growing levels, a '=' rule. The picture is the one
// of the run without the display.
TEST(ViewPartition, GrassfireOfTheRidgePropagation) {
    REQUIRE_DISPLAY();
    temp_folder t;
    write_ramp(t);
    const view_run r = run_in_view(t, binary, "-p -pf 5 -t ramp.png fire");
    EXPECT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> l = lines_of(r.out);
    const size_t seeds = index_of(l, "Component front/list creation:");
    const size_t propagation = index_of(l, "Ridge propagation / component creation:");
    ASSERT_LT(seeds + 3, propagation) << r.out;
    const std::string equal(70, '=');
    EXPECT_EQ(l[seeds + 1], equal);
    EXPECT_EQ(l[propagation - 1], equal);
    const std::regex fire("partition fire @([0-9]+\\.[0-9])");
    double previous = 0;
    size_t snapshots = 0;
    for (size_t k = seeds + 2; k + 1 < propagation; ++k) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(l[k], m, fire)) << l[k];
        const double level = std::stod(m[1]);
        EXPECT_GT(level, previous);
        previous = level;
        ++snapshots;
    }
    ASSERT_EQ(r.titles.size(), snapshots);
    for (const std::string& title : r.titles) EXPECT_EQ(title, "ramp.png [partition fire] -- zarn");

    const view_run plain = run_in_view(t, binary, "-p ramp.png plain");
    EXPECT_EQ(plain.status, 0);
    EXPECT_TRUE(plain.titles.empty());
    EXPECT_TRUE(same_picture(t / "fire/ramp_part.png", t / "plain/ramp_part.png"));

    // Without timing: a line end opens the snapshots (it ends the file's
    // line), nothing closes them; the sorted visiting order shows them too.
    const view_run quiet = run_in_view(t, binary, "-p -cs -pf 5 ramp.png quiet");
    EXPECT_EQ(quiet.status, 0) << quiet.err;
    const std::vector<std::string> q = lines_of(quiet.out);
    ASSERT_GE(q.size(), 3u) << quiet.out;
    EXPECT_EQ(q[0], "ramp.png: ");
    EXPECT_TRUE(std::regex_match(q[1], fire)) << q[1];
    EXPECT_TRUE(std::regex_match(q.back(), std::regex("done in [0-9]+\\.[0-9] ms"))) << q.back();
    EXPECT_EQ(quiet.titles.size(), q.size() - 2);
    // The sorted order may break ties otherwise than fast marching: compare
    // with a sorted run without the display.
    const view_run sorted = run_in_view(t, binary, "-p -cs ramp.png sorted");
    EXPECT_EQ(sorted.status, 0);
    EXPECT_TRUE(same_picture(t / "quiet/ramp_part.png", t / "sorted/ramp_part.png"));
}

// -vc shows the kinds once, after the propagation, and changes nothing.
TEST(ViewPartition, CutsWindow) {
    REQUIRE_DISPLAY();
    temp_folder t;
    write_ramp(t);
    const view_run r = run_in_view(t, binary, "-p -vc -t ramp.png cuts");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.titles, std::vector<std::string>{"ramp.png [cuts] -- zarn"});
    const std::vector<std::string> l = lines_of(r.out);
    const size_t backup = index_of(l, "Primal type backup:");
    ASSERT_LT(backup + 1, l.size());
    EXPECT_EQ(l[backup + 1], std::string(70, '-'));
    const view_run plain = run_in_view(t, binary, "-p ramp.png plain");
    EXPECT_TRUE(same_picture(t / "cuts/ramp_part.png", t / "plain/ramp_part.png"));
}

TEST(ViewPartition, PartitionWindowInViewMode) {
    REQUIRE_DISPLAY();
    temp_folder t;
    write_ramp(t);
    const view_run r = run_in_view(t, binary, "-v -p -p2 ramp.png");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.titles, std::vector<std::string>{"ramp.png [partition] -- zarn"});
    EXPECT_FALSE(zarn_test::exists(t / "ramp_part.png"));
}
