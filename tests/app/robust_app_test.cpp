// A program's error output collected, and the line state of standard output.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include <iostream>
#include <sstream>
#include <string>

#include "app/console.hpp"
#include "app/files.hpp"
#include "app/test_support.hpp"

using namespace lumo::zarn;
using zarn_test::temp_folder;
using zarn_test::touch;

TEST(CommandErrors, StandardErrorOfTheProgramIsCollected) {
    command_outcome r = run_command_collecting_errors("sh -c 'echo out; echo err >&2; exit 4'");
    EXPECT_FALSE(r.success);
    EXPECT_TRUE(r.found);
    EXPECT_EQ(r.errors, "err\n");

    r = run_command_collecting_errors("true");
    EXPECT_TRUE(r.success);
    EXPECT_EQ(r.errors, "");

    // The shell's own complaint about a missing program is no error output of
    // the program.
    r = run_command_collecting_errors("zarn_no_such_program_anywhere -x");
    EXPECT_FALSE(r.success);
    EXPECT_FALSE(r.found);
    EXPECT_EQ(r.errors, "");
}

TEST(CommandErrors, AProgramInTheCurrentFolderIsFoundOnTheRetry) {
    temp_folder t;
    touch(t / "zarn_failing_tool", "#!/bin/sh\necho \"failed: $1\" >&2\nexit 2\n");
    chmod((t / "zarn_failing_tool").c_str(), 0755);
    char old[4096];
    ASSERT_TRUE(getcwd(old, sizeof old));
    ASSERT_EQ(chdir(t.path().c_str()), 0);
    const command_outcome r = run_command_collecting_errors("zarn_failing_tool 'a b'");
    ASSERT_EQ(chdir(old), 0);
    EXPECT_FALSE(r.success);
    EXPECT_TRUE(r.found);
    EXPECT_EQ(r.errors, "failed: a b\n");
}

// Only a program that the shell does not find is looked for in the current
// folder: one that runs and fails must not make another one run.
TEST(CommandErrors, AProgramThatRanAndFailedIsNotRetriedFromTheCurrentFolder) {
    temp_folder t;
    ::mkdir((t / "bin").c_str(), 0755);
    touch(t / "bin/zarn_tool", "#!/bin/sh\necho 'failed on the path' >&2\nexit 1\n");
    touch(t / "zarn_tool", "#!/bin/sh\necho ran >> ran.log\n");
    chmod((t / "bin/zarn_tool").c_str(), 0755);
    chmod((t / "zarn_tool").c_str(), 0755);
    char old[4096];
    ASSERT_TRUE(getcwd(old, sizeof old));
    const std::string old_path = std::getenv("PATH") ? std::getenv("PATH") : "";
    ASSERT_EQ(chdir(t.path().c_str()), 0);
    setenv("PATH", (t / "bin:/usr/bin:/bin").c_str(), 1);
    const command_outcome collected = run_command_collecting_errors("zarn_tool");
    const bool plain = run_command("zarn_tool 2> /dev/null");
    setenv("PATH", old_path.c_str(), 1);
    ASSERT_EQ(chdir(old), 0);
    EXPECT_FALSE(collected.success);
    EXPECT_TRUE(collected.found);
    EXPECT_EQ(collected.errors, "failed on the path\n");
    EXPECT_FALSE(plain);
    EXPECT_FALSE(zarn_test::exists(t / "ran.log"));
}

TEST(ConsoleLine, TracksWhetherTheLastCharacterEndedALine) {
    std::ostringstream sink;
    line_tracking_buffer tracker(sink.rdbuf());
    std::ostream out(&tracker);
    EXPECT_TRUE(tracker.at_line_start());
    out << "a.png: ";
    EXPECT_FALSE(tracker.at_line_start());
    out << "done in " << 1.5 << " ms" << std::endl;
    EXPECT_TRUE(tracker.at_line_start());
    out << 'x';
    EXPECT_FALSE(tracker.at_line_start());
    out << '\n';
    EXPECT_TRUE(tracker.at_line_start());
    out << "";
    EXPECT_TRUE(tracker.at_line_start());
    EXPECT_EQ(sink.str(), "a.png: done in 1.5 ms\nx\n");
}
