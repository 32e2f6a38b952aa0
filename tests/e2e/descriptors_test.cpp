// Features and descriptors end to end: the binary writes the feature text and
// runs our qev through the shell, found on PATH or in the current folder.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <regex>
#include <string>

#include "e2e/e2e_support.hpp"

using zarn_test::binary_run;
using zarn_test::exists;
using zarn_test::read_file;
using zarn_test::run;
using zarn_test::temp_folder;
static const std::string& ms = zarn_test::ms_pattern;

namespace {

const std::string qev = ZARN_QEV_BINARY;
const std::string data = ZARN_DATA_DIR;

std::string folder_of(const std::string& path) { return path.substr(0, path.rfind('/')); }

// Runs zarn in the folder with the given PATH; arguments are passed as they
// stand to the shell.
binary_run zarn(const temp_folder& t, const std::string& path, const std::string& args) {
    return zarn_test::run_zarn(t, args, "PATH=" + zarn_test::quote(path));
}

void copy_coins(const temp_folder& t, const std::string& name) {
    ASSERT_EQ(run("cp '" + data + "/coins.png' \"" + t.path() + "/" + name + "\"").status, 0);
}

// The byte zarn reads a float sample as: times 255 in double, truncated,
// low 8 bits.
int byte_of(float v) { return static_cast<int>(std::trunc(static_cast<double>(v) * 255)) & 0xFF; }

// A float near b / 255 that reads back as b: a value just below it would
// truncate to b - 1.
float real_for(int b) {
    float v = static_cast<float>(b) / 255.0f;
    while (byte_of(v) < b) v = std::nextafter(v, 2.0f);
    return v;
}

}  // namespace

// A 16-bit picture and a float one that zarn reads as the bytes of an 8-bit
// picture: qev describes those same bytes, so all three descriptor files are
// equal.
TEST(ZarnDescriptors, DeepAndRealPicturesAreDescribedByTheirBytes) {
    temp_folder t;
    const cv::Mat coins = zarn_test::read_picture(data + "/coins.png");
    ASSERT_EQ(coins.type(), CV_8UC1);
    const cv::Mat low = coins(cv::Rect(0, 0, 200, 150));
    for (int b = 0; b < 256; ++b) ASSERT_EQ(byte_of(real_for(b)), b);
    cv::Mat deep(low.size(), CV_16UC1), high(low.size(), CV_8UC1), real(low.size(), CV_32FC1);
    for (int r = 0; r < low.rows; ++r)
        for (int c = 0; c < low.cols; ++c) {
            const int b = low.at<unsigned char>(r, c), k = (7 * r + 3 * c) % 256;
            deep.at<unsigned short>(r, c) = static_cast<unsigned short>(b + 256 * k);
            high.at<unsigned char>(r, c) = static_cast<unsigned char>(k);
            real.at<float>(r, c) = real_for(b);
        }
    ASSERT_TRUE(cv::imwrite(t / "low.png", low));
    ASSERT_TRUE(cv::imwrite(t / "deep.png", deep));
    ASSERT_TRUE(cv::imwrite(t / "high.png", high));
    ASSERT_TRUE(cv::imwrite(t / "real.tif", real));

    const std::string path = folder_of(qev) + ":/usr/bin:/bin";
    ASSERT_EQ(zarn(t, path, "-f -de low.png").status, 0);
    EXPECT_EQ(zarn(t, path, "-de deep.png").status, 0);
    EXPECT_EQ(zarn(t, path, "-de real.tif").status, 0);
    const std::string want = read_file(t / "low_desc.txt");
    ASSERT_TRUE(std::regex_search(want, std::regex("^128\n[1-9][0-9]*\n")));
    EXPECT_TRUE(read_file(t / "deep_desc.txt") == want);
    EXPECT_TRUE(read_file(t / "real_desc.txt") == want);
    // The high bytes give other descriptors: the equalities above tell which
    // byte qev read.
    ASSERT_EQ(run("cd " + zarn_test::quote(t.path()) + " && " + zarn_test::quote(qev) +
                  " -i high.png -sift -p1 low_feat.txt -o1 high_desc.txt")
                  .status,
              0);
    EXPECT_FALSE(read_file(t / "high_desc.txt") == want);
}

