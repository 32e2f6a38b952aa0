#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <vector>

#include <lumo/details/image/color.hpp>

#include "app/options.hpp"
#include "app/render.hpp"
#include "support/image_support.hpp"

namespace {

using byte = unsigned char;
using image_test::bytes;
using image_test::expect_pixel;
using lumo::zarn::image_set;
using lumo::zarn::options;

// Entry k is (k, 255 - k, 7): the bytes tell which entry was taken.
lumo::palette index_palette() {
    lumo::palette p(256);
    for (size_t k = 0; k < 256; ++k) {
        p[k][0] = static_cast<byte>(k);
        p[k][1] = static_cast<byte>(255 - k);
        p[k][2] = 7;
    }
    return p;
}

struct medial_fixture {
    image_set<double> set;
    options<double> opts;
    lumo::array_2d<byte> gray = bytes(3, 1, {100, 60, 9});
    lumo::image<byte> canvas;

    medial_fixture() {
        set.medial = bytes(3, 1, {255, 200, 0});
        set.dual_medial = bytes(3, 1, {255, 200, 0});
        for (auto* m : {&set.distance, &set.dual_distance, &set.residue, &set.dual_residue}) m->resize(3, 1, 0.0);
        set.distance[0] = 1.0;
        set.distance[1] = 0.5;
        set.residue[0] = 0.0;
        set.residue[1] = 1.0;
    }
};

}  // namespace

TEST(RenderPaint, ColourOpaqueAndWeightedOverBothBackgrounds) {
    const auto gray = bytes(3, 1, {100, 60, 9});
    const auto mask = bytes(3, 1, {127, 200, 0});
    lumo::image<byte> canvas;
    lumo::zarn::paint_color(canvas, gray, mask, lumo::color_blue(), false);
    ASSERT_EQ(canvas.size(), lumo::make_size_array(3, 1, 3));
    expect_pixel(canvas, 0, 50, 50, 177);  // 255 * 127/255 + 100 * 128/255, truncated
    expect_pixel(canvas, 1, 12, 12, 212);
    expect_pixel(canvas, 2, 9, 9, 9);
    lumo::zarn::paint_color(canvas, gray, mask, lumo::color_steel(), true);
    expect_pixel(canvas, 0, 0, 75, 150);
    expect_pixel(canvas, 1, 0, 75, 150);
    expect_pixel(canvas, 2, 9, 9, 9);

    // A colour background, drawn in place.
    lumo::image<byte> colour;
    colour.resize(3, 1, 3, 0);
    for (size_t i = 0; i < 9; ++i) colour[i] = static_cast<byte>(10 * i);
    lumo::zarn::paint_color(colour, colour, bytes(3, 1, {0, 255, 0}), lumo::color_white(), true);
    expect_pixel(colour, 0, 0, 30, 60);
    expect_pixel(colour, 1, 255, 255, 255);
    expect_pixel(colour, 2, 20, 50, 80);
}

TEST(RenderPaint, PaletteIndexIsTruncatedAndHeldToTheMap) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<double> values = {1.0, 0.999, 0.5, 1.5, -0.5, nan, inf, -inf};
    const std::vector<int> entries = {255, 254, 127, 255, 0, 0, 255, 0};
    lumo::array_2d<double> layer(values.size(), 1);
    for (size_t i = 0; i < values.size(); ++i) layer[i] = values[i];
    lumo::array_2d<byte> gray, mask;
    gray.resize(values.size(), 1, 0);
    mask.resize(values.size(), 1, 255);
    lumo::image<byte> canvas;
    const lumo::palette pal = index_palette();
    lumo::zarn::paint_palette(canvas, gray, mask, layer, pal, true);
    for (size_t i = 0; i < values.size(); ++i) expect_pixel(canvas, i, entries[i], 255 - entries[i], 7);

    // The float layer multiplies in float: 0.999f * 255.0f = 254.745.
    lumo::array_2d<float> flayer(2, 1);
    flayer[0] = 0.999f;
    flayer[1] = 1.0f;
    lumo::image<byte> colour;
    colour.resize(2, 1, 3, 0);
    lumo::zarn::paint_palette(colour, colour, bytes(2, 1, {255, 255}), flayer, pal, true);
    expect_pixel(colour, 0, 254, 1, 7);
    expect_pixel(colour, 1, 255, 0, 7);
}

