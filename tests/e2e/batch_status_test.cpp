// How a batch reports what it could not do, end to end: the exit status of
// a batch with an input that cannot be opened, outputs found unwritable
// before an image is computed, and the descriptor program that runs and
// fails, which must not make another one in the current folder run.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "e2e/e2e_support.hpp"

using zarn_test::binary_run;
using zarn_test::copy_data;
using zarn_test::executable;
using zarn_test::exists;
using zarn_test::lines_of;
using zarn_test::make_folder;
using zarn_test::matches;
using zarn_test::quote;
using zarn_test::read_file;
using zarn_test::run;
using zarn_test::run_zarn;
using zarn_test::temp_folder;
using zarn_test::touch;
static const std::string& ms = zarn_test::ms_pattern;

// Every file of the batch is processed in order; the one that cannot be
// opened is reported and skipped, and the run then ends with status 1. An
// ignored earlier output is no failure.
TEST(ZarnBatch, AnInputThatCannotBeOpenedEndsTheRunWithStatusOne) {
    temp_folder t;
    copy_data("horse_mask.png", t / "a.png");
    touch(t / "b.png", "not an image");
    copy_data("horse_mask.png", t / "c.png");
    binary_run r = run_zarn(t, "-b -d '?.png'");
    EXPECT_EQ(r.status, 1);
    std::vector<std::string> lines = lines_of(r.out);
    std::sort(lines.begin(), lines.end());
    ASSERT_EQ(lines.size(), 3u) << r.out;
    EXPECT_TRUE(matches(lines[0], "a\\.png: done in " + ms)) << lines[0];
    EXPECT_EQ(lines[1], "b.png: cannot open file!");
    EXPECT_TRUE(matches(lines[2], "c\\.png: done in " + ms)) << lines[2];
    EXPECT_TRUE(exists(t / "a_dist.png"));
    EXPECT_TRUE(exists(t / "c_dist.png"));

    r = run_zarn(t, "-b -d '[ac]*.png'");  // a_dist.png and c_dist.png are ignored
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(lines_of(r.out).size(), 4u) << r.out;
}

// An output that cannot be written is found before the image is computed:
// under -t the message comes before any stage line, and nothing is written.
TEST(ZarnBatch, OutputsAreCheckedBeforeTheImageIsComputed) {
    temp_folder t;
    copy_data("horse_mask.png", t / "x.bak");  // a PNG under a name no image writer takes
    copy_data("horse_mask.png", t / "a.png");
    touch(t / "blocker");

    binary_run r = run_zarn(t, "-t -b -d x.bak");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "\n-> x.bak: \nCannot open output file ./x_dist.bak !\n");

    r = run_zarn(t, "-t -b -m a.png blocker/out");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "\n-> a.png: \nCould not create directory blocker/out !\n");

    // A folder where the picture goes, and a read-only old output.
    make_folder(t / "a_med.png");
    r = run_zarn(t, "-b -d -m a.png");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "a.png: \nCannot open output file ./a_med.png !\n");
    make_folder(t / "out");
    touch(t / "out/a_part.png", "old");
    ASSERT_EQ(chmod((t / "out/a_part.png").c_str(), 0444), 0);
    if (geteuid() != 0) {  // root may write it anyway
        r = run_zarn(t, "-b -p a.png out");
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "a.png: \nCannot open output file out/a_part.png !\n");
    }
    EXPECT_FALSE(exists(t / "x_dist.bak"));
    EXPECT_FALSE(exists(t / "a_dist.png"));
    EXPECT_EQ(read_file(t / "out/a_part.png"), "old");

    // A name of 250 characters without an extension: its outputs' names
    // (259 characters) are longer than a folder takes.
    const std::string name(250, 'n');
    copy_data("horse_mask.png", t / name);
    r = run_zarn(t, "-t -b -d -m " + name + " out");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "\n-> " + name + ": \nCannot open output file out/" + name + "_dist.png !\n");
    r = run_zarn(t, "-t -b -f " + name + " out");
    EXPECT_EQ(r.out, "\n-> " + name + ": \nCannot open output file out/" + name + "_feat.txt !\n");
    EXPECT_EQ(zarn_test::listing(t / "out"), std::vector<std::string>{"a_part.png"});

    // Text outputs need no image writer.
    r = run_zarn(t, "-b -f x.bak");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(exists(t / "x_feat.txt"));
}

// A qev on the search path that runs and fails is reported with its own
// error output; a ./qev in the current folder is tried only when the shell
// finds no qev at all, so it must not run here.
TEST(ZarnBatch, AFailingQevDoesNotMakeTheOneInTheCurrentFolderRun) {
    temp_folder t;
    copy_data("horse_mask.png", t / "a.png");
    make_folder(t / "bin");
    executable(t / "bin/qev", "#!/bin/sh\necho 'qev: cannot read image' >&2\nexit 1\n");
    executable(t / "qev",
               "#!/bin/sh\ntouch ran\n"
               "while [ $# -gt 0 ]; do [ \"$1\" = -o1 ] && echo 128 > \"$2\"; shift; done\n");
    const std::string path = "PATH=" + quote(t / "bin") + ":/usr/bin:/bin";

    binary_run r = run_zarn(t, "-b -de a.png", path);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(matches(r.out, "a\\.png: done in " + ms +
                                   "\nCannot run the descriptor extraction executable qev/qev\\.exe !\n"))
        << r.out;
    EXPECT_EQ(r.err, "qev: cannot read image\n");
    EXPECT_FALSE(exists(t / "ran"));
    EXPECT_FALSE(exists(t / "a_desc.txt"));
    EXPECT_TRUE(exists(t / "a_feat.txt"));  // kept for a run by hand

    // Without a qev on the search path the one in the current folder runs.
    r = run_zarn(t, "-b -de a.png", "PATH=/usr/bin:/bin");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(exists(t / "ran"));
    EXPECT_EQ(read_file(t / "a_desc.txt"), "128\n");
}
