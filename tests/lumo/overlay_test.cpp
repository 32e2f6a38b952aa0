#include <gtest/gtest.h>

#include <lumo/details/image/overlay.hpp>

#include "support/image_support.hpp"

namespace {

using byte = unsigned char;
using image_test::expect_pixel;

// A 2 x 1 colour image whose pixel p has channels (p0, p1, p2).
lumo::image<byte> colour2(byte a0, byte a1, byte a2, byte b0, byte b1, byte b2, size_t planes = 3) {
    lumo::image<byte> im;
    im.resize(2, 1, planes, 0);
    const byte v[6] = {a0, b0, a1, b1, a2, b2};
    for (size_t i = 0; i < 6; ++i) im[i] = v[i];
    return im;
}

}  // namespace

TEST(Overlay, ThreePlaneLayerAtFullAndZeroWeight) {
    const auto base = colour2(200, 10, 0, 7, 8, 9);
    const auto layer = colour2(100, 20, 255, 1, 2, 3);
    lumo::image<byte> out;
    lumo::compose_overlay(out, base, layer, false, 1.0);
    expect_pixel(out, 0, 100, 20, 255);
    expect_pixel(out, 1, 1, 2, 3);
    lumo::compose_overlay(out, base, layer, true, 0.0);
    expect_pixel(out, 0, 200, 10, 0);
    expect_pixel(out, 1, 7, 8, 9);
    // Truncated, never rounded: 200 * 0.7 + 100 * 0.3 and 10 * 0.7 + 20 * 0.3.
    lumo::compose_overlay(out, base, layer, false, 0.3f);
    // (0.3f is 0.30000001192... in double: 169.99999... truncates to 169.)
    expect_pixel(out, 0, 169, 13, 76);
}

TEST(Overlay, FourthPlaneMasksOrWeights) {
    const auto base = colour2(200, 200, 200, 50, 60, 70);
    auto layer = colour2(100, 100, 100, 0, 0, 0, 4);
    lumo::image<byte> out;
    // Plane 3 zero everywhere: the base in every form.
    lumo::compose_overlay(out, base, layer, false, 0.5);
    expect_pixel(out, 1, 50, 60, 70);
    lumo::compose_overlay(out, base, layer, true, 0.5);
    expect_pixel(out, 0, 200, 200, 200);
    lumo::overlay_image(out, base, layer, true);
    expect_pixel(out, 0, 200, 200, 200);
    lumo::overlay_image(out, base, layer, false);
    expect_pixel(out, 1, 50, 60, 70);

    layer[6] = 255;  // pixel 0 applies fully, pixel 1 not
    lumo::compose_overlay(out, base, layer, false, 0.5);
    expect_pixel(out, 0, 150, 150, 150);
    expect_pixel(out, 1, 50, 60, 70);
    layer[6] = 51;  // t = 51 * 0.5 / 255 = 0.1
    lumo::compose_overlay(out, base, layer, false, 0.5);
    expect_pixel(out, 0, 190, 190, 190);
    lumo::compose_overlay(out, base, layer, true, 0.5);  // the flag ignores the value
    expect_pixel(out, 0, 150, 150, 150);
    lumo::overlay_image(out, base, layer, true);
    expect_pixel(out, 0, 100, 100, 100);
    lumo::overlay_image(out, base, layer, false);  // t = 0.2
    expect_pixel(out, 0, 180, 180, 180);
}

TEST(Overlay, GrayBaseSpreadsIntoThreePlanes) {
    lumo::array_2d<byte> gray(2, 1);
    gray[0] = 33;
    gray[1] = 200;
    auto layer = colour2(0, 0, 0, 255, 0, 0, 4);
    layer[7] = 255;
    lumo::image<byte> out;
    lumo::compose_overlay(out, gray, layer, true, 1.0);
    ASSERT_EQ(out.size(), lumo::make_size_array(2, 1, 3));
    expect_pixel(out, 0, 33, 33, 33);
    expect_pixel(out, 1, 255, 0, 0);
}

TEST(Overlay, ColourThroughMaskInPlace) {
    auto canvas = colour2(200, 200, 200, 10, 20, 30);
    lumo::array_2d<byte> mask(2, 1);
    mask[0] = 255;
    mask[1] = 0;
    lumo::overlay_image(canvas, canvas, mask, lumo::color_magenta(), false, 0.3);
    // 200 * 0.7 + 255 * 0.3 and 200 * 0.7 + 0 * 0.3.
    expect_pixel(canvas, 0, 216, 140, 216);
    expect_pixel(canvas, 1, 10, 20, 30);
    lumo::overlay_image(canvas, canvas, mask, lumo::color_lime(), true, 0.0f);
    expect_pixel(canvas, 0, 0, 255, 0);
    expect_pixel(canvas, 1, 10, 20, 30);
}

TEST(OverlayDeath, SmallLayerFailsTheIndexCheck) {
    const auto base = colour2(1, 2, 3, 4, 5, 6);
    lumo::image<byte> layer;
    layer.resize(1, 1, 3, 0);
    lumo::image<byte> out;
    EXPECT_DEATH(lumo::compose_overlay(out, base, layer, false, 0.5), "offset >= 0 && offset < length\\(\\)");
}
