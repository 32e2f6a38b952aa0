#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <limits>

#include "app/application.hpp"
#include "app/test_support.hpp"

using lumo::zarn::application;
using lumo::zarn::size_max;
using zarn_test::argv_list;
using zarn_test::temp_folder;
using zarn_test::touch;

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();

// A folder holding a.png, to parse command lines against.
class CommandLine : public ::testing::Test {
protected:
    CommandLine() { touch(t / "a.png"); }
    std::string file() const { return t / "a.png"; }
    bool parse(application& app, std::initializer_list<std::string> args) {
        argv_list a(args);
        return app.parse_options(a.argc(), a.argv());
    }
    temp_folder t;
};

// Runs parse_options in a child with stdout sent to stderr, so that the
// death test sees the printed line.
#define EXPECT_PARSE_EXIT(args, message)                               \
    EXPECT_EXIT(                                                       \
        {                                                              \
            dup2(2, 1);                                                \
            application app;                                           \
            argv_list a args;                                          \
            app.parse_options(a.argc(), a.argv());                     \
        },                                                             \
        ::testing::ExitedWithCode(1), message)

}  // namespace

TEST_F(CommandLine, DefaultsAfterValidationWithDistanceOnly) {
    application app;
    ASSERT_TRUE(parse(app, {"-d", file()}));
    const auto& o = app.opts;
    EXPECT_TRUE(o.commands.distance);
    EXPECT_FALSE(o.commands.beyond_distance());
    EXPECT_EQ(o.files.files, (std::vector<std::string>{"a.png"}));
    EXPECT_EQ(o.files.input_folder, t.path() + "/");
    EXPECT_EQ(o.files.output_folder, t.path() + "/");
    EXPECT_EQ(o.partition.margin, 50u);
    EXPECT_TRUE(o.program.weighted);
    EXPECT_EQ(o.medial.marker, 1u);
    EXPECT_TRUE(o.partition.fast_marching);
    EXPECT_EQ(o.partition.style, 0u);
    EXPECT_EQ(o.features.format, 0u);
    EXPECT_EQ(o.partition.min_components, size_max);
    EXPECT_EQ(o.partition.min_link_distance, inf);
    EXPECT_EQ(o.grassfire.distance_step, 0.0);
    EXPECT_EQ(o.distance.height_factor, 4.0);
    EXPECT_EQ(o.distance.max_length, 50u);
    EXPECT_EQ(o.feature_pool, &app.images.features);
}

TEST_F(CommandLine, PlainArgumentsPatternThenLastOutputFolder) {
    application app;
    ASSERT_TRUE(parse(app, {"-d", file(), "out1", "out2"}));
    EXPECT_EQ(app.opts.files.output_folder, "out2/");
    application app2;
    ASSERT_TRUE(parse(app2, {file(), "out3/", "-d"}));
    EXPECT_EQ(app2.opts.files.output_folder, "out3/");
}

TEST_F(CommandLine, PendingArgumentsSurviveFlagsAndAreReplacedByOptions) {
    application a1;
    ASSERT_TRUE(parse(a1, {"-hf", "-d", "3", file()}));
    EXPECT_TRUE(a1.opts.commands.distance);
    EXPECT_EQ(a1.opts.distance.height_factor, 3.0);

    application a2;
    ASSERT_TRUE(parse(a2, {"-d", "-hf", "-la", "3", file()}));
    EXPECT_EQ(a2.opts.distance.max_length, 3u);
    EXPECT_EQ(a2.opts.distance.height_factor, 4.0);

    // A negative number is a plain argument: the value of a pending option.
    application a3;
    ASSERT_TRUE(parse(a3, {"-d", "-sd", "-2", "-s", "7.5", "-i", "12", file(), "-sf"}));
    EXPECT_EQ(a3.opts.medial.distance_scale, 0.0);  // clamped
    EXPECT_EQ(a3.opts.medial.scale, 7.5);
    EXPECT_EQ(a3.opts.distance.isocontour, 12u);
    EXPECT_EQ(a3.opts.grassfire.step, 0.0);  // pending at the end: dropped

    // Without a pending option a negative number is the pattern or the folder.
    application a4;
    ASSERT_TRUE(parse(a4, {"-d", file(), "-5"}));
    EXPECT_EQ(a4.opts.files.output_folder, "-5/");

    // Reading stops at the first character that cannot continue a number.
    application a5;
    ASSERT_TRUE(parse(a5, {"-d", "-la", "12px", "-ff", "0.25x", file()}));
    EXPECT_EQ(a5.opts.distance.max_length, 12u);
    EXPECT_EQ(a5.opts.features.fragmentation, 0.25);
}

