#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <lumo/details/image/bridge.hpp>
#include <lumo/exception.hpp>

#include "bridge/byte_rule.hpp"
#include "bridge/ipl.hpp"

namespace {

namespace fs = std::filesystem;

// A fresh folder per test, removed afterwards.
class Bridge : public ::testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "zarn_bridge_XXXXXX").string();
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    // Writes m with OpenCV and loads it back through the bridge.
    lumo::array_2d<unsigned char> write_and_load(const cv::Mat& m, const std::string& name) {
        EXPECT_TRUE(cv::imwrite(path(name), m));
        lumo::array_2d<unsigned char> out;
        EXPECT_TRUE(lumo::load_image(out, path(name)));
        return out;
    }

    fs::path dir_;
};

// An image of the given shape with every element v.
template <typename T>
lumo::image<T> filled(size_t rows, size_t cols, size_t ch, T v) {
    lumo::image<T> im;
    im.resize(rows, cols, ch, v);
    return im;
}

constexpr double nan_d = std::numeric_limits<double>::quiet_NaN();
constexpr double inf_d = std::numeric_limits<double>::infinity();

// --- loading -----------------------------------------------------------------

TEST_F(Bridge, LoadsGrayBytesRowIndexFastest) {
    cv::Mat m(2, 3, CV_8UC1);
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 3; ++c) m.at<unsigned char>(r, c) = static_cast<unsigned char>(10 * r + c + 1);
    const auto out = write_and_load(m, "gray.png");
    ASSERT_EQ(out.size(0), 2u);
    ASSERT_EQ(out.size(1), 3u);
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 3; ++c) EXPECT_EQ(out[r + 2 * c], m.at<unsigned char>(r, c)) << r << "," << c;
}

TEST_F(Bridge, ColourLoadsAsTruncatedChannelMean) {
    cv::Mat bgr(1, 2, CV_8UC3);
    bgr.at<cv::Vec3b>(0, 0) = cv::Vec3b(10, 20, 31);  // 61 / 3 = 20
    bgr.at<cv::Vec3b>(0, 1) = cv::Vec3b(255, 255, 254);
    const auto out = write_and_load(bgr, "colour.png");
    EXPECT_EQ(out[0], 20);
    EXPECT_EQ(out[1], 254);  // 764 / 3

    cv::Mat bgra(1, 1, CV_8UC4, cv::Scalar(10, 20, 30, 3));  // alpha counts: 63 / 4
    EXPECT_EQ(write_and_load(bgra, "alpha.png")[0], 15);
}

TEST_F(Bridge, ColourPlanesKeepOpenCvOrder) {
    cv::Mat bgr(1, 1, CV_8UC3, cv::Scalar(1, 2, 3));
    ASSERT_TRUE(cv::imwrite(path("c.png"), bgr));
    lumo::image<unsigned char> im;
    lumo::load_ipl(im, path("c.png"), 0);
    ASSERT_EQ(im.size(2), 3u);
    EXPECT_EQ(im[0], 1);  // blue
    EXPECT_EQ(im[1], 2);
    EXPECT_EQ(im[2], 3);  // red
}

TEST_F(Bridge, SixteenBitKeepsTheLowByte) {
    cv::Mat m(1, 3, CV_16UC1);
    m.at<unsigned short>(0, 0) = 300;
    m.at<unsigned short>(0, 1) = 65535;
    m.at<unsigned short>(0, 2) = 256;
    const auto out = write_and_load(m, "deep.png");
    EXPECT_EQ(out[0], 44);
    EXPECT_EQ(out[1], 255);
    EXPECT_EQ(out[2], 0);
}

TEST_F(Bridge, FloatFileUsesTheByteRule) {
    const float v[] = {1.0f, 0.5f, 1.5f, -0.1f, std::numeric_limits<float>::quiet_NaN(),
                       std::numeric_limits<float>::infinity(), 1e30f};
    cv::Mat m(1, 7, CV_32FC1);
    for (int i = 0; i < 7; ++i) m.at<float>(0, i) = v[i];
    const auto out = write_and_load(m, "real.tif");
    const unsigned char want[] = {255, 127, 126, 231, 0, 0, 0};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(out[i], want[i]) << "value " << v[i];
}

