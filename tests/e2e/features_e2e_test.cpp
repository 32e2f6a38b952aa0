// Features end to end: the three text formats from one set of features,
// zoom, disks found where they are, the stage and statistics lines, the
// feature and cover pictures, descriptors, and odd inputs that must finish
// quietly. Components become features only where the medial axis gives the
// partition ridges inside the image: the tests that need features are
// skipped by a build whose pipeline computes no medial axis.
#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/test_support.hpp"

using zarn_test::lines_of;
using zarn_test::quote;
using zarn_test::run;
using zarn_test::run_result;
using zarn_test::temp_folder;

namespace {

const std::string binary = ZARN_BINARY;
const std::string qev = ZARN_QEV_BINARY;
const std::string data = ZARN_DATA_DIR;

struct output {
    int status;
    std::string out, err;
};

output zarn(const temp_folder& t, const std::string& args, const std::string& path = "/usr/bin:/bin") {
    const run_result r = run("cd " + quote(t.path()) + " && PATH=" + quote(path) + " " + quote(binary) +
                             " " + args + " 2> err.txt");
    return {r.status, r.out, run("cat " + quote(t / "err.txt")).out};
}

std::string read(const std::string& path) { return run("cat " + quote(path)).out; }

bool medial_axis_computed() {
    static const bool computed = [] {
        temp_folder t;
        cv::imwrite(t / "m.png", cv::Mat(8, 8, CV_8UC1, cv::Scalar(0)) + cv::Mat::eye(8, 8, CV_8UC1) * 255);
        return zarn(t, "-m -t m.png").out.find("Medial axis") != std::string::npos;
    }();
    return computed;
}

#define NEEDS_FEATURES() \
    if (!medial_axis_computed()) GTEST_SKIP() << "the pipeline computes no medial axis: no features"

// The numbers of one line of a feature file.
std::vector<std::vector<double>> rows_of(const std::string& text, size_t skip = 0) {
    std::vector<std::vector<double>> rows;
    const std::vector<std::string> lines = lines_of(text);
    for (size_t i = skip; i < lines.size(); ++i) {
        std::istringstream in(lines[i]);
        std::vector<double> v;
        for (std::string word; in >> word;) v.push_back(std::stod(word));
        rows.push_back(v);
    }
    return rows;
}

void expect_close(double got, double want, double relative, const std::string& what) {
    EXPECT_NEAR(got, want, relative * (std::abs(want) + 1e-6)) << what;
}

class ZarnFeatureOutput : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(run("cp " + quote(data + "/coins.png") + " " + quote(t / "coins.png")).status, 0);
    }
    std::string features(const std::string& options, const std::string& folder) {
        const output r = zarn(t, options + " coins.png " + folder);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        return read(t / (folder + "/coins_feat.txt"));
    }
    temp_folder t;
};

TEST_F(ZarnFeatureOutput, ThreeFormatsOfOneSetOfFeatures) {
    NEEDS_FEATURES();
    const auto cov = rows_of(features("-f -fma", "a"));
    const std::string inverse_text = features("-f -fmm", "m");
    const auto inv = rows_of(inverse_text, 2);
    const auto axes = rows_of(features("-f", "p"));
    ASSERT_GT(cov.size(), 10u);
    ASSERT_EQ(inv.size(), cov.size());
    ASSERT_EQ(axes.size(), cov.size());
    EXPECT_EQ(inverse_text.substr(0, inverse_text.find('\n', 2) + 1), "0\n" + std::to_string(cov.size()) + "\n");
    for (size_t k = 0; k < cov.size(); ++k) {
        SCOPED_TRACE(k);
        ASSERT_EQ(cov[k].size(), 5u);
        for (double v : cov[k]) ASSERT_TRUE(std::isfinite(v));
        const double x = cov[k][0], y = cov[k][1], a = cov[k][2], b = cov[k][3], c = cov[k][4];
        EXPECT_TRUE(x >= 0 && x < 384 && y >= 0 && y < 303) << x << " " << y;
        EXPECT_GT(a, 0);
        EXPECT_GT(c, 0);
        EXPECT_GT(a * c - b * b, 0);
        // Same centres; the inverse covariance times the covariance is 1.
        EXPECT_EQ(inv[k][0], x);
        EXPECT_EQ(inv[k][1], y);
        const double ia = inv[k][2], ib = inv[k][3], ic = inv[k][4];
        expect_close(ia * a + ib * b, 1, 1e-4, "diagonal");
        expect_close(ib * b + ic * c, 1, 1e-4, "diagonal");
        EXPECT_NEAR(ia * b + ib * c, 0, 1e-4 * (std::abs(ia * b) + std::abs(ib * c)));
        // Axes squared are the eigenvalues.
        EXPECT_EQ(axes[k][0], x);
        const double l1 = axes[k][2] * axes[k][2], l2 = axes[k][3] * axes[k][3];
        EXPECT_GE(l1, l2);
        expect_close(l1 + l2, a + c, 1e-5, "trace");
        expect_close(l1 * l2, a * c - b * b, 1e-4, "determinant");
    }
}

