// The partition end to end: the binary on generated images, its timing
// lines, the merging options, the picture styles, and odd inputs that must
// finish quietly. The properties hold with or without medial nodes.
#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "app/test_support.hpp"

using zarn_test::exists;
using zarn_test::lines_of;
using zarn_test::quote;
using zarn_test::run;
using zarn_test::run_result;
using zarn_test::temp_folder;
static const std::string& ms = zarn_test::ms_pattern;

namespace {

const std::string binary = ZARN_BINARY;

// A smooth gray picture with some noise.
cv::Mat photo(int rows, int cols, unsigned seed) {
    std::mt19937 rng(seed);
    cv::Mat m(rows, cols, CV_8UC1);
    const double a = 0.05 + (rng() % 100) / 1000.0, b = 0.03 + (rng() % 100) / 1000.0;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) {
            const double v = 120 + 60 * std::sin(a * r + 1.3) * std::cos(b * c) + 40 * std::sin(0.02 * r * c / 7.0);
            m.at<unsigned char>(r, c) = cv::saturate_cast<unsigned char>(v + int(rng() % 9));
        }
    return m;
}

cv::Mat noise(int rows, int cols, unsigned seed) {
    std::mt19937 rng(seed);
    cv::Mat m(rows, cols, CV_8UC1);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) m.at<unsigned char>(r, c) = rng() & 255;
    return m;
}

cv::Mat checkerboard(int rows, int cols, int square) {
    cv::Mat m(rows, cols, CV_8UC1);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) m.at<unsigned char>(r, c) = ((r / square + c / square) % 2) * 255;
    return m;
}

cv::Mat lines_image(int rows, int cols) {
    cv::Mat m = cv::Mat::zeros(rows, cols, CV_8UC1);
    for (int r = 3; r < rows; r += 7) m.row(r).setTo(255);
    for (int c = 5; c < cols; c += 9) m.col(c).setTo(255);
    m.at<unsigned char>(rows - 1, cols - 1) = 255;
    return m;
}

struct output {
    int status;
    std::string out, err;
};

// Runs zarn in the folder; standard error is kept apart.
output zarn(const temp_folder& t, const std::string& args) {
    const run_result r =
        run("cd " + quote(t.path()) + " && " + quote(binary) + " " + args + " 2> err.txt");
    return {r.status, r.out, run("cat " + quote(t / "err.txt")).out};
}

cv::Mat picture(const std::string& path) { return cv::imread(path, cv::IMREAD_UNCHANGED); }

bool identical(const cv::Mat& a, const cv::Mat& b) {
    return !a.empty() && a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

std::set<std::vector<int>> colours_of(const cv::Mat& m) {
    std::set<std::vector<int>> s;
    for (int r = 0; r < m.rows; ++r)
        for (int c = 0; c < m.cols; ++c) {
            const cv::Vec3b p = m.at<cv::Vec3b>(r, c);
            s.insert({p[0], p[1], p[2]});
        }
    return s;
}

// Components before and after merging from the statistics line.
std::pair<long, long> component_counts(const std::string& out) {
    std::smatch m;
    if (!std::regex_search(out, m, std::regex("-> Components before / after merging:   ([0-9]+) / ([0-9]+)\n")))
        return {-1, -1};
    return {std::stol(m[1]), std::stol(m[2])};
}

class ZarnPartition : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(cv::imwrite(t / "photo.png", photo(60, 80, 3))); }
    temp_folder t;
};

TEST_F(ZarnPartition, WritesThePartitionPicture) {
    const output r = zarn(t, "-p photo.png out/");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(std::regex_match(r.out, std::regex("photo\\.png: done in " + ms + "\n"))) << r.out;
    const cv::Mat p = picture(t / "out/photo_part.png");
    ASSERT_EQ(p.rows, 60);
    ASSERT_EQ(p.cols, 80);
    EXPECT_EQ(p.channels(), 3);
    // Boundaries in green on black, and more than one part.
    EXPECT_EQ(colours_of(p), (std::set<std::vector<int>>{{0, 0, 0}, {0, 255, 0}}));
}

