// The medial stage entry and its instantiations: both graph configurations,
// with and without the debug diagnostics.
#include "medial/run_medial.hpp"

#include "graph/graph.hpp"
#include "medial/medial_axis.hpp"

namespace lumo::zarn {

template <bool debug, typename T, typename Graph>
double run_medial_stage(node_array<debug, T>& grid, options<T>& opts, Graph& graph) {
    medial_axis<debug, T, Graph> stage(grid, opts, graph);
    return stage.run();
}

template double run_medial_stage(node_array<false, double>&, options<double>&,
                                 component_graph<false, double>&);
template double run_medial_stage(node_array<true, double>&, options<double>&,
                                 component_graph<true, double>&);
template double run_medial_stage(node_array<false, double>&, options<double>&,
                                 path_graph<false, double>&);
template double run_medial_stage(node_array<true, double>&, options<double>&,
                                 path_graph<true, double>&);

}  // namespace lumo::zarn
