// A program's error output collected, and the line state of standard output.
#include <gtest/gtest.h>

#include <unistd.h>

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
