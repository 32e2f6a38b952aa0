// Real result maps on their way out: display scaling, saving and showing.
#ifndef ZARN_APP_OUTPUT_HPP
#define ZARN_APP_OUTPUT_HPP

#include <string>

#include <lumo/details/array_2d/array_2d>

namespace lumo::zarn {

// Scales a map in place to [0, 1] by its largest finite positive value, or
// with modulus > 0 to the saw-tooth (floor(v) mod modulus) / modulus; +inf
// becomes 1.0. A map without such a value is left unchanged.
template <typename T>
void normalize_map(lumo::array_2d<T>& map, size_t modulus);

// The map as a one-channel real image (rows, columns, 1). save_map returns
// false when the file could not be written.
template <typename T>
bool save_map(const lumo::array_2d<T>& map, const std::string& path);
template <typename T>
void show_map(const lumo::array_2d<T>& map, const std::string& title);
template <typename T>
void show_map(const lumo::array_2d<T>& map, const std::string& name, const std::string& title);

}  // namespace lumo::zarn

#endif
