// The per-image pipeline: owns the padded input and the node grid, chooses
// and times the compute sequences, applies the dual transform and copies the
// results into the image set.
#ifndef ZARN_PIPELINE_PIPELINE_HPP
#define ZARN_PIPELINE_PIPELINE_HPP

#include <lumo/details/array_2d/array_2d>

#include "app/options.hpp"
#include "graph/storage.hpp"
#include "partition/storage.hpp"
#include "pipeline/node_grid.hpp"
#include "pipeline/run.hpp"
#include "pipeline/stage_timer.hpp"

namespace lumo::zarn {

template <bool debug, typename T>
class image_pipeline {
public:
    using node = node_type<debug, T>;

    explicit image_pipeline(options<T>& opts);
    image_pipeline(const image_pipeline&) = delete;
    image_pipeline& operator=(const image_pipeline&) = delete;

    // The whole processing of one image; returns the total in milliseconds.
    double run(image_set<T>& images);

    // Trivial outputs of a constant input; true when the input is constant.
    bool check_degenerate(image_set<T>& images);
    void allocate_input(const lumo::array_2d<unsigned char>& input);
    void initial_allocations();

    void compute_plain();
    void compute_geodesic();
    void compute_partition(feature_set<T>& features);

    void write_overlay(lumo::array_2d<unsigned char>& overlay);
    void write_outputs(lumo::array_2d<T>& distance, lumo::array_2d<unsigned char>& marker,
                       lumo::array_2d<T>& residue);
    void write_partition_outputs(feature_set<T>& features, lumo::array_2d<size_t>& labels,
                                 lumo::array_2d<unsigned char>& cover);

    void apply_dual_boundary_condition();
    void negate_height();
    double dual_transform();
    void enter_dual_mode();
    void leave_dual_mode();

    node_grid<debug, T> base;
    stage_timer timer{true};
    lumo::array_2d<unsigned char> padded_input;
    lumo::array_2d<unsigned char> gradient;
    node_array<debug, T> nodes;
    partition_storage<T> partition_store;  // components, regions and links
    bool saved_weighted = false;
    // Boundary-graph records of the geodesic and of the plain sequence; they
    // live as long as the pipeline, since nodes point into them.
    path_storage<debug, T> path_graph_storage{0, T(1)};
    component_storage<debug, T> component_graph_storage{0, T(1)};
    // Set by the compute sequences once the stages that write the marker and
    // residue fields, or the labels, cover bytes and features, have run on
    // the grid; nothing is extracted from fields that no stage wrote.
    bool medial_done = false;
    bool partition_done = false;

private:
    options<T>& opts_;
};

}  // namespace lumo::zarn

#endif
