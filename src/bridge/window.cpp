// Showing images in windows that wait for a key, and window titles.
#include <exception>

#include <opencv2/highgui.hpp>

#include <lumo/details/image/bridge.hpp>
#include <lumo/exception.hpp>

#include "display.hpp"
#include "ipl.hpp"

namespace lumo {
namespace {

// How long one wait for a key lasts before the window is looked at again.
constexpr int key_wait_slice_ms = 25;

// False once the window manager has closed the window (the title bar's close
// button); a query that fails means the window is gone as well.
bool still_visible(const char* title) {
    try {
        return cv::getWindowProperty(title, cv::WND_PROP_VISIBLE) >= 1;
    } catch (const cv::Exception&) {
        return false;
    }
}

// Waits for a key in short slices: cv::waitKey(0) never returns once the
// window manager has closed the window, and a closed window counts as a key,
// as does one destroyed by another X client, which the toolkit still reports
// visible.
void wait_for_key_or_close(const char* title, bridge::window_watch& watch) {
    while (!watch.gone() && cv::waitKey(key_wait_slice_ms) == -1 && still_visible(title)) {
    }
}

void destroy_quietly(const char* title) {
    try {
        cv::destroyWindow(title);
    } catch (const std::exception&) {
    }
}

// One auto-size window, open until any key is pressed or the window manager
// closes it. Failures of the window calls are not reported; they only must
// not end the process.
template <typename T>
void show_window(const image<T>& im, const char* title) {
    bridge::require_display();
    cv::Mat m;
    try {
        m = to_ipl(im);
    } catch (const exception&) {
        return;  // a shape OpenCV cannot hold
    }
    try {
        // Watching from before the window exists: one destroyed the instant
        // it appears still ends the wait.
        bridge::window_watch watch(title);
        cv::namedWindow(title, cv::WINDOW_AUTOSIZE);
        watch.gone();
        cv::imshow(title, m);
        wait_for_key_or_close(title, watch);
    } catch (const std::exception&) {
    }
    destroy_quietly(title);
}

}  // namespace

void require_display() { bridge::require_display(); }

void show_image(const image<unsigned char>& im, const char* title) { show_window(im, title); }
void show_image(const image<float>& im, const char* title) { show_window(im, title); }
void show_image(const image<double>& im, const char* title) { show_window(im, title); }

void show_image_titled(const image<unsigned char>& im, const std::string& name, const std::string& title) {
    show_image(im, window_title(name, title).c_str());
}

void show_array(const array_2d<unsigned char>& a, const std::string& title) {
    image<unsigned char> im;
    array_to_image(a, im);
    show_image(im, title.c_str());
}

void bool_to_image(const array_2d<bool>& a, const std::string& title) {
    array_2d<unsigned char> bytes(a.size());
    const bool* src = a.raw();
    unsigned char* dst = bytes.raw();
    for (size_t i = 0; i < a.length(); ++i) dst[i] = src[i] ? 255 : 0;
    show_array(bytes, title);
}

std::string window_title(const std::string& name, const std::string& title) {
    std::string s;
    if (!name.empty()) s += name + " ";
    if (!title.empty()) s += "[" + title + "] ";
    if (!s.empty()) s += "-- ";
    return s + "zarn";
}

}  // namespace lumo
