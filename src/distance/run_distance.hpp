// Entry of the distance stage, called by the pipeline's compute sequences.
#ifndef ZARN_DISTANCE_RUN_DISTANCE_HPP
#define ZARN_DISTANCE_RUN_DISTANCE_HPP

#include <lumo/details/array_2d/array_2d>

#include "app/options.hpp"
#include "pipeline/node_grid.hpp"

namespace lumo::zarn {

// Builds a distance transform object on the grid, runs it and returns its
// time in milliseconds (0 with timing off). Leaves distance, generator, state
// and kind in every node and writes the ceiling into the options.
template <bool debug, typename T>
double run_distance_stage(node_array<debug, T>& nodes, options<T>& opts,
                          const lumo::array_2d<unsigned char>& input,
                          lumo::array_2d<unsigned char>& gradient);

}  // namespace lumo::zarn

#endif