TEST_F(ZarnPartition, TimingLines) {
    const output r = zarn(t, "-p -t photo.png out");
    EXPECT_EQ(r.status, 0);
    std::vector<std::string> labels;
    for (const std::string& line : lines_of(r.out))
        labels.push_back(line.size() == 70 && line.substr(67) == " ms" ? line.substr(0, 55) : line);
    auto label = [](const std::string& s) { return s + std::string(55 - s.size(), ' '); };
    const std::string dash(70, '-'), equal(70, '=');
    const std::vector<std::string> expected = {
        "", "-> photo.png: ", "",
        label("Degenerate case check:"), label("Input image allocation, pad & copy:"),
        label("Initial allocations:"), dash,
        label("Distance factory initialization:"), label("Height function computation:"),
        label("Distance front creation:"), label("Distance propagation:"), dash,
        label("Output image allocation, pad & copy:"), label("Sub-total:"), equal,
        label("Dual transform -- image boundary condition:"),
        label("Dual transform -- height / distance negation:"), dash,
        label("Partition initialization:"), label("Component front/list creation:"),
        label("Ridge propagation / component creation:"), label("Link creation/expansion:"),
        label("Primal type backup:"), dash,
        label("Distance factory initialization:"), label("Distance front creation:"),
        label("Distance propagation:"), dash,
        label("Component cleanup:"), label("Component merging:"), label("Partition output:"), dash,
        label("Output image allocation, pad & copy:"), label("Total:"), equal};
    // The stages after the primal distance (boundary graph, medial axis)
    // come and go with the commands built: the comparison leaves out what
    // lies between the primal distance's rule and the first output line.
    const auto first = [&](const std::string& l) {
        return size_t(std::find(labels.begin(), labels.end(), label(l)) - labels.begin());
    };
    const size_t primal_end = first("Distance propagation:") + 2;
    const size_t output_line = first("Output image allocation, pad & copy:");
    ASSERT_LE(primal_end, output_line);
    std::vector<std::string> without_medial(labels.begin(), labels.begin() + primal_end);
    without_medial.insert(without_medial.end(), labels.begin() + output_line, labels.end());
    EXPECT_EQ(without_medial, expected) << r.out;

    const output s = zarn(t, "-p -t -vs photo.png out");
    const auto [before, after] = component_counts(s.out);
    EXPECT_GT(before, 1);
    EXPECT_EQ(before, after);  // the defaults merge nothing
    EXPECT_TRUE(std::regex_search(s.out, std::regex("Partition output: +[0-9.]+ ms\n-> Components "
                                                    "before / after merging:   [0-9]+ / [0-9]+\n-{70}\n")));
}

TEST_F(ZarnPartition, MergingOptions) {
    const output base = zarn(t, "-p -t -vs photo.png out");
    const long b = component_counts(base.out).first;
    ASSERT_GT(b, 4);
    long last = b;
    for (long n : {b + 5, b, b - 1, b / 2, 3L, 1L, 0L}) {
        const output r = zarn(t, "-p -t -vs -pc " + std::to_string(n) + " photo.png out");
        const auto [before, after] = component_counts(r.out);
        SCOPED_TRACE(n);
        EXPECT_EQ(before, b);
        EXPECT_LE(std::min(n, b), after);
        EXPECT_LE(after, b);
        EXPECT_LE(after, last);
        last = after;
    }
    const output huge = zarn(t, "-p -t -vs -pd 1e9 photo.png out");
    EXPECT_EQ(component_counts(huge.out), std::make_pair(b, b));

    ASSERT_EQ(zarn(t, "-p -pd 0 photo.png pd").status, 0);
    ASSERT_EQ(zarn(t, "-p -pc 0 photo.png pc").status, 0);
    EXPECT_TRUE(identical(picture(t / "pd/photo_part.png"), picture(t / "pc/photo_part.png")));
    EXPECT_FALSE(identical(picture(t / "pd/photo_part.png"), picture(t / "out/photo_part.png")));
}

TEST_F(ZarnPartition, Styles) {
    ASSERT_EQ(zarn(t, "-p -pi photo.png pi").status, 0);
    const cv::Mat interiors = picture(t / "pi/photo_part.png");
    ASSERT_FALSE(interiors.empty());
    // Random colours at 0.8 over black: every pixel coloured, no channel
    // above 0.8 x 255.
    for (const std::vector<int>& c : colours_of(interiors)) {
        EXPECT_NE(c, (std::vector<int>{0, 0, 0}));
        for (int v : c) EXPECT_LE(v, 204);
    }
    ASSERT_EQ(zarn(t, "-p -p2 photo.png p2").status, 0);
    const cv::Mat both = picture(t / "p2/photo_part.png");
    ASSERT_EQ(zarn(t, "-p photo.png out").status, 0);
    const cv::Mat plain = picture(t / "out/photo_part.png");
    for (int r = 0; r < both.rows; ++r)
        for (int c = 0; c < both.cols; ++c) {
            const cv::Vec3b p = both.at<cv::Vec3b>(r, c);
            if (plain.at<cv::Vec3b>(r, c) == cv::Vec3b(0, 255, 0)) {
                EXPECT_EQ(p, cv::Vec3b(0, 255, 0));
            } else {
                EXPECT_TRUE(p[0] <= 127 && p[1] <= 127 && p[2] <= 127);
            }
        }
    // The medial axis under the boundaries, blended at 0.5.
    ASSERT_EQ(zarn(t, "-p -pm photo.png pm").status, 0);
    const std::set<std::vector<int>> allowed = {{0, 0, 0}, {0, 255, 0}, {0, 0, 127}};
    for (const std::vector<int>& c : colours_of(picture(t / "pm/photo_part.png"))) EXPECT_TRUE(allowed.count(c));
    ASSERT_EQ(zarn(t, "-p -mg photo.png mg").status, 0);
    EXPECT_TRUE(identical(picture(t / "mg/photo_part.png"), plain));
}

