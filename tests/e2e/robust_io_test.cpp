// Bad and odd input and output, end to end against the built binary: an
// image too large for memory, named pipes among the inputs, a full file
// system under old outputs, formats bound to a channel count, two inputs
// with one output name, a failing descriptor program, view mode without a
// display and an all-foreground mask.
#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <sys/stat.h>

#include <algorithm>
#include <limits>
#include <string>
#include <vector>

#include "e2e/e2e_support.hpp"

using zarn_test::binary_run;
using zarn_test::copy_data;
using zarn_test::exists;
using zarn_test::lines_of;
using zarn_test::listing;
using zarn_test::make_folder;
using zarn_test::matches;
using zarn_test::quote;
using zarn_test::read_file;
using zarn_test::read_picture;
using zarn_test::run;
using zarn_test::run_zarn;
using zarn_test::temp_folder;
using zarn_test::touch;
static const std::string& ms = zarn_test::ms_pattern;

#if defined(__SANITIZE_ADDRESS__)
#define ZARN_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZARN_ADDRESS_SANITIZER 1
#endif
#endif

namespace {

const std::string binary = ZARN_BINARY;
const std::string qev = ZARN_QEV_BINARY;
const std::string data = ZARN_DATA_DIR;

}  // namespace

// A 6000 x 6000 image loads in a few tens of megabytes, but its node grid
// needs gigabytes: under a 1 GB address-space limit the run must end with
// one line naming the file, and an old output must stay as it was.
TEST(ZarnRobust, ImageTooLargeForMemory) {
#ifdef ZARN_ADDRESS_SANITIZER
    GTEST_SKIP() << "the address sanitizer reserves more address space than the limit allows";
#else
    temp_folder t;
    cv::Mat big(6000, 6000, CV_8UC1, cv::Scalar(0));
    big(cv::Rect(100, 200, 300, 100)).setTo(200);
    ASSERT_TRUE(cv::imwrite(t / "big.png", big));
    touch(t / "big_dist.png", "an old output");
    const std::string limit = "ulimit -v 1000000 &&";

    binary_run r = run_zarn(t, "-d big.png", limit);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out, "big.png: \nNot enough memory to process ./big.png !\n");
    EXPECT_EQ(read_file(t / "big_dist.png"), "an old output");
    EXPECT_EQ(listing(t.path()), (std::vector<std::string>{"big.png", "big_dist.png"}));

    // With -t the stage lines are complete: the message follows them.
    r = run_zarn(t, "-d -t big.png", limit);
    EXPECT_EQ(r.status, 1) << r.err;
    const std::vector<std::string> lines = lines_of(r.out);
    ASSERT_GE(lines.size(), 2u) << r.out;
    EXPECT_EQ(lines.front(), "");
    EXPECT_EQ(lines[1], "-> big.png: ");
    EXPECT_EQ(lines.back(), "Not enough memory to process ./big.png !");
    EXPECT_TRUE(matches(lines[lines.size() - 2], "[A-Z].*: +[0-9]+\\.[0-9]{2} ms")) << r.out;
#endif
}

// A named pipe is never opened: a wildcard or recursive search leaves pipes
// out, and a pipe named on its own is a file that cannot be opened. A
// regression would block on the pipe; the time limit turns that into a
// failure.
TEST(ZarnRobust, NamedPipesAreNeverRead) {
    temp_folder t;
    copy_data("coins.png", t / "a.png");
    make_folder(t / "sub");
    ASSERT_EQ(mkfifo((t / "p.png").c_str(), 0644), 0);
    ASSERT_EQ(mkfifo((t / "sub/q.png").c_str(), 0644), 0);

    binary_run r = run_zarn(t, "-d -r '*.png'", "timeout 60");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(matches(r.out, "a\\.png: done in " + ms + "\n")) << r.out;

    r = run_zarn(t, "-d -r 'sub/*'", "timeout 60");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "No file found matching sub/* !\n");

    r = run_zarn(t, "-d p.png", "timeout 60");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "p.png: cannot open file!\n");
    EXPECT_FALSE(exists(t / "p_dist.png"));
}

