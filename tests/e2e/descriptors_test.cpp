// Features and descriptors end to end: the binary writes the feature text and
// runs our qev through the shell, found on PATH or in the current folder.
#include <gtest/gtest.h>

#include <algorithm>
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

}  // namespace

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