TEST_F(CommandLine, FlagsSetTheirFields) {
    application app;
    ASSERT_TRUE(parse(app, {"-m", "-b", "-v", "-od", "-t", "-vs", "-db", "-r", "-rp", "-ng",
                            "-vg", "-vt", "-vp", "-mt", "-a", "-re", "-cs", "-pi", "-pm", "-dl",
                            "-vc", "-vi", "-fma", "-fn", "-fl", "-fi", "-fp", "-fc", file()}));
    const auto& o = app.opts;
    EXPECT_TRUE(o.commands.medial);
    EXPECT_FALSE(o.program.weighted);
    EXPECT_TRUE(o.program.view);
    EXPECT_EQ(o.program.overlay, 2u);
    EXPECT_TRUE(o.program.timing && o.program.statistics && o.program.debug);
    EXPECT_TRUE(o.files.recurse && o.files.repeat);
    EXPECT_FALSE(o.distance.gradient);
    EXPECT_TRUE(o.distance.view_gradient && o.distance.view_traces && o.distance.view_paths);
    EXPECT_TRUE(o.medial.thinning && o.medial.times_distance && o.medial.times_residue);
    EXPECT_FALSE(o.partition.fast_marching);
    EXPECT_EQ(o.partition.style, 1u);
    EXPECT_TRUE(o.partition.show_medial && o.partition.show_cuts && o.partition.interactive);
    EXPECT_FALSE(o.partition.link_expansion);
    EXPECT_EQ(o.features.format, 1u);
    EXPECT_TRUE(o.features.affine_normalized && o.features.flat && o.features.feature_image &&
                o.features.show_fine_partition && o.features.show_cover);
    EXPECT_EQ(o.partition.margin, 2u);  // binary mode default
}

TEST_F(CommandLine, ClampsOfValidation) {
    application app;
    ASSERT_TRUE(parse(app, {"-d", "-ma", "20", "-la", "5000", "-ds", "2", "-hf", "0", "-lf", "-1",
                            "-s", "0", "-su", "-3", "-ff", "-1", "-fg", "-2", "-z", "-4", file()}));
    const auto& o = app.opts;
    EXPECT_EQ(o.program.memory_factor, 10.0);
    EXPECT_EQ(o.distance.max_length, 1000u);
    EXPECT_EQ(o.distance.derivation_scale, 1.0);
    EXPECT_EQ(o.distance.height_factor, 2.220446049250313e-16);
    EXPECT_EQ(o.distance.length_factor, 0.0);
    EXPECT_EQ(o.medial.scale, std::numeric_limits<double>::epsilon() * 1e5);
    EXPECT_NEAR(o.medial.dual_scale, 2.220446049250313e-11, 1e-26);
    EXPECT_EQ(o.features.fragmentation, 0.0);
    EXPECT_EQ(o.features.growth, 0.0);
    EXPECT_EQ(o.features.zoom, 0.0);

    application low;
    ASSERT_TRUE(parse(low, {"-d", "-ma", "0.5", "-ds", "-1", "-lf", "3", file()}));
    EXPECT_EQ(low.opts.program.memory_factor, 1.0);
    EXPECT_EQ(low.opts.distance.derivation_scale, 0.0);
    EXPECT_EQ(low.opts.distance.length_factor, 1.0);
}

