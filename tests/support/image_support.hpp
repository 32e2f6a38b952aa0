// Small images written out in full by the tests, and the check of one pixel
// of a planar colour image.
#ifndef ZARN_TESTS_SUPPORT_IMAGE_SUPPORT_HPP
#define ZARN_TESTS_SUPPORT_IMAGE_SUPPORT_HPP

#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

#include <lumo/details/array_2d/array_2d>

namespace image_test {

// An s0 x s1 byte array holding the values in index order.
inline lumo::array_2d<unsigned char> bytes(size_t s0, size_t s1, const std::vector<int>& values) {
    lumo::array_2d<unsigned char> a(s0, s1);
    for (size_t i = 0; i < values.size(); ++i) a[i] = static_cast<unsigned char>(values[i]);
    return a;
}

// The three planes of pixel i.
inline void expect_pixel(const lumo::image<unsigned char>& im, size_t i, int c0, int c1, int c2) {
    const size_t n = im.size(0) * im.size(1);
    EXPECT_EQ(im[i], c0) << "pixel " << i;
    EXPECT_EQ(im[i + n], c1) << "pixel " << i;
    EXPECT_EQ(im[i + 2 * n], c2) << "pixel " << i;
}

}  // namespace image_test

#endif
