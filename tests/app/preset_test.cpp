#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <set>
#include <utility>

#include "app/application.hpp"
#include "app/preset.hpp"

namespace {

using lumo::zarn::application;

size_t count_value(const lumo::array_2d<unsigned char>& img, unsigned char v) {
    size_t n = 0;
    for (size_t i = 0; i < img.length(); ++i) n += img[i] == v;
    return n;
}

// Draws the sample into a fresh application and returns its input.
lumo::array_2d<unsigned char> sample(const char* name) {
    application app;
    EXPECT_TRUE(app.draw_sample(name)) << name;
    return app.images.input;
}

}  // namespace

TEST(Preset, ReplacesUserOptionsButKeepsFileOptions) {
    application app;
    app.opts.distance.height_factor = 7;
    app.opts.commands.partition = true;
    app.opts.program.timing = true;
    app.opts.features.fragmentation = 0.9;
    app.opts.grassfire.medial_step = 3;
    app.opts.files.output_folder = "out";
    app.opts.files.recurse = true;
    app.opts.program.file_name = "kept.png";
    app.apply_hardcoded_options();

    const auto& o = app.opts;
    EXPECT_TRUE(o.commands.distance && o.commands.medial);
    EXPECT_FALSE(o.commands.partition || o.commands.features || o.commands.descriptors ||
                 o.commands.both_medial || o.commands.dual_distance || o.commands.dual_medial);
    EXPECT_TRUE(o.program.weighted && o.program.view && o.program.statistics && o.program.debug);
    EXPECT_FALSE(o.program.timing);
    EXPECT_EQ(o.program.overlay, 0u);
    EXPECT_EQ(o.program.memory_factor, 1.0);
    EXPECT_EQ(o.program.file_name, "kept.png");
    EXPECT_EQ(o.distance.height_factor, 4);
    EXPECT_EQ(o.distance.derivation_scale, 0.5);
    EXPECT_FALSE(o.distance.gradient);
    EXPECT_EQ(o.distance.length_factor, 0.1);
    EXPECT_EQ(o.distance.max_length, 50u);
    EXPECT_EQ(o.medial.marker, 1u);
    EXPECT_EQ(o.medial.scale, 2);
    EXPECT_EQ(o.medial.dual_scale, 2);
    // The finite link distance turns the unset component count into 0.
    EXPECT_EQ(o.partition.min_components, 0u);
    EXPECT_EQ(o.partition.min_link_distance, 10);
    EXPECT_EQ(o.partition.margin, 50u);
    EXPECT_TRUE(o.partition.fast_marching && o.partition.link_expansion);
    EXPECT_EQ(o.features.fragmentation, 0.5);
    EXPECT_EQ(o.features.growth, 0.1);
    EXPECT_EQ(o.features.zoom, 1);
    EXPECT_EQ(o.features.format, 0u);
    EXPECT_EQ(o.grassfire.medial_step, 0);
    EXPECT_EQ(o.files.output_folder, "out/");
    EXPECT_TRUE(o.files.recurse);
}

TEST(Preset, ParseSampleIndex) {
    using lumo::zarn::parse_sample_index;
    EXPECT_EQ(parse_sample_index("3"), 3u);
    EXPECT_EQ(parse_sample_index("1abc"), 1u);
    EXPECT_EQ(parse_sample_index(" 6"), 6u);
    EXPECT_EQ(parse_sample_index("x"), 0u);
    EXPECT_EQ(parse_sample_index(""), 0u);
}

TEST(Preset, SamplesOneTwoFourAndSix) {
    const auto s1 = sample("1");
    EXPECT_EQ(s1.size(0), 500u);
    EXPECT_EQ(s1.size(1), 500u);
    EXPECT_EQ(count_value(s1, 255), 2u + 301u);
    EXPECT_EQ(s1(200, 150), 255);
    EXPECT_EQ(s1(100, 350), 255);
    for (size_t c = 100; c <= 400; ++c) EXPECT_EQ(s1(400, c), 255);

    const auto s2 = sample("2");
    // 10 + 10 lines of 301 pixels crossing in 7 x 7 pixels (rows and columns
    // 100..400 step 50 lie on both).
    EXPECT_EQ(count_value(s2, 255), 20u * 301u - 49u);
    for (size_t c = 0; c <= 450; c += 50)
        for (size_t r = 100; r <= 400; ++r) ASSERT_EQ(s2(r, c), 255);
    for (size_t r = 0; r <= 450; r += 50)
        for (size_t c = 100; c <= 400; ++c) ASSERT_EQ(s2(r, c), 255);

    const auto s4 = sample("4");
    EXPECT_EQ(count_value(s4, 255), 5u);
    for (auto [r, c] : {std::pair{250, 100}, {50, 200}, {450, 200}, {150, 400}, {350, 400}})
        EXPECT_EQ(s4(r, c), 255);

    const auto s6 = sample("6");
    EXPECT_EQ(count_value(s6, 255), 2u * 401u + 2u * 199u);
    EXPECT_EQ(count_value(s6, 128), 199u);
    for (size_t c = 50; c <= 450; ++c) EXPECT_TRUE(s6(150, c) == 255 && s6(350, c) == 255);
    for (size_t r = 150; r <= 350; ++r) EXPECT_TRUE(s6(r, 50) == 255 && s6(r, 450) == 255);
    for (size_t r = 151; r <= 349; ++r) EXPECT_EQ(s6(r, 250), 128);
}

TEST(Preset, EllipseSample) {
    const auto s3 = sample("3");
    EXPECT_EQ(s3(200, 450), 255);  // t = 0
    std::set<std::pair<size_t, size_t>> points;
    size_t steps = 0;
    for (double t = 0; t < 6.283185307179586; t += 1.0 / 200, ++steps)
        points.insert({static_cast<size_t>(200.5 + 150 * std::sin(t)),
                       static_cast<size_t>(250.5 + 200 * std::cos(t))});
    EXPECT_EQ(steps, 1257u);
    EXPECT_EQ(count_value(s3, 255), points.size());
    for (auto [r, c] : points) EXPECT_EQ(s3(r, c), 255);
}

TEST(Preset, RandomSampleDrawsOneHundredTwentyNumbers) {
    std::srand(99);
    const auto a = sample("5");
    const int next = std::rand();
    std::srand(99);
    for (int k = 0; k < 120; ++k) (void)std::rand();
    EXPECT_EQ(std::rand(), next);
    std::srand(99);
    const auto b = sample("5");
    const size_t n = count_value(a, 255);
    EXPECT_GE(n, 55u);
    EXPECT_LE(n, 60u);
    for (size_t i = 0; i < a.length(); ++i) ASSERT_EQ(a[i], b[i]);
}

TEST(Preset, UnknownSampleLeavesBlackImage) {
    for (const char* name : {"0", "7", "x", ""}) {
        application app;
        EXPECT_FALSE(app.draw_sample(name)) << name;
        EXPECT_EQ(app.images.input.size(0), 500u);
        EXPECT_EQ(count_value(app.images.input, 0), 500u * 500u);
    }
}

TEST(PresetDeathTest, UnknownSampleReportsAndExits) {
    application app;
    app.opts.files.sample = "7";
    // The message goes to standard output; send it where the check looks.
    EXPECT_EXIT((dup2(2, 1), app.run_sample()), testing::ExitedWithCode(1), "^Sample 7 not found!\n$");
    app.opts.files.sample = "x";
    EXPECT_EXIT((dup2(2, 1), app.run_sample()), testing::ExitedWithCode(1), "^Sample x not found!\n$");
}
