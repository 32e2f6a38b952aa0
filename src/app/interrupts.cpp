#include "app/interrupts.hpp"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include <lumo/details/file/staged_file.hpp>

namespace lumo::zarn {

namespace {

// The signals whose default action ends the process: from the terminal,
// from kill and timeout (whichever signal they are given), from a closed
// output pipe, from resource limits, and an aborting assertion; the
// real-time signals too. The faults of a broken program (SIGSEGV, SIGBUS,
// SIGFPE, SIGILL) keep their default action, and the sanitizers' handlers.
constexpr int ending_signals[] = {SIGHUP,  SIGINT,  SIGQUIT,   SIGTERM, SIGPIPE,   SIGXCPU, SIGXFSZ,
                                  SIGABRT, SIGALRM, SIGUSR1,   SIGUSR2, SIGVTALRM, SIGPROF, SIGIO,
                                  SIGPWR,  SIGTRAP, SIGSTKFLT, SIGSYS};

// Calls f(s) for every signal whose default action ends the process.
template <typename F>
void for_each_ending_signal(F&& f) {
    for (int s : ending_signals) f(s);
    for (int s = SIGRTMIN; s <= SIGRTMAX; ++s) f(s);
}

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
    for_each_ending_signal([&](int s) { sigaddset(&action.sa_mask, s); });
    for_each_ending_signal([&](int s) {
        struct sigaction old {};
        if (::sigaction(s, nullptr, &old) != 0 || old.sa_handler != SIG_DFL) return;
        ::sigaction(s, &action, nullptr);
    });
}

void set_running_program(pid_t group) { running_program.store(group); }

}  // namespace lumo::zarn
