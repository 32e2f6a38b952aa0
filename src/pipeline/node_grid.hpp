// The base of the pipeline and of every stage object: the node grid with its
// cached geometry (neighbour offsets, row pointers), the stage name and the
// grassfire snapshot state.
#ifndef ZARN_PIPELINE_NODE_GRID_HPP
#define ZARN_PIPELINE_NODE_GRID_HPP

#include <limits>
#include <string>
#include <utility>

#include <lumo/details/array_2d/array_2d>

#include "app/options.hpp"
#include "pipeline/node.hpp"

namespace lumo::zarn {

template <bool debug, typename T>
using node_array = lumo::array_2d<node_type<debug, T>>;

template <bool debug, typename T>
struct node_grid {
    using node = node_type<debug, T>;

    T next_fire_level = 0;      // next grassfire snapshot is due above this
    T fire_step = 0;            // distance between two snapshots
    std::uint64_t pass_count = 0;
    std::int64_t row_bound = 0;
    std::uint64_t half_size = 0;  // min(width, height) / 2
    std::string name;             // set by each stage's run
    void* self = nullptr;         // the object containing this base
    node_array<debug, T>* nodes = nullptr;
    options<T>* opts = nullptr;
    lumo::size_array sizes;
    std::uint64_t width = 0;   // first size: the image's row count + 4
    std::uint64_t height = 0;  // second size
    std::uint64_t count = 0;   // width * height
    std::uint64_t offset_w_minus_1 = 0;
    std::uint64_t offset_w_plus_1 = 0;
    std::uint64_t offset_w = 0;
    std::uint64_t offset_2w = 0;
    std::uint64_t offset_n_minus_w = 0;
    std::uint64_t offset_n_minus_2w = 0;
    node* first_row = nullptr;
    node* row_1 = nullptr;
    node* row_2 = nullptr;
    node* row_h_minus_2 = nullptr;
    node* row_h_minus_1 = nullptr;
    node* end = nullptr;

    node_grid() = default;
    node_grid(void* owner, node_array<debug, T>* grid, options<T>* o)
        : self(owner), nodes(grid), opts(o) {
        set_grid(grid);
    }

    // Caches the geometry of the grid as it is now.
    void set_grid(node_array<debug, T>* grid) {
        nodes = grid;
        sizes = grid->size();
        width = sizes[0];
        height = sizes[1];
        count = grid->length();
        offset_w_minus_1 = width - 1;
        offset_w_plus_1 = width + 1;
        offset_w = width;
        offset_2w = 2 * width;
        offset_n_minus_w = count - width;
        offset_n_minus_2w = count - 2 * width;
        first_row = &(*grid)[0];
        node* base = grid->raw();
        row_1 = base + width;
        row_2 = base + 2 * width;
        row_h_minus_2 = base + offset_n_minus_2w;
        row_h_minus_1 = base + offset_n_minus_w;
        end = base + count;
        half_size = (width < height ? width : height) / 2;
    }

    // A stage's grassfire begins: its name in the snapshot lines, its step,
    // and no snapshot or pass counted yet.
    void begin_fire(std::string stage_name, T step) {
        name = std::move(stage_name);
        fire_step = step;
        next_fire_level = 0;
        pass_count = 0;
        row_bound = 0;
    }

    // Prints "<name> fire @<level>" and shows every node's state word;
    // defined with the grassfire display.
    void fire_snapshot(T level);

    // A snapshot when the level is above the next fire level, which then
    // grows by one step: at most one per call, so after a jump in level
    // the snapshots catch up one call at a time.
    void fire_at(T level);
};

// Every node as the initial allocations leave it: its own index, an infinite
// distance and 0 or null in every other field, so that no stage can read
// garbage.
template <bool debug, typename T>
void clear_nodes(node_array<debug, T>& grid) {
    const T infinity = std::numeric_limits<T>::infinity();
    node_type<debug, T>* n = grid.raw();
    for (size_t i = 0, count = grid.length(); i < count; ++i, ++n) {
        n->index = i;
        n->state = status();
        n->kind = status();
        n->kind_backup = status();
        n->generator = nullptr;
        n->value = 0;
        n->vertex = nullptr;
        n->distance = infinity;
        n->marker = 0;
        n->bucket = 0;
        n->geodesic_distance = 0;
        n->length_position = nullptr;
        n->component = nullptr;
        n->label = 0;
        n->cover = 0;
        n->residue = 0;
    }
}

// Stores value into one word of every node of the frame of width k.
template <bool debug, typename T>
void set_frame_member(node_array<debug, T>& grid, status node_type<debug, T>::*member, size_t k,
                      status value) {
    const size_t s0 = grid.size(0), s1 = grid.size(1);
    node_type<debug, T>* n = grid.raw();
    for (size_t j = 0; j < s1; ++j) {
        const bool whole_row = j < k || j + k >= s1;
        for (size_t i = 0; i < s0; ++i, ++n)
            if (whole_row || i < k || i + k >= s0) (*n).*member = value;
    }
}

}  // namespace lumo::zarn

#endif
