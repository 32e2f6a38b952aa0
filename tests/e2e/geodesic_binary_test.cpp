// The geodesic sequence of the built binary: its timing group and statistics
// lines, when it runs and when not, repeatable outputs whatever -ma, and
// clean runs on tiny, noisy and regular inputs.
#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <regex>

#include "e2e/e2e_support.hpp"

using zarn_test::binary_run;
using zarn_test::checkerboard;
using zarn_test::copy_data;
using zarn_test::index_of;
using zarn_test::lines_of;
using zarn_test::read_file;
using zarn_test::run_zarn;
using zarn_test::temp_folder;

namespace {

const std::string dashes(70, '-');

// A timing line: the label in 55 columns, milliseconds in 12, " ms".
bool is_lap(const std::string& line, const std::string& label) {
    if (line.size() != 70 || line.compare(0, label.size(), label) != 0) return false;
    static const std::regex tail(" *[0-9]+\\.[0-9]{2} ms");
    return std::regex_match(line.substr(55), tail) &&
           line.find_first_not_of(' ', label.size()) >= 55;
}

size_t count_of(const std::vector<std::string>& lines, const std::string& label) {
    return std::count_if(lines.begin(), lines.end(), [&](const std::string& l) {
        return l.compare(0, label.size(), label) == 0;
    });
}

const char* const geodesic_labels[] = {"Geodesic distance initialization:",
                                       "Front creation:",
                                       "Geodesic propagation along boundaries:",
                                       "Crossing removal:",
                                       "Path tracing:",
                                       "Path connection:",
                                       "Path traversing:",
                                       "Vertex data storage:"};
const char* const structure_labels[] = {
    "Cycle parsing:", "Path pruning:", "Edge pruning:", "Cycle parsing:", "Cell construction:"};

cv::Mat noise(int rows, int cols, unsigned seed) {
    cv::Mat m(rows, cols, CV_8UC1);
    cv::RNG rng(seed);
    rng.fill(m, cv::RNG::UNIFORM, 0, 256);
    return m;
}

}  // namespace

// After boundary parsing: an opening rule, the eight geodesic laps, a rule,
// then structure parsing with pruning and cells, and its rule.
TEST(GeodesicBinary, TimingGroupOfTheGeodesicSequence) {
    temp_folder t;
    copy_data("coins.png", t / "a.png");
    const binary_run o = run_zarn(t, "-m -t a.png");
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.err, "");
    const std::vector<std::string> lines = lines_of(o.out);
    size_t i = index_of(lines, "Boundary connection:");
    ASSERT_LT(i + 16, lines.size()) << o.out;
    EXPECT_EQ(lines[++i], dashes);
    for (const char* label : geodesic_labels) EXPECT_TRUE(is_lap(lines[++i], label)) << lines[i];
    EXPECT_EQ(lines[++i], dashes);
    for (const char* label : structure_labels) EXPECT_TRUE(is_lap(lines[++i], label)) << lines[i];
    EXPECT_EQ(lines[++i], dashes);
    EXPECT_EQ(lines[++i].rfind("Medial axis", 0), 0u) << lines[i];
}

// With -vs the counts before and after the stage close its group, and the
// final counts close structure parsing: the stage only adds, pruning only
// removes.
TEST(GeodesicBinary, StatisticsBeforeAndAfterTheStage) {
    temp_folder t;
    copy_data("camera.png", t / "a.png");
    const binary_run o = run_zarn(t, "-m -t -vs a.png");
    ASSERT_EQ(o.status, 0) << o.err;
    const std::vector<std::string> lines = lines_of(o.out);
    const size_t i = index_of(lines, "Vertex data storage:");
    ASSERT_LT(i + 3, lines.size()) << o.out;
    std::smatch before, after, final_counts;
    ASSERT_TRUE(
        std::regex_match(lines[i + 1], before,
                         std::regex("-> Vertices / edges         before geo: (\\d+) / (\\d+)")))
        << lines[i + 1];
    ASSERT_TRUE(std::regex_match(
        lines[i + 2], after,
        std::regex("-> Vertices / edges / paths after  geo: (\\d+) / (\\d+) / (\\d+)")))
        << lines[i + 2];
    EXPECT_EQ(lines[i + 3], dashes);
    const size_t j = index_of(lines, "Cell construction:");
    ASSERT_LT(j + 3, lines.size());
    ASSERT_TRUE(std::regex_match(
        lines[j + 1], final_counts,
        std::regex("-> Final vertices / edges / paths:      (\\d+) / (\\d+) / (\\d+)")))
        << lines[j + 1];
    EXPECT_TRUE(std::regex_match(
        lines[j + 2], std::regex("-> Final components / cycles:           \\d+ / \\d+")));
    EXPECT_EQ(lines[j + 3], dashes);
    const auto n = [](const std::ssub_match& m) { return std::stoull(m.str()); };
    EXPECT_GT(n(before[1]), 0u);
    EXPECT_GE(n(after[1]), n(before[1]));
    EXPECT_GE(n(after[2]), n(before[2]));
    EXPECT_GT(n(after[3]), 0u);
    EXPECT_LE(n(final_counts[3]), n(after[3]));
    EXPECT_LE(n(final_counts[1]), n(after[1]));
    EXPECT_GE(n(final_counts[1]), n(before[1]));
    EXPECT_LE(n(final_counts[2]), n(after[2]));
}

