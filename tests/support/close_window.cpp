// Closes a window as the window manager's close button does: a
// WM_PROTOCOLS / WM_DELETE_WINDOW client message to the window whose id is
// the only argument (decimal or 0x-hex, as xdotool prints it).
// Status 0 when the message was sent, 1 on a bad argument, 2 without display.
#include <X11/Xlib.h>

#include <cstdlib>
#include <cstring>

namespace {

bool parse_window(const char* text, Window& w) {
    char* end = nullptr;
    const unsigned long id = std::strtoul(text, &end, 0);
    if (end == text || *end != '\0' || id == 0) return false;
    w = static_cast<Window>(id);
    return true;
}

void send_delete(Display* d, Window w) {
    XEvent e;
    std::memset(&e, 0, sizeof e);
    e.xclient.type = ClientMessage;
    e.xclient.window = w;
    e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
    e.xclient.data.l[1] = CurrentTime;
    XSendEvent(d, w, False, NoEventMask, &e);
    XSync(d, False);
}

}  // namespace

int main(int argc, char** argv) {
    Window w = 0;
    if (argc != 2 || !parse_window(argv[1], w)) return 1;
    Display* d = XOpenDisplay(nullptr);
    if (d == nullptr) return 2;
    send_delete(d, w);
    XCloseDisplay(d);
    return 0;
}
