// Helpers of the application tests: a temporary folder removed afterwards,
// small file makers, and running a shell command for its output and status.
#ifndef ZARN_TESTS_APP_TEST_SUPPORT_HPP
#define ZARN_TESTS_APP_TEST_SUPPORT_HPP

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace zarn_test {

class temp_folder {
public:
    temp_folder() {
        char name[] = "/tmp/zarn_app_XXXXXX";
        if (!mkdtemp(name)) throw std::runtime_error("mkdtemp failed");
        path_ = name;
    }
    ~temp_folder() {
        const std::string cmd = "rm -rf '" + path_ + "'";
        if (std::system(cmd.c_str()) != 0) std::perror("rm");
    }
    temp_folder(const temp_folder&) = delete;
    temp_folder& operator=(const temp_folder&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& rel) const { return path_ + "/" + rel; }

private:
    std::string path_;
};

inline void touch(const std::string& path, const std::string& content = "x") {
    std::ofstream(path) << content;
}

inline void make_folder(const std::string& path) { ::mkdir(path.c_str(), 0755); }

inline bool exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

struct run_result {
    std::string out;
    int status = -1;
};

// Runs the command through the shell; stdout captured, stderr dropped.
inline run_result run(const std::string& command) {
    run_result r;
    FILE* p = ::popen((command + " 2>/dev/null").c_str(), "r");
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    const int st = ::pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

inline std::string quote(const std::string& s) { return "'" + s + "'"; }

// Whether the process exists and has not ended (a zombie has).
inline bool still_running(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return false;
    const std::string::size_type close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z';
}

// Whether the process ends, polled for up to 20 s: one that was sent
// SIGKILL ends at once, one that was left alone runs far longer.
inline bool ends(pid_t pid) {
    for (int k = 0; k < 2000; ++k) {
        if (!still_running(pid)) return true;
        ::usleep(10000);
    }
    return false;
}

// The whole file; empty when it cannot be read.
inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// argv of the parser: the program name, then the arguments.
class argv_list {
public:
    argv_list(std::initializer_list<std::string> args) : strings_{"zarn"} {
        strings_.insert(strings_.end(), args.begin(), args.end());
        for (auto& s : strings_) pointers_.push_back(s.data());
        pointers_.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(strings_.size()); }
    char** argv() { return pointers_.data(); }

private:
    std::vector<std::string> strings_;
    std::vector<char*> pointers_;
};

// Milliseconds as the program prints them, in either number format.
inline const std::string ms_pattern = "[0-9]+(\\.[0-9]+)?(e[+-][0-9]+)? ms";

inline std::vector<std::string> lines_of(const std::string& s) {
    std::vector<std::string> lines;
    std::string line;
    for (char c : s) {
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
        } else {
            line += c;
        }
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

}  // namespace zarn_test

#endif
