// Feature text files (three formats) and the descriptor extraction command.
#ifndef ZARN_APP_FEATURES_HPP
#define ZARN_APP_FEATURES_HPP

#include <ostream>
#include <string>
#include <vector>

#include "app/options.hpp"

namespace lumo::zarn {

// One line per feature (records 0 .. count - 1), numbers in the stream's
// default format (%g, six significant digits), separated by one space.
// Axes: x y major minor angle (stored into the records first).
template <typename T>
void write_features_axes(std::ostream& out, feature_set<T>& features);
// Covariance: x y a b c.
template <typename T>
void write_features_covariance(std::ostream& out, feature_set<T>& features);
// Inverse covariance: "0", the count, then x y c/d -b/d a/d per feature (the
// three values stored into the records first).
template <typename T>
void write_features_inverse_covariance(std::ostream& out, feature_set<T>& features);

// The command line of the descriptor program: "qev -i <image> -sift -p1
// <features> -o1 <descriptors>", one argument each.
std::vector<std::string> descriptor_arguments(const std::string& image, const std::string& features,
                                              const std::string& descriptors);

}  // namespace lumo::zarn

#endif
