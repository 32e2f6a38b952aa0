// The library's exceptions: failures caused by external data (an image that
// cannot be loaded or converted). Contract violations are assertions instead.
#ifndef LUMO_EXCEPTION_HPP
#define LUMO_EXCEPTION_HPP

#include <exception>

namespace lumo {

// The class that is caught.
class exception : public std::exception {
public:
    ~exception() override = default;
    const char* what() const noexcept override { return "An LUMO exception occured!"; }
};

// The class that is thrown: an illegal computation on external data.
class ecomp : public exception {
public:
    ~ecomp() override = default;
    const char* what() const noexcept override { return "Illegal computation"; }
};

}  // namespace lumo

#endif
