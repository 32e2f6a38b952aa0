// qev reads an image as zarn does: the bridge's gray bytes, row-major.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <string>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <lumo/details/image/bridge.hpp>

#include "qev.hpp"

namespace {

namespace fs = std::filesystem;

// Every pixel of img is want(r, c).
template <typename F>
void expect_pixels(const qev::gray_image& img, F want) {
    for (int r = 0; r < img.rows; ++r)
        for (int c = 0; c < img.cols; ++c) EXPECT_EQ(img.at(r, c), want(r, c)) << r << "," << c;
}

class QevLoad : public ::testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "zarn_qev_load_XXXXXX").string();
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Writes m, loads it as qev does and checks every pixel against the
    // bridge's bytes, whose row index varies fastest.
    qev::gray_image write_and_load(const cv::Mat& m, const std::string& name) {
        const std::string path = (dir_ / name).string();
        EXPECT_TRUE(cv::imwrite(path, m));
        qev::gray_image img;
        EXPECT_TRUE(qev::load_gray(path, img));
        lumo::array_2d<unsigned char> bytes;
        EXPECT_TRUE(lumo::load_image(bytes, path));
        EXPECT_EQ(img.rows, m.rows);
        EXPECT_EQ(img.cols, m.cols);
        EXPECT_EQ(img.pixels.size(), bytes.length());
        if (img.pixels.size() != bytes.length()) return img;
        const size_t rows = bytes.size(0);
        expect_pixels(img, [&](int r, int c) {
            return static_cast<int>(bytes[static_cast<size_t>(r) + rows * static_cast<size_t>(c)]);
        });
        return img;
    }

    fs::path dir_;
};

}  // namespace

TEST_F(QevLoad, EightBitIsCopiedRowMajor) {
    cv::Mat m(3, 5, CV_8UC1);
    for (int r = 0; r < m.rows; ++r)
        for (int c = 0; c < m.cols; ++c) m.at<unsigned char>(r, c) = static_cast<unsigned char>(16 * r + c + 1);
    const auto img = write_and_load(m, "gray.png");
    ASSERT_EQ(img.rows, 3);
    ASSERT_EQ(img.cols, 5);
    expect_pixels(img, [&](int r, int c) { return m.at<unsigned char>(r, c); });
}

TEST_F(QevLoad, DeepSamplesGiveTheirLowByte) {
    cv::Mat m(2, 3, CV_16UC1);
    for (int r = 0; r < m.rows; ++r)
        for (int c = 0; c < m.cols; ++c) {
            const int low = 37 * (r + 2 * c) + 11, high = 1 + 50 * c + r;
            m.at<unsigned short>(r, c) = static_cast<unsigned short>(low + 256 * high);
        }
    m.at<unsigned short>(0, 0) = 300;
    const auto img = write_and_load(m, "deep.png");
    EXPECT_EQ(img.at(0, 0), 44.f);
    expect_pixels(img, [&](int r, int c) { return m.at<unsigned short>(r, c) & 0xFF; });
}

TEST_F(QevLoad, RealsFollowTheByteRule) {
    cv::Mat m(2, 3, CV_32FC1);
    const float v[] = {1.0f, 0.5f, 0.25f, 0.0f, 0.999f, 2.0f};  // 2 * 255 = 510 wraps to 254
    const float want[] = {255, 127, 63, 0, 254, 254};
    for (int i = 0; i < 6; ++i) m.at<float>(i / 3, i % 3) = v[i];
    const auto img = write_and_load(m, "real.tif");
    expect_pixels(img, [&](int r, int c) { return want[r * 3 + c]; });
}

TEST_F(QevLoad, ColourIsTheMeanOfAllChannels) {
    cv::Mat m(2, 3, CV_8UC4);
    for (int r = 0; r < m.rows; ++r)
        for (int c = 0; c < m.cols; ++c)
            m.at<cv::Vec4b>(r, c) = cv::Vec4b(10 + 60 * c, 200 - 30 * r, 7 * c + r, 255 - 90 * r);
    m.at<cv::Vec4b>(0, 0) = cv::Vec4b(10, 20, 30, 3);  // alpha counts: 63 / 4
    const auto img = write_and_load(m, "alpha.png");
    EXPECT_EQ(img.at(0, 0), 15.f);
    expect_pixels(img, [&](int r, int c) {
        const cv::Vec4b p = m.at<cv::Vec4b>(r, c);
        return (p[0] + p[1] + p[2] + p[3]) / 4;
    });
}
