#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "app/application.hpp"
#include "app/features.hpp"
#include "app/test_support.hpp"

namespace {

namespace fs = std::filesystem;
using lumo::zarn::application;
using lumo::zarn::feature_set;
using lumo::zarn::feature_type;
using zarn_test::read_file;
using zarn_test::temp_folder;

feature_type<double> feature(double x, double y, double a, double b, double c) {
    feature_type<double> f{};
    f.determinant = a * c - b * b;
    f.a = a;
    f.b = b;
    f.c = c;
    f.x = x;
    f.y = y;
    return f;
}

// Two features and a spare record beyond the count.
feature_set<double> two_features() {
    feature_set<double> s;
    s.records.resize(3);
    s.records[0] = feature(12.5, 1e6, 4, 0, 1);
    s.records[1] = feature(1.0 / 3, 7, 1, 0, 4);
    s.records[2] = feature(99, 99, 9, 0, 9);
    s.count = 2;
    return s;
}

// An application set up to write the features of in_name in folder.
void prepare(application& app, const std::string& folder, const std::string& in_name) {
    app.opts.files.input_folder = folder;
    app.opts.files.output_folder = folder;
    app.opts.program.file_name = in_name;
    app.images.features = two_features();
}

void write_test_image(const std::string& path) {
    cv::Mat m(64, 80, CV_8U);
    for (int r = 0; r < m.rows; ++r)
        for (int c = 0; c < m.cols; ++c) m.at<unsigned char>(r, c) = static_cast<unsigned char>((r * 7 + c * 3) % 256);
    ASSERT_TRUE(cv::imwrite(path, m));
}

}  // namespace

TEST(Features, AxesFormat) {
    auto s = two_features();
    std::ostringstream out;
    lumo::zarn::write_features_axes(out, s);
    // b = 0: a >= c gives angle 0, a < c gives -pi/2.
    EXPECT_EQ(out.str(), "12.5 1e+06 2 1 0\n0.333333 7 2 1 -1.5708\n");
    EXPECT_EQ(s.records[0].major, 2);
    EXPECT_EQ(s.records[0].minor, 1);
    EXPECT_EQ(s.records[1].angle, -std::atan2(1.0, 0.0));
}

TEST(Features, CovarianceAndInverseCovarianceFormats) {
    auto s = two_features();
    s.records[0] = feature(3, 4, 2, 0.5, 1);  // d = 1.75
    std::ostringstream cov, inv;
    lumo::zarn::write_features_covariance(cov, s);
    EXPECT_EQ(cov.str(), "3 4 2 0.5 1\n0.333333 7 1 0 4\n");
    lumo::zarn::write_features_inverse_covariance(inv, s);
    EXPECT_EQ(inv.str(), "0\n2\n3 4 0.571429 -0.285714 1.14286\n0.333333 7 1 -0 0.25\n");
    EXPECT_DOUBLE_EQ(s.records[0].inv_a, 1 / 1.75);
    EXPECT_DOUBLE_EQ(s.records[0].inv_b, -0.5 / 1.75);
    EXPECT_DOUBLE_EQ(s.records[0].inv_c, 2 / 1.75);
}

TEST(Features, NoFeatures) {
    feature_set<double> none;
    std::ostringstream a, c, m;
    lumo::zarn::write_features_axes(a, none);
    lumo::zarn::write_features_covariance(c, none);
    lumo::zarn::write_features_inverse_covariance(m, none);
    EXPECT_EQ(a.str(), "");
    EXPECT_EQ(c.str(), "");
    EXPECT_EQ(m.str(), "0\n0\n");
}

TEST(Features, GeometryMatchesAxesWriterAndNeverNaN) {
    application app;
    app.images.features = two_features();
    // Equal variances: two equal axes.
    app.images.features.records[1] = feature(0, 0, 9, 0, 9);
    // Rank one up to rounding: l2 comes out slightly negative.
    app.images.features.records.resize(3);
    app.images.features.records[2] = feature(1, 1, 45.13185357669482, -14.895573947993253, 4.916220045407323);
    app.images.features.count = 3;
    auto copy = app.images.features;
    app.feature_geometry();
    std::ostringstream sink;
    lumo::zarn::write_features_axes(sink, copy);
    for (size_t k = 0; k < 3; ++k) {
        const auto& g = app.images.features.records[k];
        EXPECT_EQ(g.major, copy.records[k].major);
        EXPECT_EQ(g.minor, copy.records[k].minor);
        EXPECT_EQ(g.angle, copy.records[k].angle);
    }
    EXPECT_EQ(app.images.features.records[1].major, 3);
    EXPECT_EQ(app.images.features.records[1].minor, 3);
    EXPECT_EQ(app.images.features.records[2].minor, 0);
    EXPECT_NE(sink.str().find(" 0 "), std::string::npos);
    EXPECT_EQ(sink.str().find("nan"), std::string::npos);
}