TEST_F(CommandLine, ImpliedSettings) {
    {
        application app;  // binary mode has no gradient overlay
        ASSERT_TRUE(parse(app, {"-d", "-b", "-og", file()}));
        EXPECT_EQ(app.opts.program.overlay, 0u);
    }
    {
        application app;
        ASSERT_TRUE(parse(app, {"-d", "-og", file()}));
        EXPECT_EQ(app.opts.program.overlay, 3u);
    }
    {
        application app;  // grayscale marker only in binary mode
        ASSERT_TRUE(parse(app, {"-m", "-mg", file()}));
        EXPECT_EQ(app.opts.medial.marker, 1u);
    }
    {
        application app;
        ASSERT_TRUE(parse(app, {"-m", "-b", "-mg", file()}));
        EXPECT_EQ(app.opts.medial.marker, 2u);
    }
    for (const char* dual : {"-u", "-ud", "-um", "-p", "-f", "-de"}) {
        application app;  // every dual command forces the twin marker
        ASSERT_TRUE(parse(app, {dual, "-mb", "-b", "-mg", file()}));
        EXPECT_EQ(app.opts.medial.marker, 0u) << dual;
    }
    {
        application app;
        ASSERT_TRUE(parse(app, {"-p", "-pc", "5", file()}));
        EXPECT_EQ(app.opts.partition.min_components, 5u);
        EXPECT_EQ(app.opts.partition.min_link_distance, 0.0);
    }
    {
        application app;
        ASSERT_TRUE(parse(app, {"-p", "-pd", "7", file()}));
        EXPECT_EQ(app.opts.partition.min_components, 0u);
        EXPECT_EQ(app.opts.partition.min_link_distance, 7.0);
    }
    {
        application app;
        ASSERT_TRUE(parse(app, {"-p", "-pd", "7", "-pc", "4", file()}));
        EXPECT_EQ(app.opts.partition.min_components, 4u);
        EXPECT_EQ(app.opts.partition.min_link_distance, 7.0);
    }
    {
        application app;
        ASSERT_TRUE(parse(app, {"-p", "-pd", "-3", file()}));
        EXPECT_EQ(app.opts.partition.min_link_distance, 0.0);
        EXPECT_EQ(app.opts.partition.min_components, 0u);
    }
    {
        application app;  // margin 0 means ignore
        ASSERT_TRUE(parse(app, {"-p", "-pa", "0", file()}));
        EXPECT_EQ(app.opts.partition.margin, size_max);
    }
    {
        application app;
        ASSERT_TRUE(parse(app, {"-p", "-pa", "9", "-b", file()}));
        EXPECT_EQ(app.opts.partition.margin, 9u);
    }
    {
        application app;
        ASSERT_TRUE(parse(app, {"-de", "-z", "2", "-fma", file()}));
        EXPECT_EQ(app.opts.features.format, 2u);
        EXPECT_EQ(app.opts.features.zoom, 6.0);
    }
    {
        application app;
        ASSERT_TRUE(parse(app, {"-d", "-sf", "3", "-df", "1", "-mf", "-1", file()}));
        const auto& g = app.opts.grassfire;
        EXPECT_EQ(g.distance_step, 3.0);
        EXPECT_EQ(g.geodesic_step, 3.0);
        EXPECT_EQ(g.medial_step, 3.0);
        EXPECT_EQ(g.descent_step, 3.0);
    }
    {
        application app;
        ASSERT_TRUE(parse(app, {"-d", "-sf", "0", "-df", "-2", "-gf", "1.5", file()}));
        EXPECT_EQ(app.opts.grassfire.distance_step, 0.0);
        EXPECT_EQ(app.opts.grassfire.geodesic_step, 1.5);
    }
    {
        application app;
        ASSERT_TRUE(parse(app, {"-d", "-sf", "-4", "-pf", "2", file()}));
        EXPECT_EQ(app.opts.grassfire.step, 0.0);
        EXPECT_EQ(app.opts.grassfire.descent_step, 2.0);
    }
}

TEST_F(CommandLine, SamplesReturnBeforeSearchAndValidation) {
    application app;
    EXPECT_FALSE(parse(app, {"-sa", "3 extra", "-hf", "-1", "-ma", "50"}));
    EXPECT_EQ(app.opts.files.sample, "3");
    EXPECT_EQ(app.opts.distance.height_factor, -1.0);  // not validated
    EXPECT_EQ(app.opts.program.memory_factor, 50.0);
    application hs;
    EXPECT_FALSE(parse(hs, {"-hs"}));
    EXPECT_TRUE(hs.opts.files.hardcoded_sample);
    EXPECT_TRUE(hs.opts.files.files.empty());
}

TEST_F(CommandLine, ErrorsPrintTheirLineAndExitOne) {
    const std::string f = file();
    EXPECT_PARSE_EXIT(({f}), "^At least one command is expected!\n$");
    EXPECT_PARSE_EXIT(({"-d"}), "^At least one input filename is expected!\n$");
    // The command check comes first.
    EXPECT_PARSE_EXIT(({"-t"}), "^At least one command is expected!\n$");
    const std::string missing = t / "missing.png";
    EXPECT_PARSE_EXIT(({"-d", missing}), "^" + missing + " not found!\n$");
    const std::string pattern = t / "*.jpg";
    EXPECT_PARSE_EXIT(({"-d", pattern}), "^No file found matching " + t.path() + "/\\*.jpg !\n$");
    const std::string bracket = t / "a[1].png";
    EXPECT_PARSE_EXIT(({"-d", bracket}),
                      "^No file found matching " + t.path() + "/a\\[1\\].png !\n$");
}