TEST_F(Bridge, FailedLoadsLeaveTheOutputAlone) {
    lumo::array_2d<unsigned char> out(1, 1);
    out[0] = 42;
    EXPECT_FALSE(lumo::load_image(out, path("missing.png")));
    {
        std::ofstream(path("text.png")) << "not an image\n";
        std::ofstream(path("empty.jpg"));
        std::ofstream(path("noext")) << "P5\n2 2\n255\n";  // truncated PNM
    }
    EXPECT_FALSE(lumo::load_image(out, path("text.png")));
    EXPECT_FALSE(lumo::load_image(out, path("empty.jpg")));
    EXPECT_FALSE(lumo::load_image(out, path("noext")));
    EXPECT_FALSE(lumo::load_image(out, dir_.string()));  // a folder
    ASSERT_EQ(out.length(), 1u);
    EXPECT_EQ(out[0], 42);
    lumo::image<unsigned char> im;
    EXPECT_THROW(lumo::load_ipl(im, path("missing.png"), 0), lumo::ecomp);
}

// --- conversions ---------------------------------------------------------------

TEST(BridgeConvert, FromIplDepths) {
    lumo::image<unsigned char> out;
    cv::Mat s8(1, 1, CV_8SC1, cv::Scalar(-1));
    EXPECT_EQ(lumo::from_ipl(out, s8)[0], 255);
    cv::Mat s16(1, 1, CV_16SC1, cv::Scalar(-2));
    EXPECT_EQ(lumo::from_ipl(out, s16)[0], 254);
    cv::Mat s32(1, 1, CV_32SC1, cv::Scalar(70000));  // 0x11170
    EXPECT_EQ(lumo::from_ipl(out, s32)[0], 0x70);
    cv::Mat d(1, 2, CV_64FC1);
    d.at<double>(0, 0) = 0.999;
    d.at<double>(0, 1) = -inf_d;
    lumo::from_ipl(out, d);
    EXPECT_EQ(out[0], 254);
    EXPECT_EQ(out[1], 0);
    cv::Mat half(1, 1, CV_16FC1);
    EXPECT_THROW(lumo::from_ipl(out, half), lumo::ecomp);
}

TEST(BridgeConvert, ToIplAndBackIsPlanarAndExact) {
    lumo::image<unsigned char> im(2, 3, 2);
    for (size_t i = 0; i < im.length(); ++i) im[i] = static_cast<unsigned char>(i * 7);
    const cv::Mat m = lumo::to_ipl(im);
    ASSERT_EQ(m.type(), CV_8UC2);
    ASSERT_EQ(m.rows, 2);
    ASSERT_EQ(m.cols, 3);
    EXPECT_EQ(m.at<cv::Vec2b>(1, 2)[1], im(1, 2, 1));
    EXPECT_EQ(m.at<cv::Vec2b>(0, 1)[0], im(0, 1, 0));
    lumo::image<unsigned char> back;
    lumo::from_ipl(back, m);
    EXPECT_TRUE(back.size() == im.size());
    for (size_t i = 0; i < im.length(); ++i) EXPECT_EQ(back[i], im[i]);

    lumo::image<double> real(1, 2, 1);
    real[0] = 0.25;
    real[1] = -3.5;
    const cv::Mat r = lumo::to_ipl(real);
    ASSERT_EQ(r.type(), CV_64FC1);
    EXPECT_EQ(r.at<double>(0, 1), -3.5);  // not scaled
    EXPECT_EQ(lumo::to_ipl(lumo::image<float>(1, 1, 4)).type(), CV_32FC4);
}

