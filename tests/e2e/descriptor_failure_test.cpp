// A descriptor program that cannot be started or found, fails, or ends well
// without writing its output, end to end: the run reports it and ends with
// status 1, the feature file it was given stays for a run by hand, nothing
// staged is left (whatever qev made in its private folder), and the qev of
// the current folder never stands in for one on PATH. qev itself is executed
// directly, without a shell; a child it leaves behind does not hold the
// run, nor does it make the run follow a link.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>  // renameat2

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "e2e/e2e_support.hpp"

using zarn_test::binary_run;
using zarn_test::copy_data;
using zarn_test::executable;
using zarn_test::exists;
using zarn_test::lines_of;
using zarn_test::listing;
using zarn_test::make_folder;
using zarn_test::matches;
using zarn_test::quote;
using zarn_test::read_file;
using zarn_test::run;
using zarn_test::run_zarn;
using zarn_test::small_picture;
using zarn_test::temp_folder;
using zarn_test::touch;
static const std::string& ms = zarn_test::ms_pattern;

namespace {

const std::string failure_message = "Cannot run the descriptor extraction executable qev/qev\\.exe !\n";

// The feature file that a successful -de -f run with our qev keeps.
std::string kept_by_a_good_run() {
    temp_folder t;
    copy_data("horse_mask.png", t / "a.png");
    const binary_run r = run_zarn(t, "-b -de -f a.png", zarn_test::qev_on_path());
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    return read_file(t / "a_feat.txt");
}

struct failing_qev {
    std::string name;
    std::string script;
    mode_t mode;
    std::string errors;  // what zarn shows of it on standard error
};

// The shell lines of a qev script that set out to its -o1 argument.
const std::string output_argument = "while [ $# -gt 0 ]; do [ \"$1\" = -o1 ] && out=$2; shift; done\n";

// t := a.png and bin/qev running script; the PATH setting that finds that
// qev first.
std::string with_qev(const temp_folder& t, const std::string& script) {
    copy_data("horse_mask.png", t / "a.png");
    make_folder(t / "bin");
    executable(t / "bin/qev", script);
    return "PATH=" + quote(t / "bin") + ":/usr/bin:/bin";
}

// The pids that the file lists, a pid a line.
std::vector<pid_t> listed(const std::string& file) {
    std::vector<pid_t> pids;
    for (const std::string& pid : lines_of(read_file(file))) pids.push_back(std::stoi(pid));
    return pids;
}

// Ends the processes that the file lists; true when every one still ran.
bool end_listed(const std::string& file) {
    bool all_running = true;
    for (const pid_t pid : listed(file)) {
        all_running = all_running && zarn_test::still_running(pid);
        ::kill(pid, SIGKILL);
    }
    return all_running;
}

// True when every process that the file lists ends (was ended with qev).
bool all_end(const std::string& file) {
    bool all = true;
    for (const pid_t pid : listed(file)) all = zarn_test::ends(pid) && all;
    return all;
}

// The wrapper's lines that set out to qev's -o1 argument and d to the
// private folder that holds it.
const std::string output_folder =
    "for a; do [ \"$previous\" = -o1 ] && out=$a; previous=$a; done\nd=${out%/*}\n";

// A run whose qev succeeded: status 0, nothing said on standard error, and
// the descriptor file beside the input, nothing staged left.
void expect_descriptors_alone(const temp_folder& t, const binary_run& r) {
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(listing(t.path()), (std::vector<std::string>{"a.png", "a_desc.txt", "bin"}));
    EXPECT_EQ(read_file(t / "a_desc.txt").substr(0, 4), "128\n");
}

// A wrapper's line that stands in for qev where only its output matters
// (tests that run zarn many times): a descriptor file without descriptors.
const std::string no_descriptors = "printf '128\\n0\\n' > \"$out\" || exit\n";

}  // namespace

