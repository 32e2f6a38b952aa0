// The shell against odd programs and outputs: a program's error output
// collected, the line state of standard output, and repeated output names.
#include <gtest/gtest.h>

#include <unistd.h>

#include <iostream>
#include <sstream>
#include <string>

#include "app/application.hpp"
#include "app/console.hpp"
#include "app/files.hpp"
#include "app/test_support.hpp"

using namespace lumo::zarn;
using zarn_test::temp_folder;
using zarn_test::touch;

namespace {

// Captures what a piece of code writes to std::cerr.
class cerr_capture {
public:
    cerr_capture() : old_(std::cerr.rdbuf(buffer_.rdbuf())) {}
    ~cerr_capture() { std::cerr.rdbuf(old_); }
    std::string text() const { return buffer_.str(); }

private:
    std::ostringstream buffer_;
    std::streambuf* old_;
};

}  // namespace

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

TEST(RepeatedOutputs, EachRepeatedPathIsWarnedOnce) {
    application app;
    cerr_capture err;
    app.note_output("./x_dist.png");
    app.note_output("./x_feat.txt");
    EXPECT_EQ(err.text(), "");
    app.note_output("./x_dist.png");
    app.note_output("./x_dist.png");
    app.note_output("./X_dist.png");
    EXPECT_EQ(err.text(), "Warning: output file ./x_dist.png is written more than once!\n");
}