TEST(BridgeConvert, ByteRuleTruncatesWrapsAndZeroesTheUndefined) {
    using lumo::bridge::real_to_byte;
    EXPECT_EQ(real_to_byte(0.999), 254);
    EXPECT_EQ(real_to_byte(1.0), 255);
    EXPECT_EQ(real_to_byte(-0.1), 231);   // -25 wraps
    EXPECT_EQ(real_to_byte(-0.001), 0);   // -0.255 truncates to 0
    EXPECT_EQ(real_to_byte(8421504.0), 0x80);  // 2147483520 still fits
    EXPECT_EQ(real_to_byte(-8421504.0), 0x80); // -2147483520
    EXPECT_EQ(real_to_byte(8421505.0), 0);     // 2147483775 does not
    EXPECT_EQ(real_to_byte(-1e10), 0);
    EXPECT_EQ(real_to_byte(nan_d), 0);
    EXPECT_EQ(real_to_byte(inf_d), 0);
    EXPECT_EQ(real_to_byte(-inf_d), 0);
    EXPECT_EQ(real_to_byte(0.5f), 127);
    EXPECT_EQ(real_to_byte(std::numeric_limits<float>::infinity()), 0);
}

TEST(BridgeConvert, MapToGray) {
    lumo::array_2d<double> map(2, 3);
    const double v[] = {0.0, 0.999, 1.0, 1.5, nan_d, 1e300};
    for (size_t i = 0; i < 6; ++i) map[i] = v[i];
    lumo::array_2d<unsigned char> out(7, 7);
    lumo::map_to_gray(map, out);
    ASSERT_TRUE(out.size() == map.size());
    const unsigned char want[] = {0, 254, 255, 126, 0, 0};
    for (size_t i = 0; i < 6; ++i) EXPECT_EQ(out[i], want[i]) << i;

    lumo::array_2d<float> fmap(1, 2);
    fmap[0] = 0.5f;
    fmap[1] = -std::numeric_limits<float>::infinity();
    lumo::map_to_gray(fmap, out);
    EXPECT_EQ(out.length(), 2u);
    EXPECT_EQ(out[0], 127);
    EXPECT_EQ(out[1], 0);
}

TEST(BridgeConvert, GrayscaleAndArrays) {
    lumo::image<unsigned char> four(1, 2, 4);
    const unsigned char v[] = {1, 10, 2, 20, 3, 30, 4, 41};  // planes of two pixels
    for (size_t i = 0; i < 8; ++i) four[i] = v[i];
    const auto g = lumo::grayscale(four);
    ASSERT_TRUE(g.size() == lumo::make_size_array(1, 2, 1));
    EXPECT_EQ(g[0], 2);   // 10 / 4
    EXPECT_EQ(g[1], 25);  // 101 / 4

    lumo::array_2d<unsigned char> a;
    lumo::image_to_array(g, a);
    ASSERT_TRUE(a.size() == lumo::make_size_array(1, 2));
    EXPECT_EQ(a[1], 25);

    lumo::array_2d<unsigned char> seven(1, 1);
    seven[0] = 7;
    lumo::image<unsigned char> rgb;
    lumo::gray_to_rgb(seven, rgb);
    ASSERT_TRUE(rgb.size() == lumo::make_size_array(1, 1, 3));
    EXPECT_EQ(rgb[0], 7);
    EXPECT_EQ(rgb[1], 7);
    EXPECT_EQ(rgb[2], 7);
}

TEST(BridgeConvertDeathTest, ContractViolationsAbort) {
    lumo::image<unsigned char> one(2, 2, 1);
    EXPECT_DEATH(lumo::grayscale(one), "ch > 1");
    lumo::image<unsigned char> three(2, 2, 3);
    lumo::array_2d<unsigned char> a;
    EXPECT_DEATH(lumo::image_to_array(three, a), "offset >= 0 && offset < length\\(\\)");
    lumo::image<unsigned char> flat(lumo::make_size_array(2, 2));
    EXPECT_DEATH(lumo::to_ipl(flat), "offset >= 0 && offset < length\\(\\)");
}

TEST(BridgeTitle, WindowTitles) {
    EXPECT_EQ(lumo::window_title("", ""), "zarn");
    EXPECT_EQ(lumo::window_title("a.png", ""), "a.png -- zarn");
    EXPECT_EQ(lumo::window_title("", "x"), "[x] -- zarn");
    EXPECT_EQ(lumo::window_title("a.png", "x"), "a.png [x] -- zarn");
}