TEST(ZarnDescriptorFailure, EveryFailureKeepsTheFeatureFileAndLetsNoOtherQevRun) {
    const std::string wanted = kept_by_a_good_run();
    ASSERT_TRUE(matches(wanted, "0\n[1-9][0-9]*\n(.+\n)+"));
    // What links of a qev's tree point to, outside the run's folder: it stays
    // as it is. A qev that made its whole tree leaves a mark there.
    temp_folder outside;
    make_folder(outside / "target");
    touch(outside / "target/keep", "kept");
    const std::vector<failing_qev> cases = {
        {"fails", "#!/bin/sh\necho 'qev: bad ellipse' >&2\nexit 3\n", 0755, "qev: bad ellipse\n"},
        // What a missing shared library gives: the loader's message and 127.
        {"ends with 127", "#!/bin/sh\necho 'qev: error while loading shared libraries' >&2\nexit 127\n", 0755,
         "qev: error while loading shared libraries\n"},
        {"not executable", "#!/bin/sh\nexit 0\n", 0644, "qev: Permission denied\n"},
        {"writes nothing", "#!/bin/sh\nexit 0\n", 0755, ""},
        {"writes a link", "#!/bin/sh\nwhile [ $# -gt 0 ]; do [ \"$1\" = -o1 ] && ln -s /etc/passwd \"$2\"; shift; done\n",
         0755, ""},
        // Folders at its output path, which the private folder's removal
        // takes whatever their depth.
        {"makes a folder", "#!/bin/sh\n" + output_argument + "mkdir -p \"$out/sub\" && touch \"$out/sub/f\"\n", 0755,
         ""},
        {"makes a deep tree",
         "#!/bin/sh\n" + output_argument +
             "d=$out; i=0\n"
             "while [ $i -lt 50 ]; do\n"
             "  mkdir \"$d\" && echo f > \"$d/f\" && ln -s .. \"$d/up\" || exit 3\n"
             "  ln -s " + quote(outside / "target") + " \"$d/outside\" || exit 3\n"
             "  ln -s " + quote(outside / "target/keep") + " \"$d/keep\" || exit 3\n"
             "  d=$d/d; i=$((i + 1))\n"
             "done\n"
             "chmod 500 \"$out/d/d\" && touch " + quote(outside / "made") + "\n",
         0755, ""},
    };
    for (const failing_qev& c : cases) {
        SCOPED_TRACE(c.name);
        temp_folder t;
        copy_data("horse_mask.png", t / "a.png");
        make_folder(t / "bin");
        executable(t / "bin/qev", c.script);
        ASSERT_EQ(chmod((t / "bin/qev").c_str(), c.mode), 0);
        // The one of the current folder would succeed, and must not run.
        executable(t / "qev",
                   "#!/bin/sh\ntouch ran\n"
                   "while [ $# -gt 0 ]; do [ \"$1\" = -o1 ] && echo 128 > \"$2\"; shift; done\n");
        const std::string path = "PATH=" + quote(t / "bin") + ":/usr/bin:/bin";

        binary_run r = run_zarn(t, "-b -de a.png", path);
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(matches(r.out, "a\\.png: done in " + ms + "\n" + failure_message)) << r.out;
        EXPECT_EQ(r.err, c.errors);
        EXPECT_EQ(listing(t.path()), (std::vector<std::string>{"a.png", "a_feat.txt", "bin", "qev"}));
        EXPECT_EQ(read_file(t / "a_feat.txt"), wanted);

        // With -f the file was kept before the program ran; with -t the
        // message follows the stage lines.
        ::unlink((t / "a_feat.txt").c_str());  // checked above
        r = run_zarn(t, "-t -b -de -f a.png out", path);
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(matches(r.out, "(.*\n)*=+\n\n" + failure_message)) << r.out;
        EXPECT_EQ(listing(t / "out"), std::vector<std::string>{"a_feat.txt"});
        EXPECT_EQ(read_file(t / "out/a_feat.txt"), wanted);
        EXPECT_FALSE(exists(t / "ran"));
        EXPECT_EQ(listing(outside / "target"), std::vector<std::string>{"keep"});
        EXPECT_EQ(read_file(outside / "target/keep"), "kept");
    }
    EXPECT_EQ(listing(outside.path()), (std::vector<std::string>{"made", "target"}));
}

// No file named qev on PATH: the qev of the current folder runs; when there
// is none either, the feature file is kept as for any failure.
TEST(ZarnDescriptorFailure, TheCurrentFolderOnlyWithoutAnyQevOnThePath) {
    temp_folder t;
    copy_data("horse_mask.png", t / "a.png");
    make_folder(t / "bin");
    make_folder(t / "bin/qev");  // a folder is no program
    const std::string path = "PATH=" + quote(t / "bin") + ":/usr/bin:/bin";
    binary_run r = run_zarn(t, "-b -de a.png", path);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "qev: not found on PATH nor in the current folder\n");
    EXPECT_TRUE(exists(t / "a_feat.txt"));
    ASSERT_EQ(unlink((t / "a_feat.txt").c_str()), 0);

    ASSERT_EQ(run("cp " + quote(ZARN_QEV_BINARY) + " " + quote(t / "qev")).status, 0);
    r = run_zarn(t, "-b -de a.png", path);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(listing(t.path()), (std::vector<std::string>{"a.png", "a_desc.txt", "bin", "qev"}));
}

