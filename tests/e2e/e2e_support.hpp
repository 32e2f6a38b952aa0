// What the end-to-end tests share: the built binary run in a temporary
// folder with its standard error kept apart, the repository's pictures
// copied in, pictures read back and compared, and lines found in the output.
#ifndef ZARN_TESTS_E2E_E2E_SUPPORT_HPP
#define ZARN_TESTS_E2E_E2E_SUPPORT_HPP

#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/test_support.hpp"

namespace zarn_test {

// A run of the binary: its status and standard output, and its standard
// error.
struct binary_run : run_result {
    std::string err;
};

// Runs `<prefix> zarn <args>` inside the folder (the prefix sets the
// environment or limits). Standard error passes through a file outside the
// folder, so that no pattern of the run can match it.
inline binary_run run_zarn(const temp_folder& t, const std::string& args,
                           const std::string& prefix = "") {
    char err[] = "/tmp/zarn_stderr_XXXXXX";
    const int fd = ::mkstemp(err);
    if (fd < 0) throw std::runtime_error("mkstemp failed");
    ::close(fd);
    binary_run r;
    static_cast<run_result&>(r) = run("(cd " + quote(t.path()) + " && " + prefix + " " +
                                      quote(ZARN_BINARY) + " " + args + " 2> " + quote(err) + ")");
    r.err = read_file(err);
    ::unlink(err);
    return r;
}

// A run stopped right after the rename of its first commit, before it looks
// at what the output name holds: stopped says whether it was.
struct stopped_run : binary_run {
    bool stopped = false;
};

// Whether strace can trace here.
inline bool can_trace() { return run("strace -o /dev/null true").status == 0; }

// Runs `<environment> zarn <args>` inside the folder, traced by strace,
// which stops it with SIGSTOP right after its first renameat (the rename of
// its first commit). Then while_stopped() runs, and the run goes on. A run
// that ends without stopping is not waited for: while_stopped() runs after
// it, and stopped is false.
template <typename F>
stopped_run run_stopped_after_rename(const temp_folder& t, const std::string& args,
                                     const std::string& environment, F&& while_stopped) {
    temp_folder logs;
    const std::string trace = logs / "trace", out = logs / "out", err = logs / "err";
    // The leak checker of a sanitizer build cannot run under ptrace.
    const std::string command = "cd " + quote(t.path()) + " && exec env " + environment +
                                " ASAN_OPTIONS=detect_leaks=0 strace -o " + quote(trace) +
                                " -e trace=renameat -e inject=renameat:signal=SIGSTOP:when=1 " +
                                quote(ZARN_BINARY) + " " + args + " > " + quote(out) + " 2> " + quote(err);
    stopped_run r;
    const pid_t strace = ::fork();
    if (strace < 0) throw std::runtime_error("fork failed");
    if (strace == 0) {
        ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // strace says so once the stop has come; a run that ends first ends the
    // wait.
    int status = 0;
    bool ended = false;
    while (!(ended = ::waitpid(strace, &status, WNOHANG) == strace) &&
           read_file(trace).find("--- stopped by SIGSTOP ---") == std::string::npos)
        ::usleep(10000);
    r.stopped = !ended;
    while_stopped();
    if (r.stopped) {
        const std::string id = std::to_string(strace);
        const std::string children = read_file("/proc/" + id + "/task/" + id + "/children");
        if (!children.empty()) ::kill(static_cast<pid_t>(std::stoi(children)), SIGCONT);
        ::waitpid(strace, &status, 0);
    }
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = read_file(out);
    r.err = read_file(err);
    return r;
}

// A copy of a picture of the repository's data folder.
inline void copy_data(const std::string& name, const std::string& to) {
    ASSERT_EQ(run("cp " + quote(std::string(ZARN_DATA_DIR) + "/" + name) + " " + quote(to)).status, 0);
}

inline cv::Mat read_picture(const std::string& path) { return cv::imread(path, cv::IMREAD_UNCHANGED); }

// Both files read as pictures of the same size and pixels.
inline bool same_picture(const std::string& a, const std::string& b) {
    const cv::Mat x = read_picture(a), y = read_picture(b);
    return !x.empty() && x.size() == y.size() && cv::norm(x, y, cv::NORM_INF) == 0;
}

// A shell script that may be run.
inline void executable(const std::string& path, const std::string& script) {
    touch(path, script);
    ASSERT_EQ(::chmod(path.c_str(), 0755), 0);
}

// Every entry of the folder, hidden ones included, sorted.
inline std::vector<std::string> listing(const std::string& folder) {
    std::vector<std::string> names = lines_of(run("ls -A " + quote(folder)).out);
    std::sort(names.begin(), names.end());
    return names;
}

// Runs zarn as a user who owns none of the test's files, so that
// permissions hold (the tests run as root); only root can, with setpriv.
inline const std::string as_nobody = "setpriv --reuid=nobody --regid=nogroup --clear-groups";

inline bool running_as_root() { return run("id -u").out == "0\n"; }

inline bool can_run_as_nobody() { return running_as_root() && run("command -v setpriv").status == 0; }

// PATH with the folder of the built qev first, for the shell that runs it.
inline std::string qev_on_path() {
    const std::string qev = ZARN_QEV_BINARY;
    return "PATH=" + quote(qev.substr(0, qev.rfind('/'))) + ":/usr/bin:/bin";
}

// A corner of coins.png: quick to compute, with a few features.
inline void small_picture(const std::string& to) {
    const cv::Mat coins = read_picture(std::string(ZARN_DATA_DIR) + "/coins.png");
    ASSERT_FALSE(coins.empty());
    ASSERT_TRUE(cv::imwrite(to, coins(cv::Rect(0, 0, 120, 100)).clone()));
}

// Black and white squares of the given side, black at the top left.
inline cv::Mat checkerboard(int rows, int cols, int square) {
    cv::Mat m(rows, cols, CV_8UC1);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c)
            m.at<unsigned char>(r, c) = (r / square + c / square) % 2 ? 255 : 0;
    return m;
}

inline bool matches(const std::string& s, const std::string& pattern) {
    return std::regex_match(s, std::regex(pattern));
}

// The first line from `from` on that starts with the text, or the line count.
inline size_t index_of(const std::vector<std::string>& lines, const std::string& start,
                       size_t from = 0) {
    for (size_t i = from; i < lines.size(); ++i)
        if (lines[i].compare(0, start.size(), start) == 0) return i;
    return lines.size();
}

}  // namespace zarn_test

#endif
