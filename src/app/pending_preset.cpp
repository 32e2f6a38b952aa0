// Placeholder until the samples land; deleted then.
#include <cstdlib>
#include "app/application.hpp"
namespace lumo::zarn {
void application::run_sample() { std::abort(); }
}  // namespace lumo::zarn