TEST(Features, SaveFeaturesWritesChosenFormat) {
    const temp_folder t;
    const std::string folder = t.path() + "/";
    application app;
    prepare(app, folder, "sub/cat.png");
    app.opts.features.format = 1;
    app.save_features();
    EXPECT_EQ(read_file(folder + "sub/cat_feat.txt"), "12.5 1e+06 4 0 1\n0.333333 7 1 0 4\n");
    app.opts.features.format = 0;
    app.save_features();  // truncates
    EXPECT_EQ(read_file(folder + "sub/cat_feat.txt"), "12.5 1e+06 2 1 0\n0.333333 7 2 1 -1.5708\n");
}

TEST(FeaturesDeathTest, UnwritableFeatureFile) {
    const temp_folder t;
    const std::string folder = t.path() + "/";
    application app;
    prepare(app, folder, "cat.png");
    fs::create_directory(folder + "cat_feat.txt");  // cannot be opened as a file
    EXPECT_EXIT((dup2(2, 1), app.save_features()), testing::ExitedWithCode(1),
                "^Cannot open output file " + folder + "cat_feat.txt !\n$");
    // A write that fails (device full) is reported the same way.
    fs::remove(folder + "cat_feat.txt");
    fs::create_symlink("/dev/full", folder + "cat_feat.txt");
    EXPECT_EXIT((dup2(2, 1), app.save_features()), testing::ExitedWithCode(1),
                "^Cannot open output file " + folder + "cat_feat.txt !\n$");
}

#ifdef ZARN_QEV_BINARY
namespace {
// The search path with only our qev's folder in front.
struct qev_on_path {
    std::string old;
    explicit qev_on_path(const std::string& dir) {
        old = std::getenv("PATH") ? std::getenv("PATH") : "";
        setenv("PATH", (dir + ":" + old).c_str(), 1);
    }
    ~qev_on_path() { setenv("PATH", old.c_str(), 1); }
};
}  // namespace

TEST(Features, DescriptorsThroughQevWithAwkwardName) {
    const std::string qev = ZARN_QEV_BINARY;
    if (qev.empty()) GTEST_SKIP() << "no qev target";
    const qev_on_path path(fs::path(qev).parent_path().string());
    const temp_folder t;
    const std::string folder = t / "my dir/";
    fs::create_directories(folder);
    const std::string name = "it's a cat.png";
    write_test_image(folder + name);

    application app;
    prepare(app, folder, name);
    app.images.features.records[0] = feature(40, 30, 36, 4, 25);
    app.images.features.records[1] = feature(20.5, 10, 16, -2, 9);
    app.opts.commands.descriptors = true;
    app.opts.features.format = 2;
    testing::internal::CaptureStdout();
    app.save_features();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.rfind("  [descriptors: ", 0), 0u) << out;
    EXPECT_EQ(out.substr(out.size() - 5), " ms]\n");
    EXPECT_FALSE(fs::exists(folder + "it's a cat_feat.txt"));  // intermediate, removed
    EXPECT_FALSE(fs::exists(folder + "it's a cat_desc.txt.params"));
    std::ifstream desc(folder + "it's a cat_desc.txt");
    size_t length = 0, count = 0;
    desc >> length >> count;
    EXPECT_EQ(length, 128u);
    EXPECT_EQ(count, 2u);
    double x = 0, y = 0;
    desc >> x >> y;
    EXPECT_EQ(x, 40);
    EXPECT_EQ(y, 30);

    // With -f the feature file stays; with -t the time gets its own line.
    app.opts.commands.features = true;
    app.opts.program.timing = true;
    testing::internal::CaptureStdout();
    app.save_features();
    const std::string timed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(timed.rfind("\n[ Descriptor extraction: ", 0), 0u) << timed;
    EXPECT_EQ(timed.substr(timed.size() - 7), " ms ]\n\n");
    EXPECT_EQ(read_file(folder + "it's a cat_feat.txt").substr(0, 4), "0\n2\n");
}
#endif

TEST(FeaturesDeathTest, NoQevToRun) {
    const temp_folder t;
    const std::string folder = t.path() + "/";
    application app;
    prepare(app, folder, "cat.png");
    app.opts.commands.descriptors = true;
    app.opts.features.format = 2;
    const std::string old = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", folder.c_str(), 1);  // neither the search path nor ./ holds a qev
    // Standard error first says why, as a shell would.
    EXPECT_EXIT((dup2(2, 1), app.save_features()), testing::ExitedWithCode(1),
                "^qev: not found on PATH nor in the current folder\n"
                "\nCannot run the descriptor extraction executable qev/qev.exe !\n$");
    setenv("PATH", old.c_str(), 1);
    EXPECT_TRUE(fs::exists(folder + "cat_feat.txt"));  // left in place
}