TEST_F(ZarnFeatureOutput, ZoomScalesCovariancesOnly) {
    NEEDS_FEATURES();
    const auto one = rows_of(features("-f -fma", "one"));
    const auto two = rows_of(features("-f -fma -z 2", "two"));
    const auto axes1 = rows_of(features("-f", "p1"));
    const auto axes2 = rows_of(features("-f -z 2", "p2"));
    ASSERT_EQ(one.size(), two.size());
    ASSERT_EQ(axes1.size(), axes2.size());
    for (size_t k = 0; k < one.size(); ++k) {
        EXPECT_EQ(two[k][0], one[k][0]);
        EXPECT_EQ(two[k][1], one[k][1]);
        for (int j = 2; j < 5; ++j) expect_close(two[k][j], 4 * one[k][j], 1e-5, "covariance");
        for (int j = 2; j < 4; ++j) expect_close(axes2[k][j], 2 * axes1[k][j], 1e-5, "axis");
        EXPECT_EQ(axes2[k][4], axes1[k][4]);
    }
    EXPECT_EQ(features("-f -z 0", "zero"), "");
    EXPECT_EQ(features("-f -fmm -z 0", "zero"), "0\n0\n");
    EXPECT_EQ(features("-f -fn -fl", "nl"), features("-f -fn", "n"));
}

// White disks on black: each is found, centred, with both axes about its
// radius (a uniform disk of radius r has variance r^2 / 4 on every axis).
TEST_F(ZarnFeatureOutput, FourSeparatedDisks) {
    NEEDS_FEATURES();
    cv::Mat m = cv::Mat::zeros(200, 240, CV_8UC1);
    const int disks[4][3] = {{60, 50, 20}, {170, 55, 25}, {65, 150, 30}, {180, 150, 18}};
    for (const auto& d : disks) cv::circle(m, cv::Point(d[0], d[1]), d[2], 255, cv::FILLED);
    ASSERT_TRUE(cv::imwrite(t / "disks.png", m));
    ASSERT_EQ(zarn(t, "-f disks.png out").status, 0);
    const auto found = rows_of(read(t / "out/disks_feat.txt"));
    for (const auto& d : disks) {
        bool seen = false;
        for (const auto& f : found)
            seen |= std::hypot(f[0] - d[0], f[1] - d[1]) < 3 && std::abs(f[2] - d[2]) < 0.15 * d[2] &&
                    std::abs(f[3] - d[2]) < 0.15 * d[2];
        EXPECT_TRUE(seen) << d[0] << " " << d[1] << "\n" << read(t / "out/disks_feat.txt");
    }
}

// The stage lines of the second half, the statistics line counting the
// features written, and the pictures: -fi writes the feature picture, -fc
// draws it over gray levels of nested features only.
TEST_F(ZarnFeatureOutput, StageLinesStatisticsAndPictures) {
    const output r = zarn(t, "-f -fma -t -vs -fp -fc -fi coins.png out");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    const std::vector<std::string> lines = lines_of(r.out);
    std::vector<std::string> labels;
    bool second_half = false;
    for (const std::string& l : lines) {
        const std::string label = l.substr(0, l.find_last_not_of(' ', 54) + 1);
        if (label == "Component cleanup:") second_half = true;
        if (!second_half) continue;
        const bool rule = l == std::string(70, '-');
        labels.push_back(rule ? l : l.rfind("->", 0) == 0 ? l.substr(0, l.find(':') + 4) : label);
        if (rule) break;
    }
    const std::vector<std::string> expected = {
        "Component cleanup:", "Component boundary gap computation:", "Component statistics computation:",
        "Component merging:", "Feature generation:", "Partition output:", "Feature cover output:",
        "-> Components before / after merging:   ", "-> Total nodes / features (isolated):   ",
        std::string(70, '-')};
    EXPECT_EQ(labels, expected) << r.out;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(r.out, m, std::regex("-> Total nodes / features \\(isolated\\):   ([0-9]+) / ([0-9]+) \\(([0-9]+)\\)\n")));
    EXPECT_EQ(std::stoul(m[2]), lines_of(read(t / "out/coins_feat.txt")).size());

    const cv::Mat picture = cv::imread(t / "out/coins_feat.png", cv::IMREAD_COLOR);
    ASSERT_EQ(picture.rows, 303);
    ASSERT_EQ(picture.cols, 384);
    // Gray pixels (not touched by a magenta box) are 0 or a level of the
    // cover for some deepest stack D: trunc((d 0.7 / D + 0.3) 255).
    std::set<int> grays;
    for (int y = 0; y < picture.rows; ++y)
        for (int x = 0; x < picture.cols; ++x) {
            const cv::Vec3b p = picture.at<cv::Vec3b>(y, x);
            if (p[0] == p[1] && p[1] == p[2]) grays.insert(p[0]);
        }
    bool levels_of_some_depth = false;
    for (int D = 1; D < 256 && !levels_of_some_depth; ++D) {
        std::set<int> allowed = {0};
        for (int d = 1; d <= D; ++d) allowed.insert(int((d * 0.7 / D + 0.3) * 255.0));
        levels_of_some_depth = std::includes(allowed.begin(), allowed.end(), grays.begin(), grays.end());
    }
    EXPECT_TRUE(levels_of_some_depth);
    if (medial_axis_computed()) {
        EXPECT_GT(grays.size(), 2u);
        EXPECT_TRUE(grays.count(255) || grays.count(254));
    }
}

