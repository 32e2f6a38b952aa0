#include "app/interrupts.hpp"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include <lumo/details/file/staged_file.hpp>

namespace lumo::zarn {

namespace {

// The signals whose default action ends the process and that a run meets:
// from the terminal, from kill and timeout, from a closed output pipe, from
// resource limits, and an aborting assertion.
constexpr int ending_signals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE, SIGXCPU, SIGXFSZ, SIGABRT};

std::atomic<pid_t> running_program{0};

// Async-signal-safe throughout. The program is ended and reaped before the
// folders go, so that it cannot write into one being removed.
extern "C" void end_run(int signal_number) {
    const pid_t group = running_program.exchange(0);
    if (group > 0) {
        ::kill(-group, SIGKILL);
        while (::waitpid(group, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    lumo::remove_private_folders();
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    sigemptyset(&default_action.sa_mask);
    ::sigaction(signal_number, &default_action, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal_number);
    ::sigprocmask(SIG_UNBLOCK, &only, nullptr);
    ::raise(signal_number);
    ::_exit(128 + signal_number);  // a default action that does not end the process
}

}  // namespace

void clean_up_on_ending_signals() {
    struct sigaction action {};
    action.sa_handler = end_run;
    sigemptyset(&action.sa_mask);
    // No second ending signal interrupts the clean-up.
    for (int s : ending_signals) sigaddset(&action.sa_mask, s);
    for (int s : ending_signals) {
        struct sigaction old {};
        if (::sigaction(s, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) continue;
        ::sigaction(s, &action, nullptr);
    }
}

void set_running_program(pid_t group) { running_program.store(group); }

}  // namespace lumo::zarn
