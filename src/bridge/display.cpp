// Kept apart from the OpenCV sources: Xlib's macros clash with their names.
#include "display.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XRes.h>

namespace lumo::bridge {

namespace {

// The watches' own connection, opened on first use (the display check
// before the first window) and kept for the process; without it (no display)
// no window is ever watched.
struct own_connection {
    Display* display = nullptr;
    Atom net_wm_pid = None;
    Atom net_wm_name = None;
    // The server records which process made each window: it names ours
    // rightly (a local connection with the X resource extension).
    bool creators_known = false;
};

// The process id that the server records for the client that made the
// resource (any id of that client, even one no longer in use); -1 unknown.
long creator_pid(Display* d, XID resource) {
    XResClientIdSpec spec{resource, XRES_CLIENT_ID_PID_MASK};
    long count = 0;
    XResClientIdValue* values = nullptr;
    if (XResQueryClientIds(d, 1, &spec, &count, &values) != Success) return -1;
    long pid = -1;
    for (long k = 0; k < count; ++k)
        if (values[k].spec.mask == XRES_CLIENT_ID_PID_MASK) pid = XResGetClientPid(&values[k]);
    XResClientIdsDestroy(count, values);
    return pid;
}

bool server_knows_creators(Display* d) {
    int event_base = 0, error_base = 0;
    if (!XResQueryExtension(d, &event_base, &error_base)) return false;
    // An id of this connection's own range names this connection.
    return creator_pid(d, XAllocID(d)) == static_cast<long>(getpid());
}

const own_connection& connection() {
    static const own_connection c = [] {
        own_connection c;
        c.display = XOpenDisplay(nullptr);
        if (c.display != nullptr) {
            c.net_wm_pid = XInternAtom(c.display, "_NET_WM_PID", False);
            c.net_wm_name = XInternAtom(c.display, "_NET_WM_NAME", False);
            c.creators_known = server_knows_creators(c.display);
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

// The first `longs` 32-bit units of a window property, freed when it goes;
// type None when the window has no such property or cannot be asked.
class window_property {
public:
    window_property(Display* d, Window w, Atom property, long longs, Atom wanted) {
        if (XGetWindowProperty(d, w, property, 0, longs, False, wanted, &type, &format, &count, &after, &data) !=
            Success)
            type = None;
    }
    ~window_property() {
        if (data != nullptr) XFree(data);
    }
    window_property(const window_property&) = delete;
    window_property& operator=(const window_property&) = delete;

    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
};

enum class title_match { absent, same, other };

// Whether the property holds exactly `text` as 8-bit data. One byte more than
// the text is asked for, so a longer value does not pass for it.
title_match property_title(Display* d, Window w, Atom property, const char* text, std::size_t length) {
    const window_property p(d, w, property, static_cast<long>(length / 4 + 1), AnyPropertyType);
    if (p.type == None) return title_match::absent;
    const bool same = p.data != nullptr && p.format == 8 && p.count == length && p.after == 0 &&
                      std::memcmp(p.data, text, length) == 0;
    return same ? title_match::same : title_match::other;
}

// The process id the toolkit sets on its toplevels, where the server cannot
// tell who made a window.
bool pid_property_is_ours(const own_connection& c, Window w) {
    const window_property p(c.display, w, c.net_wm_pid, 1, XA_CARDINAL);
    // Xlib hands 32-bit items over as longs.
    return p.data != nullptr && p.format == 32 && p.count == 1 &&
           *reinterpret_cast<const unsigned long*>(p.data) == static_cast<unsigned long>(getpid());
}

// Drops every event that has arrived.
void drop_events(Display* d) {
    XEvent e;
    while (XPending(d) > 0) XNextEvent(d, &e);
}

}  // namespace

// Armed before the toolkit creates the window: the root window's structure
// events report every toplevel created from now on. The selection is made
// synchronous, so that the server has it before the toolkit's request.
window_watch::window_watch(const char* title) : title_(title) {
    const own_connection& c = connection();
    if (c.display == nullptr) return;
    drop_events(c.display);
    XSelectInput(c.display, DefaultRootWindow(c.display), SubstructureNotifyMask);
    XSync(c.display, False);
    armed_ = true;
}

bool window_watch::gone() {
    if (!armed_ || gone_) return gone_;
    Display* d = connection().display;
    XEvent e;
    while (!gone_ && XPending(d) > 0) {
        XNextEvent(d, &e);
        take(&e);
    }
    return gone_;
}

void window_watch::take(const void* event) {
    const XEvent& e = *static_cast<const XEvent*>(event);
    const own_connection& c = connection();
    if (e.type == CreateNotify) {
        const XCreateWindowEvent& w = e.xcreatewindow;
        if (window_ != 0 || w.parent != DefaultRootWindow(c.display) || w.override_redirect) return;
        if (!c.creators_known) {
            follow(w.window, false);
        } else if (creator_pid(c.display, w.window) == static_cast<long>(getpid())) {
            follow(w.window, true);
        }
    } else if (e.type == DestroyNotify) {
        // A window of ours destroyed before its title was seen can only be
        // the one just shown; one seen under another title is a helper.
        const created* w = find(e.xdestroywindow.window);
        if (w != nullptr && (w->id == window_ || (w->ours && !w->other_title))) gone_ = true;
    } else if (e.type == PropertyNotify) {
        created* w = find(e.xproperty.window);
        if (w != nullptr && window_ == 0) check_title(*w);
    }
}

// Follows the window by its own structure and property events; a window that
// cannot be followed any more was destroyed already.
void window_watch::follow(unsigned long window, bool ours) {
    Display* d = connection().display;
    {
        quiet_x_errors quiet(d);
        XSelectInput(d, window, StructureNotifyMask | PropertyChangeMask);
        if (quiet.failed()) {
            gone_ = ours;
            return;
        }
    }
    created_.push_back({window, ours, false});
    check_title(created_.back());
}

// Read once after the selection, then at each change: the toolkit may set
// the title after creating the window.
void window_watch::check_title(created& w) {
    const own_connection& c = connection();
    quiet_x_errors quiet(c.display);  // the window may be gone meanwhile
    if (!w.ours) w.ours = pid_property_is_ours(c, w.id);
    const std::size_t length = std::strlen(title_);
    const title_match a = property_title(c.display, w.id, c.net_wm_name, title_, length);
    const title_match b = property_title(c.display, w.id, XA_WM_NAME, title_, length);
    if (a == title_match::same || b == title_match::same) {
        if (w.ours) window_ = w.id;
    } else if (a == title_match::other || b == title_match::other) {
        w.other_title = true;
    }
}

window_watch::created* window_watch::find(unsigned long window) {
    const auto at = std::find_if(created_.begin(), created_.end(),
                                 [window](const created& w) { return w.id == window; });
    return at == created_.end() ? nullptr : &*at;
}

// Nothing stays selected, and no event is left for the next watch.
window_watch::~window_watch() {
    if (!armed_) return;
    Display* d = connection().display;
    {
        quiet_x_errors quiet(d);  // followed windows may be gone by now
        XSelectInput(d, DefaultRootWindow(d), NoEventMask);
        for (const created& w : created_) XSelectInput(d, w.id, NoEventMask);
    }
    drop_events(d);
}

// Opens the connection that the watches use, once for the process.
void require_display() {
    if (connection().display != nullptr) return;
    std::cout << "Cannot open display: windows cannot be shown!" << std::endl;
    std::exit(1);
}

}  // namespace lumo::bridge
