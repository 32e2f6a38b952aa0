// End-to-end runs of the built binary in a temporary folder: standard
// output compared exactly (milliseconds by pattern), exit status, and the
// files written.
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "e2e/e2e_support.hpp"

using zarn_test::binary_run;
using zarn_test::copy_data;
using zarn_test::exists;
using zarn_test::lines_of;
using zarn_test::make_folder;
using zarn_test::matches;
using zarn_test::quote;
using zarn_test::run;
using zarn_test::run_result;
using zarn_test::run_zarn;
using zarn_test::temp_folder;
using zarn_test::touch;
static const std::string& ms = zarn_test::ms_pattern;

namespace {

const std::string binary = ZARN_BINARY;
const std::string data = ZARN_DATA_DIR;

const char* const usage_text = R"USAGE(
Zarn v0.6
Copyright (c) the zarn developers

Syntax:

  zarn <command(s)> <filename(s)> [<output folder>] [options]

Commands:

  -d           compute distance transform
  -m           compute medial axis
  -p           compute image partition
  -f           compute image features
  -de          compute image features and extract sift descriptors using
               the Tarvo executable; forces feature format -fmm
  -u           compute primal and dual medial axis, output both
  -ud          compute dual distance transform
  -um          compute dual medial axis

Progam options:

  -w           weighted mode [default] -- input is taken as grayscale and
               distance transform is weighted by input gradient or intensity
               (with -ng)
  -b           binary mode -- input is taken as binary and distance transform
               is zero at boundaries and interior of foreground image regions
  -v           view mode: display results on screen instead of saving to disk
  -o           overlay input image on distance transform and medial axis images
  -od          overlay distance transform on medial axis images
  -og          overlay input image gradient on medial axis images; assumes -w
  -t           time individual computation stages
  -vs          display statistics; assumes -t
  -ma          static memory allocation factor [>=1, <=10, default: 1.0]
  -db          allow debug error messages

File options:

  -r           recurse directories
  -rp          allow repetitive processing of previous output files
               [default: files ignored]
  -ho          run with hard-coded options (other options ignored)
  -hs          run hard-coded experimental sample with hard-coded
               options (other options ignored)
  -sa <idx>    run hard-coded input sample <idx> [1,..,6] with remaining
               user-specified options

Distance transform options -- weighted mode only:

  -hf <fact>   height factor [>=0, default: 4]
  -ds <scale>  gradient derivation scale [>=0, <=1, default: .5]
  -ng          do not compute image gradient
  -lf <len>    max length factor: maximum length in geodesic distance,
               relative to max input image dimension [>=0, <=1, default: .1]
  -la <len>    maximum absolute length in geodesic distance, in pixels
               [>=0, <=1000, default: 50]
  -vg          display normalized image gradient
  -vt          display geodesic distance traces
  -vp          display geodesic distance paths

Distance transform options -- weighted or binary mode:

  -i  <mod>    display distance isocontours, that is, distance transform
               modulo <mod> [default: 0]; also applies to -a and -re

Medial axis options:

  -s  <scale>  specify the scale of the medial axis. >= 2 to avoid
               discretization effects; larger for coarser scale.
               [default: 2]
  -su <scale>  specify the scale of the dual medial axis [default: 2]
  -sd <scale>  specify the distance scale, that is the minimum
               distance allowed on the medial axis [default: 0]
  -m2          mark medial axis with twin marker; forced in dual mode
               (-p -f -de -u -ud -um)
  -mb          mark medial axis with binary marker
  -mg          mark medial axis with grayscale marker; only with -b
  -mt          perform thinning on medial axis; assumes -b
  -a           multiply medial by distance to get the medial axis transform
  -re          multiply medial by residue

Partition options:

