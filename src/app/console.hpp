// Standard output with a memory of its line: an error that interrupts a
// line ("name: " written, "done in" not yet) starts its message on a line
// of its own.
#ifndef ZARN_APP_CONSOLE_HPP
#define ZARN_APP_CONSOLE_HPP

#include <iostream>
#include <streambuf>

namespace lumo::zarn {

// Passes every character on to the target buffer and remembers whether the
// last one ended a line.
class line_tracking_buffer : public std::streambuf {
public:
    explicit line_tracking_buffer(std::streambuf* target) : target_(target) {}

    bool at_line_start() const { return at_line_start_; }
    std::streambuf* target() const { return target_; }

protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        const char ch = traits_type::to_char_type(c);
        at_line_start_ = ch == '\n';
        return target_->sputc(ch);
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        if (n > 0) at_line_start_ = s[n - 1] == '\n';
        return target_->sputn(s, n);
    }
    int sync() override { return target_->pubsync(); }

private:
    std::streambuf* target_;
    bool at_line_start_ = true;
};

// Ends the line of standard output that a message of the run has left open
// ("name: " or "done in ... ms" written), so that an error message that
// follows stands on a line of its own. Only a tracked standard output knows
// its line.
inline void finish_line() {
    const auto* line = dynamic_cast<const line_tracking_buffer*>(std::cout.rdbuf());
    if (line && !line->at_line_start()) std::cout << std::endl;
}

}  // namespace lumo::zarn

#endif
