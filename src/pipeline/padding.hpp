// The 2-pixel border around the input (edge replication) and its removal from
// the results that the stages leave in the node grid.
#ifndef ZARN_PIPELINE_PADDING_HPP
#define ZARN_PIPELINE_PADDING_HPP

#include <cstddef>

#include <lumo/details/array_2d/array_2d>

#include "pipeline/node_grid.hpp"

namespace lumo::zarn {

// Width of the border that the pipeline adds on every side.
constexpr size_t pipeline_border = 2;

// destination(i, j) = source(clamp(i - b), clamp(j - b)): every padded
// element repeats the nearest source element.
inline void pad_image(const lumo::array_2d<unsigned char>& source,
                      lumo::array_2d<unsigned char>& destination, size_t b) {
    const size_t s0 = source.size(0), s1 = source.size(1);
    const size_t p0 = s0 + 2 * b, p1 = s1 + 2 * b;
    destination.resize(p0, p1);
    if (s0 == 0 || s1 == 0) return;
    unsigned char* out = destination.raw();
    for (size_t j = 0; j < p1; ++j) {
        const size_t sj = j < b ? 0 : (j - b < s1 ? j - b : s1 - 1);
        const unsigned char* column = source.raw() + s0 * sj;
        for (size_t i = 0; i < b; ++i) *out++ = column[0];
        for (size_t i = 0; i < s0; ++i) *out++ = column[i];
        for (size_t i = 0; i < b; ++i) *out++ = column[s0 - 1];
    }
}

// output(i, j) = source(i + b, j + b): the source without its border.
inline void unpad_image(const lumo::array_2d<unsigned char>& source,
                        lumo::array_2d<unsigned char>& output, size_t b) {
    const size_t s0 = source.size(0), s1 = source.size(1);
    const size_t o0 = s0 - 2 * b, o1 = s1 - 2 * b;
    output.resize(o0, o1);
    unsigned char* out = output.raw();
    for (size_t j = 0; j < o1; ++j) {
        const unsigned char* column = source.raw() + s0 * (j + b) + b;
        for (size_t i = 0; i < o0; ++i) *out++ = column[i];
    }
}

// output(i, j) = node(i + b, j + b).*field: one field of the grid without its
// border, converted to the output's element type.
template <typename E, bool debug, typename T, typename F>
void extract_node_field(const node_array<debug, T>& grid, F node_type<debug, T>::*field,
                        lumo::array_2d<E>& output, size_t b) {
    const size_t s0 = grid.size(0), s1 = grid.size(1);
    const size_t o0 = s0 - 2 * b, o1 = s1 - 2 * b;
    output.resize(o0, o1);
    E* out = output.raw();
    for (size_t j = 0; j < o1; ++j) {
        const node_type<debug, T>* column = grid.raw() + s0 * (j + b) + b;
        for (size_t i = 0; i < o0; ++i) *out++ = static_cast<E>(column[i].*field);
    }
}

}  // namespace lumo::zarn

#endif