// Old outputs on a file system that is full: the rerun reports the failed
// write, and every old output is byte for byte what it was, with no
// temporary file left. Needs a private mount namespace and a tmpfs.
TEST(ZarnRobust, FullDiskKeepsOldOutputs) {
    temp_folder t;
    make_folder(t / "mnt");
    if (run("unshare -m sh -c " + quote("mount -t tmpfs -o size=64k tmpfs " + t / "mnt")).status != 0)
        GTEST_SKIP() << "cannot mount a tmpfs in a private mount namespace (needs root)";
    copy_data("coins.png", t / "c.png");
    ASSERT_TRUE(cv::imwrite(t / "c.tif", read_picture(t / "c.png")));
    make_folder(t / "before");
    make_folder(t / "after");

    const std::string z = quote(binary);
    const std::string script =
        "cd " + quote(t.path()) + " || exit 2\n" +
        "mount -t tmpfs -o size=2m tmpfs mnt || exit 2\n" +
        z + " -d c.tif mnt > /dev/null || exit 2\n" +
        z + " -d c.png mnt > /dev/null || exit 2\n" +
        "printf 'old features\\n' > mnt/c_feat.txt\n" +
        "cp mnt/* before/\n" +
        "head -c 8M /dev/zero > mnt/filler 2> /dev/null\n" +
        "rm -f run.txt\n" +
        "for args in '-d c.tif mnt' '-d c.png mnt' '-f -fmm c.png mnt'; do\n" +
        "  " + z + " $args >> run.txt 2> /dev/null; echo \"status $?\" >> run.txt\n" +
        "done\n" +
        "rm mnt/filler\n" +
        "ls -A mnt > after/listing.txt\n" +
        "cp mnt/* after/\n";
    touch(t / "full.sh", script);
    ASSERT_EQ(run("unshare -m sh " + quote(t / "full.sh")).status, 0);

    const std::vector<std::string> lines = lines_of(read_file(t / "run.txt"));
    ASSERT_EQ(lines.size(), 9u) << read_file(t / "run.txt");
    EXPECT_TRUE(matches(lines[0], "c\\.tif: done in " + ms)) << lines[0];
    EXPECT_EQ(lines[1], "Cannot open output file mnt/c_dist.tif !");
    EXPECT_EQ(lines[2], "status 1");
    EXPECT_TRUE(matches(lines[3], "c\\.png: done in " + ms)) << lines[3];
    EXPECT_EQ(lines[4], "Cannot open output file mnt/c_dist.png !");
    EXPECT_EQ(lines[5], "status 1");
    EXPECT_TRUE(matches(lines[6], "c\\.png: done in " + ms)) << lines[6];
    EXPECT_EQ(lines[7], "Cannot open output file mnt/c_feat.txt !");
    EXPECT_EQ(lines[8], "status 1");

    EXPECT_EQ(read_file(t / "after/listing.txt"), "c_dist.png\nc_dist.tif\nc_feat.txt\n");
    for (const char* name : {"c_dist.png", "c_dist.tif", "c_feat.txt"}) {
        const std::string old = read_file(t / "before" + std::string("/") + name);
        EXPECT_FALSE(old.empty()) << name;
        EXPECT_TRUE(old == read_file(t / "after" + std::string("/") + name)) << name << " changed";
    }
    EXPECT_EQ(read_file(t / "after/c_feat.txt"), "old features\n");
}