  -cs          component creation mode: sorting; also applies to -f
  -cm          component creation mode: fast marching [default]; also applies
               to -f
  -pc  <comp>  specify the minimum number of components in partition
               [default: all]
  -pd  <dist>  specify the minimum link distance [>= 0, default: infty]
  -pb          partition style: boundaries [default]
  -pi          partition style: colored component interiors
  -p2          partition style: both boundaries and colored interiors
  -pm          show underlying medial axis; also applies to -f
  -pa          minimum margin (pixels) required to partition a region at
               image boundaries [>=0, ignore: 0, default: 50 in weighted
               mode / 2 in binary mode]; also applies to -f
  -dl          disable link expansion in weighted mode; also applies to -f
  -vc          display medial axis cuts; also applies to -f
  -vi          interactive mode: display merging steps; also applies to -f

Feature options:

  -ff  <frag>  feature fragmentation factor [>=0, default: .6]
  -fg  <grow>  feature growth factor [>=0, default: .1]
  -z   <zoom>  feature zoom factor [>=0, default: 1]; multiplied by 3 when -de
               is given
  -fmp         feature output format: position + axes (x/y scales &
               orientation) [default]
  -fma         feature output format: position + covariance matrix [a b; b c]
  -fmm         feature output format: position + inverse covariance matrix
               (Tarvo)
  -fn          affine normalized fragmentation factor
  -fl          flat fragmentation factor; ignored when -fn is given
  -fi          save feature image in disk mode [default: only text
               in disk mode, only image in view mode]
  -fp          show underlying fine partition
  -fc          show underlying feature cover

Grassfire simulation options:

  -sf <step>   simulate grassfire with a step of <step> pixels; global option
               equivalent to -df, -gf, -mf, -pf [>=0, default: 0]
  -df <step>   simulate distance grassfire with a step of <step> pixels
               [>=0, default: 0]
  -gf <step>   simulate geodesic grassfire with a step of <step> pixels
               measuring length from origin [>=0, default: 0]
  -mf <step>   simulate medial creation grassfire with a step of <step>
               pixels [>=0, default: 0]
  -pf <step>   simulate medial descent grassfire with a step of <step>
               pixels [>=0, default: 0]; also applies to -f

)USAGE";

}  // namespace

TEST(ZarnBinary, UsageTextWithoutArguments) {
    const run_result r = run(quote(binary));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, usage_text);
    EXPECT_EQ(lines_of(r.out).size(), 131u);
}

TEST(ZarnBinary, CommandLineErrors) {
    temp_folder t;
    touch(t / "a.png");
    struct {
        std::string args, out;
    } cases[] = {
        {"a.png", "At least one command is expected!\n"},
        {"-zz", "At least one command is expected!\n"},
        {"-d", "At least one input filename is expected!\n"},
        {"-d -hf", "At least one input filename is expected!\n"},
        {"-d b.png", "b.png not found!\n"},
        {"-d 'x*.png'", "No file found matching x*.png !\n"},
        {"-d 'sub/{a,b}.png'", "No file found matching sub/{a,b}.png !\n"},
    };
    for (const auto& c : cases) {
        const binary_run r = run_zarn(t, c.args);
        EXPECT_EQ(r.status, 1) << c.args;
        EXPECT_EQ(r.out, c.out) << c.args;
    }
}

TEST(ZarnBinary, PerFileLoopReportsEveryFile) {
    temp_folder t;
    copy_data("coins.png", t / "a.png");
    copy_data("coins.png", t / "a_dist.png");
    touch(t / "bad.png", "not an image");
    const binary_run r = run_zarn(t, "-d '*.png'");
    EXPECT_EQ(r.status, 1);  // an input could not be opened; the others were processed
    std::vector<std::string> lines = lines_of(r.out);
    std::sort(lines.begin(), lines.end());
    ASSERT_EQ(lines.size(), 3u) << r.out;
    EXPECT_TRUE(matches(lines[0], "a\\.png: done in " + ms)) << lines[0];
    EXPECT_EQ(lines[1], "a_dist.png: ignored");
    EXPECT_EQ(lines[2], "bad.png: cannot open file!");
    EXPECT_TRUE(exists(t / "a_dist.png"));
    EXPECT_FALSE(exists(t / "a_dist_dist.png"));
    EXPECT_FALSE(exists(t / "bad_dist.png"));
}