// -de runs our qev on the features at three times the zoom in the inverse
// covariance format: one descriptor per feature; the feature file is kept
// only with -f.
TEST_F(ZarnFeatureOutput, DescriptorsOnePerFeature) {
    const std::string path = qev.substr(0, qev.rfind('/')) + ":/usr/bin:/bin";
    EXPECT_EQ(zarn(t, "-f -de coins.png both", path).status, 0);
    EXPECT_EQ(zarn(t, "-de coins.png alone", path).status, 0);
    const std::string kept = read(t / "both/coins_feat.txt");
    EXPECT_EQ(kept, features("-f -fmm -z 3", "zoom3"));
    EXPECT_FALSE(zarn_test::exists(t / "alone/coins_feat.txt"));
    const std::vector<std::string> descriptors = lines_of(read(t / "alone/coins_desc.txt"));
    const size_t count = rows_of(kept, 2).size();
    ASSERT_GE(descriptors.size(), 2u);
    EXPECT_EQ(descriptors[1], std::to_string(count));
    EXPECT_EQ(descriptors.size(), count + 2);
    EXPECT_EQ(read(t / "alone/coins_desc.txt"), read(t / "both/coins_desc.txt"));
    if (medial_axis_computed()) {
        EXPECT_GT(count, 10u);
    }
}

// Thin lines, noise, tiny and constant images under several option sets:
// exit 0, nothing on standard error, finite features inside the image; a
// constant image after a textured one writes no features.
TEST_F(ZarnFeatureOutput, OddInputsFinishQuietly) {
    std::mt19937 rng(3);
    cv::Mat noise(41, 37, CV_8UC1), lines = cv::Mat::zeros(40, 50, CV_8UC1);
    for (int y = 0; y < noise.rows; ++y)
        for (int x = 0; x < noise.cols; ++x) noise.at<unsigned char>(y, x) = rng() & 255;
    for (int y = 3; y < 40; y += 6) lines.row(y).setTo(255);
    for (int x = 5; x < 50; x += 8) lines.col(x).setTo(255);
    cv::Mat diagonal = cv::Mat::eye(30, 30, CV_8UC1) * 255;
    const std::vector<std::pair<std::string, cv::Mat>> images = {
        {"noise.png", noise},
        {"lines.png", lines},
        {"diagonal.png", diagonal},
        {"tiny.png", (cv::Mat_<unsigned char>(2, 3) << 0, 255, 0, 255, 0, 9)},
        {"row.png", (cv::Mat_<unsigned char>(1, 7) << 0, 0, 255, 0, 3, 255, 0)},
        {"flat.png", cv::Mat(9, 11, CV_8UC1, cv::Scalar(77))},
    };
    for (const auto& [name, image] : images) ASSERT_TRUE(cv::imwrite(t / name, image));
    const std::vector<std::string> option_sets = {"-f -fma", "-b -f -fma", "-f -fma -cs", "-f -fma -ma 1",
                                                  "-f -fma -fn -fc -fp -fi", "-b -f -fma -fl -dl -pa 0"};
    for (const std::string& options : option_sets)
        for (const auto& [name, image] : images) {
            SCOPED_TRACE(options + " " + name);
            const output r = zarn(t, options + " " + name + " out");
            ASSERT_EQ(r.status, 0);
            EXPECT_EQ(r.err, "");
            for (const auto& f : rows_of(read(t / ("out/" + name.substr(0, name.size() - 4) + "_feat.txt")))) {
                ASSERT_EQ(f.size(), 5u);
                for (double v : f) EXPECT_TRUE(std::isfinite(v));
                EXPECT_TRUE(f[0] >= 0 && f[0] < image.cols && f[1] >= 0 && f[1] < image.rows);
                EXPECT_GT(f[2] * f[4] - f[3] * f[3], 0);
            }
        }
    // The flat image after coins: its file is empty.
    ASSERT_EQ(zarn(t, "-f -fma coins.png flat.png multi").status, 0);
    EXPECT_EQ(read(t / "multi/flat_feat.txt"), "");
    EXPECT_EQ(read(t / "multi/coins_feat.txt"), features("-f -fma", "single"));
}

}  // namespace
