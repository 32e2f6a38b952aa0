// qev: descriptor extraction for the ellipse files that zarn -de writes.
#include <iostream>
#include <new>

#include "qev.hpp"

// An image too large for memory ends the program with a message, not an
// abort.
int main(int argc, char** argv) {
    try {
        return qev::run(argc, argv, std::cerr);
    } catch (const std::bad_alloc&) {
        std::cerr << "qev: not enough memory\n";
        return 1;
    }
}