// A portable pixmap holds colour only: the gray distance map of a .ppm input
// is written as three equal planes, and the batch goes on. A portable
// graymap holds gray only: a colour picture becomes the mean of its planes.
TEST(ZarnRobust, FormatsBoundToAChannelCount) {
    temp_folder t;
    const cv::Mat gray = cv::imread(data + "/coins.png", cv::IMREAD_GRAYSCALE);
    cv::Mat colour;
    cv::Mat planes[] = {gray, gray, gray};
    cv::merge(planes, 3, colour);
    ASSERT_TRUE(cv::imwrite(t / "c.ppm", colour));
    ASSERT_TRUE(cv::imwrite(t / "d.ppm", colour));
    ASSERT_TRUE(cv::imwrite(t / "c.png", gray));

    binary_run r = run_zarn(t, "-d '*.p?m'");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(lines_of(r.out).size(), 2u) << r.out;
    ASSERT_EQ(run_zarn(t, "-d c.png").status, 0);
    const cv::Mat ppm = read_picture(t / "c_dist.ppm");
    const cv::Mat png = read_picture(t / "c_dist.png");
    ASSERT_EQ(ppm.type(), CV_8UC3);
    ASSERT_EQ(png.type(), CV_8UC1);
    ASSERT_EQ(ppm.size(), png.size());
    std::vector<cv::Mat> split;
    cv::split(ppm, split);
    for (const cv::Mat& plane : split) EXPECT_EQ(cv::norm(plane, png, cv::NORM_INF), 0.0);
    EXPECT_TRUE(exists(t / "d_dist.ppm"));

    // The medial picture of a constant image is a colour canvas.
    ASSERT_TRUE(cv::imwrite(t / "k.pgm", cv::Mat(10, 20, CV_8UC1, cv::Scalar(128))));
    r = run_zarn(t, "-m k.pgm");
    EXPECT_EQ(r.status, 0) << r.out;
    const cv::Mat med = read_picture(t / "k_med.pgm");
    ASSERT_FALSE(med.empty());
    EXPECT_EQ(med.type(), CV_8UC1);
    EXPECT_EQ(med.size(), cv::Size(20, 10));
}

// x and x.png both name their distance map x_dist.png; x.jpg shares only the
// feature file. Each doubly written output is named once on standard error.
TEST(ZarnRobust, OutputNameCollisionsAreWarned) {
    temp_folder t;
    copy_data("coins.png", t / "x");
    copy_data("coins.png", t / "x.png");
    copy_data("horse_mask.png", t / "y.png");
    ASSERT_TRUE(cv::imwrite(t / "x.jpg", read_picture(t / "x.png")));

    binary_run r = run_zarn(t, "-d -f 'x*'");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(lines_of(r.out).size(), 3u) << r.out;
    std::vector<std::string> warnings = lines_of(r.err);
    std::sort(warnings.begin(), warnings.end());
    EXPECT_EQ(warnings, (std::vector<std::string>{
                            "Warning: output file ./x_dist.png is written more than once!",
                            "Warning: output file ./x_feat.txt is written more than once!"}));
    EXPECT_TRUE(exists(t / "x_dist.jpg"));

    // Reruns over earlier outputs and distinct names are no collision.
    r = run_zarn(t, "-d '[xy].png'");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
}

// A descriptor program that runs and fails: its own error output is shown,
// the old descriptor file is kept (not replaced by its partial output), and
// the feature file made for it is left for a run by hand.
TEST(ZarnRobust, FailingDescriptorProgram) {
    temp_folder t;
    copy_data("coins.png", t / "a.png");
    make_folder(t / "bin");
    zarn_test::executable(t / "bin/qev",
          "#!/bin/sh\n"
          "while [ $# -gt 0 ]; do [ \"$1\" = -o1 ] && out=$2; shift; done\n"
          "echo partial > \"$out\"\n"
          "echo chatter\n"
          "echo 'qev: ellipse 3 of 7 is malformed' >&2\n"
          "exit 3\n");
    touch(t / "a_desc.txt", "old descriptors\n");
    const std::string path = "PATH=" + quote(t / "bin") + ":/usr/bin:/bin";

    binary_run r = run_zarn(t, "-de a.png", path);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(matches(r.out, "a\\.png: done in " + ms +
                                   "\nCannot run the descriptor extraction executable qev/qev\\.exe !\n"))
        << r.out;
    EXPECT_EQ(r.err, "qev: ellipse 3 of 7 is malformed\n");
    EXPECT_EQ(read_file(t / "a_desc.txt"), "old descriptors\n");
    EXPECT_EQ(listing(t.path()), (std::vector<std::string>{"a.png", "a_desc.txt", "a_feat.txt", "bin"}));
    const std::string left = read_file(t / "a_feat.txt");
    ASSERT_EQ(unlink((t / "a_feat.txt").c_str()), 0);

    r = run_zarn(t, "-de -f a.png", path);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "qev: ellipse 3 of 7 is malformed\n");
    EXPECT_EQ(read_file(t / "a_feat.txt").substr(0, 2), "0\n");  // kept, in the format the program reads
    EXPECT_EQ(read_file(t / "a_feat.txt"), left);
    EXPECT_EQ(read_file(t / "a_desc.txt"), "old descriptors\n");

    // Our own program replaces the old descriptor file once it succeeds; its
    // intermediate feature file never touches the one -f kept.
    const std::string kept = read_file(t / "a_feat.txt");
    r = run_zarn(t, "-de a.png", "PATH=" + quote(qev.substr(0, qev.rfind('/'))) + ":/usr/bin:/bin");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(read_file(t / "a_desc.txt").substr(0, 4), "128\n");
    EXPECT_EQ(read_file(t / "a_feat.txt"), kept);
    EXPECT_EQ(listing(t.path()), (std::vector<std::string>{"a.png", "a_desc.txt", "a_feat.txt", "bin"}));
}

