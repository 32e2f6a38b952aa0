// The medial axis end to end: masks written to a temporary folder, the
// binary run on them, and the medial pictures read back. In binary mode the
// shape is the zero region: the distance grows from the non-zero pixels.
#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <cmath>
#include <functional>
#include <cstdlib>
#include <regex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "e2e/e2e_support.hpp"

using zarn_test::binary_run;
using zarn_test::copy_data;
using zarn_test::lines_of;
using zarn_test::read_picture;
using zarn_test::run_zarn;
using zarn_test::temp_folder;

namespace {

const std::string data = ZARN_DATA_DIR;
const std::string& ms = zarn_test::ms_pattern;

using pixel = std::pair<int, int>;  // (image row, image column)
using pixel_set = std::set<pixel>;

// A white image with the given pixels black: the shape of binary mode.
cv::Mat shape_mask(int rows, int columns, const std::function<bool(int, int)>& inside) {
    cv::Mat m(rows, columns, CV_8UC1, cv::Scalar(255));
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c)
            if (inside(r, c)) m.at<unsigned char>(r, c) = 0;
    return m;
}

// Pixels of the given colour (B, G, R as the file stores them).
pixel_set pixels_of(const cv::Mat& picture, cv::Vec3b colour) {
    pixel_set out;
    for (int r = 0; r < picture.rows; ++r)
        for (int c = 0; c < picture.cols; ++c)
            if (picture.at<cv::Vec3b>(r, c) == colour) out.insert({r, c});
    return out;
}

const cv::Vec3b primal_colour(0, 0, 255), dual_colour(0, 255, 0), black(0, 0, 0);

// Runs "-m -b <extra> m.png" on the mask and returns the medial pixels.
pixel_set medial_of(const temp_folder& t, const cv::Mat& mask, const std::string& extra = "") {
    EXPECT_TRUE(cv::imwrite(t / "m.png", mask));
    const binary_run r = run_zarn(t, "-m -b " + extra + " m.png");
    EXPECT_EQ(r.status, 0) << r.out;
    const cv::Mat picture = read_picture(t / "m_med.png");
    EXPECT_EQ(picture.rows, mask.rows);
    EXPECT_EQ(picture.cols, mask.cols);
    // Nothing but the axis and the black background.
    const pixel_set axis = pixels_of(picture, primal_colour);
    EXPECT_EQ(axis.size() + pixels_of(picture, black).size(), size_t(picture.rows) * picture.cols);
    return axis;
}

bool includes(const pixel_set& big, const pixel_set& small) {
    for (const pixel& p : small)
        if (!big.count(p)) return false;
    return true;
}

bool near(const pixel_set& s, pixel p) {
    for (int dr = -1; dr <= 1; ++dr)
        for (int dc = -1; dc <= 1; ++dc)
            if (s.count({p.first + dr, p.second + dc})) return true;
    return false;
}

void expect_inside(const pixel_set& axis, const cv::Mat& mask) {
    for (const pixel& p : axis) EXPECT_EQ(mask.at<unsigned char>(p.first, p.second), 0) << p.first << "," << p.second;
}

// A filled rectangle: a centre line one pixel wide, four diagonal branches
// towards the corners, symmetric about both axes within one pixel.
void check_rectangle(int height, int width) {
    SCOPED_TRACE(std::to_string(height) + " x " + std::to_string(width));
    temp_folder t;
    const int top = 5, left = 6, bottom = top + height - 1, right = left + width - 1;
    const cv::Mat mask = shape_mask(height + 11, width + 12, [&](int r, int c) {
        return r >= top && r <= bottom && c >= left && c <= right;
    });
    const pixel_set axis = medial_of(t, mask);
    expect_inside(axis, mask);
    const int half = (height - 1) / 2;
    // Between the branch points every column holds one pixel, on the centre.
    for (int c = left + half + 1; c <= right - half - 1; ++c) {
        int count = 0;
        for (int r = top; r <= bottom; ++r) count += axis.count({r, c});
        EXPECT_EQ(count, 1) << "column " << c;
        EXPECT_TRUE(axis.count({top + half, c}) || axis.count({bottom - half, c})) << "column " << c;
    }
    // Each branch runs diagonally from near its corner to the centre line.
    for (int k = 5; k < half - 1; ++k) {
        EXPECT_TRUE(near(axis, {top + k, left + k})) << k;
        EXPECT_TRUE(near(axis, {top + k, right - k})) << k;
        EXPECT_TRUE(near(axis, {bottom - k, left + k})) << k;
        EXPECT_TRUE(near(axis, {bottom - k, right - k})) << k;
    }
    for (const pixel& p : axis) {
        EXPECT_TRUE(near(axis, {top + bottom - p.first, p.second})) << p.first << "," << p.second;
        EXPECT_TRUE(near(axis, {p.first, left + right - p.second})) << p.first << "," << p.second;
    }
}

}  // namespace

