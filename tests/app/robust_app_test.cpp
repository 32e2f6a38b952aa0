// A program's error output collected, and the line state of standard output.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "app/console.hpp"
#include "app/files.hpp"
#include "app/program.hpp"
#include "app/test_support.hpp"

using namespace lumo::zarn;
using zarn_test::temp_folder;
using zarn_test::touch;

namespace {

// The test's current folder and PATH, set for one scope.
class folder_and_path {
public:
    folder_and_path(const temp_folder& t, const std::string& path) {
        if (!getcwd(old_, sizeof old_) || chdir(t.path().c_str()) != 0) ADD_FAILURE() << "chdir";
        const char* p = std::getenv("PATH");
        had_path_ = p != nullptr;
        if (p) saved_ = p;
        setenv("PATH", path.c_str(), 1);
    }
    ~folder_and_path() {
        if (had_path_)
            setenv("PATH", saved_.c_str(), 1);
        else
            unsetenv("PATH");
        if (chdir(old_) != 0) ADD_FAILURE() << "cannot return to " << old_;
    }
    folder_and_path(const folder_and_path&) = delete;
    folder_and_path& operator=(const folder_and_path&) = delete;

private:
    char old_[4096] = {};
    bool had_path_ = false;
    std::string saved_;
};

program_outcome run_in(const temp_folder& t, const std::string& path,
                       const std::vector<std::string>& arguments) {
    const folder_and_path scope(t, path);
    return run_program_collecting_errors(arguments);
}

void script(const std::string& path, const std::string& text, mode_t mode = 0755) {
    touch(path, text);
    ASSERT_EQ(chmod(path.c_str(), mode), 0);
}

}  // namespace

TEST(ProgramRun, StandardErrorIsCollectedAndArgumentsArriveAsTheyAre) {
    temp_folder t;
    const std::string awkward = "a b 'c' \"d\" $HOME;e*";
    program_outcome r =
        run_in(t, "/usr/bin:/bin", {"sh", "-c", "echo out; printf '%s|' \"$@\" >&2; exit 4", "sh", awkward, ""});
    EXPECT_FALSE(r.success);
    EXPECT_TRUE(r.found);
    EXPECT_EQ(r.errors, awkward + "||");

    r = run_in(t, "/usr/bin:/bin", {"true"});
    EXPECT_TRUE(r.success);
    EXPECT_EQ(r.errors, "");

    // Found neither on the path nor in the current folder.
    r = run_in(t, "/usr/bin:/bin", {"zarn_no_such_program_anywhere", "-x"});
    EXPECT_FALSE(r.success);
    EXPECT_FALSE(r.found);
    EXPECT_EQ(r.errors, "");
}

TEST(ProgramRun, TheCurrentFolderOnlyWhenThePathHasNoFileOfThatName) {
    temp_folder t;
    script(t / "zarn_tool", "#!/bin/sh\necho \"ran: $1\" >> ran.log\necho \"failed: $1\" >&2\nexit 2\n");
    program_outcome r = run_in(t, "/usr/bin:/bin", {"zarn_tool", "a b"});
    EXPECT_FALSE(r.success);
    EXPECT_TRUE(r.found);
    EXPECT_EQ(r.errors, "failed: a b\n");
    EXPECT_EQ(zarn_test::read_file(t / "ran.log"), "ran: a b\n");
    ASSERT_EQ(unlink((t / "ran.log").c_str()), 0);

    // On the path: one that fails, one that ends as a missing library makes a
    // program end (127), one that may not be run, one whose interpreter is
    // missing. None lets the one of the current folder run.
    ASSERT_EQ(mkdir((t / "bin").c_str(), 0755), 0);
    const std::string path = t / "bin:/usr/bin:/bin";
    const struct {
        std::string text;
        mode_t mode;
        std::string errors;
    } cases[] = {
        {"#!/bin/sh\necho 'failed on the path' >&2\nexit 1\n", 0755, "failed on the path\n"},
        {"#!/bin/sh\necho 'libmissing.so: cannot open' >&2\nexit 127\n", 0755, "libmissing.so: cannot open\n"},
        {"#!/bin/sh\nexit 0\n", 0644, "zarn_tool: Permission denied\n"},
        {"#!/no/such/interpreter\n", 0755, "zarn_tool: No such file or directory\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        script(t / "bin/zarn_tool", c.text, c.mode);
        r = run_in(t, path, {"zarn_tool"});
        EXPECT_FALSE(r.success);
        EXPECT_TRUE(r.found);
        EXPECT_EQ(r.errors, c.errors);
        EXPECT_FALSE(zarn_test::exists(t / "ran.log"));
    }
}

// A file of the name in a folder of the path, as execvp looks: an empty entry
// is the current folder; a folder of that name is no file.
TEST(ProgramRun, SearchPathAsExecvpSeesIt) {
    temp_folder t;
    touch(t / "zarn_tool", "not even executable\n");
    ASSERT_EQ(mkdir((t / "bin").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((t / "bin/zarn_dir").c_str(), 0755), 0);
    ASSERT_EQ(symlink("nowhere", (t / "bin/zarn_dangling").c_str()), 0);
    {
        const folder_and_path scope(t, "/usr/bin:bin");
        EXPECT_FALSE(on_search_path("zarn_tool"));
        EXPECT_FALSE(on_search_path("zarn_dir"));
        EXPECT_TRUE(on_search_path("zarn_dangling"));
        EXPECT_TRUE(on_search_path("sh") || on_search_path("true"));
    }
    for (const std::string path : {"/usr/bin::/bin", ":/usr/bin", "/usr/bin:"}) {
        const folder_and_path scope(t, path);
        EXPECT_TRUE(on_search_path("zarn_tool")) << path;
        EXPECT_FALSE(on_search_path("./zarn_tool")) << path;
    }
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