TEST(RenderMedial, BinaryMarkerPaintsExactlyAndWeightScalesTheMarker) {
    medial_fixture f;
    lumo::zarn::draw_medial(f.set, f.opts, f.canvas, f.gray, true, 1.0);
    expect_pixel(f.canvas, 0, 0, 0, 255);
    expect_pixel(f.canvas, 1, 0, 0, 255);  // binary: any marker value paints opaquely
    expect_pixel(f.canvas, 2, 9, 9, 9);

    lumo::zarn::draw_medial(f.set, f.opts, f.canvas, f.gray, true, 0.5);
    EXPECT_EQ(f.set.medial[0], 127);  // scaled in the image set
    EXPECT_EQ(f.set.medial[1], 100);
    expect_pixel(f.canvas, 0, 50, 50, 177);

    lumo::zarn::draw_medial(f.set, f.opts, f.canvas, f.gray, false, 1.0);
    expect_pixel(f.canvas, 0, 0, 255, 0);
    EXPECT_EQ(f.set.dual_medial[1], 200);
}

TEST(RenderMedial, GrayscaleMarkerAlwaysBlends) {
    medial_fixture f;
    f.opts.medial.marker = 2;
    lumo::zarn::draw_medial(f.set, f.opts, f.canvas, f.gray, true, 1.0);
    EXPECT_EQ(f.set.medial[1], 200);  // weight 1: not scaled
    expect_pixel(f.canvas, 0, 0, 0, 255);
    expect_pixel(f.canvas, 1, 12, 12, 212);
    expect_pixel(f.canvas, 2, 9, 9, 9);
}

TEST(RenderMedial, ColourMapsByDistanceOrResidue) {
    medial_fixture f;
    f.opts.medial.times_residue = true;
    lumo::zarn::draw_medial(f.set, f.opts, f.canvas, f.gray, true, 1.0);
    expect_pixel(f.canvas, 0, 0, 255, 255);  // residue 0: cyan, entry 0
    expect_pixel(f.canvas, 1, 0, 0, 255);    // residue 1: entry 255
    f.opts.medial.times_distance = true;     // -a wins over -re
    lumo::zarn::draw_medial(f.set, f.opts, f.canvas, f.gray, true, 1.0);
    expect_pixel(f.canvas, 0, 0, 0, 255);
    expect_pixel(f.canvas, 1, 0, 128, 255);  // 0.5 * 255 = 127.5: entry 127

    // The dual axis maps red (entry 0) to lime (entry 255), here in place on
    // a colour background.
    f.set.dual_distance[0] = 0.0;
    f.set.dual_distance[1] = 1.0;
    lumo::image<byte> colour;
    colour.resize(3, 1, 3, 40);
    lumo::zarn::draw_medial_under(f.set, f.opts, colour, colour, false, 1.0);
    expect_pixel(colour, 0, 255, 0, 0);
    expect_pixel(colour, 1, 0, 255, 0);
    expect_pixel(colour, 2, 40, 40, 40);
}

TEST(RenderPartition, PaletteCoversEveryLabelUpToTheLargest) {
    lumo::array_2d<size_t> labels(2, 2);
    labels[0] = 3;
    labels[1] = 0;
    labels[2] = 3;
    labels[3] = lumo::zarn::size_max;  // no component: black, not a palette size
    std::srand(11);
    std::vector<lumo::color<byte>> want;
    for (int k = 0; k < 4; ++k) want.push_back(lumo::random_color<byte>());
    const int next = std::rand();

    std::srand(11);
    lumo::image<byte> out;
    lumo::zarn::render_partition(out, labels);
    EXPECT_EQ(std::rand(), next);  // exactly 4 colours for labels 0 .. 3
    ASSERT_EQ(out.size(), lumo::make_size_array(2, 2, 3));
    expect_pixel(out, 0, want[3][0], want[3][1], want[3][2]);
    expect_pixel(out, 1, want[0][0], want[0][1], want[0][2]);
    expect_pixel(out, 2, want[3][0], want[3][1], want[3][2]);
    expect_pixel(out, 3, 0, 0, 0);

    // Nothing but "no component": no colours drawn, all black.
    labels.fill(lumo::zarn::size_max);
    std::srand(11);
    const int first = std::rand();
    std::srand(11);
    lumo::zarn::render_partition(out, labels);
    EXPECT_EQ(std::rand(), first);
    for (size_t i = 0; i < out.length(); ++i) EXPECT_EQ(out[i], 0);
}