TEST(MedialE2e, RectanglesOfOddAndEvenSizes) {
    check_rectangle(23, 37);
    check_rectangle(24, 37);
    check_rectangle(23, 38);
    check_rectangle(30, 30);
}

TEST(MedialE2e, TwoDisksGiveTheirBisector) {
    temp_folder t;
    // White disks: the distance grows from them over the black between.
    auto sq = [](int a, int b) { return a * a + b * b; };
    const cv::Mat mask = 255 - shape_mask(40, 60, [&](int r, int c) {
        return sq(r - 20, c - 15) <= 36 || sq(r - 20, c - 45) <= 36;
    });
    const pixel_set axis = medial_of(t, mask);
    std::set<int> rows;
    for (const pixel& p : axis) {
        EXPECT_NEAR(p.second, 30, 1) << p.first;
        rows.insert(p.first);
    }
    EXPECT_EQ(rows.size(), 40u);
    // Every residue is 0 or +inf (the disks are apart): with -re the axis
    // takes the top of the residue palette, the colour of the plain picture.
    EXPECT_EQ(medial_of(t, mask, "-re"), axis);
}

TEST(MedialE2e, DiskAnnulusLineAndTwoShapes) {
    temp_folder t;
    auto sq = [](int a, int b) { return a * a + b * b; };
    {
        const cv::Mat disk = shape_mask(40, 60, [&](int r, int c) { return sq(r - 20, c - 30) <= 15 * 15; });
        const pixel_set axis = medial_of(t, disk);
        EXPECT_FALSE(axis.empty());
        for (const pixel& p : axis) EXPECT_LE(sq(p.first - 20, p.second - 30), 2) << p.first << "," << p.second;
    }
    {
        const cv::Mat ring = shape_mask(40, 60, [&](int r, int c) {
            const int d = sq(r - 20, c - 30);
            return d <= 17 * 17 && d > 6 * 6;
        });
        const pixel_set axis = medial_of(t, ring);
        expect_inside(axis, ring);
        std::set<int> octants;
        for (const pixel& p : axis) {
            const double radius = std::sqrt(double(sq(p.first - 20, p.second - 30)));
            EXPECT_NEAR(radius, 11.5, 1.6) << p.first << "," << p.second;
            octants.insert(int(std::floor(std::atan2(p.first - 20, p.second - 30) / 0.7854 + 4)));
        }
        EXPECT_EQ(octants.size(), 8u);
    }
    {
        // A black line one pixel wide is its own axis, but for its ends.
        const cv::Mat line = shape_mask(40, 60, [](int r, int c) { return r == 20 && c >= 5 && c < 55; });
        const pixel_set axis = medial_of(t, line);
        expect_inside(axis, line);
        for (int c = 8; c < 52; ++c) EXPECT_TRUE(axis.count({20, c})) << c;
        // A white line on black has no axis: its two sides share every origin.
        EXPECT_TRUE(medial_of(t, 255 - line).empty());
    }
    {
        // Two rectangles: each its own centre line.
        const cv::Mat two = shape_mask(40, 60, [](int r, int c) {
            return (r >= 5 && r <= 15 && c >= 5 && c <= 54) || (r >= 22 && r <= 34 && c >= 5 && c <= 54);
        });
        const pixel_set axis = medial_of(t, two);
        expect_inside(axis, two);
        for (int c = 15; c < 45; ++c) {
            EXPECT_TRUE(axis.count({10, c})) << c;
            EXPECT_TRUE(axis.count({28, c})) << c;
        }
    }
}

