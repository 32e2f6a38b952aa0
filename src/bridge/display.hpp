// The X display check made before the first window of the process, and the
// watch that tells when another X client has destroyed a shown window.
#ifndef ZARN_BRIDGE_DISPLAY_HPP
#define ZARN_BRIDGE_DISPLAY_HPP

#include <vector>

namespace lumo::bridge {

// Without a display the GUI toolkit would abort the process: say so on
// standard output and exit with status 1 instead. Checked once per process.
void require_display();

// Watches, during one wait for a key, the toplevel window that this process
// creates with the given title (as passed to the toolkit), on an X connection
// of its own: the toolkit keeps reporting a window visible after another
// client (xdotool windowclose, a script) destroyed it.
//
// The watch is made before the window is: from then on every toplevel window
// that this process creates is followed from its creation, so that its
// destruction is seen at whatever moment it comes, even before its title
// could be read. A window is this process's by the X server's record of the
// client that made it (or, where the server cannot tell, by the process id
// the toolkit sets on it), so another process's window of the same title is
// never taken. Only a destruction ends a wait: no delay does.
class window_watch {
public:
    explicit window_watch(const char* title);
    ~window_watch();
    window_watch(const window_watch&) = delete;
    window_watch& operator=(const window_watch&) = delete;

    // Takes what the X server has reported, without waiting; true once the
    // window is gone.
    bool gone();

private:
    // A toplevel window of this process created since the watch began.
    struct created {
        unsigned long id;
        bool ours;         // known to be this process's
        bool other_title;  // seen under another title (a toolkit helper)
    };

    void take(const void* event);
    void follow(unsigned long window, bool ours);
    void check_title(created& w);
    created* find(unsigned long window);

    const char* title_;
    bool armed_ = false;
    bool gone_ = false;
    unsigned long window_ = 0;  // the shown window once its title is seen
    std::vector<created> created_;
};

}  // namespace lumo::bridge

#endif
