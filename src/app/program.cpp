#include "app/program.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <lumo/details/file/staged_file.hpp>

#include "app/interrupts.hpp"

extern char** environ;

namespace lumo::zarn {

namespace {

const std::string current_prefix = "./";

// The folders that execvp searches, in order.
std::string search_path() {
    if (const char* path = std::getenv("PATH")) return path;
    const size_t n = ::confstr(_CS_PATH, nullptr, 0);
    if (n == 0) return "/bin:/usr/bin";
    std::string path(n, '\0');
    ::confstr(_CS_PATH, path.data(), n);
    path.resize(n - 1);
    return path;
}

// An entry of that name that is not a folder; a dangling link counts, since
// starting it fails rather than finds nothing.
bool file_entry(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) return !S_ISDIR(st.st_mode);
    return ::lstat(path.c_str(), &st) == 0;
}

// Closes a descriptor when it goes out of scope.
class descriptor {
public:
    explicit descriptor(int fd = -1) : fd_(fd) {}
    ~descriptor() { reset(); }
    descriptor(const descriptor&) = delete;
    descriptor& operator=(const descriptor&) = delete;
    int get() const { return fd_; }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

// What the new process starts with: standard output to /dev/null, standard
// error into the pipe, a process group of its own and the signal mask of the
// run before its signals were blocked.
class spawn_setup {
public:
    spawn_setup(int error_pipe, const sigset_t& mask) {
        ::posix_spawn_file_actions_init(&actions_);
        ::posix_spawnattr_init(&attributes_);
        ::posix_spawn_file_actions_addopen(&actions_, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        ::posix_spawn_file_actions_adddup2(&actions_, error_pipe, STDERR_FILENO);
        ::posix_spawnattr_setpgroup(&attributes_, 0);
        ::posix_spawnattr_setsigmask(&attributes_, &mask);
        ::posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);
    }
    ~spawn_setup() {
        ::posix_spawnattr_destroy(&attributes_);
        ::posix_spawn_file_actions_destroy(&actions_);
    }
    spawn_setup(const spawn_setup&) = delete;
    spawn_setup& operator=(const spawn_setup&) = delete;

    const posix_spawn_file_actions_t* actions() const { return &actions_; }
    const posix_spawnattr_t* attributes() const { return &attributes_; }

private:
    posix_spawn_file_actions_t actions_;
    posix_spawnattr_t attributes_;
};

// Starts the program (searched on PATH when search is set), its process
// group known to the signal handlers before any signal can be taken.
// Returns 0 or the error that kept it from starting.
int start(const std::string& program, const std::vector<std::string>& arguments, bool search,
          int error_pipe, pid_t& pid) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (size_t k = 1; k < arguments.size(); ++k) argv.push_back(const_cast<char*>(arguments[k].c_str()));
    argv.push_back(nullptr);
    const lumo::staging::signal_block block;
    const spawn_setup setup(error_pipe, block.previous());
    const int error = search ? ::posix_spawnp(&pid, program.c_str(), setup.actions(), setup.attributes(),
                                              argv.data(), environ)
                             : ::posix_spawn(&pid, program.c_str(), setup.actions(), setup.attributes(),
                                             argv.data(), environ);
    if (error == 0) set_running_program(pid);
    return error;
}

void collect(int fd, std::string& errors) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            errors.append(buffer, static_cast<size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            return;
        }
    }
}

// The wait status of the ended program; -1 when it cannot be waited for.
int wait_for(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            status = -1;
            break;
        }
    }
    set_running_program(0);
    return status;
}

// One run of the program. A program searched for lies on PATH; one named by
// its path that is not there (ENOENT at the start) is not found.
program_outcome run_once(const std::string& program, const std::vector<std::string>& arguments,
                         bool search) {
    program_outcome outcome;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        outcome.found = true;
        outcome.errors = program + ": " + std::strerror(errno) + "\n";
        return outcome;
    }
    descriptor reader(fds[0]), writer(fds[1]);
    pid_t pid = 0;
    const int error = start(program, arguments, search, writer.get(), pid);
    writer.reset();
    if (error != 0) {
        outcome.found = search || error != ENOENT;
        if (outcome.found) outcome.errors = program + ": " + std::strerror(error) + "\n";
        return outcome;
    }
    outcome.found = true;
    collect(reader.get(), outcome.errors);
    outcome.success = wait_for(pid) == 0;
    return outcome;
}

}  // namespace

bool on_search_path(const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos) return false;
    const std::string path = search_path();
    for (std::string::size_type from = 0;;) {
        const std::string::size_type colon = path.find(':', from);
        const std::string folder = path.substr(from, colon == std::string::npos ? colon : colon - from);
        if (file_entry((folder.empty() ? current_prefix : folder + "/") + name)) return true;
        if (colon == std::string::npos) return false;
        from = colon + 1;
    }
}

program_outcome run_program_collecting_errors(const std::vector<std::string>& arguments) {
    if (arguments.empty()) return {};
    const std::string& name = arguments[0];
    if (name.find('/') != std::string::npos) return run_once(name, arguments, false);
    if (on_search_path(name)) return run_once(name, arguments, true);
    return run_once(current_prefix + name, arguments, false);
}

}  // namespace lumo::zarn
