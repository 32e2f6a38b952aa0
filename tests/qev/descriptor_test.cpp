#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "descriptor.hpp"
#include "qev.hpp"

namespace {

namespace fs = std::filesystem;

// Intensity = gx * column + gy * row.
qev::gray_image ramp(int rows, int cols, double gx, double gy) {
    qev::gray_image img;
    img.rows = rows;
    img.cols = cols;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) img.pixels.push_back(static_cast<float>(gx * c + gy * r));
    return img;
}

qev::ellipse circle(double x, double y, double radius) {
    qev::ellipse e;
    e.x = x;
    e.y = y;
    e.a = e.c = 1 / (radius * radius);
    return e;
}

// Total weight of each orientation over all cells.
std::vector<double> orientation_totals(const qev::descriptor& d) {
    std::vector<double> t(qev::orientation_bins, 0.0);
    for (size_t i = 0; i < d.size(); ++i) t[i % qev::orientation_bins] += d[i];
    return t;
}

size_t dominant(const qev::descriptor& d) {
    const auto t = orientation_totals(d);
    size_t best = 0;
    for (size_t o = 1; o < t.size(); ++o)
        if (t[o] > t[best]) best = o;
    return best;
}

double norm(const qev::descriptor& d) {
    double s = 0;
    for (float v : d) s += static_cast<double>(v) * v;
    return std::sqrt(s);
}

}  // namespace

TEST(QevDescriptor, DominantGradientPicksItsOrientation) {
    // Gradient direction k x 45 degrees (y down the rows) lands in bin k.
    const double pi = 3.141592653589793;
    for (int k = 0; k < 8; ++k) {
        const double angle = k * pi / 4;
        const auto img = ramp(80, 80, std::cos(angle), std::sin(angle));
        qev::descriptor d;
        ASSERT_TRUE(qev::describe(img, circle(40, 40, 12), d));
        EXPECT_EQ(dominant(d), static_cast<size_t>(k)) << "direction " << k;
        EXPECT_NEAR(norm(d), 1.0, 1e-5);
    }
}

TEST(QevDescriptor, PatchRotationMovesTheBin) {
    // The same step edge, vertical then horizontal.
    qev::gray_image vertical = ramp(60, 60, 0, 0), horizontal = vertical;
    for (int r = 0; r < 60; ++r)
        for (int c = 0; c < 60; ++c) {
            vertical.pixels[static_cast<size_t>(r * 60 + c)] = c < 30 ? 0.f : 100.f;
            horizontal.pixels[static_cast<size_t>(r * 60 + c)] = r < 30 ? 0.f : 100.f;
        }
    qev::descriptor dv, dh;
    ASSERT_TRUE(qev::describe(vertical, circle(30, 30, 10), dv));
    ASSERT_TRUE(qev::describe(horizontal, circle(30, 30, 10), dh));
    EXPECT_EQ(dominant(dv), 0u);
    EXPECT_EQ(dominant(dh), 2u);
    // Only the cells on the edge respond: the outer columns of cells are empty.
    for (int r = 0; r < qev::cells; ++r)
        for (int o = 0; o < qev::orientation_bins; ++o) {
            EXPECT_EQ(dv[static_cast<size_t>((r * qev::cells + 0) * qev::orientation_bins + o)], 0.f);
            EXPECT_EQ(dv[static_cast<size_t>((r * qev::cells + 3) * qev::orientation_bins + o)], 0.f);
        }
}

TEST(QevDescriptor, AffineFrameMapsCircleToEllipse) {
    // Covariance [9 2; 2 4]; its inverse is the ellipse matrix.
    const double a = 9, b = 2, c = 4, d = a * c - b * b;
    qev::ellipse e;
    e.a = c / d;
    e.b = -b / d;
    e.c = a / d;
    double f[2][2];
    ASSERT_TRUE(qev::affine_frame(e, f));
    // frame * frame' is the covariance; the frame is symmetric (no turn).
    EXPECT_NEAR(f[0][0] * f[0][0] + f[0][1] * f[0][1], a, 1e-12);
    EXPECT_NEAR(f[0][0] * f[1][0] + f[0][1] * f[1][1], b, 1e-12);
    EXPECT_NEAR(f[1][0] * f[1][0] + f[1][1] * f[1][1], c, 1e-12);
    EXPECT_DOUBLE_EQ(f[0][1], f[1][0]);
    e.c = -1;
    EXPECT_FALSE(qev::affine_frame(e, f));
}

TEST(QevDescriptor, ConstantPatchGivesZeros) {
    qev::descriptor d;
    ASSERT_TRUE(qev::describe(ramp(30, 30, 0, 0), circle(15, 15, 5), d));
    for (float v : d) EXPECT_EQ(v, 0.f);
}

// Far outside the image every sample repeats the nearest border pixel, however
// far: a centre beyond the range of int sees the same border as one just past it.
TEST(QevDescriptor, FarCentresSeeTheBorder) {
    // Column 0 constant, the last column a ramp down the rows.
    qev::gray_image img = ramp(30, 30, 0, 0);
    for (int r = 0; r < img.rows; ++r) img.pixels[static_cast<size_t>(r) * 30 + 29] = 4.0f * r;
    qev::descriptor near_right, far_right, far_left;
    ASSERT_TRUE(qev::describe(img, circle(200, 15, 5), near_right));
    ASSERT_TRUE(qev::describe(img, circle(1e12, 15, 5), far_right));
    ASSERT_TRUE(qev::describe(img, circle(-1e12, 15, 5), far_left));
    EXPECT_NEAR(norm(near_right), 1.0, 1e-5);
    for (size_t i = 0; i < near_right.size(); ++i) {
        EXPECT_EQ(far_right[i], near_right[i]) << i;
        EXPECT_EQ(far_left[i], 0.f) << i;
    }
    EXPECT_EQ(qev::bilinear(img, std::nan(""), 7.0), 0.f);  // held at the border
}

