// The X display check made before the first window of the process, and the
// watch that tells when another X client has destroyed a shown window.
#ifndef ZARN_BRIDGE_DISPLAY_HPP
#define ZARN_BRIDGE_DISPLAY_HPP

namespace lumo::bridge {

// Without a display the GUI toolkit would abort the process: say so on
// standard output and exit with status 1 instead. Checked once per process.
void require_display();

// Watches, during one wait for a key, the toplevel window of this process
// with the given title (as passed to the toolkit), on an X connection of its
// own: the toolkit keeps reporting a window visible after another client
// (xdotool windowclose, a script) destroyed it. The window is looked for
// until found, for a few seconds at most; only a window found and then
// destroyed counts as gone, so without such a window (not flushed yet,
// another backend) nothing changes.
class window_watch {
public:
    explicit window_watch(const char* title) : title_(title) {}
    ~window_watch();
    window_watch(const window_watch&) = delete;
    window_watch& operator=(const window_watch&) = delete;

    // Looked at once per slice of the wait; true once the window is gone.
    bool gone();

private:
    const char* title_;
    unsigned long window_ = 0;  // the X window id once found, 0 before
    int searches_ = 0;          // tree searches made while not found
    bool gone_ = false;
};

}  // namespace lumo::bridge

#endif
