// Grassfire snapshots: the state of every node shown through a colour per
// status flag, in a window that waits for a key.
#ifndef ZARN_PIPELINE_GRASSFIRE_HPP
#define ZARN_PIPELINE_GRASSFIRE_HPP

#include <cstdint>
#include <iomanip>
#include <iostream>
#include <map>
#include <string>

#include <lumo/details/array_2d/array_2d>
#include <lumo/details/image/bridge.hpp>
#include <lumo/details/image/color.hpp>

#include "pipeline/node_grid.hpp"
#include "pipeline/stage_timer.hpp"

namespace lumo::zarn {

// Three bytes in channel order 0, 1, 2 (shown as blue, green, red).
using status_color = lumo::rgb<unsigned char>;

// Status value (low 32 bits of a status word) to colour.
using status_color_map = std::map<std::int32_t, status_color>;

inline status_color as_status_color(const lumo::color<unsigned char>& c) {
    return status_color(c[0], c[1], c[2]);
}

// One colour per flag.
inline status_color_map default_status_colors() {
    status_color_map colors;
    colors.emplace(far, as_status_color(lumo::color_lime()));
    colors.emplace(front, as_status_color(lumo::color_sky()));
    colors.emplace(done, as_status_color(lumo::color_black()));
    colors.emplace(ordinary, as_status_color(lumo::color_steel()));
    colors.emplace(border, as_status_color(lumo::color_red()));
    colors.emplace(second_ring, as_status_color(lumo::color_white()));
    colors.emplace(interior, as_status_color(lumo::color_yellow()));
    colors.emplace(boundary_seed, as_status_color(lumo::color_white()));
    colors.emplace(medial, as_status_color(lumo::color_blue()));
    colors.emplace(plateau, as_status_color(lumo::color_black()));
    return colors;
}

inline std::int32_t status_key(status s) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(s.bits()));
}

// Fills a W x H x 3 planar image from the statuses through the map. Statuses
// without a colour (combinations of kind flags) stay black.
inline void render_statuses(const status* statuses, size_t width, size_t height,
                            std::ptrdiff_t step, const status_color_map& colors,
                            lumo::image<unsigned char>& out) {
    out.resize(width, height, 3, static_cast<unsigned char>(0));
    const size_t plane = width * height;
    unsigned char* pixels = out.raw();
    const auto* bytes = reinterpret_cast<const unsigned char*>(statuses);
    for (size_t i = 0; i < plane; ++i, bytes += step) {
        const auto found = colors.find(status_key(*reinterpret_cast<const status*>(bytes)));
        if (found == colors.end()) continue;
        pixels[i] = found->second[0];
        pixels[i + plane] = found->second[1];
        pixels[i + 2 * plane] = found->second[2];
    }
}

// The colour image of one status word of every node.
template <bool debug, typename T>
void render_node_image(const node_array<debug, T>& grid, status node_type<debug, T>::*field,
                       const status_color_map& colors, lumo::image<unsigned char>& out) {
    const size_t width = grid.size()[0], height = grid.size()[1];
    // An empty grid has no first node to take the field of.
    const status* first = grid.length() ? &(grid.raw()->*field) : nullptr;
    render_statuses(first, width, height, sizeof(node_type<debug, T>), colors, out);
}

// Shows one status word of every node; nothing with an empty map.
template <bool debug, typename T>
void render_node_field(const node_array<debug, T>& grid, status node_type<debug, T>::*field,
                       const status_color_map& colors, const std::string& title) {
    if (colors.empty()) return;
    lumo::image<unsigned char> picture;
    render_node_image(grid, field, colors, picture);
    lumo::show_image(picture, title.c_str());
}

template <bool debug, typename T>
void show_node_status(const node_array<debug, T>& grid, status node_type<debug, T>::*field,
                      const std::string& title) {
    render_node_field(grid, field, default_status_colors(), title);
}

inline void render_status_image(const lumo::array_2d<status>& statuses,
                                const status_color_map& colors, const std::string& title) {
    if (colors.empty()) return;
    lumo::image<unsigned char> picture;
    render_statuses(statuses.raw(), statuses.size()[0], statuses.size()[1], sizeof(status),
                    colors, picture);
    lumo::show_image(picture, title.c_str());
}

// Diagnostic view of a separate array of status words.
inline void show_status_image(const lumo::array_2d<status>& statuses) {
    render_status_image(statuses, default_status_colors(), "zarn");
}

// "<name> fire" (or "fire" for an unnamed stage).
inline std::string fire_text(const std::string& name) {
    return name.empty() ? std::string("fire") : name + " fire";
}

// "<text> @<level>" with one decimal; the stream keeps that format.
template <typename T>
void print_fire_line(const std::string& text, T level) {
    std::cout << text << " @" << std::fixed << std::setprecision(1) << level << std::endl;
}

// Snapshots of a stage open as a driver closes (a '=' rule with timing, a
// line end without) and close with a '=' rule with timing.
inline void open_fire_display(const stage_timer& timer) { timer.close(); }
inline void close_fire_display(const stage_timer& timer) { timer.rule('='); }

template <bool debug, typename T>
void node_grid<debug, T>::fire_at(T level) {
    if (level > next_fire_level) {
        fire_snapshot(level);
        next_fire_level = next_fire_level + fire_step;
    }
}

template <bool debug, typename T>
void node_grid<debug, T>::fire_snapshot(T level) {
    const std::string text = fire_text(name);
    print_fire_line(text, level);
    show_node_status(*nodes, &node::state, lumo::window_title(opts->program.file_name, text));
}

}  // namespace lumo::zarn

#endif
