// Conversions between library images and OpenCV matrices. Internal to the
// bridge (and its tests): nothing else sees OpenCV.
//
// Element (r, c, k) of a library image sits at r + rows*c + rows*cols*k; in
// the matrix it is channel k of pixel (row r, column c).
#ifndef ZARN_BRIDGE_IPL_HPP
#define ZARN_BRIDGE_IPL_HPP

#include <opencv2/core.hpp>

#include <lumo/details/array_2d/array_2d>

namespace lumo {

// Resizes out to (rows, cols, channels) and stores every element as a byte:
// 8-bit values as they are, 16/32-bit integers by their low 8 bits, reals by
// the byte rule. Other depths throw lumo::ecomp.
image<unsigned char>& from_ipl(image<unsigned char>& out, const cv::Mat& m);

// A matrix of the image's element depth (8U, 32F, 64F), values unchanged.
// The image must have three sizes; a shape OpenCV cannot hold throws
// lumo::ecomp.
cv::Mat to_ipl(const image<unsigned char>& im);
cv::Mat to_ipl(const image<float>& im);
cv::Mat to_ipl(const image<double>& im);

namespace bridge {

// OpenCV reports an allocation that failed by an exception of its own; the
// bridge passes it on as std::bad_alloc.
inline bool out_of_memory(const cv::Exception& e) { return e.code == cv::Error::StsNoMem; }

}  // namespace bridge

}  // namespace lumo

#endif
