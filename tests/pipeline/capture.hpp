// Captures what a piece of code writes to std::cout, split into lines.
#ifndef ZARN_TESTS_PIPELINE_CAPTURE_HPP
#define ZARN_TESTS_PIPELINE_CAPTURE_HPP

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "app/test_support.hpp"

namespace zarn_test {

class cout_capture {
public:
    cout_capture() : old_(std::cout.rdbuf(buffer_.rdbuf())) {}
    ~cout_capture() { std::cout.rdbuf(old_); }
    std::string text() const { return buffer_.str(); }
    std::vector<std::string> lines() const { return lines_of(buffer_.str()); }

private:
    std::ostringstream buffer_;
    std::streambuf* old_;
};

}  // namespace zarn_test

#endif
