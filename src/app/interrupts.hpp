// A signal that ends a run (Ctrl-C, SIGTERM, a hang-up, an exceeded file-size
// limit, ...) first ends the program the run waits for and removes what the
// run has staged in its output folders; the process then ends by that signal
// as it would have without the handler.
#ifndef ZARN_APP_INTERRUPTS_HPP
#define ZARN_APP_INTERRUPTS_HPP

#include <sys/types.h>

namespace lumo::zarn {

// Installs the handlers; a signal ignored when the process started (nohup),
// or handled already, keeps its disposition.
void clean_up_on_ending_signals();

// The process group of the program that the run waits for (its leader's
// pid), or 0 when it waits for none.
void set_running_program(pid_t group);

}  // namespace lumo::zarn

#endif
