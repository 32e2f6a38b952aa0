// Kept apart from the OpenCV sources: Xlib's macros clash with their names.
#include "display.hpp"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <iostream>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace lumo::bridge {

namespace {

// The watches' own connection, opened on first use (the display check
// before the first window) and kept for the process; without it (no display)
// no window is ever found.
struct own_connection {
    Display* display = nullptr;
    Atom net_wm_pid = None;
    Atom net_wm_name = None;
};

const own_connection& connection() {
    static const own_connection c = [] {
        own_connection c;
        c.display = XOpenDisplay(nullptr);
        if (c.display != nullptr) {
            c.net_wm_pid = XInternAtom(c.display, "_NET_WM_PID", False);
            c.net_wm_name = XInternAtom(c.display, "_NET_WM_NAME", False);
        }
        return c;
    }();
    return c;
}

bool x_error_seen = false;

int note_x_error(Display*, XErrorEvent*) {
    x_error_seen = true;
    return 0;
}

// Requests about windows of other clients fail when such a window is destroyed
// meanwhile (BadWindow), and Xlib's default handler would then end the process.
// The handler is process-wide and the toolkit may have its own, so this one
// only notes errors, and only around the connection's own requests, which are
// made synchronous before the previous handler is back.
class quiet_x_errors {
public:
    explicit quiet_x_errors(Display* d) : display_(d), previous_(XSetErrorHandler(&note_x_error)) {
        x_error_seen = false;
    }
    ~quiet_x_errors() {
        XSync(display_, False);
        XSetErrorHandler(previous_);
    }
    quiet_x_errors(const quiet_x_errors&) = delete;
    quiet_x_errors& operator=(const quiet_x_errors&) = delete;

    // Whether a request made so far in this scope failed.
    bool failed() const {
        XSync(display_, False);
        return x_error_seen;
    }

private:
    Display* display_;
    XErrorHandler previous_;
};

// The property holds exactly `text` as 8-bit data. One byte more than the text
// is asked for, so a longer value does not pass for it.
bool property_is(Display* d, Window w, Atom property, const char* text, std::size_t length) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    const long longs = static_cast<long>(length / 4 + 1);
    if (XGetWindowProperty(d, w, property, 0, longs, False, AnyPropertyType, &type, &format, &count, &after,
                           &data) != Success)
        return false;
    const bool same = data != nullptr && format == 8 && count == length && after == 0 &&
                      std::memcmp(data, text, length) == 0;
    if (data != nullptr) XFree(data);
    return same;
}

// Set by the toolkit on its toplevels: another process's window with the same
// title is never taken.
bool owned_by_this_process(const own_connection& c, Window w) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(c.display, w, c.net_wm_pid, 0, 1, False, XA_CARDINAL, &type, &format, &count, &after,
                           &data) != Success)
        return false;
    // Xlib hands 32-bit items over as longs.
    const bool own = data != nullptr && format == 32 && count == 1 &&
                     *reinterpret_cast<const unsigned long*>(data) == static_cast<unsigned long>(getpid());
    if (data != nullptr) XFree(data);
    return own;
}

// A window hidden by the toolkit (an earlier one of the same title, not
// destroyed yet) is not the one shown now.
bool mapped(Display* d, Window w) {
    XWindowAttributes a;
    return XGetWindowAttributes(d, w, &a) != 0 && a.map_state != IsUnmapped;
}

bool is_shown_window(const own_connection& c, Window w, const char* title, std::size_t length) {
    return owned_by_this_process(c, w) &&
           (property_is(c.display, w, c.net_wm_name, title, length) ||
            property_is(c.display, w, XA_WM_NAME, title, length)) &&
           mapped(c.display, w);
}

// Depth first through the whole tree: a window manager may have reparented
// the toplevel into a frame. 0 when not found.
Window find_shown_window(const own_connection& c, Window w, const char* title, std::size_t length) {
    if (is_shown_window(c, w, title, length)) return w;
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned int n = 0;
    if (XQueryTree(c.display, w, &root, &parent, &children, &n) == 0) return 0;
    Window found = 0;
    for (unsigned int i = 0; i < n && found == 0; ++i) found = find_shown_window(c, children[i], title, length);
    if (children != nullptr) XFree(children);
    return found;
}

// Takes every event that has arrived, without waiting; true if one tells that
// `w` was destroyed. Only the watched window's structure events are selected.
bool destroy_arrived(Display* d, Window w) {
    bool destroyed = false;
    XEvent e;
    while (XPending(d) > 0) {
        XNextEvent(d, &e);
        if (e.type == DestroyNotify && e.xdestroywindow.window == w) destroyed = true;
    }
    return destroyed;
}

// Searches for the shown window: 200 slices of a key wait, about 5 s.
constexpr int longest_search = 200;

}  // namespace

bool window_watch::gone() {
    const own_connection& c = connection();
    if (gone_ || c.display == nullptr) return gone_;
    if (window_ != 0) {
        gone_ = destroy_arrived(c.display, window_);
        return gone_;
    }
    // A window not found by then is not on this display (another backend):
    // searching a busy desktop's tree in every slice would only cost.
    if (searches_ >= longest_search) return false;
    ++searches_;
    Window w = 0;
    {
        quiet_x_errors quiet(c.display);
        w = find_shown_window(c, DefaultRootWindow(c.display), title_, std::strlen(title_));
    }
    if (w == 0) return false;
    // Followed from now on by its DestroyNotify instead of searches; a window
    // destroyed since the search cannot be selected.
    quiet_x_errors quiet(c.display);
    XSelectInput(c.display, w, StructureNotifyMask);
    window_ = w;
    gone_ = quiet.failed();
    return gone_;
}

window_watch::~window_watch() {
    if (window_ == 0 || gone_) return;
    const own_connection& c = connection();
    {
        quiet_x_errors quiet(c.display);  // the window may be gone by now
        XSelectInput(c.display, window_, NoEventMask);
    }
    destroy_arrived(c.display, window_);  // leaves no events for the next watch
}

// Opens the connection that the watches use, once for the process.
void require_display() {
    if (connection().display != nullptr) return;
    std::cout << "Cannot open display: windows cannot be shown!" << std::endl;
    std::exit(1);
}

}  // namespace lumo::bridge