TEST(RenderPartition, BoundariesOnlyLeaveTheBackground) {
    image_set<double> set;
    options<double> opts;
    set.labels.resize(3, 2);
    const size_t l[6] = {1, 1, 2, 1, 1, 2};
    for (size_t i = 0; i < 6; ++i) set.labels[i] = l[i];
    const auto gray = bytes(3, 2, {10, 20, 30, 40, 50, 60});
    lumo::image<byte> canvas;
    lumo::zarn::draw_partition(set, opts, canvas, gray, 1.0, 1.0);
    expect_pixel(canvas, 0, 10, 10, 10);
    expect_pixel(canvas, 3, 40, 40, 40);
    for (size_t i : {1, 2, 4, 5}) expect_pixel(canvas, i, 0, 255, 0);

    // A boundary weight below 1 scales the mask and blends: 255 * 0.5 -> 127.
    lumo::zarn::draw_partition(set, opts, canvas, gray, 0.5, 1.0);
    expect_pixel(canvas, 1, 10, 137, 10);  // 20 * 128/255 and 255 * 127/255 + 20 * 128/255
    expect_pixel(canvas, 0, 10, 10, 10);
}

TEST(RenderPartition, InteriorWeightFollowsCommandOverlayAndMode) {
    image_set<double> set;
    options<double> opts;
    set.labels.resize(2, 1);
    set.labels[0] = 0;
    set.labels[1] = 0;
    lumo::image<byte> background;
    background.resize(2, 1, 3, 100);
    auto blended = [&](double t) {
        std::srand(21);
        const lumo::color<byte> c = lumo::random_color<byte>();
        std::vector<int> v;
        for (size_t k = 0; k < 3; ++k) v.push_back(static_cast<byte>(100 * (1 - t) + c[k] * t));
        return v;
    };
    auto draw = [&] {
        std::srand(21);
        lumo::image<byte> canvas;
        lumo::zarn::draw_fine_partition(set, opts, canvas, background, 1.0, 1.0);
        EXPECT_EQ(background[0], 100);  // the background is not drawn on
        return std::vector<int>{canvas[0], canvas[2], canvas[4]};
    };
    opts.partition.style = 1;
    opts.commands.partition = true;
    EXPECT_EQ(draw(), blended(0.8));
    opts.partition.style = 2;  // one label: no boundaries
    EXPECT_EQ(draw(), blended(0.5));
    opts.program.overlay = 1;
    EXPECT_EQ(draw(), blended(0.2));
    opts.program.overlay = 2;
    EXPECT_EQ(draw(), blended(0.4));
    opts.program.overlay = 1;
    opts.program.weighted = false;
    EXPECT_EQ(draw(), blended(0.4));
}

TEST(RenderPartition, MedialBeneathTakesTheSmallerWeight) {
    image_set<double> set;
    options<double> opts;
    opts.partition.show_medial = true;
    set.labels.resize(2, 1);
    set.labels[0] = 0;
    set.labels[1] = 0;
    set.medial = bytes(2, 1, {255, 0});
    lumo::image<byte> canvas;
    lumo::zarn::draw_partition(set, opts, canvas, bytes(2, 1, {100, 100}), 1.0, 0.5);
    EXPECT_EQ(set.medial[0], 127);
    expect_pixel(canvas, 0, 50, 50, 177);
    expect_pixel(canvas, 1, 100, 100, 100);
}