// --- saving --------------------------------------------------------------------

TEST_F(Bridge, SavedBytesRoundTripExactly) {
    lumo::image<unsigned char> im(3, 4, 3);
    for (size_t i = 0; i < im.length(); ++i) im[i] = static_cast<unsigned char>(i * 37 + 5);
    for (const char* name : {"b.png", "b.bmp", "b.tif", "b.ppm"}) {
        ASSERT_TRUE(lumo::save_image(im, path(name))) << name;
        lumo::image<unsigned char> back;
        lumo::load_ipl(back, path(name), 0);
        ASSERT_TRUE(back.size() == im.size()) << name;
        for (size_t i = 0; i < im.length(); ++i) ASSERT_EQ(back[i], im[i]) << name << " at " << i;
    }
}

TEST_F(Bridge, RealsThroughTiffAreExact) {
    lumo::image<double> im(2, 3, 1);
    const double v[] = {0.0, 1.0 / 3.0, 0.999, 1.5, -2.25, 1e-300};
    for (size_t i = 0; i < 6; ++i) im[i] = v[i];
    for (const char* name : {"d.tif", "d.TIFF"}) {
        ASSERT_TRUE(lumo::save_image(im, path(name))) << name;
        const cv::Mat m = cv::imread(path(name), cv::IMREAD_UNCHANGED);
        ASSERT_EQ(m.type(), CV_64FC1) << name;
        for (int r = 0; r < 2; ++r)
            for (int c = 0; c < 3; ++c) EXPECT_EQ(m.at<double>(r, c), im(r, c)) << name;
    }
    lumo::image<float> f(1, 2, 1);
    f[0] = 0.1f;
    f[1] = 7.75f;
    ASSERT_TRUE(lumo::save_image(f, path("f.Tif")));
    const cv::Mat m = cv::imread(path("f.Tif"), cv::IMREAD_UNCHANGED);
    ASSERT_EQ(m.type(), CV_32FC1);
    EXPECT_EQ(m.at<float>(0, 0), 0.1f);
    EXPECT_EQ(m.at<float>(0, 1), 7.75f);
}

TEST_F(Bridge, RealsThroughByteFormatsAreTheViewedBytes) {
    lumo::image<double> im(1, 6, 1);
    const double v[] = {0.0, 0.5, 0.999, 1.0, -0.1, nan_d};
    for (size_t i = 0; i < 6; ++i) im[i] = v[i];
    ASSERT_TRUE(lumo::save_image(im, path("map.png")));
    const cv::Mat m = cv::imread(path("map.png"), cv::IMREAD_UNCHANGED);
    ASSERT_EQ(m.type(), CV_8UC1);
    const unsigned char want[] = {0, 127, 254, 255, 231, 0};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(m.at<unsigned char>(0, i), want[i]) << i;

    const auto f = filled(1, 1, 3, 0.5f);
    ASSERT_TRUE(lumo::save_image(f, path("tif.png")));  // ".tif" only inside the stem
    const cv::Mat g = cv::imread(path("tif.png"), cv::IMREAD_UNCHANGED);
    ASSERT_EQ(g.type(), CV_8UC3);
    EXPECT_EQ(g.at<cv::Vec3b>(0, 0), cv::Vec3b(127, 127, 127));
}

TEST_F(Bridge, FailedSavesReportFalse) {
    const auto im = filled<unsigned char>(2, 2, 1, 9);
    EXPECT_FALSE(lumo::save_image(im, path("no/such/folder/x.png")));
    EXPECT_FALSE(lumo::save_image(im, path("x.unknownformat")));
    EXPECT_FALSE(lumo::save_image(im, path("noextension")));
    EXPECT_FALSE(lumo::save_image(lumo::image<unsigned char>(0, 0, 1), path("empty.png")));
    EXPECT_FALSE(lumo::save_image(filled(2, 2, 1, 0.5), path("no/such/d.tif")));
    EXPECT_TRUE(lumo::save_image(im, path("ok.png")));
}

}  // namespace
