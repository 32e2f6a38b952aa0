// A program's error output collected, and the line state of standard output.
#include <gtest/gtest.h>

#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
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

    // Found neither on the path nor in the current folder: said as a shell
    // says it.
    r = run_in(t, "/usr/bin:/bin", {"zarn_no_such_program_anywhere", "-x"});
    EXPECT_FALSE(r.success);
    EXPECT_FALSE(r.found);
    EXPECT_EQ(r.errors, "zarn_no_such_program_anywhere: not found on PATH nor in the current folder\n");

    // Named by a path that is not there.
    r = run_in(t, "/usr/bin:/bin", {"./zarn_no_such_program", "-x"});
    EXPECT_FALSE(r.success);
    EXPECT_FALSE(r.found);
    EXPECT_EQ(r.errors, "./zarn_no_such_program: No such file or directory\n");
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

    // The one of the current folder is there, but its interpreter is not:
    // found, and the reason is the start's.
    ASSERT_EQ(unlink((t / "bin/zarn_tool").c_str()), 0);
    script(t / "zarn_tool", "#!/no/such/interpreter\n");
    r = run_in(t, path, {"zarn_tool"});
    EXPECT_FALSE(r.success);
    EXPECT_TRUE(r.found);
    EXPECT_EQ(r.errors, "./zarn_tool: No such file or directory\n");
}

namespace {

// The start of the leftover-child tests' commands: two background sleeps
// that keep the error pipe open, one in the program's process group (its
// pid added to sleep.pid) and one that has left it (setsid, its pid added
// to setsid.pid once it has).
const std::string leave_children =
    "sleep 30 & echo $! >> sleep.pid; setsid sh -c 'echo $$ >> setsid.pid; exec sleep 30' &"
    " until [ -s setsid.pid ]; do :; done; ";
const std::vector<std::string> leaving_children = {"sh", "-c", leave_children + "echo x >&2"};

// Ends the sleeps that the commands left; true when the one of the
// program's group was ended with the program and the one that left the
// group still ran, that is, the run did not wait for it.
bool end_leftovers(const temp_folder& t) {
    bool as_expected = true;
    for (const std::string& pid : zarn_test::lines_of(zarn_test::read_file(t / "sleep.pid"))) {
        as_expected = zarn_test::ends(std::stoi(pid)) && as_expected;
        ::kill(std::stoi(pid), SIGKILL);
    }
    for (const std::string& pid : zarn_test::lines_of(zarn_test::read_file(t / "setsid.pid"))) {
        as_expected = zarn_test::still_running(std::stoi(pid)) && as_expected;
        ::kill(std::stoi(pid), SIGKILL);
    }
    return as_expected;
}

}  // namespace

// Children that the program leaves behind hold its standard error open:
// the run ends with the program all the same, with what it wrote, even
// beyond a pipe's capacity. The child in the program's process group is
// ended with it; one that has left the group is not waited for.
TEST(ProgramRun, ALeftoverChildDoesNotHoldTheRun) {
    temp_folder t;
    program_outcome r = run_in(t, "/usr/bin:/bin", leaving_children);
    EXPECT_TRUE(end_leftovers(t)) << "the children were not ended, or waited for";
    EXPECT_TRUE(r.success);
    EXPECT_EQ(r.errors, "x\n");

    ::unlink((t / "sleep.pid").c_str());
    ::unlink((t / "setsid.pid").c_str());
    r = run_in(t, "/usr/bin:/bin",
               {"sh", "-c", leave_children + "head -c 300000 /dev/zero | tr '\\0' e >&2; printf end >&2; exit 5"});
    EXPECT_TRUE(end_leftovers(t)) << "the children were not ended, or waited for";
    EXPECT_FALSE(r.success);
    EXPECT_EQ(r.errors, std::string(300000, 'e') + "end");
}

// Where pidfd_open fails (ENOSYS of an old kernel, forced here by a seccomp
// filter in a child process), the end of the program is still seen.
TEST(ProgramRun, ALeftoverChildDoesNotHoldTheRunWithoutPidfds) {
#if defined(__x86_64__)
    const unsigned arch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
    const unsigned arch = AUDIT_ARCH_AARCH64;
#else
    GTEST_SKIP() << "no seccomp architecture for this test";
    const unsigned arch = 0;
#endif
    temp_folder t;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        sock_filter filter[] = {
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, arch, 1, 0),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_pidfd_open, 0, 1),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        };
        sock_fprog program = {static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
        if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
            _exit(77);
        if (syscall(__NR_pidfd_open, getpid(), 0) >= 0 || errno != ENOSYS) _exit(78);
        const program_outcome r = run_in(t, "/usr/bin:/bin", leaving_children);
        _exit(r.success && r.errors == "x\n" ? 0 : 1);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    const bool as_expected = end_leftovers(t);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77) GTEST_SKIP() << "no seccomp filter here";
    EXPECT_TRUE(as_expected) << "the children were not ended, or waited for";
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
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