// Without a medial marker of the labels' shape (no medial stage ran for
// this image) the partition is drawn as without -pm.
TEST(RenderPartition, MedialBeneathNeedsAMarkerOfThisImage) {
    image_set<double> set;
    options<double> opts;
    opts.partition.show_medial = true;
    set.labels.resize(2, 1);
    set.labels[0] = 0;
    set.labels[1] = 0;
    lumo::image<byte> canvas;
    lumo::zarn::draw_partition(set, opts, canvas, bytes(2, 1, {100, 90}), 1.0, 0.5);
    expect_pixel(canvas, 0, 100, 100, 100);
    expect_pixel(canvas, 1, 90, 90, 90);
    set.medial = bytes(3, 1, {255, 255, 255});  // an earlier image's
    lumo::zarn::draw_partition(set, opts, canvas, bytes(2, 1, {100, 90}), 1.0, 0.5);
    expect_pixel(canvas, 0, 100, 100, 100);
    EXPECT_EQ(set.medial[0], 255);
}

TEST(RenderOverlay, InputForegroundEndsWhite) {
    lumo::image<byte> canvas;
    canvas.resize(3, 1, 3, 0);
    for (size_t i = 0; i < 9; ++i) canvas[i] = static_cast<byte>(i + 1);
    lumo::zarn::overlay_input(bytes(3, 1, {0, 1, 255}), canvas);
    expect_pixel(canvas, 0, 1, 4, 7);
    expect_pixel(canvas, 1, 255, 255, 255);
    expect_pixel(canvas, 2, 255, 255, 255);
}

namespace {

lumo::zarn::feature_type<double> feature(double x, double y, double a, double b, double theta) {
    lumo::zarn::feature_type<double> f{};
    f.x = x;
    f.y = y;
    f.major = a;
    f.minor = b;
    f.angle = theta;
    return f;
}

}  // namespace

TEST(RenderFeatures, BoxCornersAndMagentaOverlay) {
    lumo::image<byte> background;
    background.resize(80, 90, 3, 0);
    lumo::zarn::feature_set<double> fs;
    lumo::image<byte> canvas;
    lumo::zarn::draw_features(canvas, background, fs);
    ASSERT_EQ(canvas.size(), background.size());
    for (size_t i = 0; i < canvas.length(); ++i) ASSERT_EQ(canvas[i], 0);

    // Centre column 50, row 40: the box spans columns 40..60 and rows 35..45.
    fs.records.resize(1);
    fs.records[0] = feature(50, 40, 10, 5, 0);
    fs.count = 1;
    lumo::zarn::draw_features(canvas, background, fs);
    const size_t n = 80 * 90;
    auto at = [&](size_t row, size_t col, size_t k) { return canvas[row + 80 * col + k * n]; };
    EXPECT_EQ(at(45, 50, 0), 255);
    EXPECT_EQ(at(45, 50, 1), 0);
    EXPECT_EQ(at(45, 50, 2), 255);
    EXPECT_EQ(at(35, 50, 2), 255);
    EXPECT_EQ(at(40, 40, 0), 255);
    EXPECT_EQ(at(40, 60, 2), 255);
    EXPECT_EQ(at(44, 50, 0), 127);  // half-covered border: mask 127, blended
    EXPECT_EQ(at(40, 50, 0), 0);    // inside the box: the background
    EXPECT_EQ(at(47, 50, 0), 0);
    EXPECT_EQ(at(40, 62, 0), 0);
}

TEST(RenderFeatures, NonFiniteBoxesAreSkippedAndOverlapsOnlyGrow) {
    lumo::image<byte> mask;
    mask.resize(60, 60, 1, 0);
    const lumo::color<byte> full(255, 255, 255);
    lumo::zarn::draw_feature(mask, feature(30, 30, std::nan(""), 4, 0.2), full);
    lumo::zarn::draw_feature(mask, feature(30, 30, 10, 4, std::numeric_limits<double>::infinity()), full);
    for (size_t i = 0; i < mask.length(); ++i) ASSERT_EQ(mask[i], 0);

    lumo::zarn::draw_feature(mask, feature(30, 30, 12, 6, 0.3), full);
    std::vector<byte> before(mask.raw(), mask.raw() + mask.length());
    lumo::zarn::draw_feature(mask, feature(33, 27, 9, 7, 1.1), full);
    size_t grew = 0;
    for (size_t i = 0; i < mask.length(); ++i) {
        EXPECT_GE(mask[i], before[i]) << i;
        grew += mask[i] > before[i];
    }
    EXPECT_GT(grew, 0u);
}