TEST(ZarnBinary, TimingFormStartsEveryFileWithAnEmptyLine) {
    temp_folder t;
    copy_data("coins.png", t / "a.png");
    binary_run r = run_zarn(t, "-d -t a.png");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("\n-> a.png: \n\n", 0), 0u) << r.out;
    EXPECT_EQ(r.out.find("done in"), std::string::npos);
    EXPECT_TRUE(exists(t / "a_dist.png"));

    copy_data("coins.png", t / "x_med.png");
    r = run_zarn(t, "-d -t x_med.png");
    EXPECT_EQ(r.out, "\n-> x_med.png: ignored\n");
}

TEST(ZarnBinary, RepeatProcessesEarlierOutputs) {
    temp_folder t;
    copy_data("coins.png", t / "cat_dist.png");
    const binary_run r = run_zarn(t, "-d -rp cat_dist.png");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(matches(r.out, "cat_dist\\.png: done in " + ms + "\n")) << r.out;
    EXPECT_TRUE(exists(t / "cat_dist_dist.png"));
}

TEST(ZarnBinary, RecursiveOutputsMirrorTheInputTree) {
    temp_folder t;
    make_folder(t / "in");
    make_folder(t / "in/sub");
    make_folder(t / "in/sub/deeper");
    copy_data("coins.png", t / "in/top.png");
    copy_data("horse_mask.png", t / "in/sub/deeper/h.png");
    const binary_run r = run_zarn(t, "-d -r 'in/*.png' out/new");
    EXPECT_EQ(r.status, 0);
    std::vector<std::string> lines = lines_of(r.out);
    std::sort(lines.begin(), lines.end());
    ASSERT_EQ(lines.size(), 2u) << r.out;
    EXPECT_TRUE(matches(lines[0], "sub/deeper/h\\.png: done in " + ms)) << lines[0];
    EXPECT_TRUE(matches(lines[1], "top\\.png: done in " + ms)) << lines[1];
    EXPECT_TRUE(exists(t / "out/new/top_dist.png"));
    EXPECT_TRUE(exists(t / "out/new/sub/deeper/h_dist.png"));
}

TEST(ZarnBinary, OutputFolderThatCannotBeCreated) {
    temp_folder t;
    copy_data("coins.png", t / "a.png");
    touch(t / "blocker");
    const binary_run r = run_zarn(t, "-d a.png blocker/out");
    EXPECT_EQ(r.status, 1);
    // Found before the image is computed.
    EXPECT_EQ(r.out, "a.png: \nCould not create directory blocker/out !\n");
}

TEST(ZarnBinary, UnwritableOutputFileIsReported) {
    temp_folder t;
    copy_data("coins.png", t / "a.png");
    make_folder(t / "a_dist.png");  // a folder where the output file goes
    const binary_run r = run_zarn(t, "-d a.png");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "a.png: \nCannot open output file ./a_dist.png !\n");
}

TEST(ZarnBinary, DistanceMapIsVisible) {
    temp_folder t;
    copy_data("camera.png", t / "camera.png");
    const binary_run r = run_zarn(t, "-d camera.png");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(matches(r.out, "camera\\.png: done in " + ms + "\n")) << r.out;
    const cv::Mat in = cv::imread(t / "camera.png", cv::IMREAD_UNCHANGED);
    const cv::Mat out = cv::imread(t / "camera_dist.png", cv::IMREAD_UNCHANGED);
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out.rows, in.rows);
    EXPECT_EQ(out.cols, in.cols);
    double lo, hi;
    cv::minMaxLoc(out.reshape(1), &lo, &hi);
    EXPECT_EQ(hi, 255.0);  // normalised: the largest distance is full white
    EXPECT_GT(cv::countNonZero(out.reshape(1)), out.rows * out.cols / 10);
}