TEST(QevInput, ArgumentsAndEllipseFile) {
    qev::arguments args;
    std::string error;
    const char* good[] = {"qev", "-i", "a b.png", "-sift", "-p1", "f.txt", "-o1", "d.txt"};
    ASSERT_TRUE(qev::parse_arguments(8, good, args, error)) << error;
    EXPECT_EQ(args.image, "a b.png");
    EXPECT_EQ(args.ellipses, "f.txt");
    EXPECT_EQ(args.output, "d.txt");
    const char* no_sift[] = {"qev", "-i", "a.png", "-p1", "f.txt", "-o1", "d.txt"};
    EXPECT_FALSE(qev::parse_arguments(7, no_sift, args, error));
    const char* extra[] = {"qev", "-i", "a.png", "-sift", "-p1", "f.txt", "-o1", "d.txt", "-x"};
    EXPECT_FALSE(qev::parse_arguments(9, extra, args, error));
    EXPECT_EQ(error, "unknown argument -x");
    const char* dangling[] = {"qev", "-sift", "-p1", "f.txt", "-o1", "d.txt", "-i"};
    EXPECT_FALSE(qev::parse_arguments(7, dangling, args, error));

    std::vector<qev::ellipse> es;
    std::istringstream ok("0\n2\n1 2 0.5 -0 0.25\n3 4 1 0.1 2\n");
    ASSERT_TRUE(qev::read_ellipses(ok, es, error)) << error;
    ASSERT_EQ(es.size(), 2u);
    EXPECT_EQ(es[1].b, 0.1);
    std::istringstream none("0\n0\n");
    EXPECT_TRUE(qev::read_ellipses(none, es, error));
    EXPECT_TRUE(es.empty());
    std::istringstream truncated("0\n2\n1 2 0.5 0 0.25\n3 4 1\n");
    EXPECT_FALSE(qev::read_ellipses(truncated, es, error));
    std::istringstream surplus("0\n1\n1 2 0.5 0 0.25\n3 4 1 0 1\n");
    EXPECT_FALSE(qev::read_ellipses(surplus, es, error));
    std::istringstream empty("");
    EXPECT_FALSE(qev::read_ellipses(empty, es, error));
}

#ifdef ZARN_QEV_BINARY
TEST(QevProgram, WritesDescriptorFileAndRejectsBadInput) {
    const std::string qev = ZARN_QEV_BINARY;
    if (qev.empty()) GTEST_SKIP() << "no qev target";
    const fs::path dir = fs::temp_directory_path() / ("zarn_qev_" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string img = (dir / "in.png").string(), feat = (dir / "f.txt").string(),
                      desc = (dir / "d.txt").string(), err = (dir / "err.txt").string();
    cv::Mat m(50, 70, CV_8U);
    for (int r = 0; r < m.rows; ++r)
        for (int c = 0; c < m.cols; ++c) m.at<unsigned char>(r, c) = static_cast<unsigned char>(c * 3);
    ASSERT_TRUE(cv::imwrite(img, m));
    std::ofstream(feat) << "0\n2\n35 25 0.01 0 0.01\n10 10 0.04 0.01 0.02\n";
    const std::string cmd = "'" + qev + "' -i '" + img + "' -sift -p1 '" + feat + "' -o1 '" + desc + "'";
    ASSERT_EQ(std::system((cmd + " 2>'" + err + "'").c_str()), 0);
    std::ifstream in(desc);
    size_t length = 0, count = 0;
    in >> length >> count;
    EXPECT_EQ(length, 128u);
    EXPECT_EQ(count, 2u);
    std::string line;
    std::getline(in, line);
    size_t lines = 0;
    while (std::getline(in, line)) {
        std::istringstream ls(line);
        std::vector<double> v;
        double x;
        while (ls >> x) v.push_back(x);
        ASSERT_EQ(v.size(), 5u + 128u);
        if (lines == 0) {
            EXPECT_EQ(v[0], 35);
            EXPECT_EQ(v[2], 0.01);
            // A horizontal ramp: orientation 0 dominates.
            double bin0 = 0, other = 0;
            for (size_t i = 0; i < 128; ++i) (i % 8 == 0 ? bin0 : other) += v[5 + i];
            EXPECT_GT(bin0, 4 * other);
        }
        ++lines;
    }
    EXPECT_EQ(lines, 2u);
    EXPECT_TRUE(fs::exists(desc + ".params"));

    // Bad input: non-zero status and a message on standard error.
    std::ofstream(feat) << "0\n3\n35 25 0.01 0 0.01\n";
    EXPECT_NE(std::system((cmd + " 2>'" + err + "'").c_str()), 0);
    std::ifstream e1(err);
    std::string message;
    std::getline(e1, message);
    EXPECT_EQ(message.rfind("qev: ", 0), 0u);
    EXPECT_NE(std::system(("'" + qev + "' -i '" + (dir / "missing.png").string() + "' -sift -p1 '" + feat +
                           "' -o1 '" + desc + "' 2>/dev/null").c_str()),
              0);
    fs::remove_all(dir);
}
#endif
