// Placeholder until the per-file loop lands; deleted then.
#include <cstdlib>
#include "app/application.hpp"
namespace lumo::zarn {
void application::process_files(image_set<real>&) { std::abort(); }
}  // namespace lumo::zarn