TEST(ZarnBinary, TiffDistanceMapKeepsRealValues) {
    temp_folder t;
    const cv::Mat png = cv::imread(data + "/coins.png", cv::IMREAD_UNCHANGED);
    ASSERT_TRUE(cv::imwrite(t / "coins.tif", png));
    const binary_run r = run_zarn(t, "-d coins.tif");
    EXPECT_EQ(r.status, 0) << r.out;
    const cv::Mat out = cv::imread(t / "coins_dist.tif", cv::IMREAD_UNCHANGED);
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out.channels(), 1);
    ASSERT_TRUE(out.depth() == CV_64F || out.depth() == CV_32F);
    cv::Mat d;
    out.convertTo(d, CV_64F);
    EXPECT_TRUE(cv::checkRange(d));  // all finite
    double lo, hi;
    cv::minMaxLoc(d, &lo, &hi);
    EXPECT_EQ(lo, 0.0);
    EXPECT_EQ(hi, 1.0);
    // Not only the two ends: a real gradation.
    cv::Mat mid = (d > 0.1) & (d < 0.9);
    EXPECT_GT(cv::countNonZero(mid), 100);
}

TEST(ZarnBinary, IsocontoursSawTooth) {
    temp_folder t;
    const cv::Mat png = cv::imread(data + "/horse_mask.png", cv::IMREAD_UNCHANGED);
    ASSERT_TRUE(cv::imwrite(t / "h.tif", png));
    const binary_run r = run_zarn(t, "-d -b -i 4 h.tif");
    EXPECT_EQ(r.status, 0) << r.out;
    const cv::Mat out = cv::imread(t / "h_dist.tif", cv::IMREAD_UNCHANGED);
    ASSERT_FALSE(out.empty());
    cv::Mat d;
    out.convertTo(d, CV_64F);
    // Every value is one of 0, 1/4, 2/4, 3/4.
    for (int i = 0; i < d.rows; ++i)
        for (int j = 0; j < d.cols; ++j) {
            const double v = d.at<double>(i, j) * 4;
            ASSERT_EQ(v, std::floor(v)) << i << "," << j;
            ASSERT_LT(v, 4.0);
        }
}

// Under a display (the CI runs the tests under xvfb-run): the distance is
// shown in a window titled after the file, and a key closes it.
TEST(ZarnBinary, BinaryInputOverlayShowsTheForegroundAtFullValue) {
    temp_folder t;
    const cv::Mat mask = cv::imread(data + "/horse_mask.png", cv::IMREAD_GRAYSCALE);
    ASSERT_TRUE(cv::imwrite(t / "h.tif", mask));
    const binary_run r = run_zarn(t, "-d -b -o h.tif");
    EXPECT_EQ(r.status, 0) << r.out;
    cv::Mat d;
    cv::imread(t / "h_dist.tif", cv::IMREAD_UNCHANGED).convertTo(d, CV_64F);
    ASSERT_EQ(d.size(), mask.size());
    int foreground = 0;
    for (int i = 0; i < d.rows; ++i)
        for (int j = 0; j < d.cols; ++j)
            if (mask.at<unsigned char>(i, j) != 0) {
                ++foreground;
                ASSERT_EQ(d.at<double>(i, j), 1.0) << i << "," << j;
            }
    EXPECT_GT(foreground, 0);
}

TEST(ZarnBinary, ConstantInputGivesItsMedialPictures) {
    temp_folder t;
    ASSERT_TRUE(cv::imwrite(t / "c.png", cv::Mat(10, 20, CV_8UC1, cv::Scalar(128))));
    const binary_run r = run_zarn(t, "-m -u c.png");
    EXPECT_EQ(r.status, 0) << r.out;
    const cv::Mat med = cv::imread(t / "c_med.png", cv::IMREAD_UNCHANGED);
    ASSERT_FALSE(med.empty());
    EXPECT_EQ(med.rows, 10);
    EXPECT_EQ(med.cols, 20);
    EXPECT_EQ(med.channels(), 3);
    EXPECT_TRUE(exists(t / "c_uboth.png"));
    EXPECT_FALSE(exists(t / "c_umed.png"));  // -um not asked
}
