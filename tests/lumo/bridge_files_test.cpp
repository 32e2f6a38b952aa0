// Saving into formats that hold one channel count only, and a failed save
// that keeps the older file.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <lumo/details/image/bridge.hpp>

#include "app/test_support.hpp"

namespace {

namespace fs = std::filesystem;
using zarn_test::read_file;

class BridgeFiles : public ::testing::Test {
protected:
    std::string path(const std::string& name) const { return t_ / name; }
    size_t entries() const {
        return static_cast<size_t>(
            std::distance(fs::directory_iterator(t_.path()), fs::directory_iterator()));
    }

    zarn_test::temp_folder t_;
};

TEST_F(BridgeFiles, GrayIntoAColourOnlyFormatBecomesThreeEqualPlanes) {
    lumo::image<unsigned char> gray(3, 4, 1);
    for (size_t i = 0; i < gray.length(); ++i) gray[i] = static_cast<unsigned char>(i * 21);
    ASSERT_TRUE(lumo::save_image(gray, path("g.ppm")));
    ASSERT_TRUE(lumo::save_image(gray, path("g.PPM")));
    const cv::Mat m = cv::imread(path("g.ppm"), cv::IMREAD_UNCHANGED);
    ASSERT_EQ(m.type(), CV_8UC3);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 4; ++c) {
            const unsigned char v = gray(r, c);
            EXPECT_EQ(m.at<cv::Vec3b>(r, c), cv::Vec3b(v, v, v)) << r << "," << c;
        }
    // A real map reaches the format as its viewed bytes, then as planes.
    lumo::image<double> map(1, 2, 1);
    map[0] = 0.5;
    map[1] = 1.0;
    ASSERT_TRUE(lumo::save_image(map, path("m.ppm")));
    const cv::Mat mm = cv::imread(path("m.ppm"), cv::IMREAD_UNCHANGED);
    ASSERT_EQ(mm.type(), CV_8UC3);
    EXPECT_EQ(mm.at<cv::Vec3b>(0, 0), cv::Vec3b(127, 127, 127));
    EXPECT_EQ(mm.at<cv::Vec3b>(0, 1), cv::Vec3b(255, 255, 255));
}

TEST_F(BridgeFiles, ColourIntoAGrayOnlyFormatBecomesTheMeanOfThePlanes) {
    lumo::image<unsigned char> colour(1, 2, 3);
    const unsigned char planes[3][2] = {{10, 0}, {20, 255}, {31, 254}};  // blue, green, red
    for (size_t k = 0; k < 3; ++k)
        for (size_t c = 0; c < 2; ++c) colour(0, c, k) = planes[k][c];
    for (const char* name : {"c.pgm", "c.pbm"}) ASSERT_TRUE(lumo::save_image(colour, path(name))) << name;
    const cv::Mat m = cv::imread(path("c.pgm"), cv::IMREAD_UNCHANGED);
    ASSERT_EQ(m.type(), CV_8UC1);
    EXPECT_EQ(m.at<unsigned char>(0, 0), 20);   // 61 / 3
    EXPECT_EQ(m.at<unsigned char>(0, 1), 169);  // 509 / 3
    // Formats that hold either keep the channels they are given.
    ASSERT_TRUE(lumo::save_image(colour, path("c.png")));
    EXPECT_EQ(cv::imread(path("c.png"), cv::IMREAD_UNCHANGED).type(), CV_8UC3);
}

TEST_F(BridgeFiles, AFailedSaveKeepsTheOlderFileAndNoTemporaryOne) {
    const lumo::image<unsigned char> im(2, 2, 1);
    for (const char* name : {"x.unknownformat", "noextension"}) {
        std::ofstream(path(name)) << "older";
        EXPECT_FALSE(lumo::save_image(im, path(name))) << name;
        EXPECT_EQ(read_file(path(name)), "older") << name;
    }
    EXPECT_EQ(entries(), 2u);
}

}  // namespace