// View mode needs a display: without one the run stops before the first
// image is processed, also when no window would open for it (-de).
TEST(ZarnRobust, ViewModeWithoutADisplayStopsFirst) {
    temp_folder t;
    copy_data("coins.png", t / "a.png");
    for (const std::string args : {"-v -de a.png", "-v -d a.png", "-v -sa 3"}) {
        const binary_run r = run_zarn(t, args, "env -u DISPLAY");
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_EQ(r.out, "Cannot open display: windows cannot be shown!\n") << args;
    }
    EXPECT_EQ(listing(t.path()), std::vector<std::string>{"a.png"});
}

// In binary mode an all-foreground image lies at distance 0 from its
// foreground everywhere; an all-background one and constant weighted images
// have no finite distance, written as 1 (where no distance reached).
TEST(ZarnRobust, AllForegroundMaskHasDistanceZero) {
    temp_folder t;
    ASSERT_TRUE(cv::imwrite(t / "full.tif", cv::Mat(10, 12, CV_8UC1, cv::Scalar(255))));
    ASSERT_TRUE(cv::imwrite(t / "empty.tif", cv::Mat(10, 12, CV_8UC1, cv::Scalar(0))));
    const auto distances = [&](const std::string& name) {
        cv::Mat d;
        read_picture(t / name).convertTo(d, CV_64F);
        return d;
    };
    binary_run r = run_zarn(t, "-d -b -t full.tif");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("\nDegenerate case: input is constant!\n"), std::string::npos) << r.out;
    cv::Mat d = distances("full_dist.tif");
    ASSERT_EQ(d.size(), cv::Size(12, 10));
    EXPECT_EQ(cv::countNonZero(d), 0);

    ASSERT_EQ(run_zarn(t, "-d -b empty.tif").status, 0);
    d = distances("empty_dist.tif");
    ASSERT_EQ(d.size(), cv::Size(12, 10));
    EXPECT_EQ(cv::countNonZero(d == 1.0), 120);

    ASSERT_EQ(run_zarn(t, "-d full.tif").status, 0);
    EXPECT_EQ(cv::countNonZero(distances("full_dist.tif") == 1.0), 120);
    // The dual of a constant image, and the bytes of a PNG: white, not the
    // black of the foreground.
    ASSERT_EQ(run_zarn(t, "-ud full.tif").status, 0);
    EXPECT_EQ(cv::countNonZero(distances("full_udist.tif") == 1.0), 120);
    ASSERT_TRUE(cv::imwrite(t / "empty.png", cv::Mat(10, 12, CV_8UC1, cv::Scalar(0))));
    ASSERT_EQ(run_zarn(t, "-b -d empty.png").status, 0);
    EXPECT_EQ(cv::countNonZero(distances("empty_dist.png") == 255.0), 120);
}
