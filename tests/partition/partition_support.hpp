// Grids for the partition tests: a hand-made value field with ridge seeds
// placed by the test, or a real image taken through the primal distance and
// the dual transform with medial nodes marked by the test.
#ifndef ZARN_TESTS_PARTITION_SUPPORT_HPP
#define ZARN_TESTS_PARTITION_SUPPORT_HPP

#include <cstdint>
#include <limits>
#include <memory>
#include <random>
#include <utility>
#include <vector>

#include "distance/run_distance.hpp"
#include "partition/partition.hpp"
#include "pipeline/pipeline.hpp"

namespace part_test {

namespace z = lumo::zarn;
using node = z::node_type<false, double>;
using stage = z::partition<false, double>;
using component = z::component_type<double>;
using link_record = z::link<double>;
constexpr double inf = std::numeric_limits<double>::infinity();

// A grid as the dual transform leaves it, but with no ridge seed: the outer
// ring excluded (state and kind border), every other node an ordinary node
// reached by the primal run (state done) at distance 0 and value +inf.
// Position (row, col) is index row * w + col, w the first size.
struct ridge_grid {
    z::options<double> opts;
    z::node_array<false, double> nodes;
    lumo::array_2d<unsigned char> input;
    lumo::array_2d<unsigned char> gradient;
    z::partition_storage<double> storage;
    z::feature_set<double> features;

    ridge_grid(size_t w, size_t h, double ceiling = 100) {
        opts.distance.ceiling = ceiling;
        opts.commands.partition = true;
        opts.partition.check(true);
        nodes.resize(w, h);
        for (size_t i = 0; i < nodes.length(); ++i) {
            node& n = nodes[i];
            n = node{};
            n.index = i;
            n.state = z::done;
            n.kind = z::ordinary;
            n.value = inf;
            n.distance = 0;
        }
        z::set_frame_member(nodes, &node::state, 1, z::status(z::border));
        z::set_frame_member(nodes, &node::kind, 1, z::status(z::border));
        input.resize(w, h, static_cast<unsigned char>(0));
    }

    size_t w() const { return nodes.size(0); }
    node& at(size_t row, size_t col) { return nodes[row * w() + col]; }

    // A ridge seed of the given value; medial unless told otherwise.
    node& seed(size_t row, size_t col, double value, z::status_enum kind = z::medial) {
        node& n = at(row, col);
        n.kind = kind;
        n.value = value;
        return n;
    }

    std::unique_ptr<stage> make() {
        return std::make_unique<stage>(nodes, opts, input, storage, features);
    }

    // The dual distance run that the pipeline makes between the two halves.
    void dual_distance() {
        const bool weighted = opts.program.weighted;
        opts.program.weighted = true;
        opts.commands.primal = false;
        z::run_distance_stage<false, double>(nodes, opts, input, gradient);
        opts.commands.primal = true;
        opts.program.weighted = weighted;
    }

    // Pool index of a node's component; -1 without one.
    long label_of(size_t row, size_t col) {
        const component* c = at(row, col).component;
        return c ? static_cast<long>(c - storage.components.first()) : -1;
    }
};

// A real image through the pipeline's primal distance and dual transform;
// mark_medial may give any nodes the medial kind before the transform.
struct image_case {
    z::options<double> opts;
    z::image_set<double> set;
    std::unique_ptr<z::image_pipeline<false, double>> pipe;

    explicit image_case(const lumo::array_2d<unsigned char>& image) {
        opts.commands.partition = true;
        set.input = image;
    }

    template <typename Mark>
    std::unique_ptr<stage> prepare(Mark mark_medial) {
        opts.validate(false);
        pipe = std::make_unique<z::image_pipeline<false, double>>(opts);
        pipe->timer.enabled = opts.program.timing;
        pipe->allocate_input(set.input);
        pipe->initial_allocations();
        pipe->compute_plain();
        mark_medial(pipe->nodes);
        pipe->dual_transform();
        return std::make_unique<stage>(pipe->nodes, opts, pipe->padded_input, pipe->partition_store,
                                       set.features);
    }

    void dual_distance() {
        pipe->enter_dual_mode();
        z::run_distance_stage<false, double>(pipe->nodes, opts, pipe->padded_input, pipe->gradient);
        pipe->leave_dual_mode();
    }

    // Both halves around the dual distance.
    template <typename Mark>
    std::unique_ptr<stage> run_all(Mark mark_medial) {
        std::unique_ptr<stage> s = prepare(mark_medial);
        s->run();
        dual_distance();
        s->finish();
        return s;
    }

    z::node_array<false, double>& nodes() { return pipe->nodes; }
};

inline void no_medial(z::node_array<false, double>&) {}

// One node at (row, col) joins the moment sums of a region.
inline void add_node(z::region_type<double>& r, std::uint64_t row, std::uint64_t col) {
    ++r.count;
    r.sum_row += row;
    r.sum_col += col;
    r.sum_row2 += row * row;
    r.sum_col2 += col * col;
    r.sum_rowcol += row * col;
}

// The region of nodes given as (row, col), with a gap sum.
inline z::region_type<double> region_of(const std::vector<std::pair<std::uint64_t, std::uint64_t>>& nodes,
                                        double gap = 0) {
    z::region_type<double> r{};
    for (auto [row, col] : nodes) add_node(r, row, col);
    r.gap = gap;
    z::region_update(r);
    return r;
}

// Random medial marks on about one node in `one_in` of the inner grid.
struct random_medial {
    unsigned seed;
    unsigned one_in;
    void operator()(z::node_array<false, double>& nodes) const {
        std::mt19937 rng(seed);
        for (size_t i = 0; i < nodes.length(); ++i)
            if (rng() % one_in == 0 && nodes[i].kind != z::border) nodes[i].kind |= z::medial;
    }
};

// Smooth random image with some noise, first index the image row.
inline lumo::array_2d<unsigned char> random_image(size_t rows, size_t cols, unsigned seed) {
    std::mt19937 rng(seed);
    lumo::array_2d<unsigned char> im(rows, cols);
    const size_t cr = rows / 4 + 2, cc = cols / 4 + 2;
    std::vector<int> coarse(cr * cc);
    for (int& v : coarse) v = static_cast<int>(rng() % 256);
    for (size_t c = 0; c < cols; ++c)
        for (size_t r = 0; r < rows; ++r) {
            const int v = coarse[(r / 4) + cr * (c / 4)] + static_cast<int>(rng() % 16);
            im(r, c) = static_cast<unsigned char>(v > 255 ? 255 : v);
        }
    return im;
}

}  // namespace part_test

#endif
