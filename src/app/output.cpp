// The output stage: result maps are scaled for display, pictures drawn on a
// colour canvas over the chosen background, and everything saved under the
// input's name or shown in a window.
#include "app/output.hpp"

#include <cmath>
#include <limits>

#include <lumo/details/image/bridge.hpp>

#include "app/application.hpp"
#include "app/render.hpp"

namespace lumo::zarn {

template <typename T>
void normalize_map(lumo::array_2d<T>& map, size_t modulus) {
    if (map.empty()) return;
    const T inf = std::numeric_limits<T>::infinity();
    T* v = map.raw();
    const size_t n = map.length();
    T max = 0;
    for (size_t i = 0; i < n; ++i)
        if (v[i] > max && v[i] != inf) max = v[i];
    // A map with no positive finite value keeps its zeros; +infinity, where
    // no distance reached, still becomes 1, so that no output holds it.
    if (max == 0) {
        for (size_t i = 0; i < n; ++i)
            if (v[i] == inf) v[i] = T(1);
        return;
    }
    if (modulus == 0) {
        for (size_t i = 0; i < n; ++i) v[i] = v[i] == inf ? T(1) : v[i] / max;
    } else {
        const T m = static_cast<T>(modulus);
        for (size_t i = 0; i < n; ++i) v[i] = v[i] == inf ? T(1) : std::fmod(std::trunc(v[i]), m) / m;
    }
}

namespace {

template <typename T>
lumo::image<T> map_image(const lumo::array_2d<T>& map) {
    lumo::image<T> im(map.size(0), map.size(1), 1);
    const T* src = map.raw();
    T* dst = im.raw();
    for (size_t i = 0; i < map.length(); ++i) dst[i] = src[i];
    return im;
}

}  // namespace

template <typename T>
bool save_map(const lumo::array_2d<T>& map, const std::string& path) {
    return lumo::save_image(map_image(map), path);
}

template <typename T>
void show_map(const lumo::array_2d<T>& map, const std::string& title) {
    lumo::show_image(map_image(map), title.c_str());
}

template <typename T>
void show_map(const lumo::array_2d<T>& map, const std::string& name, const std::string& title) {
    show_map(map, lumo::window_title(name, title));
}

template void normalize_map(lumo::array_2d<double>&, size_t);
template void normalize_map(lumo::array_2d<float>&, size_t);
template bool save_map(const lumo::array_2d<double>&, const std::string&);
template bool save_map(const lumo::array_2d<float>&, const std::string&);
template void show_map(const lumo::array_2d<double>&, const std::string&);
template void show_map(const lumo::array_2d<float>&, const std::string&);
template void show_map(const lumo::array_2d<double>&, const std::string&, const std::string&);
template void show_map(const lumo::array_2d<float>&, const std::string&, const std::string&);

void application::output_image(const lumo::image<unsigned char>& canvas, size_t index) {
    const std::string& title = window_titles[index];
    if (opts.program.view) {
        lumo::show_image_titled(canvas, opts.program.file_name, title);
        return;
    }
    const std::string path = output_name(output_suffixes[index], "");
    note_output(path);
    if (!lumo::save_image(canvas, path)) error_exit("Cannot open output file " + path + " !");
}

void application::output_map(const lumo::array_2d<real>& map, size_t index) {
    const std::string& title = window_titles[index];
    if (opts.program.view) {
        show_map(map, opts.program.file_name, title);
        return;
    }
    const std::string path = output_name(output_suffixes[index], "");
    note_output(path);
    if (!save_map(map, path)) error_exit("Cannot open output file " + path + " !");
}

// An empty canvas means the medial picture could not be drawn: the stage
// that fills its marker has not run for this image.
void application::output_distance(const lumo::array_2d<real>& map,
                                  const lumo::image<unsigned char>& canvas, bool primal) {
    const command_options& c = opts.commands;
    if ((primal ? c.distance : c.dual_distance) && !map.empty()) output_map(map, primal ? 0 : 2);
    if ((primal ? c.medial : c.dual_medial) && !canvas.empty()) output_image(canvas, primal ? 1 : 3);
}

void application::output_results() {
    image_set<real>& set = images;
    const command_options& c = opts.commands;
    const program_options<real>& p = opts.program;
    const size_t modulus = opts.distance.isocontour;
    const bool by_distance = p.overlay_distance() || opts.medial.times_distance;
    const bool residue = opts.medial.times_residue;
    const bool show_medial = opts.partition.show_medial;

    // 1. Maps scaled for display.
    if (c.distance || by_distance) normalize_map(set.distance, modulus);
    if (c.dual_distance || by_distance) normalize_map(set.dual_distance, modulus);
    if (residue && (c.medial || c.both_medial || show_medial)) normalize_map(set.residue, modulus);
    if (residue && (c.dual_medial || c.both_medial || show_medial))
        normalize_map(set.dual_residue, modulus);

    // 2, 3. Backgrounds of the primal and dual pictures.
    lumo::image<unsigned char> canvas;
    const bool input_overlay = !p.weighted && p.overlay_input();
    lumo::array_2d<unsigned char> black;
    black.resize(set.input.size(), static_cast<unsigned char>(0));
    lumo::array_2d<unsigned char> gray_distance, gray_dual;
    const lumo::array_2d<unsigned char>* primal_bg = &black;
    const lumo::array_2d<unsigned char>* dual_bg = &black;
    if (p.overlay_input() && p.weighted) {
        primal_bg = dual_bg = &set.input;
    } else if (p.overlay_distance()) {
        if (same_size(set.distance, set.input)) {
            lumo::map_to_gray(set.distance, gray_distance);
            primal_bg = &gray_distance;
        }
        if (same_size(set.dual_distance, set.input)) {
            lumo::map_to_gray(set.dual_distance, gray_dual);
            dual_bg = &gray_dual;
        }
    } else if (p.overlay_gradient() && same_size(set.gradient, set.input)) {
        primal_bg = dual_bg = &set.gradient;
    }

    // 4. The foreground shows at full value in the binary distance map.
    if (c.distance && input_overlay && same_size(set.distance, set.input)) {
        const unsigned char* in = set.input.raw();
        real* d = set.distance.raw();
        for (size_t i = 0; i < set.distance.length(); ++i)
            if (in[i] != 0) d[i] = 1.0;
    }

    // 5, 6. Primal distance and medial axis.
    if (c.medial && medial_drawable(set, opts, true)) {
        draw_medial(set, opts, canvas, *primal_bg, true, real(1.0));
        if (input_overlay) overlay_input(set.input, canvas);
    }
    output_distance(set.distance, canvas, true);

    // 7. Features, or the partition, or the dual results.
    if (c.features_wanted()) {
        if (!p.view) save_features();
        if (c.features && (p.view || opts.features.feature_image)) {
            if (opts.features.show_cover && same_size(set.feature_cover, set.input))
                lumo::gray_to_rgb(set.feature_cover, canvas);
            else
                lumo::gray_to_rgb(*primal_bg, canvas);
            if (opts.features.show_fine_partition) {
                if (same_size(set.labels, set.input))
                    draw_fine_partition(set, opts, canvas, canvas, real(0.5), real(1.0));
            } else if (show_medial && medial_drawable(set, opts, true)) {
                draw_medial_under(set, opts, canvas, canvas, true, real(0.5));
            }
            if (input_overlay) overlay_input(set.input, canvas);
            if (p.view || opts.features.format != 0) feature_geometry();
            const lumo::image<unsigned char> background = canvas;
            draw_features(canvas, background, set.features);
            output_image(canvas, 6);
        }
    } else if (c.partition) {
        if (same_size(set.labels, set.input)) {
            draw_partition(set, opts, canvas, *primal_bg, real(1.0), real(p.weighted ? 0.5 : 1.0));
            if (input_overlay) overlay_input(set.input, canvas);
            output_image(canvas, 5);
        }
    } else if (c.dual_wanted()) {
        canvas = lumo::image<unsigned char>();  // no primal picture under the dual one
        if (c.dual_medial && medial_drawable(set, opts, false)) {
            draw_medial(set, opts, canvas, *dual_bg, false, real(1.0));
            if (input_overlay) overlay_input(set.input, canvas);
        }
        output_distance(set.dual_distance, canvas, false);
        if (c.both_medial && medial_drawable(set, opts, false) && medial_drawable(set, opts, true)) {
            draw_medial(set, opts, canvas, *primal_bg, false, real(1.0));
            draw_medial_under(set, opts, canvas, canvas, true, real(1.0));
            if (input_overlay) overlay_input(set.input, canvas);
            output_image(canvas, 4);
        }
    }
}

}  // namespace lumo::zarn
