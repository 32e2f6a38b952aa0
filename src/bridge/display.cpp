// Kept apart from the OpenCV sources: Xlib's macros clash with their names.
#include "display.hpp"

#include <cstdlib>
#include <iostream>

#include <X11/Xlib.h>

namespace lumo::bridge {

void require_display() {
    static bool checked = false;
    if (checked) return;
    Display* d = XOpenDisplay(nullptr);
    if (d == nullptr) {
        std::cout << "Cannot open display: windows cannot be shown!" << std::endl;
        std::exit(1);
    }
    XCloseDisplay(d);
    checked = true;
}

}  // namespace lumo::bridge