TEST(MedialE2e, TinyImages) {
    temp_folder t;
    const std::vector<cv::Mat> masks = {
        cv::Mat(1, 1, CV_8UC1, cv::Scalar(0)),
        (cv::Mat_<unsigned char>(1, 2) << 0, 255),
        (cv::Mat_<unsigned char>(2, 2) << 0, 255, 255, 0),
        (cv::Mat_<unsigned char>(1, 5) << 255, 0, 0, 0, 255),
        (cv::Mat_<unsigned char>(3, 3) << 255, 255, 255, 255, 0, 255, 255, 255, 255),
        (cv::Mat_<unsigned char>(5, 1) << 0, 255, 0, 0, 255),
    };
    for (const cv::Mat& mask : masks)
        for (const char* mode : {"-b", "-w"})
            for (const char* extra : {"-m2", "-mb -mt", "-mg", "-u -ud -um"}) {
                SCOPED_TRACE(std::string(mode) + " " + extra + " " + std::to_string(mask.rows) + "x" +
                             std::to_string(mask.cols));
                ASSERT_TRUE(cv::imwrite(t / "m.png", mask));
                const binary_run r = run_zarn(t, std::string("-m ") + mode + " " + extra + " m.png");
                EXPECT_EQ(r.status, 0) << r.out;
                const cv::Mat picture = read_picture(t / "m_med.png");
                EXPECT_EQ(picture.rows, mask.rows);
                EXPECT_EQ(picture.cols, mask.cols);
            }
}

TEST(MedialE2e, MarkersThinningAndScales) {
    temp_folder t;
    cv::Mat horse = cv::imread(data + "/horse_mask.png", cv::IMREAD_GRAYSCALE);
    ASSERT_FALSE(horse.empty());
    horse = 255 - horse;  // the horse is the zero region
    const pixel_set binary = medial_of(t, horse);
    const pixel_set twin = medial_of(t, horse, "-m2");
    const pixel_set thin = medial_of(t, horse, "-mt");
    EXPECT_GT(binary.size(), 200u);
    EXPECT_TRUE(includes(twin, binary));
    EXPECT_GT(twin.size(), binary.size());
    EXPECT_TRUE(includes(binary, thin));
    expect_inside(twin, horse);
    // The last option of the three wins.
    EXPECT_EQ(medial_of(t, horse, "-mg -m2 -mb"), binary);

    const pixel_set coarse = medial_of(t, horse, "-s 6");
    EXPECT_TRUE(includes(binary, coarse));
    EXPECT_LT(coarse.size(), binary.size());

    // -sd: nodes nearer the boundary than the distance scale pair with
    // nothing; only their neighbours' pairs can still mark them.
    EXPECT_EQ(medial_of(t, horse, "-sd 0.5"), binary);
    const pixel_set deep = medial_of(t, horse, "-sd 6");
    EXPECT_TRUE(includes(binary, deep));
    EXPECT_LT(deep.size(), binary.size());
    std::vector<pixel> boundary;
    for (int r = 0; r < horse.rows; ++r)
        for (int c = 0; c < horse.cols; ++c)
            if (horse.at<unsigned char>(r, c)) boundary.push_back({r, c});
    for (const pixel& p : deep) {
        int nearest = 1 << 30;
        for (const pixel& b : boundary) {
            const int dr = b.first - p.first, dc = b.second - p.second;
            nearest = std::min(nearest, dr * dr + dc * dc);
        }
        EXPECT_GE(nearest, 25) << p.first << "," << p.second;
    }
}

