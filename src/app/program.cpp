#include "app/program.hpp"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <signal.h>
#include <sys/syscall.h>

#include <algorithm>
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

// Appends what the pipe holds now, at most limit bytes, without waiting:
// the reader is non-blocking. The limit keeps a writer as fast as the
// reader from holding the caller. True when the pipe is at its end (no
// writer left) or cannot be read any more.
bool take_available(int fd, std::string& errors, size_t limit) {
    char buffer[4096];
    for (size_t taken = 0; taken < limit;) {
        const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, limit - taken));
        if (n > 0) {
            errors.append(buffer, static_cast<size_t>(n));
            taken += static_cast<size_t>(n);
        } else if (n == 0 || errno != EINTR) {
            return n == 0 || errno != EAGAIN;
        }
    }
    return false;
}

// Whether the program has ended. It is not reaped (WNOWAIT): until
// end_and_reap reaps it, its process group stays the one an interrupt ends.
bool has_ended(pid_t pid) {
    for (;;) {
        siginfo_t info{};
        if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0)
            return info.si_pid != 0;
        if (errno != EINTR) return true;  // nothing to wait for
    }
}

// A descriptor that becomes readable when the process ends, or -1 (a kernel
// before 5.3). Called by its number: C libraries before 2.36 declare no
// pidfd_open.
int process_descriptor(pid_t pid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    return -1;
#endif
}

// Collects the program's standard error until the program itself ends, not
// until the pipe does: a child that the program leaves behind (a daemon, a
// "sleep &" of a script) may hold the pipe open long after, and is not
// waited for. The end is seen on a pidfd of the program, or, where the
// kernel gives none, by looking every 20 ms. What the pipe then holds is
// taken without waiting, and the pipe is closed.
void collect_until_end(pid_t pid, descriptor& reader, std::string& errors) {
    const int capacity = ::fcntl(reader.get(), F_GETPIPE_SZ);
    const size_t chunk = capacity > 0 ? static_cast<size_t>(capacity) : 65536;
    const descriptor process(process_descriptor(pid));
    const bool pidfd = process.get() >= 0;
    pollfd fds[2] = {{reader.get(), POLLIN, 0}, {process.get(), POLLIN, 0}};
    for (;;) {
        const int ready = ::poll(fds, pidfd ? 2 : 1, pidfd ? -1 : 20);
        if (ready < 0 && errno != EINTR) break;
        if (ready > 0 && fds[0].revents != 0 && take_available(reader.get(), errors, chunk)) break;
        if (pidfd ? ready > 0 && fds[1].revents != 0 : has_ended(pid)) {
            take_available(reader.get(), errors, chunk);
            break;
        }
    }
    reader.reset();
}

// The wait status of the program, once it has ended; -1 when it cannot be
// waited for. What it left running in its process group is ended then: a
// step that is over has no business writing on, least of all into the
// folder that is about to be removed. Until the program is reaped, its
// process group is the one an interrupt ends, and its id cannot be taken by
// another group; it is forgotten before the program is reaped.
int end_and_reap(pid_t pid) {
    siginfo_t info{};
    int ended;
    while ((ended = ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT)) != 0 && errno == EINTR) {
    }
    if (ended == 0) ::kill(-pid, SIGKILL);
    set_running_program(0);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return status;
}

// Why the program could not start, as a shell says it.
std::string start_failure(const std::string& program, int error) {
    return program + ": " + std::strerror(error) + "\n";
}

// One run of the program. A program searched for lies on PATH; one named by
// its path is not found when it cannot start (ENOENT) and no entry of that
// name is there (an entry whose interpreter is missing is found).
program_outcome run_once(const std::string& program, const std::vector<std::string>& arguments,
                         bool search) {
    program_outcome outcome;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        outcome.found = true;
        outcome.errors = start_failure(program, errno);
        return outcome;
    }
    descriptor reader(fds[0]), writer(fds[1]);
    // Only the reader waits for nothing; the program's standard error blocks.
    const int flags = ::fcntl(reader.get(), F_GETFL);
    if (flags < 0 || ::fcntl(reader.get(), F_SETFL, flags | O_NONBLOCK) != 0) {
        outcome.found = true;
        outcome.errors = start_failure(program, errno);
        return outcome;
    }
    pid_t pid = 0;
    const int error = start(program, arguments, search, writer.get(), pid);
    writer.reset();
    if (error != 0) {
        outcome.found = search || error != ENOENT || file_entry(program);
        outcome.errors = start_failure(program, error);
        return outcome;
    }
    outcome.found = true;
    collect_until_end(pid, reader, outcome.errors);
    outcome.success = end_and_reap(pid) == 0;
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
    program_outcome outcome = run_once(current_prefix + name, arguments, false);
    if (!outcome.found) outcome.errors = name + ": not found on PATH nor in the current folder\n";
    return outcome;
}

}  // namespace lumo::zarn