// No qev on PATH nor in the current folder: said in one line on standard
// error, as a shell says it; the rest is as for any failure.
TEST(ZarnDescriptorFailure, NoQevAnywhereIsSaid) {
    const std::string wanted = kept_by_a_good_run();
    temp_folder t;
    copy_data("horse_mask.png", t / "a.png");
    make_folder(t / "bin");
    const binary_run r = run_zarn(t, "-b -de a.png", "PATH=" + quote(t / "bin"));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(matches(r.out, "a\\.png: done in " + ms + "\n" + failure_message)) << r.out;
    EXPECT_EQ(r.err, "qev: not found on PATH nor in the current folder\n");
    EXPECT_EQ(listing(t.path()), (std::vector<std::string>{"a.png", "a_feat.txt", "bin"}));
    EXPECT_EQ(read_file(t / "a_feat.txt"), wanted);
}

// A qev that leaves children holding its standard error (a wrapper
// script's "sleep 30 &"): the run ends when qev does, with the descriptors
// written and nothing staged left. The child in qev's process group is
// ended with qev; one that left the group (setsid) is not waited for.
TEST(ZarnDescriptorFailure, AChildThatQevLeavesDoesNotHoldTheRun) {
    temp_folder t;
    const std::string path = with_qev(t, "#!/bin/sh\nsleep 30 &\necho $! >> " + quote(t / "bin/sleep.pid") +
                                             "\nsetsid sh -c 'echo $$ >> " + quote(t / "bin/setsid.pid") +
                                             "; exec sleep 30' &\nuntil [ -s " + quote(t / "bin/setsid.pid") +
                                             " ]; do :; done\nexec " + quote(ZARN_QEV_BINARY) + " \"$@\"\n");
    const binary_run r = run_zarn(t, "-b -de a.png", path + " timeout 20");
    EXPECT_TRUE(all_end(t / "bin/sleep.pid")) << "qev's child in its group was not ended";
    EXPECT_TRUE(end_listed(t / "bin/setsid.pid")) << "the run waited for qev's child";
    EXPECT_NE(r.status, 124) << "the run waited for qev's child";
    expect_descriptors_alone(t, r);
}

// A qev that leaves children writing where it wrote, by name and as fast as
// they can (files, and folders with a file), from the moment its output
// exists: the run ends when qev does, with the descriptors written, and
// nothing staged is left, for the children are ended with qev.
TEST(ZarnDescriptorFailure, ChildrenOfQevStillWritingWhereItWroteDoNotHoldTheRun) {
    temp_folder t;
    // Each child stops by itself after a minute.
    const std::string child =
        "perl -e '$out = shift; $d = $out; $d =~ s{/[^/]*$}{}; $end = time + 60;"
        " 1 until -e $out || time > $end;"
        " for ($i = 0; time < $end; $i++) {"
        " mkdir \"$d/d$i\"; open(my $f, \">\", \"$d/d$i/f\") and close $f; open($f, \">\", \"$d/f$i\") and close $f }'"
        " \"$out\" &\necho $! >> " + quote(t / "bin/child.pid") + "\n";
    const std::string path = with_qev(t, "#!/bin/sh\n" + output_folder + child + child + "exec " + quote(ZARN_QEV_BINARY) + " \"$@\"\n");
    const binary_run r = run_zarn(t, "-b -de a.png", path + " timeout 50");
    end_listed(t / "bin/child.pid");
    EXPECT_NE(r.status, 124) << "the run chased qev's children";
    expect_descriptors_alone(t, r);
}

