// Windows are shown in forked children, so that a window that never closes
// fails the test at a deadline instead of hanging it, and so that the GUI
// toolkit never starts in the test process itself.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <string>
#include <thread>

#include <lumo/details/image/bridge.hpp>

namespace {

using clock_type = std::chrono::steady_clock;

// Runs body in a child process that exits with status 0 after it.
pid_t spawn(const std::function<void()>& body) {
    std::fflush(nullptr);
    std::cout.flush();
    const pid_t pid = fork();
    if (pid == 0) {
        body();
        _exit(0);
    }
    return pid;
}

// xdotool searching for the visible window, and pressing space in it when
// press is set. Its output is dropped: failures are retried and reported by
// the test itself.
pid_t spawn_xdotool(const std::string& title_pattern, bool press) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        if (press)
            execlp("xdotool", "xdotool", "search", "--sync", "--onlyvisible", "--name", title_pattern.c_str(),
                   "windowfocus", "--sync", "key", "space", static_cast<char*>(nullptr));
        else
            execlp("xdotool", "xdotool", "search", "--sync", "--onlyvisible", "--name", title_pattern.c_str(),
                   static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

// The child's wait status, or -1 when it has not ended by the deadline (it is
// killed then).
int wait_until(pid_t pid, clock_type::time_point deadline) {
    int status = 0;
    while (clock_type::now() < deadline) {
        if (waitpid(pid, &status, WNOHANG) == pid) return status;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

// Without reaping it, so that its status can still be collected.
bool still_running(pid_t pid) {
    siginfo_t info{};
    waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
    return info.si_pid == 0;
}

void end_child(pid_t pid) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

// Searches until the shower's window is visible; false when the shower ends
// first or the deadline passes. The X server resets when its last client
// leaves, and a search that starts meanwhile cannot connect: it is retried.
bool window_appears(pid_t shower, const std::string& title_pattern, clock_type::time_point deadline) {
    while (clock_type::now() < deadline && still_running(shower)) {
        const pid_t search = spawn_xdotool(title_pattern, false);
        int status = 0;
        while (waitpid(search, &status, WNOHANG) != search) {
            if (clock_type::now() >= deadline || !still_running(shower)) {
                end_child(search);
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
    }
    return false;
}

// Shows a window in a child, checks that it waits, then presses space in it
// until the child ends. Empty when the show call returned after the key and
// the child exited normally; otherwise what went wrong.
std::string closes_on_key(const std::function<void()>& show, const std::string& title_pattern) {
    const auto deadline = clock_type::now() + std::chrono::seconds(30);
    const pid_t shower = spawn(show);
    std::string failure;
    const bool found = window_appears(shower, title_pattern, deadline);
    if (!still_running(shower)) {
        failure = "the show returned before any key";
    } else if (!found) {
        failure = "no window titled " + title_pattern;
    } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        if (!still_running(shower)) failure = "the show returned before any key";
    }
    if (!failure.empty()) {
        end_child(shower);
        return failure;
    }
    pid_t presser = spawn_xdotool(title_pattern, true);
    int status = -1;
    while (clock_type::now() < deadline) {
        if (waitpid(shower, &status, WNOHANG) == shower) break;
        status = -1;
        int ps = 0;
        // A press that raced the window's focus is simply retried.
        if (waitpid(presser, &ps, WNOHANG) == presser) presser = spawn_xdotool(title_pattern, true);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (status == -1) {
        end_child(shower);
        failure = "the window did not close on a key";
    } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        failure = "the showing process failed";
    }
    end_child(presser);
    return failure;
}

#define REQUIRE_DISPLAY()                                                  \
    if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "no DISPLAY set"

lumo::image<unsigned char> small_image() {
    lumo::image<unsigned char> im(16, 24, 3);
    for (size_t i = 0; i < im.length(); ++i) im[i] = static_cast<unsigned char>(i);
    return im;
}

TEST(View, ShowImageReturnsAfterAKey) {
    REQUIRE_DISPLAY();
    EXPECT_EQ(closes_on_key([] { lumo::show_image(small_image(), "view test"); }, "^view test$"), "");
}

TEST(View, EveryWindowKindClosesOnAKey) {
    REQUIRE_DISPLAY();
    EXPECT_EQ(closes_on_key(
        [] { lumo::show_image_titled(small_image(), "a.png", "x"); }, "^a\\.png \\[x\\] -- zarn$"), "");
    EXPECT_EQ(closes_on_key(
        [] {
            lumo::image<double> im;
            im.resize(10, 10, 1, 0.5);
            lumo::show_image(im, "view real");
        },
        "^view real$"),
        "");
    EXPECT_EQ(closes_on_key(
        [] {
            lumo::array_2d<unsigned char> a(5, 7);
            a.fill(200);
            lumo::show_array(a, "view array");
        },
        "^view array$"),
        "");
    EXPECT_EQ(closes_on_key(
        [] {
            lumo::array_2d<bool> b(6, 4);
            b.fill(true);
            b[3] = false;
            lumo::bool_to_image(b, "view mask");
        },
        "^view mask$"),
        "");
}

TEST(View, AnImageOpenCvCannotShowReturnsWithoutAKey) {
    REQUIRE_DISPLAY();
    const pid_t pid = spawn([] { lumo::show_image(lumo::image<unsigned char>(0, 0, 1), "view empty"); });
    const int status = wait_until(pid, clock_type::now() + std::chrono::seconds(30));
    ASSERT_NE(status, -1) << "the window waited for a key";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(View, WithoutADisplayTheProgramSaysSoAndExits) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t pid = spawn([&] {
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
        close(fds[1]);
        unsetenv("DISPLAY");
        lumo::show_image(small_image(), "view none");
        lumo::show_image(small_image(), "view none");
        _exit(3);  // not reached: the first window ends the process
    });
    close(fds[1]);
    std::string out;
    char buf[256];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    const int status = wait_until(pid, clock_type::now() + std::chrono::seconds(30));
    ASSERT_NE(status, -1);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(out, "Cannot open display: windows cannot be shown!\n");
}

}  // namespace
