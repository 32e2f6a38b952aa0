// Per-stage wall-clock timing and the report and rule lines of -t.
#ifndef ZARN_PIPELINE_STAGE_TIMER_HPP
#define ZARN_PIPELINE_STAGE_TIMER_HPP

#include <sys/time.h>

#include <iomanip>
#include <iostream>
#include <string>

namespace lumo::zarn {

// A rule of label + value + 3 fill characters, whatever the timer's state.
inline void print_separator(int label_width, int value_width, char fill) {
    std::cout << std::setw(label_width + value_width + 3) << std::setfill(fill) << ""
              << std::setfill(' ') << std::endl;
}

// Milliseconds from a to b, borrowing a second when the microseconds go
// negative.
inline double elapsed_ms(const timeval& a, const timeval& b) {
    long seconds = b.tv_sec - a.tv_sec;
    long micro = b.tv_usec - a.tv_usec;
    if (micro < 0) {
        seconds -= 1;
        micro += 1000000;
    }
    return seconds * 1000.0 + micro * 0.001;
}

class stage_timer {
public:
    explicit stage_timer(bool on = false) : enabled(on) {}

    // Begins the next lap; the caller restarts where the next span begins.
    void restart() {
        if (enabled) gettimeofday(&start, nullptr);
    }

    // A driver that reuses the timer counts its own total from 0.
    void restart_total() {
        if (enabled) total = 0;
    }

    // Reports the span since the last restart and adds it to the total.
    double lap(const std::string& label) {
        if (!enabled) return lap_ms;
        gettimeofday(&stop, nullptr);
        lap_ms = elapsed_ms(start, stop);
        report(label, lap_ms);
        total += lap_ms;
        return lap_ms;
    }

    // One step of a driver between a restart and its lap.
    template <typename Step>
    void time(const char* label, Step&& step) {
        restart();
        step();
        lap(label);
    }

    // "label" left in 55 columns, the value right in 12 with 2 decimals.
    void report(const std::string& label, double ms) const {
        if (label.empty()) return;
        std::cout << std::left << std::setw(label_width) << label << std::right
                  << std::setw(value_width) << std::fixed << std::setprecision(2) << ms << " ms"
                  << std::endl;
    }

    double rule(char fill) const {
        if (enabled) print_separator(label_width, value_width, fill);
        return total;
    }

    // Ends a driver: a '=' rule with timing, a bare newline without.
    double close() const {
        if (enabled)
            print_separator(label_width, value_width, '=');
        else
            std::cout << std::endl;
        return total;
    }

    timeval start{};
    timeval stop{};
    bool enabled;
    double total = 0;
    double lap_ms = 0;
    int label_width = 55;
    int value_width = 12;
};

}  // namespace lumo::zarn

#endif
