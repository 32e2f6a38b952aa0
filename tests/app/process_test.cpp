#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <limits>

#include "app/application.hpp"
#include "app/files.hpp"
#include "app/output.hpp"
#include "app/test_support.hpp"

using namespace lumo::zarn;
using zarn_test::temp_folder;
using zarn_test::touch;

TEST(ResultTables, SuffixesTitlesAndExtension) {
    ASSERT_EQ(output_suffixes.length(), 8u);
    ASSERT_EQ(window_titles.length(), 8u);
    const char* suffixes[] = {"dist", "med", "udist", "umed", "uboth", "part", "feat", "desc"};
    const char* titles[] = {"distance",  "medial",   "dual distance", "dual medial",
                            "primal & dual medial", "partition", "features", "descriptors"};
    for (size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(output_suffixes[i], suffixes[i]);
        EXPECT_EQ(window_titles[i], titles[i]);
    }
    EXPECT_EQ(feature_extension, ".txt");
}

TEST(EarlierOutputs, StemsEndingInASuffixAreRejected) {
    application app;
    EXPECT_TRUE(app.accept_file("cat.png"));
    EXPECT_FALSE(app.accept_file("cat_dist.png"));
    EXPECT_FALSE(app.accept_file("named.png"));  // ends in "med" without '_'
    EXPECT_FALSE(app.accept_file("x_uboth"));
    EXPECT_FALSE(app.accept_file("a/b_feat.txt"));
    EXPECT_FALSE(app.accept_file(""));
    EXPECT_TRUE(app.accept_file("dist.png/cat.png"));
    // The stem is taken in the last component: an output of photos.v2/cat.
    EXPECT_FALSE(app.accept_file("photos.v2/cat_dist"));
    EXPECT_TRUE(app.accept_file("photos.v2/cat"));
    EXPECT_FALSE(app.accept_file("cat.dist.png"));
}

class OutputNaming : public ::testing::Test {
protected:
    OutputNaming() { app.opts.files.output_folder = t.path() + "/out/"; }
    temp_folder t;
    application app;
};

TEST_F(OutputNaming, StemSuffixAndInputExtension) {
    app.opts.program.file_name = "photos/cat.png";
    EXPECT_EQ(app.output_name("dist", ""), t.path() + "/out/photos/cat_dist.png");
    EXPECT_TRUE(is_directory(t / "out/photos"));  // made with its parent
    EXPECT_EQ(app.output_name(size_t(6), feature_extension), t.path() + "/out/photos/cat_feat.txt");
    app.opts.program.file_name = "cat_dist.png";
    EXPECT_EQ(app.output_name(size_t(0), ""), t.path() + "/out/cat_dist_dist.png");
    app.opts.program.file_name = "a.b.tif";
    EXPECT_EQ(app.output_name("med", ""), t.path() + "/out/a.b_med.tif");
}

TEST_F(OutputNaming, SamplesAndNamesWithoutExtension) {
    app.opts.program.file_name = "";
    EXPECT_EQ(app.output_name("med", ""), t.path() + "/out/zarn_med.png");
    // Only the last component holds the extension.
    app.opts.program.file_name = "photos.v2/cat";
    EXPECT_EQ(app.output_name("dist", ""), t.path() + "/out/photos.v2/cat_dist.png");
    EXPECT_EQ(app.output_name("feat", ".txt"), t.path() + "/out/photos.v2/cat_feat.txt");
}

TEST_F(OutputNaming, FolderThatCannotBeCreatedEndsTheRun) {
    touch(t / "out");  // a file where the output folder should be
    app.opts.program.file_name = "sub/cat.png";
    EXPECT_EXIT(
        {
            dup2(2, 1);
            app.output_name("dist", "");
        },
        ::testing::ExitedWithCode(1), "^Could not create directory " + t.path() + "/out/sub !\n$");
}

namespace {

lumo::array_2d<double> map_of(std::initializer_list<double> values) {
    lumo::array_2d<double> m(values.size(), 1);
    size_t i = 0;
    for (double v : values) m[i++] = v;
    return m;
}

std::vector<double> values_of(const lumo::array_2d<double>& m) {
    return std::vector<double>(m.raw(), m.raw() + m.length());
}

constexpr double inf = std::numeric_limits<double>::infinity();

}  // namespace

TEST(NormalizeMap, ScalesByLargestFiniteValue) {
    auto m = map_of({0, 1, 2, 4, inf});
    normalize_map(m, 0);
    EXPECT_EQ(values_of(m), (std::vector<double>{0, 0.25, 0.5, 1, 1}));
}

TEST(NormalizeMap, IsocontoursAreASawTooth) {
    auto m = map_of({0, 1, 2, 3, 4, 5.9, 7.5, inf});
    normalize_map(m, 3);
    const double third = 1.0 / 3, two = 2.0 / 3;
    EXPECT_EQ(values_of(m), (std::vector<double>{0, third, two, 0, third, two, third, 1}));
}

// Zeros stay zeros, and +infinity becomes 1 in either form: no output ever
// holds an infinity.
TEST(NormalizeMap, MapsWithoutPositiveFiniteValuesKeepTheirZeros) {
    for (const size_t modulus : {0, 4}) {
        auto zeros = map_of({0, 0, inf});
        normalize_map(zeros, modulus);
        EXPECT_EQ(values_of(zeros), (std::vector<double>{0, 0, 1})) << modulus;
        auto unreached = map_of({inf, inf});
        normalize_map(unreached, modulus);
        EXPECT_EQ(values_of(unreached), (std::vector<double>{1, 1})) << modulus;
    }
    lumo::array_2d<double> empty;
    normalize_map(empty, 0);
    EXPECT_TRUE(empty.empty());
}