// Without a length limit, in binary mode, or on a grid too small for one
// step, the plain sequence runs: one cycle parsing and no geodesic line.
TEST(GeodesicBinary, PlainSequenceWithoutALengthLimit) {
    temp_folder t;
    copy_data("coins.png", t / "a.png");
    ASSERT_TRUE(cv::imwrite(t / "tiny.png", noise(5, 5, 3)));  // padded 9 x 9: 0.9 rounds to 0
    ASSERT_TRUE(cv::imwrite(t / "mask.png", checkerboard(40, 40, 8)));
    for (const std::string args : {"-m -t -la 0 a.png", "-m -t -lf 0 a.png", "-m -t -b mask.png",
                                   "-m -t tiny.png", "-u -t -vs -la 0 a.png"}) {
        SCOPED_TRACE(args);
        const binary_run o = run_zarn(t, args);
        EXPECT_EQ(o.status, 0);
        EXPECT_EQ(o.err, "");
        const std::vector<std::string> lines = lines_of(o.out);
        for (const char* label : geodesic_labels) EXPECT_EQ(count_of(lines, label), 0u) << label;
        EXPECT_EQ(count_of(lines, "-> Vertices / edges"), 0u);
        // -u runs the plain sequence twice, primal and dual.
        EXPECT_EQ(count_of(lines, "Cycle parsing:"), args[1] == 'u' ? 2u : 1u);
        EXPECT_EQ(count_of(lines, "Path pruning:"), 0u);
    }
    // One step fits a 6 x 6 image (padded 10 x 10).
    ASSERT_TRUE(cv::imwrite(t / "six.png", noise(6, 6, 4)));
    const binary_run o = run_zarn(t, "-m -t six.png");
    EXPECT_EQ(count_of(lines_of(o.out), "Front creation:"), 1u);
}

// Results depend on nothing but the image and the options: not on the run,
// not on the allocation factor.
TEST(GeodesicBinary, OutputsAreRepeatableAndIndependentOfTheAllocationFactor) {
    temp_folder t;
    copy_data("camera.png", t / "photo.png");
    ASSERT_TRUE(cv::imwrite(t / "noise.png", noise(80, 70, 9)));
    for (const std::string name : {"photo", "noise"}) {
        SCOPED_TRACE(name);
        const std::string file = name + ".png";
        for (const std::string command : {"-m", "-u"}) {
            const std::string suffix = command == "-m" ? "_med.png" : "_uboth.png";
            ASSERT_EQ(run_zarn(t, command + " " + file).status, 0);
            const std::string first = read_file(t / (name + suffix));
            ASSERT_FALSE(first.empty());
            ASSERT_EQ(run_zarn(t, command + " " + file).status, 0);
            EXPECT_EQ(read_file(t / (name + suffix)), first) << command << " run twice";
        }
        ASSERT_EQ(run_zarn(t, "-m -ma 1 " + file).status, 0);
        const std::string one = read_file(t / (name + "_med.png"));
        ASSERT_EQ(run_zarn(t, "-m -ma 10 " + file).status, 0);
        EXPECT_EQ(read_file(t / (name + "_med.png")), one) << "-ma 1 vs -ma 10";
    }
}

// Inputs at the edges: a few pixels, noise, regular patterns, the longest
// fronts; in the plain and the debug build. Nothing on standard error.
TEST(GeodesicBinary, OddInputsFinishCleanly) {
    temp_folder t;
    ASSERT_TRUE(cv::imwrite(t / "s5.png", noise(5, 5, 1)));
    ASSERT_TRUE(cv::imwrite(t / "s6.png", noise(6, 6, 2)));
    ASSERT_TRUE(cv::imwrite(t / "s9.png", noise(9, 9, 3)));
    ASSERT_TRUE(cv::imwrite(t / "noise.png", noise(64, 48, 4)));
    ASSERT_TRUE(cv::imwrite(t / "check1.png", checkerboard(32, 33, 1)));
    ASSERT_TRUE(cv::imwrite(t / "check3.png", checkerboard(30, 40, 3)));
    ASSERT_TRUE(cv::imwrite(t / "line.png", noise(1, 60, 5)));
    for (const std::string file :
         {"s5.png", "s6.png", "s9.png", "noise.png", "check1.png", "check3.png", "line.png"})
        for (const std::string args :
             {"-m", "-m -la 1000 -lf 1", "-u -la 1000 -lf 1 -t -vs", "-m -db -la 1000 -lf 1"}) {
            SCOPED_TRACE(args + " " + file);
            const binary_run o = run_zarn(t, args + " " + file);
            EXPECT_EQ(o.status, 0);
            EXPECT_EQ(o.err, "");
            EXPECT_FALSE(read_file(t / (file.substr(0, file.size() - 4) +
                                    (args[1] == 'u' ? "_uboth.png" : "_med.png")))
                             .empty());
        }
}
