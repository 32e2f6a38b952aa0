// Entry of the per-image pipeline.
#ifndef ZARN_PIPELINE_RUN_HPP
#define ZARN_PIPELINE_RUN_HPP

#include "app/options.hpp"

namespace lumo::zarn {

// Runs every stage that the options ask for on the image set's input and
// writes the results back into the image set; returns the total time in
// milliseconds (0 with timing off).
template <bool debug, typename T>
double run_image_pipeline(image_set<T>& images, options<T>& opts);

}  // namespace lumo::zarn

#endif
