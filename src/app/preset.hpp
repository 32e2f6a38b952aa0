// Synthetic sample images: reading the sample index from its name.
#ifndef ZARN_APP_PRESET_HPP
#define ZARN_APP_PRESET_HPP

#include <cstddef>
#include <string>

namespace lumo::zarn {

// The unsigned number at the start of the name (formatted extraction: it
// stops at the first character that cannot continue the number); 0 when the
// name does not begin with one.
size_t parse_sample_index(const std::string& name);

}  // namespace lumo::zarn

#endif
