#include <gtest/gtest.h>

#include <lumo/details/image/color.hpp>
#include <lumo/details/image/image_functions.hpp>

TEST(ImageFunctions, LabelBoundariesDoNotWrapRows) {
    lumo::array_2d<size_t> labels(3, 2);
    const size_t v[6] = {1, 1, 2, 1, 1, 2};  // rows along the first index
    for (size_t i = 0; i < 6; ++i) labels[i] = v[i];
    lumo::array_2d<unsigned char> mask;
    lumo::label_boundaries(labels, mask);
    ASSERT_EQ(mask.size(), labels.size());
    // Index 2 (label 2) ends row 0 and index 3 (label 1) starts row 1:
    // not neighbours, so index 3 stays 0.
    const unsigned char want[6] = {0, 255, 255, 0, 255, 255};
    for (size_t i = 0; i < 6; ++i) EXPECT_EQ(mask[i], want[i]) << i;

}

TEST(ImageFunctions, EqualizeClipped) {
    lumo::array_2d<unsigned char> a(3, 1);
    auto set = [&] {
        a[0] = 0;
        a[1] = 0;
        a[2] = 5;
    };
    set();
    lumo::equalize_clipped(a, 0);
    EXPECT_EQ(a[0], 0);
    EXPECT_EQ(a[2], 5);
    lumo::equalize_clipped(a, 255);
    EXPECT_EQ(a[0], 170);
    EXPECT_EQ(a[1], 170);
    EXPECT_EQ(a[2], 255);
    set();
    lumo::equalize_clipped(a, 85);
    EXPECT_EQ(a[0], 85);
    EXPECT_EQ(a[1], 85);
    EXPECT_EQ(a[2], 170);

    lumo::array_2d<unsigned char> empty;
    lumo::equalize_clipped(empty, 85);
    EXPECT_EQ(empty.length(), 0u);
}

TEST(ImageFunctions, ColorViewWritesPlanes) {
    lumo::image<unsigned char> im(2, 2, 4);
    im.fill(0);
    lumo::color_view view(im);
    view.set_pixel(3, lumo::color<unsigned char>(10, 20, 30));
    EXPECT_EQ(im[3], 10);
    EXPECT_EQ(im[7], 20);
    EXPECT_EQ(im[11], 30);
    EXPECT_EQ(im[15], 0);
    view.set_pixel_masked(1, lumo::color<unsigned char>(1, 2, 3), 200);
    EXPECT_EQ(im[1], 1);
    EXPECT_EQ(im[5], 2);
    EXPECT_EQ(im[9], 3);
    EXPECT_EQ(im[13], 200);
}

TEST(ImageFunctionsDeath, ColorViewChecksColourAndIndex) {
    lumo::image<unsigned char> im(2, 2, 3);
    lumo::color_view view(im);
    lumo::array<unsigned char> two(2, 0);
    EXPECT_DEATH(view.set_pixel(0, two), "offset >= 0 && offset < length\\(\\)");
    EXPECT_DEATH(view.set_pixel(4, lumo::color_white()), "offset >= 0 && offset < length\\(\\)");
    EXPECT_DEATH(view.set_pixel_masked(0, lumo::color_white(), 1), "offset >= 0 && offset < length\\(\\)");
}