// A qev that leaves a tree far larger than a removal's bound of visits
// for a writer at work (150 000 files in a subfolder, made as links of
// three, far faster than new files), and then stops: it goes whole, and the
// descriptors are written.
TEST(ZarnDescriptorFailure, ALargeTreeQevLeavesGoesWhole) {
    temp_folder t;
    const std::string path =
        with_qev(t, "#!/bin/sh\n" + output_folder + quote(ZARN_QEV_BINARY) + " \"$@\" || exit\n" +
                        "perl -e '$d = shift; mkdir \"$d/sub\" or exit 3; for (0 .. 149999) {"
                        " if ($_ % 50000) { link($one, \"$d/sub/f$_\") or exit 3 }"
                        " else { $one = \"$d/sub/f$_\"; open(F, \">\", $one) and close F or exit 3 } }' \"$d\"\n");
    const binary_run r = run_zarn(t, "-b -de a.png", path);
    expect_descriptors_alone(t, r);
}

// A plain writer that qev leaves running in its private folder (a shell
// loop making files there, for 6 s unless ended): it is ended with qev, and
// nothing is left, run after run.
TEST(ZarnDescriptorFailure, AWriterQevLeavesRunningIsEndedAndNothingStays) {
    temp_folder t;
    const std::string path = with_qev(
        t, "#!/bin/sh\n" + output_folder +
               "bash -c 'cd \"$1\" || exit; i=0; while [ $SECONDS -lt 6 ]; do : > w$i; i=$((i + 1)); done' _ \"$d\" &\n"
               "echo $! >> " + quote(t / "bin/writer.pid") + "\n"
               "until [ -e \"$d/w100\" ]; do sleep 0.01; done\n" + no_descriptors);
    small_picture(t / "a.png");
    for (int k = 0; k < 10; ++k) {
        SCOPED_TRACE("run " + std::to_string(k));
        ::unlink((t / "bin/writer.pid").c_str());
        const binary_run r = run_zarn(t, "-de a.png", path);
        EXPECT_TRUE(all_end(t / "bin/writer.pid"));
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(listing(t.path()), (std::vector<std::string>{"a.png", "a_desc.txt", "bin"}));
    }
}

// Writers inside qev's private folder (their working folder), creating
// files and folders as fast as they can, two in qev's process group and two
// that left it: the run ends, with the descriptors written. The first two
// are ended with qev; the removal follows the others only for a bounded
// number of entries, and a private folder that stays is named on standard
// error, on a line of its own.
TEST(ZarnDescriptorFailure, WritersInsideThePrivateFolderEndAndWhatStaysIsNamed) {
    temp_folder t;
    // Each writer lists its pid in the file it is given (a writer that cannot
    // enter the folder then ends, which the test sees, and holds no wait),
    // and writes until the test ends it or the test process is gone, however
    // it ended. It removes what it wrote 256 steps back: what it leaves stays
    // bounded however long the run takes. The two that leave qev's group
    // stay in the test's session: Linux (autogroup) schedules each session
    // as a group of its own, so that writers in a new one would outrun the
    // niced run the more, the busier the machine.
    const auto writer = [&](const std::string& pids, const std::string& leave_group) {
        return "perl -e '" + leave_group + " ($d, $pids, $test) = @ARGV;"
               " open(P, \">>\", $pids) and print P \"$$\\n\" and close P; chdir $d or exit 3;"
               " for ($i = 0; $i % 64 || kill 0, $test; $i++) { mkdir \"d$i\"; open(my $f, \">\", \"f$i\") and close $f;"
               " $old = $i - 256; rmdir \"d$old\"; unlink \"f$old\" }'"
               " \"$d\" " + quote(pids) + " " + std::to_string(::getpid()) + " &\n";
    };
    const std::string in_group = writer(t / "bin/group.pid", "");
    const std::string left_group = writer(t / "bin/left.pid", "setpgrp(0, 0);");
    const std::string path = with_qev(t, "#!/bin/sh\n" + output_folder + in_group + in_group + left_group +
                                             left_group + "until [ $(cat " + quote(t / "bin/group.pid") + " " +
                                             quote(t / "bin/left.pid") + " | wc -l) -eq 4 ] 2> /dev/null; do :; done\n"
                                             "exec " + quote(ZARN_QEV_BINARY) + " \"$@\"\n");
    // A limit far above the run's work: only a run that chases the writers
    // reaches it.
    const binary_run r = run_zarn(t, "-b -de a.png", path + " timeout 240");
    EXPECT_TRUE(all_end(t / "bin/group.pid")) << "qev's writers in its group were not ended";
    EXPECT_TRUE(end_listed(t / "bin/left.pid")) << "the writers stopped before the run ended";
    EXPECT_NE(r.status, 124) << "the run chased the writers";
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(read_file(t / "a_desc.txt").substr(0, 4), "128\n");
    // Named as the run names its outputs, in the output folder "./".
    std::string named;
    for (const std::string& entry : listing(t.path()))
        if (entry.compare(0, 6, ".zarn-") == 0) named += "Warning: private folder ./" + entry + " could not be removed!\n";
    EXPECT_EQ(r.err, named);
}

