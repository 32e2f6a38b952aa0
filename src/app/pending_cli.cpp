// Placeholder until the command line lands; deleted then.
#include <cstdlib>
#include "app/application.hpp"
namespace lumo::zarn {
void application::usage() { std::abort(); }
void application::error_exit(const std::string&) { std::abort(); }
bool application::parse_options(int, char**) { std::abort(); }
}  // namespace lumo::zarn
