// Drawing of results onto colour canvases: medial axes, partitions, the
// binary input overlay, and feature boxes.
#ifndef ZARN_APP_RENDER_HPP
#define ZARN_APP_RENDER_HPP

#include <lumo/details/array_2d/array_2d>

#include "app/options.hpp"

namespace lumo {
template <typename T>
class color;
}

namespace lumo::zarn {

template <typename T>
void draw_medial(image_set<T>& set, const options<T>& opts, lumo::image<unsigned char>& canvas,
                 const lumo::array_2d<unsigned char>& background, bool primal, T weight);

// canvas and background may be the same image.
template <typename T>
void draw_medial_under(image_set<T>& set, const options<T>& opts, lumo::image<unsigned char>& canvas,
                       const lumo::image<unsigned char>& background, bool primal, T weight);

template <typename T>
void draw_partition(image_set<T>& set, const options<T>& opts, lumo::image<unsigned char>& canvas,
                    const lumo::array_2d<unsigned char>& background, T w1, T w2);

template <typename T>
void draw_fine_partition(image_set<T>& set, const options<T>& opts,
                         lumo::image<unsigned char>& canvas,
                         const lumo::image<unsigned char>& background, T w1, T w2);

void render_partition(lumo::image<unsigned char>& out, const lumo::array_2d<size_t>& labels);

// Every non-zero input pixel becomes white on the canvas.
void overlay_input(const lumo::array_2d<unsigned char>& input, lumo::image<unsigned char>& canvas);

template <typename T>
void draw_features(lumo::image<unsigned char>& canvas, const lumo::image<unsigned char>& background,
                   const feature_set<T>& features);

}  // namespace lumo::zarn

#endif
