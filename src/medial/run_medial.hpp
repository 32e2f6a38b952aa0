// Entry of the medial axis stage, called by the pipeline's compute sequences
// after structure parsing, with the boundary graph of the sequence.
#ifndef ZARN_MEDIAL_RUN_MEDIAL_HPP
#define ZARN_MEDIAL_RUN_MEDIAL_HPP

#include "app/options.hpp"
#include "pipeline/node_grid.hpp"

namespace lumo::zarn {

// Builds a medial axis object on the grid, runs it and returns its time in
// milliseconds (0 with timing off). Leaves residue and marker byte in every
// node, and kind 256 on the medial nodes (twin and binary markers).
template <bool debug, typename T, typename Graph>
double run_medial_stage(node_array<debug, T>& grid, options<T>& opts, Graph& graph);

}  // namespace lumo::zarn

#endif
