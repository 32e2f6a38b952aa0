// The X display check made before the first window of the process.
#ifndef ZARN_BRIDGE_DISPLAY_HPP
#define ZARN_BRIDGE_DISPLAY_HPP

namespace lumo::bridge {

// Without a display the GUI toolkit would abort the process: say so on
// standard output and exit with status 1 instead. Checked once per process.
void require_display();

}  // namespace lumo::bridge

#endif
