#include "pipeline/pipeline.hpp"

#include <iostream>
#include <limits>

#include <lumo/details/array/element_functions>

#include "distance/run_distance.hpp"
#include "geodesic/geodesic_distance.hpp"
#include "graph/graph.hpp"
#include "medial/run_medial.hpp"
#include "partition/partition.hpp"
#include "pipeline/padding.hpp"

namespace lumo::zarn {

namespace {

// Distance and marker tests shared by the degenerate check and the
// extraction, so that a constant and a computed input fill the same slots.
template <typename T>
bool distance_slot_wanted(const options<T>& o) {
    return o.commands.distance_wanted() || o.medial.times_distance ||
           o.program.overlay_distance();
}

template <typename T>
bool marker_slot_wanted(const options<T>& o) {
    return o.commands.medial_wanted() || o.partition.show_medial;
}

// Partition labels and feature cover are drawn only in view mode or with -fi.
template <typename T>
bool feature_images_wanted(const options<T>& o) {
    return o.program.view || o.features.feature_image;
}

// The lap of every copy of results out of the grid.
constexpr const char* output_label = "Output image allocation, pad & copy:";

}  // namespace

template <bool debug, typename T>
image_pipeline<debug, T>::image_pipeline(options<T>& opts) : opts_(opts) {
    base.self = this;
    base.nodes = &nodes;
    base.opts = &opts;
}

template <bool debug, typename T>
double image_pipeline<debug, T>::run(image_set<T>& images) {
    if (!opts_.commands.any_command()) return 0;
    timer.enabled = opts_.program.timing;
    timer.restart();

    if (check_degenerate(images)) return timer.total;
    timer.lap("Degenerate case check:");
    timer.time("Input image allocation, pad & copy:", [&] { allocate_input(images.input); });
    timer.time("Initial allocations:", [this] { initial_allocations(); });
    timer.rule('-');

    const bool geodesic = opts_.program.weighted && opts_.distance.geodesic_length(nodes.size()) > 0;
    if (geodesic)
        compute_geodesic();
    else
        compute_plain();

    timer.time(output_label, [&] {
        write_overlay(images.gradient);
        write_outputs(images.distance, images.medial, images.residue);
    });

    if (opts_.commands.partition_like()) {
        dual_transform();
        compute_partition(images.features);
        timer.time(output_label, [&] {
            write_partition_outputs(images.features, images.labels, images.feature_cover);
        });
    } else if (opts_.commands.dual_wanted()) {
        dual_transform();
        enter_dual_mode();
        compute_plain();
        timer.time(output_label, [&] {
            write_outputs(images.dual_distance, images.dual_medial, images.dual_residue);
        });
        leave_dual_mode();
    }

    if (timer.enabled) timer.report("Total:", timer.total);
    return timer.rule('=');
}

template <bool debug, typename T>
bool image_pipeline<debug, T>::check_degenerate(image_set<T>& images) {
    const lumo::array_2d<unsigned char>& input = images.input;
    const unsigned char value = lumo::min(input);
    if (value != lumo::max(input)) return false;

    if (timer.enabled) std::cout << "Degenerate case: input is constant!" << std::endl;

    const lumo::size_array& sizes = input.size();
    const T infinity = std::numeric_limits<T>::infinity();
    // A constant image has no boundary to measure from, except in binary
    // mode an image that is all foreground: every pixel lies in the
    // foreground, at distance 0 from it. The dual side runs weighted.
    const auto distance_fill = [&] {
        return !opts_.program.weighted && value != 0 ? T(0) : infinity;
    };
    auto trivial = [&](lumo::array_2d<T>& distance, lumo::array_2d<unsigned char>& marker,
                       lumo::array_2d<T>& residue) {
        if (distance_slot_wanted(opts_)) distance.resize(sizes, distance_fill());
        if (marker_slot_wanted(opts_)) {
            marker.resize(sizes, static_cast<unsigned char>(0));
            if (opts_.medial.times_residue) residue.resize(sizes, T(0));
        }
    };
    trivial(images.distance, images.medial, images.residue);
    if (opts_.commands.dual_wanted()) {
        enter_dual_mode();
        trivial(images.dual_distance, images.dual_medial, images.dual_residue);
        leave_dual_mode();
    }
    if (opts_.program.overlay_gradient()) images.gradient.resize(sizes, static_cast<unsigned char>(0));

    if (!opts_.commands.features) {
        if (opts_.commands.partition && !opts_.commands.descriptors)
            images.labels.resize(sizes, size_t(0));
    } else if (feature_images_wanted(opts_)) {
        if (opts_.features.show_fine_partition) images.labels.resize(sizes, size_t(0));
        if (opts_.features.show_cover)
            images.feature_cover.resize(sizes, static_cast<unsigned char>(0));
    }
    // A constant image has no features; none may be left from an earlier image.
    images.features.count = 0;
    return true;
}

template <bool debug, typename T>
void image_pipeline<debug, T>::allocate_input(const lumo::array_2d<unsigned char>& input) {
    pad_image(input, padded_input, pipeline_border);
}

template <bool debug, typename T>
void image_pipeline<debug, T>::initial_allocations() {
    nodes.resize(padded_input.size());
    base.set_grid(&nodes);
    clear_nodes(nodes);
    medial_done = false;
    partition_done = false;
    path_graph_storage.allocation_factor = opts_.program.memory_factor;
    component_graph_storage.allocation_factor = opts_.program.memory_factor;
}

// The component sequence: distance, then for anything beyond the distance
// the boundary graph of the component configuration and the medial axis.
// The graph's records stay in place after the used counts go back to 0
// (nodes still point into them).
template <bool debug, typename T>
void image_pipeline<debug, T>::compute_plain() {
    timer.total += run_distance_stage<debug, T>(nodes, opts_, padded_input, gradient);
    if (!opts_.commands.beyond_distance()) return;
    component_graph<debug, T> graph(nodes, opts_, component_graph_storage);
    timer.total += graph.parse_boundary();
    timer.total += graph.parse_structure();
    timer.total += run_medial_stage(nodes, opts_, graph);
    medial_done = true;
    component_graph_storage.clear();
}

// The geodesic sequence: distance; boundary parsing of the path
// configuration; the geodesic stage, whose paths, vertices and edges
// structure parsing then prunes; the views of -vt and -vp (untimed); the
// medial axis over the pruned graph. The geodesic stage's length limit is the
// one that chose this sequence.
template <bool debug, typename T>
void image_pipeline<debug, T>::compute_geodesic() {
    timer.total += run_distance_stage<debug, T>(nodes, opts_, padded_input, gradient);
    if (!opts_.commands.beyond_distance()) return;
    path_graph<debug, T> graph(nodes, opts_, path_graph_storage);
    geodesic_distance<debug, T> geodesic(nodes, opts_, path_graph_storage);
    timer.total += graph.parse_boundary();
    timer.total += geodesic.run();
    timer.total += graph.parse_structure();
    if (opts_.distance.view_traces) geodesic.show_traces(path_graph_storage);
    if (opts_.distance.view_paths) geodesic.show_paths(path_graph_storage);
    timer.total += run_medial_stage(nodes, opts_, graph);
    medial_done = true;
    path_graph_storage.clear();
}

// The partition's two halves around the dual distance over the negated
// heights, which gives every node the origin that the cleanup reads.
template <bool debug, typename T>
void image_pipeline<debug, T>::compute_partition(feature_set<T>& features) {
    partition<debug, T> stage(nodes, opts_, padded_input, partition_store, features);
    timer.total += stage.run();
    enter_dual_mode();
    timer.total += run_distance_stage<debug, T>(nodes, opts_, padded_input, gradient);
    leave_dual_mode();
    timer.total += stage.finish();
    partition_done = true;
}

template <bool debug, typename T>
void image_pipeline<debug, T>::write_overlay(lumo::array_2d<unsigned char>& overlay) {
    if (opts_.program.overlay_gradient()) unpad_image(gradient, overlay, pipeline_border);
}

template <bool debug, typename T>
void image_pipeline<debug, T>::write_outputs(lumo::array_2d<T>& distance,
                                             lumo::array_2d<unsigned char>& marker,
                                             lumo::array_2d<T>& residue) {
    if (distance_slot_wanted(opts_))
        extract_node_field(nodes, &node::distance, distance, pipeline_border);
    if (!medial_done || !marker_slot_wanted(opts_)) return;
    extract_node_field(nodes, &node::marker, marker, pipeline_border);
    if (opts_.medial.times_residue)
        extract_node_field(nodes, &node::residue, residue, pipeline_border);
}

template <bool debug, typename T>
void image_pipeline<debug, T>::write_partition_outputs(feature_set<T>& features,
                                                       lumo::array_2d<size_t>& labels,
                                                       lumo::array_2d<unsigned char>& cover) {
    const command_options& c = opts_.commands;
    // Without a partition stage there are no features of this image.
    if (!partition_done) {
        features.count = 0;
        return;
    }
    if (!c.features_wanted()) {
        if (c.partition) extract_node_field(nodes, &node::label, labels, pipeline_border);
        return;
    }
    const T b = static_cast<T>(pipeline_border);
    for (size_t k = 0; k < features.count; ++k) {
        features.records[k].x -= b;
        features.records[k].y -= b;
    }
    if (!c.features || !feature_images_wanted(opts_)) return;
    if (opts_.features.show_fine_partition)
        extract_node_field(nodes, &node::label, labels, pipeline_border);
    if (opts_.features.show_cover)
        extract_node_field(nodes, &node::cover, cover, pipeline_border);
}

template <bool debug, typename T>
void image_pipeline<debug, T>::apply_dual_boundary_condition() {
    set_frame_member(nodes, &node::kind, 2, status(second_ring));
    set_frame_member(nodes, &node::kind, 1, status(border));
}

// Seeds of the dual distance (the image boundary ring and the primal medial
// axis) become low ground; everything else is out of reach.
template <bool debug, typename T>
void image_pipeline<debug, T>::negate_height() {
    const T ceiling = opts_.distance.ceiling;
    const T infinity = std::numeric_limits<T>::infinity();
    node* n = nodes.raw();
    for (node* e = n + nodes.length(); n != e; ++n)
        n->value = (n->kind & second_ring) || (n->kind & medial) ? ceiling - n->distance : infinity;
}

template <bool debug, typename T>
double image_pipeline<debug, T>::dual_transform() {
    if (timer.enabled) timer.report("Sub-total:", timer.total);
    timer.rule('=');
    timer.time("Dual transform -- image boundary condition:", [this] { apply_dual_boundary_condition(); });
    timer.time("Dual transform -- height / distance negation:", [this] { negate_height(); });
    return timer.rule('-');
}

template <bool debug, typename T>
void image_pipeline<debug, T>::enter_dual_mode() {
    saved_weighted = opts_.program.weighted;
    opts_.program.weighted = true;
    opts_.commands.primal = false;
}

template <bool debug, typename T>
void image_pipeline<debug, T>::leave_dual_mode() {
    opts_.commands.primal = true;
    opts_.program.weighted = saved_weighted;
}

template <bool debug, typename T>
double run_image_pipeline(image_set<T>& images, options<T>& opts) {
    image_pipeline<debug, T> pipeline(opts);
    return pipeline.run(images);
}

template class image_pipeline<false, double>;
template class image_pipeline<true, double>;
template double run_image_pipeline<false, double>(image_set<double>&, options<double>&);
template double run_image_pipeline<true, double>(image_set<double>&, options<double>&);

}  // namespace lumo::zarn
