// End-to-end runs of the built binary on how its arguments become files:
// recursive searches through links to folders and down deep trees, folders
// that the search cannot read, names holding pattern characters, and plain
// arguments that the command line drops.
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "e2e/e2e_support.hpp"

using zarn_test::as_nobody;
using zarn_test::binary_run;
using zarn_test::can_run_as_nobody;
using zarn_test::checkerboard;
using zarn_test::exists;
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

void set_mode(const std::string& path, mode_t mode) {
    ASSERT_EQ(::chmod(path.c_str(), mode), 0) << path;
}

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

// A file 300 folders deep, searched with 256 descriptors: no folder is held
// open on the way down.
TEST(FileArguments, RecursiveRunFindsFilesDeeperThanTheOpenFileLimit) {
    temp_folder t;
    std::string deep;
    for (int i = 0; i < 300; ++i) deep += "d/";
    ASSERT_EQ(run("mkdir -p " + quote(t / deep)).status, 0);
    picture(t / "a.png");
    picture(t / (deep + "x.png"));

    const binary_run r = run_zarn(t, "-d -r '*.png' out/", "ulimit -n 256 &&");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(processed_names(r.out), (std::vector<std::string>{"a.png", deep + "x.png"}));
    EXPECT_TRUE(exists(t / ("out/" + deep + "x_dist.png")));
    EXPECT_TRUE(exists(t / "out/a_dist.png"));
}

// a.png, locked/b.png, sub/c.png, sub/locked/d.png, out/ (mode 0777), in a
// folder that all may read; both locked folders of mode 000, searched by a
// user who does not own them.
namespace {

void make_locked_tree(const temp_folder& t) {
    set_mode(t.path(), 0755);
    make_folder(t / "locked");
    make_folder(t / "sub");
    make_folder(t / "sub/locked");
    make_folder(t / "out");
    for (const std::string name : {"a.png", "locked/b.png", "sub/c.png", "sub/locked/d.png"}) {
        picture(t / name);
        set_mode(t / name, 0644);
    }
    set_mode(t / "locked", 0);
    set_mode(t / "sub/locked", 0);
    set_mode(t / "out", 0777);
}

}  // namespace

// Each folder that cannot be read is named once, before the files; the
// others are processed, and the run ends with status 1.
TEST(FileArguments, FoldersThatCannotBeReadAreNamedAndTheRunEndsWithStatusOne) {
    if (!can_run_as_nobody()) GTEST_SKIP() << "needs root and setpriv";
    temp_folder t;
    make_locked_tree(t);

    binary_run r = run_zarn(t, "-d -r '*.png' out", as_nobody);
    EXPECT_EQ(r.status, 1) << r.out;
    const std::vector<std::string> lines = lines_of(r.out);
    ASSERT_EQ(lines.size(), 4u) << r.out;
    std::vector<std::string> messages(lines.begin(), lines.begin() + 2);
    std::sort(messages.begin(), messages.end());
    EXPECT_EQ(messages, (std::vector<std::string>{"Cannot read directory ./locked/ !",
                                                  "Cannot read directory ./sub/locked/ !"}));
    EXPECT_EQ(processed_names(lines[2] + "\n" + lines[3]),
              (std::vector<std::string>{"a.png", "sub/c.png"}));
    EXPECT_EQ(files_under(t / "out"),
              (std::vector<std::string>{"./a_dist.png", "./sub/c_dist.png"}));
    EXPECT_EQ(r.err, "");

    // Named as the search opens it: the pattern's folder part first.
    r = run_zarn(t, "-d -r 'sub/*.png' out", as_nobody);
    EXPECT_EQ(r.status, 1) << r.out;
    const std::vector<std::string> sub_lines = lines_of(r.out);
    ASSERT_EQ(sub_lines.size(), 2u) << r.out;
    EXPECT_EQ(sub_lines[0], "Cannot read directory sub/locked/ !");
    EXPECT_TRUE(matches(sub_lines[1], "c\\.png: done in " + ms)) << sub_lines[1];
}

// The search folder itself: its message, then the usual one. As root, the
// same runs read every folder.
TEST(FileArguments, ASearchFolderThatCannotBeReadIsNamedBeforeTheNotFoundMessage) {
    if (!can_run_as_nobody()) GTEST_SKIP() << "needs root and setpriv";
    temp_folder t;
    make_locked_tree(t);
    for (const std::string options : {"-d", "-d -r"}) {
        binary_run r = run_zarn(t, options + " 'locked/*.png' out", as_nobody);
        EXPECT_EQ(r.status, 1) << options;
        EXPECT_EQ(r.out,
                  "Cannot read directory locked/ !\nNo file found matching locked/*.png !\n");
        r = run_zarn(t, options + " locked/b.png out", as_nobody);
        EXPECT_EQ(r.status, 1) << options;
        EXPECT_EQ(r.out, "Cannot read directory locked/ !\nlocked/b.png not found!\n");
    }
    const binary_run r = run_zarn(t, "-d -r 'locked/*.png' out");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(processed_names(r.out), std::vector<std::string>{"b.png"});
}

// A folder that can be searched but not listed (mode 0111): a name given
// without wildcards is found in it, with no message; a pattern cannot be.
TEST(FileArguments, ANameIsFoundInAFolderThatCanBeSearchedButNotListed) {
    if (!can_run_as_nobody()) GTEST_SKIP() << "needs root and setpriv";
    temp_folder t;
    set_mode(t.path(), 0755);
    make_folder(t / "hidden");
    make_folder(t / "out");
    picture(t / "hidden/b.png");
    set_mode(t / "hidden/b.png", 0644);
    set_mode(t / "hidden", 0111);
    set_mode(t / "out", 0777);

    binary_run r = run_zarn(t, "-d hidden/b.png out", as_nobody);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(processed_names(r.out), std::vector<std::string>{"b.png"});
    EXPECT_EQ(files_under(t / "out"), std::vector<std::string>{"./b_dist.png"});

    r = run_zarn(t, "-d hidden/c.png out", as_nobody);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "hidden/c.png not found!\n");

    r = run_zarn(t, "-d 'hidden/*.png' out", as_nobody);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Cannot read directory hidden/ !\nNo file found matching hidden/*.png !\n");
}
