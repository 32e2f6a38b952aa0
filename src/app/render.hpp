// Drawing of results onto colour canvases: medial axes, partitions, the
// binary input overlay, and feature boxes.
#ifndef ZARN_APP_RENDER_HPP
#define ZARN_APP_RENDER_HPP

#include <lumo/details/array_2d/array_2d>
#include <lumo/details/image/color.hpp>

#include "app/options.hpp"

namespace lumo::zarn {

// Pixel painters: an unmarked pixel (mask 0) takes the background, a marked
// one the colour source, opaquely (binary) or at opacity mask / 255. The
// canvas takes the background's shape; it may be the colour background.
void paint_color(lumo::image<unsigned char>& canvas, const lumo::array_2d<unsigned char>& background,
                 const lumo::array_2d<unsigned char>& mask, const lumo::color<unsigned char>& colour,
                 bool binary);
void paint_color(lumo::image<unsigned char>& canvas, const lumo::image<unsigned char>& background,
                 const lumo::array_2d<unsigned char>& mask, const lumo::color<unsigned char>& colour,
                 bool binary);

// The colour source is palette[layer * 255], the index clamped to 0..255
// (NaN gives 0). L is float or double.
template <typename L>
void paint_palette(lumo::image<unsigned char>& canvas, const lumo::array_2d<unsigned char>& background,
                   const lumo::array_2d<unsigned char>& mask, const lumo::array_2d<L>& layer,
                   const lumo::palette& palette, bool binary);
template <typename L>
void paint_palette(lumo::image<unsigned char>& canvas, const lumo::image<unsigned char>& background,
                   const lumo::array_2d<unsigned char>& mask, const lumo::array_2d<L>& layer,
                   const lumo::palette& palette, bool binary);

template <typename T>
void draw_medial(image_set<T>& set, const options<T>& opts, lumo::image<unsigned char>& canvas,
                 const lumo::array_2d<unsigned char>& background, bool primal, T weight);

// canvas and background may be the same image.
template <typename T>
void draw_medial_under(image_set<T>& set, const options<T>& opts, lumo::image<unsigned char>& canvas,
                       const lumo::image<unsigned char>& background, bool primal, T weight);

// Two results of the same (non-empty) shape.
template <typename A, typename B>
bool same_size(const A& a, const B& b) {
    return a.size(0) == b.size(0) && a.size(1) == b.size(1) && !a.empty();
}

// The medial picture of one side can be drawn at the shape of `like` (by
// default the input) when its marker, and the layer that colours it, have
// that shape: they belong to the current image.
template <typename T, typename A>
bool medial_drawable(const image_set<T>& set, const options<T>& opts, bool primal, const A& like) {
    if (!same_size(primal ? set.medial : set.dual_medial, like)) return false;
    if (opts.medial.times_distance) return same_size(primal ? set.distance : set.dual_distance, like);
    if (opts.medial.times_residue) return same_size(primal ? set.residue : set.dual_residue, like);
    return true;
}

template <typename T>
bool medial_drawable(const image_set<T>& set, const options<T>& opts, bool primal) {
    return medial_drawable(set, opts, primal, set.input);
}

template <typename T>
void draw_partition(image_set<T>& set, const options<T>& opts, lumo::image<unsigned char>& canvas,
                    const lumo::array_2d<unsigned char>& background, T w1, T w2);

// The medial axis goes under the partition only where it can be drawn.
template <typename T>
void draw_fine_partition(image_set<T>& set, const options<T>& opts,
                         lumo::image<unsigned char>& canvas,
                         const lumo::image<unsigned char>& background, T w1, T w2);

// One random colour per label value up to the largest; a label equal to the
// largest size_t means "no component" and is painted black.
void render_partition(lumo::image<unsigned char>& out, const lumo::array_2d<size_t>& labels);

// Every non-zero input pixel becomes white on the canvas.
void overlay_input(const lumo::array_2d<unsigned char>& input, lumo::image<unsigned char>& canvas);

// A closed box of four thick antialiased lines centred at (x0, y0) (x the
// column), half-sides a and b, turned by theta; a box with a corner that is
// not finite is skipped.
template <typename T>
void draw_box(lumo::image<unsigned char>& im, const lumo::color<unsigned char>& colour, int width,
              T x0, T y0, T a, T b, T theta);

// The feature's box with line width 2.
template <typename T>
void draw_feature(lumo::image<unsigned char>& im, const feature_type<T>& f,
                  const lumo::color<unsigned char>& colour);

// All features as a magenta overlay: the boxes are drawn into a mask, which
// then blends magenta over the background.
template <typename T>
void draw_features(lumo::image<unsigned char>& canvas, const lumo::image<unsigned char>& background,
                   const feature_set<T>& features);

}  // namespace lumo::zarn

#endif