TEST_F(ZarnPartition, BinaryModeAndOnlyThePartition) {
    ASSERT_TRUE(cv::imwrite(t / "lines.png", lines_image(40, 50)));
    ASSERT_EQ(zarn(t, "-b -p lines.png a").status, 0);
    ASSERT_EQ(zarn(t, "-b -p -dl lines.png b").status, 0);
    EXPECT_TRUE(identical(picture(t / "a/lines_part.png"), picture(t / "b/lines_part.png")));
    const output u = zarn(t, "-p -u photo.png u");
    EXPECT_EQ(u.status, 0);
    EXPECT_EQ(run("ls " + quote(t / "u")).out, "photo_part.png\n");
}

TEST_F(ZarnPartition, ConstantImageIsAllBlack) {
    ASSERT_TRUE(cv::imwrite(t / "flat.png", cv::Mat(20, 30, CV_8UC1, cv::Scalar(90))));
    ASSERT_EQ(zarn(t, "-p flat.png out").status, 0);
    const cv::Mat p = picture(t / "out/flat_part.png");
    ASSERT_EQ(p.rows, 20);
    EXPECT_EQ(colours_of(p), (std::set<std::vector<int>>{{0, 0, 0}}));
}

// Odd inputs in every mode: exit 0, nothing on standard error, and the same
// picture twice.
TEST_F(ZarnPartition, OddInputsFinishQuietly) {
    const std::vector<std::pair<std::string, cv::Mat>> images = {
        {"noise.png", noise(37, 41, 1)},
        {"check.png", checkerboard(32, 32, 4)},
        {"check1.png", checkerboard(17, 23, 1)},
        {"lines.png", lines_image(30, 44)},
        {"tiny12.png", (cv::Mat_<unsigned char>(1, 2) << 0, 255)},
        {"tiny21.png", (cv::Mat_<unsigned char>(2, 1) << 10, 200)},
        {"tiny22.png", (cv::Mat_<unsigned char>(2, 2) << 0, 255, 255, 0)},
        {"tiny33.png", (cv::Mat_<unsigned char>(3, 3) << 1, 2, 3, 4, 5, 6, 7, 8, 9)},
        {"line1.png", (cv::Mat_<unsigned char>(1, 9) << 0, 0, 255, 0, 0, 255, 255, 0, 9)},
    };
    for (const auto& [name, image] : images) ASSERT_TRUE(cv::imwrite(t / name, image));
    const std::vector<std::string> option_sets = {"-p", "-b -p", "-p -cs", "-b -p -cs", "-p -ma 1",
                                                  "-p -pc 2", "-b -p -pd 1 -fl", "-p -pa 0 -p2"};
    // A third of the pairs, every image and every option set among them.
    for (size_t j = 0; j < option_sets.size(); ++j) {
        const std::string& options = option_sets[j];
        for (size_t i = 0; i < images.size(); ++i) {
            if ((i + j) % 3 != 0) continue;
            const auto& [name, image] = images[i];
            SCOPED_TRACE(options + " " + name);
            const output a = zarn(t, options + " " + name + " a");
            EXPECT_EQ(a.status, 0);
            EXPECT_EQ(a.err, "");
            const output b = zarn(t, options + " " + name + " b");
            EXPECT_EQ(b.status, 0);
            const std::string stem = name.substr(0, name.size() - 4);
            const cv::Mat pa = picture(t / ("a/" + stem + "_part.png"));
            EXPECT_EQ(pa.rows, image.rows);
            EXPECT_EQ(pa.cols, image.cols);
            if (options.find("-p2") == std::string::npos) {  // random colours aside
                EXPECT_TRUE(identical(pa, picture(t / ("b/" + stem + "_part.png"))));
            }
        }
    }
}

}  // namespace