namespace {

// The file outside the output folder that a hostile qev aims at, with the
// given mode.
void make_secret(const temp_folder& outside, mode_t mode) {
    touch(outside / "secret", "secret");
    ASSERT_EQ(chmod((outside / "secret").c_str(), mode), 0);
}

// That file as it was made: mode, one link, content.
void expect_secret_unchanged(const temp_folder& outside, mode_t mode) {
    struct stat st;
    ASSERT_EQ(stat((outside / "secret").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, mode);
    EXPECT_EQ(st.st_nlink, 1u);
    EXPECT_EQ(read_file(outside / "secret"), "secret");
}

// An earlier descriptor file of mode 0600, which a run replaces.
void earlier_output(const temp_folder& t) {
    touch(t / "a_desc.txt", "earlier");
    ASSERT_EQ(chmod((t / "a_desc.txt").c_str(), 0600), 0);
}

}  // namespace

// A qev that replaces its output by a second link to a file outside the
// output folder, over an earlier output of mode 0600: that file is neither
// given the mode nor placed at the output name, and the run fails with the
// earlier output kept.
TEST(ZarnDescriptorFailure, AHardLinkAtQevsOutputIsNeverPlaced) {
    temp_folder t, outside;
    make_secret(outside, 0640);
    const std::string path = with_qev(t, "#!/bin/sh\n" + output_folder + no_descriptors + "rm \"$out\" && ln " +
                                             quote(outside / "secret") + " \"$out\"\n");
    small_picture(t / "a.png");
    earlier_output(t);
    const binary_run r = run_zarn(t, "-de a.png", path);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(matches(r.out, "a\\.png: done in " + ms + "\nCannot open output file \\./a_desc\\.txt !\n")) << r.out;
    EXPECT_EQ(r.err, "");
    expect_secret_unchanged(outside, 0640);
    struct stat st;
    ASSERT_EQ(lstat((t / "a_desc.txt").c_str(), &st), 0);
    ASSERT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(read_file(t / "a_desc.txt"), "earlier");
    EXPECT_EQ(listing(t.path()), (std::vector<std::string>{"a.png", "a_desc.txt", "bin"}));
}

namespace {

// The perl expression that makes the exchanger's entry $e, of the kind
// named, for the file $target outside.
std::string exchanged_entry(const std::string& kind) {
    if (kind == "link") return "symlink($target, $e)";
    if (kind == "pipe") return "POSIX::mkfifo($e, 0600)";
    return "link($target, $e)";
}

// A child that qev leaves (outside its process group) exchanging the
// finished output for an entry of the kind named (a link to a file outside
// the output folder, a pipe, a second link to that file) again and again,
// while an earlier output of mode 0600 is replaced: one at its staged name,
// one at the name in the private folder to which the commit moves what it
// takes away from the output name.
// Run after run, the outside file never changes and never stands at the
// output name, nor does the entry; a run that ends well leaves exactly the
// descriptors there, and one that fails either the earlier output or none.
void expect_exchanges_never_placed(const std::string& kind) {
    temp_folder t, outside;
    make_secret(outside, 0644);
    struct stat secret;
    ASSERT_EQ(stat((outside / "secret").c_str(), &secret), 0);
    const auto exchanger = [&](const std::string& name, const std::string& entry) {
        return "setsid perl -e 'use POSIX; require \"syscall.ph\"; ($d, $target) = @ARGV; $n = \"$d/" + name +
               "\"; $e = \"$d/" + entry + "\"; " + exchanged_entry(kind) +
               " or exit 3; $end = time + 20; while (-d $d && time < $end) { for (1 .. 64) {"
               " syscall(&SYS_renameat2, -100, $n, -100, $e, 2) } }' \"$d\" " + quote(outside / "secret") +
               " &\necho $! >> " + quote(t / "bin/exchanger.pid") + "\n";
    };
    const std::string path =
        with_qev(t, "#!/bin/sh\n" + output_folder + no_descriptors + exchanger("staged.txt", "l") +
                        exchanger("moved-0", "m") +
                        "until { [ -e \"$d/l\" ] || [ -L \"$d/l\" ]; } && { [ -e \"$d/m\" ] || [ -L \"$d/m\" ]; }; do"
                        " sleep 0.01; done\n");
    small_picture(t / "a.png");
    for (int k = 0; k < 30; ++k) {
        SCOPED_TRACE("run " + std::to_string(k));
        earlier_output(t);
        ::unlink((t / "bin/exchanger.pid").c_str());
        const binary_run r = run_zarn(t, "-de a.png", path);
        EXPECT_TRUE(all_end(t / "bin/exchanger.pid"));
        expect_secret_unchanged(outside, 0644);
        struct stat st;
        const bool output = lstat((t / "a_desc.txt").c_str(), &st) == 0;
        if (output) {
            // Read only a regular file: a pipe at the output would block.
            ASSERT_TRUE(S_ISREG(st.st_mode));
            ASSERT_NE(st.st_ino, secret.st_ino);
            EXPECT_EQ(st.st_mode & 07777, 0600u);
        }
        if (r.status == 0) {
            ASSERT_TRUE(output);
            EXPECT_EQ(read_file(t / "a_desc.txt"), "128\n0\n");
        } else {
            EXPECT_EQ(r.status, 1);
            EXPECT_TRUE(matches(r.out, "a\\.png: done in " + ms + "\n(" + failure_message +
                                           "|Cannot open output file \\./a_desc\\.txt !\n)"))
                << r.out;
            if (output) {
                EXPECT_EQ(read_file(t / "a_desc.txt"), "earlier");
            }
            ::unlink((t / "a_feat.txt").c_str());  // kept when qev seemed to write nothing
        }
        EXPECT_EQ(r.err, "");
        std::vector<std::string> left = {"a.png", "a_desc.txt", "bin"};
        if (!output) left.erase(left.begin() + 1);
        EXPECT_EQ(listing(t.path()), left);
    }
}

}  // namespace

TEST(ZarnDescriptorFailure, AnOutputExchangedForALinkIsNeverFollowed) { expect_exchanges_never_placed("link"); }
TEST(ZarnDescriptorFailure, AnOutputExchangedForAPipeIsNeverPlaced) { expect_exchanges_never_placed("pipe"); }
TEST(ZarnDescriptorFailure, AnOutputExchangedForAHardLinkIsNeverPlaced) { expect_exchanges_never_placed("hard link"); }

// Stopped right after the rename of its commit, over an earlier output of
// mode 0600, a run whose output name a writer then exchanges for an entry
// of the private folder (a link or a second link to a file outside, a
// pipe, a folder holding files and links to outside), so that the written
// file moves in there: the check after the rename finds a foreign entry
// while the written file is still linked, and the run fails, the entry
// taken away whole and never followed. What was outside stays as it was;
// only the input stays in the output folder.
TEST(ZarnDescriptorFailure, AnEntryExchangedInAtTheOutputAfterTheRenameIsTakenAwayWhole) {
    if (!zarn_test::can_trace()) GTEST_SKIP() << "strace cannot trace here";
    for (const std::string kind : {"link", "pipe", "hard link", "folder"}) {
        SCOPED_TRACE(kind);
        temp_folder t, outside;
        make_secret(outside, 0640);
        make_folder(outside / "target");
        touch(outside / "target/keep", "kept");
        const std::string path = with_qev(t, "#!/bin/sh\n" + output_argument + no_descriptors);
        small_picture(t / "a.png");
        earlier_output(t);
        const zarn_test::stopped_run r = zarn_test::run_stopped_after_rename(t, "-de a.png", path, [&] {
            std::string folder;
            for (const std::string& entry : listing(t.path()))
                if (entry.compare(0, 6, ".zarn-") == 0) folder = t / entry;
            ASSERT_FALSE(folder.empty());
            const std::string e = folder + "/e", secret = outside / "secret";
            if (kind == "link") {
                ASSERT_EQ(symlink(secret.c_str(), e.c_str()), 0);
            } else if (kind == "pipe") {
                ASSERT_EQ(mkfifo(e.c_str(), 0600), 0);
            } else if (kind == "hard link") {
                ASSERT_EQ(link(secret.c_str(), e.c_str()), 0);
            } else {
                make_folder(e);
                make_folder(e + "/sub");
                touch(e + "/sub/f", "f");
                ASSERT_EQ(symlink((outside / "target").c_str(), (e + "/sub/outside").c_str()), 0);
                ASSERT_EQ(symlink(secret.c_str(), (e + "/secret").c_str()), 0);
            }
            ASSERT_EQ(renameat2(AT_FDCWD, (t / "a_desc.txt").c_str(), AT_FDCWD, e.c_str(), RENAME_EXCHANGE), 0);
        });
        ASSERT_TRUE(r.stopped) << r.out << r.err;
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(matches(r.out, "a\\.png: done in " + ms + "\nCannot open output file \\./a_desc\\.txt !\n")) << r.out;
        EXPECT_EQ(r.err, "");
        expect_secret_unchanged(outside, 0640);
        EXPECT_EQ(listing(outside / "target"), std::vector<std::string>{"keep"});
        EXPECT_EQ(read_file(outside / "target/keep"), "kept");
        EXPECT_EQ(listing(t.path()), (std::vector<std::string>{"a.png", "bin"}));
    }
}

// Run by a user whom permissions bind (root is not bound: the tests run as
// nobody then): folders that qev leaves without any permission, or without
// the permission to be read, go too.
TEST(ZarnDescriptorFailure, FoldersQevLeftWithoutPermissionsGo) {
    const bool root = zarn_test::running_as_root();
    if (root && !zarn_test::can_run_as_nobody()) GTEST_SKIP() << "needs setpriv to run as another user";
    const std::string as_user = root ? zarn_test::as_nobody + " " : "";
    temp_folder t;
    const std::string path = with_qev(t, "#!/bin/sh\n" + output_argument +
                                             "mkdir -p \"$out/sub/none/deeper\" \"$out/sub/unread\" || exit 3\n"
                                             "echo f > \"$out/sub/none/deeper/f\" && echo f > \"$out/sub/unread/f\" || exit 3\n"
                                             "chmod 000 \"$out/sub/none/deeper\" \"$out/sub/none\" && chmod 300 \"$out/sub/unread\"\n"
                                             "chmod 000 \"$out/sub\"\n");
    ASSERT_EQ(::chmod(t.path().c_str(), 0777), 0);
    const binary_run r = run_zarn(t, "-b -de a.png", as_user + "env " + path);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(matches(r.out, "a\\.png: done in " + ms + "\n" + failure_message)) << r.out;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(listing(t.path()), (std::vector<std::string>{"a.png", "a_feat.txt", "bin"}));
}

// Traced: zarn executes qev itself, found on PATH, with one argument per
// path however it is spelt; no shell runs.
TEST(ZarnDescriptorFailure, QevIsExecutedDirectly) {
    if (run("strace -f -o /dev/null true").status != 0) GTEST_SKIP() << "strace cannot trace here";
    temp_folder t;
    std::filesystem::copy_file(std::string(ZARN_DATA_DIR) + "/horse_mask.png", t / "it's a $horse.png");
    const binary_run r =
        run_zarn(t, "-b -de \"it's a \\$horse.png\"",
                 zarn_test::qev_on_path() + " ASAN_OPTIONS=detect_leaks=0 strace -f -o trace.txt -e trace=execve");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    std::vector<std::string> programs;
    for (const std::string& line : lines_of(read_file(t / "trace.txt"))) {
        std::smatch m;
        if (std::regex_search(line, m, std::regex(R"re(execve\("([^"]*)", \[(.*)\].* = 0$)re")))
            programs.push_back(m[1].str() + " " + m[2].str());
    }
    const std::string qev = ZARN_QEV_BINARY;
    ASSERT_EQ(programs.size(), 2u) << read_file(t / "trace.txt");
    EXPECT_EQ(programs[0].substr(0, programs[0].find(' ')), ZARN_BINARY);
    EXPECT_TRUE(matches(programs[1], std::regex_replace(qev, std::regex(R"([.^$|()\[\]{}*+?\\])"), "\\$&") +
                                         " \"qev\", \"-i\", \"\\./it's a \\$horse\\.png\", \"-sift\", "
                                         "\"-p1\", \"[^\"]*/\\.zarn-[^\"/]+/features\\.txt\", "
                                         "\"-o1\", \"[^\"]*/\\.zarn-[^\"/]+/staged\\.txt\""))
        << programs[1];
    EXPECT_TRUE(exists(t / "it's a $horse_desc.txt"));
}
