// The distance stage entry and its instantiations for the application.
#include "distance/run_distance.hpp"

#include "distance/distance_transform.hpp"

namespace lumo::zarn {

template <bool debug, typename T>
double run_distance_stage(node_array<debug, T>& nodes, options<T>& opts,
                          const lumo::array_2d<unsigned char>& input,
                          lumo::array_2d<unsigned char>& gradient) {
    distance_transform<debug, T> stage(nodes, opts, input, gradient);
    return stage.run();
}

template double run_distance_stage<false, double>(node_array<false, double>&, options<double>&,
                                                  const lumo::array_2d<unsigned char>&,
                                                  lumo::array_2d<unsigned char>&);
template double run_distance_stage<true, double>(node_array<true, double>&, options<double>&,
                                                 const lumo::array_2d<unsigned char>&,
                                                 lumo::array_2d<unsigned char>&);

}  // namespace lumo::zarn
