// End-to-end runs of the built binary on how its arguments become files:
// recursive searches through links to folders, names holding pattern
// characters, and plain arguments that the command line drops.
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "e2e/e2e_support.hpp"

using zarn_test::binary_run;
using zarn_test::checkerboard;
using zarn_test::lines_of;
using zarn_test::make_folder;
using zarn_test::matches;
using zarn_test::quote;
using zarn_test::run;
using zarn_test::run_zarn;
using zarn_test::temp_folder;
static const std::string& ms = zarn_test::ms_pattern;

namespace {

void picture(const std::string& path) { ASSERT_TRUE(cv::imwrite(path, checkerboard(16, 16, 4))); }

void link(const std::string& target, const std::string& path) {
    ASSERT_EQ(::symlink(target.c_str(), path.c_str()), 0) << path;
}

// The files under the folder, as paths relative to it, sorted.
std::vector<std::string> files_under(const std::string& folder) {
    std::vector<std::string> files = lines_of(run("cd " + quote(folder) + " && find . -type f").out);
    std::sort(files.begin(), files.end());
    return files;
}

// The names of the "<name>: done in ..." lines, sorted; any other line
// is kept whole.
std::vector<std::string> processed_names(const std::string& out) {
    std::vector<std::string> names;
    for (const std::string& line : lines_of(out)) {
        const std::string::size_type colon = line.rfind(": done in ");
        const bool done = colon != std::string::npos && matches(line.substr(colon + 10), ms);
        names.push_back(done ? line.substr(0, colon) : line);
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

// in: a.png, sub/s.png, sub/up -> .. , sub/self -> . , twin -> sub,
// ext -> ../outside (outside/o.png)
TEST(FileArguments, RecursiveRunProcessesEveryPathThroughLinksOnce) {
    temp_folder t;
    make_folder(t / "in");
    make_folder(t / "in/sub");
    make_folder(t / "outside");
    picture(t / "in/a.png");
    picture(t / "in/sub/s.png");
    picture(t / "outside/o.png");
    link("..", t / "in/sub/up");
    link(".", t / "in/sub/self");
    link("sub", t / "in/twin");
    link("../outside", t / "in/ext");

    const binary_run r = run_zarn(t, "-d -r 'in/*.png' out", "timeout 60");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(processed_names(r.out),
              (std::vector<std::string>{"a.png", "ext/o.png", "sub/s.png", "twin/s.png"}));
    EXPECT_EQ(files_under(t / "out"),
              (std::vector<std::string>{"./a_dist.png", "./ext/o_dist.png", "./sub/s_dist.png",
                                        "./twin/s_dist.png"}));
    EXPECT_EQ(r.err, "");  // no output written twice
}

TEST(FileArguments, PatternMatchingNothingIsTakenAsTheFileName) {
    temp_folder t;
    picture(t / "x[1].png");
    binary_run r = run_zarn(t, "-d 'x[1].png'");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(processed_names(r.out), std::vector<std::string>{"x[1].png"});
    EXPECT_EQ(files_under(t.path()), (std::vector<std::string>{"./x[1].png", "./x[1]_dist.png"}));

    // A pattern that matches takes its matches only.
    picture(t / "x1.png");
    r = run_zarn(t, "-d 'x[1].png' out");
    EXPECT_EQ(processed_names(r.out), std::vector<std::string>{"x1.png"});
    EXPECT_EQ(files_under(t / "out"), std::vector<std::string>{"./x1_dist.png"});

    for (const std::string pattern : {"y[2].png", "x[2].png"}) {
        r = run_zarn(t, "-d -r " + quote(pattern));
        EXPECT_EQ(r.status, 1) << pattern;
        EXPECT_EQ(r.out, "No file found matching " + pattern + " !\n");
    }
}

// Standard output stays that of the run; option values, the pattern and
// the output folder are never named.
TEST(FileArguments, ArgumentsThatTheRunDropsAreNamedOnStandardError) {
    temp_folder t;
    picture(t / "a.png");
    picture(t / "b.png");
    const std::string file_run =
        " is ignored: one input name or pattern and one output folder are taken!\n";
    binary_run r = run_zarn(t, "-d a.png b.png out/");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(matches(r.out, "a\\.png: done in " + ms + "\n")) << r.out;
    EXPECT_EQ(r.err, "Warning: argument b.png" + file_run);
    EXPECT_EQ(files_under(t / "out"), std::vector<std::string>{"./a_dist.png"});

    r = run_zarn(t, "-d -s 3 a.png b.png c.png -hf 2 out");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.err, "Warning: argument b.png" + file_run + "Warning: argument c.png" + file_run);
    EXPECT_EQ(run_zarn(t, "-d -s 3 a.png out").err, "");

    // Without a display, runs that show their results stop at their first
    // window, after the warnings. A sample run uses no plain argument.
    const std::string sample_run = " is ignored: a sample run takes no input name or output folder!\n";
    const std::string no_display = "env -u DISPLAY";
    EXPECT_EQ(run_zarn(t, "-ho a.png b.png out", no_display).err, "Warning: argument b.png" + file_run);
    EXPECT_EQ(run_zarn(t, "-sa 2 -s 3 a.png out", no_display).err,
              "Warning: argument a.png" + sample_run + "Warning: argument out" + sample_run);
    EXPECT_EQ(run_zarn(t, "-hs out", no_display).err, "Warning: argument out" + sample_run);
}
