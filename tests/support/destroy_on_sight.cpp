// Destroys every toplevel window whose title ends in " -- zarn" the instant
// it has that title, as a hostile X client may: it follows each window from
// its creation and destroys it on the very event that names it, before the
// window's own program could have looked at it. Runs until it is ended (a
// signal), writing one line per destroyed window on standard output.
// Status 2 without a display.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cstdio>
#include <cstring>
#include <set>

namespace {

const char suffix[] = " -- zarn";

int ignore_errors(Display*, XErrorEvent*) { return 0; }  // windows vanish

bool property_ends_with_suffix(Display* d, Window w, Atom property) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(d, w, property, 0, 1024, False, AnyPropertyType, &type, &format, &count, &after,
                           &data) != Success)
        return false;
    const size_t n = sizeof suffix - 1;
    const bool ends = data != nullptr && format == 8 && count >= n &&
                      std::memcmp(data + count - n, suffix, n) == 0;
    if (data != nullptr) XFree(data);
    return ends;
}

bool titled(Display* d, Window w, Atom net_wm_name) {
    return property_ends_with_suffix(d, w, XA_WM_NAME) || property_ends_with_suffix(d, w, net_wm_name);
}

// Destroyed and not yet reported gone: ids are reused by later windows.
std::set<Window> destroyed;

void destroy(Display* d, Window w) {
    if (!destroyed.insert(w).second) return;
    XDestroyWindow(d, w);
    XFlush(d);
    std::printf("destroyed 0x%lx\n", w);
    std::fflush(stdout);
}

}  // namespace

int main() {
    Display* d = XOpenDisplay(nullptr);
    if (d == nullptr) return 2;
    XSetErrorHandler(ignore_errors);
    const Atom net_wm_name = XInternAtom(d, "_NET_WM_NAME", False);
    const Window root = DefaultRootWindow(d);
    XSelectInput(d, root, SubstructureNotifyMask);
    XSync(d, False);
    std::printf("ready\n");
    std::fflush(stdout);
    for (;;) {
        XEvent e;
        XNextEvent(d, &e);
        if (e.type == DestroyNotify) {
            destroyed.erase(e.xdestroywindow.window);
        } else if (e.type == CreateNotify && e.xcreatewindow.parent == root) {
            const Window w = e.xcreatewindow.window;
            XSelectInput(d, w, PropertyChangeMask);
            if (titled(d, w, net_wm_name)) destroy(d, w);
        } else if (e.type == PropertyNotify && e.xproperty.state == PropertyNewValue &&
                   (e.xproperty.atom == XA_WM_NAME || e.xproperty.atom == net_wm_name) &&
                   titled(d, e.xproperty.window, net_wm_name)) {
            destroy(d, e.xproperty.window);
        }
    }
}