TEST(ZarnDescriptors, QevOnThePathWithAnAwkwardName) {
    temp_folder t;
    const std::string name = "it's a coin.png";
    copy_coins(t, name);
    const std::string path = folder_of(qev) + ":/usr/bin:/bin";
    const binary_run r = zarn(t, path, "-de \"it's a coin.png\"");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(std::regex_match(r.out, std::regex("it's a coin\\.png: done in " + ms +
                                                   "  \\[descriptors: " + ms + "\\]\n")))
        << r.out;
    EXPECT_TRUE(exists(t / "it's a coin_desc.txt"));
    EXPECT_FALSE(exists(t / "it's a coin_feat.txt"));  // only the executable's input
    EXPECT_FALSE(exists(t / "it's a coin_desc.txt.params"));
    // The descriptor length, the count, one line per descriptor.
    const std::string descriptors = read_file(t / "it's a coin_desc.txt");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(descriptors, m, std::regex("^128\n([0-9]+)\n")));
    EXPECT_EQ(std::count(descriptors.begin(), descriptors.end(), '\n'), std::stol(m[1]) + 2);
}

TEST(ZarnDescriptors, FeatureFileKeptWithFAndTimedWithT) {
    temp_folder t;
    copy_coins(t, "coins.png");
    const binary_run r = zarn(t, folder_of(qev) + ":/usr/bin:/bin", "-t -f -de coins.png out");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(std::regex_search(r.out, std::regex("=\n\n\\[ Descriptor extraction: [0-9]+\\.[0-9]{2} ms ]\n\n$")))
        << r.out;
    // -de forces the inverse covariance format at three times the zoom.
    EXPECT_EQ(zarn(t, "/usr/bin:/bin", "-f -fmm -z 3 coins.png plain").status, 0);
    EXPECT_EQ(read_file(t / "out/coins_feat.txt"), read_file(t / "plain/coins_feat.txt"));
    EXPECT_EQ(read_file(t / "out/coins_feat.txt").substr(0, 2), "0\n");
    EXPECT_TRUE(exists(t / "out/coins_desc.txt"));
}

// A descriptor file written over an earlier one of mode 0600 holds the same
// descriptors as one written anew, and keeps that mode.
TEST(ZarnDescriptors, AnEarlierDescriptorFileIsReplacedAndKeepsItsMode) {
    temp_folder t;
    copy_coins(t, "coins.png");
    zarn_test::make_folder(t / "out");
    zarn_test::touch(t / "out/coins_desc.txt", "earlier");
    ASSERT_EQ(chmod((t / "out/coins_desc.txt").c_str(), 0600), 0);
    const std::string path = folder_of(qev) + ":/usr/bin:/bin";
    ASSERT_EQ(zarn(t, path, "-de coins.png out").status, 0);
    ASSERT_EQ(zarn(t, path, "-de coins.png fresh").status, 0);
    struct stat st;
    ASSERT_EQ(lstat((t / "out/coins_desc.txt").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(st.st_nlink, 1u);
    EXPECT_EQ(read_file(t / "out/coins_desc.txt"), read_file(t / "fresh/coins_desc.txt"));
    EXPECT_EQ(zarn_test::listing(t / "out"), std::vector<std::string>{"coins_desc.txt"});
}

TEST(ZarnDescriptors, QevInTheCurrentFolderIsFoundOnTheRetry) {
    temp_folder t;
    copy_coins(t, "coins.png");
    ASSERT_EQ(run("cp '" + qev + "' '" + t.path() + "/qev'").status, 0);
    const binary_run r = zarn(t, "/usr/bin:/bin", "-de coins.png");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(exists(t / "coins_desc.txt"));
}

TEST(ZarnDescriptors, NoQevToRun) {
    temp_folder t;
    copy_coins(t, "coins.png");
    const binary_run r = zarn(t, "/usr/bin:/bin", "-de coins.png");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(std::regex_match(
        r.out, std::regex("coins\\.png: done in " + ms +
                          "\nCannot run the descriptor extraction executable qev/qev\\.exe !\n")))
        << r.out;
    EXPECT_TRUE(exists(t / "coins_feat.txt"));  // left in place
}

TEST(ZarnFeatures, TextOnlyWithoutFeaturePicture) {
    temp_folder t;
    copy_coins(t, "coins.png");
    EXPECT_EQ(zarn(t, "/usr/bin:/bin", "-f coins.png").status, 0);
    EXPECT_TRUE(exists(t / "coins_feat.txt"));
    EXPECT_FALSE(exists(t / "coins_feat.png"));  // text only in disk mode without -fi
}