TEST(MedialE2e, GrayscaleMarkerGivesLevelsAndThreeTimingLines) {
    temp_folder t;
    const cv::Mat mask = shape_mask(30, 44, [](int r, int c) { return r >= 3 && r <= 25 && c >= 3 && c <= 39; });
    ASSERT_TRUE(cv::imwrite(t / "m.png", mask));
    const binary_run r = run_zarn(t, "-m -b -mg -mt -t m.png");
    EXPECT_EQ(r.status, 0);
    const std::vector<std::string> lines = lines_of(r.out);
    size_t residue = 0;
    while (residue < lines.size() && lines[residue].rfind("Medial axis residue computation:", 0) != 0) ++residue;
    ASSERT_LT(residue + 1, lines.size()) << r.out;
    EXPECT_EQ(lines[residue - 1].rfind("Creating medial axis front:", 0), 0u);
    EXPECT_EQ(lines[residue - 2].rfind("Medial axis transform initialization:", 0), 0u);
    EXPECT_EQ(lines[residue + 1].rfind("Output image allocation, pad & copy:", 0), 0u);

    // Grey levels blend the axis colour over black: red levels 1 to 255.
    const cv::Mat picture = read_picture(t / "m_med.png");
    std::set<int> levels;
    for (int y = 0; y < picture.rows; ++y)
        for (int x = 0; x < picture.cols; ++x) {
            const cv::Vec3b v = picture.at<cv::Vec3b>(y, x);
            EXPECT_EQ(v[0], 0);
            EXPECT_EQ(v[1], 0);
            if (v[2]) {
                levels.insert(v[2]);
                EXPECT_EQ(mask.at<unsigned char>(y, x), 0);
            }
        }
    EXPECT_TRUE(levels.count(255));
    EXPECT_GE(levels.size(), 3u);
}

namespace {

std::vector<std::string> labels_of(const std::string& out) {
    std::vector<std::string> labels;
    for (const std::string& line : lines_of(out)) {
        if (std::regex_match(line, std::regex(".{55} *" + ms)) && line.size() == 70)
            labels.push_back(line.substr(0, line.find_last_not_of(' ', 54) + 1));
        else
            labels.push_back(line);
    }
    return labels;
}

const std::string dashes(70, '-'), equals(70, '=');

const std::vector<std::string> graph_group = {"Boundary parsing initialization:", "Boundary detection:",
                                              "Boundary connection:", "Cycle parsing:", dashes};
const std::vector<std::string> medial_group = {"Medial axis transform initialization:",
                                               "Creating medial axis front:",
                                               "Medial axis residue computation:",
                                               "Medial axis binary representation:",
                                               "Medial axis reconstruction:", dashes};

std::vector<std::string> concat(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

}  // namespace

TEST(MedialE2e, TimingGroupsInOrder) {
    temp_folder t;
    const cv::Mat mask = shape_mask(30, 44, [](int r, int c) { return r >= 3 && r <= 25 && c >= 3 && c <= 39; });
    ASSERT_TRUE(cv::imwrite(t / "m.png", mask));
    const std::vector<std::string> head = {"", "-> m.png: ", "", "Degenerate case check:",
                                           "Input image allocation, pad & copy:", "Initial allocations:",
                                           dashes};
    const std::vector<std::string> binary_distance = {"Distance factory initialization:", "Input copy:",
                                                      "Distance front creation:", "Distance propagation:",
                                                      "Distance transform reconstruction:",
                                                      "Reconstruction of generators:", dashes};
    const binary_run b = run_zarn(t, "-m -b -t m.png");
    EXPECT_EQ(labels_of(b.out), concat({head, binary_distance, graph_group, medial_group,
                                        {"Output image allocation, pad & copy:", "Total:", equals}}));

    const std::vector<std::string> thin_group = {"Medial axis transform initialization:",
                                                 "Creating medial axis front:",
                                                 "Medial axis residue computation:",
                                                 "Medial axis binary representation:",
                                                 "Medial axis thinning:", "Medial axis reconstruction:", dashes};
    const binary_run th = run_zarn(t, "-m -b -mt -t m.png");
    EXPECT_EQ(labels_of(th.out), concat({head, binary_distance, graph_group, thin_group,
                                         {"Output image allocation, pad & copy:", "Total:", equals}}));

    // Weighted, the component sequence (-la 0), both axes.
    const binary_run u = run_zarn(t, "-u -t -la 0 m.png");
    const std::vector<std::string> weighted_distance = {"Distance factory initialization:",
                                                        "Height function computation:",
                                                        "Distance front creation:", "Distance propagation:", dashes};
    const std::vector<std::string> dual_distance = {"Distance factory initialization:", "Distance front creation:",
                                                    "Distance propagation:", dashes};
    EXPECT_EQ(labels_of(u.out),
              concat({head, weighted_distance, graph_group, medial_group,
                      {"Output image allocation, pad & copy:", "Sub-total:", equals,
                       "Dual transform -- image boundary condition:",
                       "Dual transform -- height / distance negation:", dashes},
                      dual_distance, graph_group, medial_group,
                      {"Output image allocation, pad & copy:", "Total:", equals}}));
}

TEST(MedialE2e, WeightedPhotographAndItsDualAxis) {
    temp_folder t;
    copy_data("coins.png", t / "c.png");
    ASSERT_EQ(run_zarn(t, "-m c.png").status, 0);
    const cv::Mat first = read_picture(t / "c_med.png");
    ASSERT_EQ(run_zarn(t, "-m c.png").status, 0);
    const cv::Mat second = read_picture(t / "c_med.png");
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(cv::norm(first, second, cv::NORM_INF), 0.0);  // two runs, the same bytes
    // The distance scale compares with the origin's own distance: 0.5
    // skips nothing.
    ASSERT_EQ(run_zarn(t, "-m -sd 0.5 c.png sd/").status, 0);
    EXPECT_EQ(cv::norm(first, read_picture(t / "sd/c_med.png"), cv::NORM_INF), 0.0);
    const pixel_set ridges = pixels_of(first, primal_colour);
    EXPECT_GT(ridges.size(), 1000u);
    EXPECT_EQ(ridges.size() + pixels_of(first, black).size(), size_t(first.rows) * first.cols);

    ASSERT_EQ(run_zarn(t, "-u -um c.png").status, 0);
    const cv::Mat both = read_picture(t / "c_uboth.png");
    const cv::Mat dual = read_picture(t / "c_umed.png");
    const pixel_set dual_axis = pixels_of(dual, dual_colour);
    EXPECT_GT(dual_axis.size(), 1000u);
    EXPECT_EQ(dual_axis.size() + pixels_of(dual, black).size(), size_t(dual.rows) * dual.cols);
    // The primal axis (drawn last) and the dual one where the primal is not.
    pixel_set primal_in_both = pixels_of(both, primal_colour);
    EXPECT_GT(primal_in_both.size(), 1000u);
    for (const pixel& p : pixels_of(both, dual_colour)) EXPECT_TRUE(dual_axis.count(p));
    EXPECT_FALSE(pixels_of(both, dual_colour).empty());
}

// The dual distance grows from the primal medial axis as well as the image
// frame: without a primal axis (a scale nothing passes) it changes.
TEST(MedialE2e, DualDistanceIsSeededFromThePrimalAxis) {
    temp_folder t;
    copy_data("coins.png", t / "c.png");
    ASSERT_EQ(run_zarn(t, "-ud c.png c_axis/").status, 0);
    ASSERT_EQ(run_zarn(t, "-ud -s 1e9 c.png c_frame/").status, 0);
    const cv::Mat axis = read_picture(t / "c_axis/c_udist.png"), frame = read_picture(t / "c_frame/c_udist.png");
    ASSERT_FALSE(axis.empty());
    ASSERT_EQ(axis.size(), frame.size());
    EXPECT_GT(cv::norm(axis, frame, cv::NORM_L1), 0.1 * axis.total());
}

TEST(MedialE2e, DebugBuildPrintsNoDiagnosticsOnCleanShapes) {
    temp_folder t;
    const cv::Mat mask = shape_mask(30, 44, [](int r, int c) { return r >= 3 && r <= 25 && c >= 3 && c <= 39; });
    ASSERT_TRUE(cv::imwrite(t / "m.png", mask));
    for (const char* args : {"-m -b -db m.png", "-m -db m.png", "-u -b -db m.png"}) {
        const binary_run r = run_zarn(t, args);
        EXPECT_EQ(r.status, 0);
        EXPECT_TRUE(std::regex_match(r.out, std::regex("m\\.png: done in " + ms + "\n"))) << args << "\n" << r.out;
    }
    ASSERT_EQ(run_zarn(t, "-m -b m.png m1/").status, 0);
    ASSERT_EQ(run_zarn(t, "-m -b -db m.png m2/").status, 0);
    EXPECT_EQ(cv::norm(read_picture(t / "m1/m_med.png"), read_picture(t / "m2/m_med.png"), cv::NORM_INF), 0.0);
}
