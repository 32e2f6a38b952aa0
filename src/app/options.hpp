// The option block that the command line fills and every stage reads, the
// feature record, and the image set that carries one image's results from the
// pipeline to the output stage.
#ifndef ZARN_APP_OPTIONS_HPP
#define ZARN_APP_OPTIONS_HPP

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include <lumo/details/array/array>
#include <lumo/details/array_2d/array_2d>

namespace lumo::zarn {

constexpr size_t size_max = std::numeric_limits<size_t>::max();

// One feature: an ellipse given by its covariance and centre. Coordinates are
// those of the padded grid until the result extraction moves them to the
// input image; x is the image column, y the image row.
template <typename T>
struct feature_type {
    T determinant;  // a c - b b
    T a;            // variance of x
    T b;            // covariance of x and y
    T c;            // variance of y
    T inv_a;        // c / d
    T inv_b;        // -b / d
    T inv_c;        // a / d
    T x;            // centre column
    T y;            // centre row
    T major;        // major axis
    T minor;        // minor axis
    T angle;        // radians
};

// Major axis sqrt(l1), minor axis sqrt(max(l2, 0)) and angle atan2(a - l1, b)
// from the eigenvalues l1 >= l2 of the covariance [a b; b c]; rounding can
// make l2 slightly negative for a thin ellipse.
template <typename T>
void ellipse_axes(feature_type<T>& f) {
    const T a = f.a, b = f.b, c = f.c;
    const T r = std::sqrt((a - c) * (a - c) + 4 * (b * b));
    const T l1 = (a + c + r) * T(0.5);
    const T l2 = (a + c - r) * T(0.5);
    f.major = std::sqrt(l1);
    f.minor = std::sqrt(l2 > T(0) ? l2 : T(0));
    f.angle = std::atan2(a - l1, b);
}

// Records 0 .. count - 1 are features; the array may be longer.
template <typename T>
struct feature_set {
    lumo::array<feature_type<T>> records;
    size_t count = 0;
};

struct command_options {
    bool distance = false;       // -d
    bool medial = false;         // -m
    bool partition = false;      // -p
    bool features = false;       // -f
    bool descriptors = false;    // -de
    bool both_medial = false;    // -u
    bool dual_distance = false;  // -ud
    bool dual_medial = false;    // -um
    bool primal = true;          // cleared while dual results are computed

    bool distance_wanted() const { return primal ? distance : dual_distance; }
    bool medial_wanted() const { return (primal ? medial : dual_medial) || both_medial; }
    bool primal_medial_wanted() const { return medial || both_medial; }
    bool dual_medial_wanted() const { return dual_medial || both_medial; }
    bool any_command() const {
        return distance || medial || partition || features || descriptors || both_medial ||
               dual_distance || dual_medial;
    }
    bool beyond_distance() const {
        return medial || partition || features || descriptors || both_medial || dual_distance ||
               dual_medial;
    }
    bool needs_dual() const {
        return partition || features || descriptors || dual_distance || dual_medial || both_medial;
    }
    bool dual_wanted() const { return dual_distance || dual_medial || both_medial; }
    bool features_wanted() const { return features || descriptors; }
    bool partition_like() const { return partition || features || descriptors; }
};

template <typename T>
struct program_options {
    std::string file_name;      // current file, relative to the input folder
    bool weighted = true;       // -w / -b
    bool view = false;          // -v
    std::uint32_t overlay = 0;  // -o 1, -od 2, -og 3
    bool timing = false;        // -t
    bool statistics = false;    // -vs
    T memory_factor = 1;        // -ma
    bool debug = false;         // -db

    bool overlay_any() const { return overlay != 0; }
    bool overlay_input() const { return overlay == 1; }
    bool overlay_distance() const { return overlay == 2; }
    bool overlay_gradient() const { return overlay == 3; }

    void check() {
        if (memory_factor < 1) memory_factor = 1;
        if (memory_factor > 10) memory_factor = 10;
        if (!weighted && overlay == 3) overlay = 0;
    }
};

struct file_options {
    std::vector<std::string> files;  // relative to input_folder, search order
    std::string input_folder;
    std::string output_folder;  // empty or ending in '/'
    bool recurse = false;            // -r
    bool repeat = false;             // -rp
    bool hardcoded_options = false;  // -ho
    bool hardcoded_sample = false;   // -hs
    std::string sample;              // -sa

    file_options() { apply_output_folder_rule(); }

    bool sample_given() const { return !sample.empty(); }
    bool hardcoded() const { return hardcoded_options || hardcoded_sample || !sample.empty(); }

    // A given folder ends in '/'; none given means the input folder.
    void apply_output_folder_rule() {
        if (!output_folder.empty()) {
            if (output_folder.back() != '/') output_folder += '/';
        } else {
            output_folder = input_folder;
        }
    }
};

template <typename T>
struct distance_options {
    T height_factor = 4;      // -hf
    T derivation_scale = 0.5; // -ds
    bool gradient = true;     // -ng clears
    T length_factor = 0.1;    // -lf
    size_t max_length = 50;   // -la
    size_t isocontour = 0;    // -i
    bool view_gradient = false;  // -vg
    bool view_traces = false;    // -vt
    bool view_paths = false;     // -vp
    // Written by every distance run before anything reads it: 2 plus the
    // distance of the last node settled.
    T ceiling = 0;

    // min(trunc(max(sizes) * length_factor), max_length)
    size_t geodesic_length(const lumo::size_array& sizes) const {
        const size_t l = static_cast<size_t>(static_cast<T>(lumo::max(sizes)) * length_factor);
        return l < max_length ? l : max_length;
    }

    void check() {
        const T eps = std::numeric_limits<T>::epsilon();
        if (derivation_scale < 0) derivation_scale = 0;
        if (derivation_scale > 1) derivation_scale = 1;
        if (height_factor < eps) height_factor = eps;
        if (length_factor < 0) length_factor = 0;
        if (length_factor > 1) length_factor = 1;
        if (max_length > 1000) max_length = 1000;
    }
};

template <typename T>
struct medial_options {
    T scale = 2;               // -s
    T dual_scale = 2;          // -su
    T distance_scale = 0;      // -sd
    std::uint32_t marker = 1;  // -m2 0 twin, -mb 1 binary, -mg 2 grayscale
    bool thinning = false;     // -mt
    bool times_distance = false;  // -a
    bool times_residue = false;   // -re

    static T min_scale() { return std::numeric_limits<T>::epsilon() * static_cast<T>(1e5); }

    void check(const command_options& commands, bool weighted) {
        if (commands.needs_dual())
            marker = 0;
        else if (weighted && marker == 2)
            marker = 1;
        if (scale < min_scale()) scale = min_scale();
        if (dual_scale < min_scale()) dual_scale = min_scale();
        if (distance_scale < 0) distance_scale = 0;
    }
};

template <typename T>
struct partition_options {
    bool fast_marching = true;                 // -cm / -cs
    size_t min_components = size_max;          // -pc; the largest means all
    T min_link_distance = std::numeric_limits<T>::infinity();  // -pd
    std::uint32_t style = 0;                   // -pb 0, -pi 1, -p2 2
    bool show_medial = false;                  // -pm
    size_t margin = size_max;                  // -pa; the largest means unset
    bool link_expansion = true;                // -dl clears
    bool interactive = false;                  // -vi
    bool show_cuts = false;                    // -vc

    bool boundaries() const { return style == 0 || style == 2; }
    bool interiors() const { return style == 1 || style == 2; }

    void check(bool weighted) {
        const T inf = std::numeric_limits<T>::infinity();
        if (margin == size_max) margin = weighted ? 50 : 2;
        if (min_link_distance < 0) min_link_distance = 0;
        if (min_components != size_max && min_link_distance == inf)
            min_link_distance = 0;
        else if (min_components == size_max && min_link_distance != inf)
            min_components = 0;
        if (margin == 0) margin = size_max;
    }
};

template <typename T>
struct feature_options {
    T fragmentation = 0.6;     // -ff
    T growth = 0.1;            // -fg
    T zoom = 1;                // -z
    std::uint32_t format = 0;  // -fmp 0, -fma 1, -fmm 2
    bool affine_normalized = false;    // -fn
    bool flat = false;                 // -fl
    bool feature_image = false;        // -fi
    bool show_fine_partition = false;  // -fp
    bool show_cover = false;           // -fc

    void check(const command_options& commands) {
        if (commands.descriptors) {
            format = 2;
            zoom = 3 * zoom;
        }
        if (fragmentation < 0) fragmentation = 0;
        if (growth < 0) growth = 0;
        if (zoom < 0) zoom = 0;
    }
};

template <typename T>
struct grassfire_options {
    T step = 0;           // -sf
    T distance_step = 0;  // -df
    T geodesic_step = 0;  // -gf
    T medial_step = 0;    // -mf
    T descent_step = 0;   // -pf

    void check() {
        if (step < 0) step = 0;
        if (step != 0) {
            distance_step = geodesic_step = medial_step = descent_step = step;
        } else {
            if (distance_step < 0) distance_step = 0;
            if (geodesic_step < 0) geodesic_step = 0;
            if (medial_step < 0) medial_step = 0;
            if (descent_step < 0) descent_step = 0;
        }
    }
};

template <typename T>
struct options {
    command_options commands;
    program_options<T> program;
    file_options files;
    distance_options<T> distance;
    medial_options<T> medial;
    partition_options<T> partition;
    feature_options<T> features;
    grassfire_options<T> grassfire;
    feature_set<T>* feature_pool = nullptr;  // the image set's features

    // Validation after the file search, steps in their fixed order; the
    // preset runs it from the output-folder rule on.
    void validate(bool with_program_checks = true) {
        if (with_program_checks) program.check();
        files.apply_output_folder_rule();
        distance.check();
        medial.check(commands, program.weighted);
        partition.check(program.weighted);
        features.check(commands);
        grassfire.check();
    }
};

// The eight result kinds, by index: file suffixes ("dist", "med", "udist",
// "umed", "uboth", "part", "feat", "desc") and window titles; and the
// extension of the feature text file. Filled before main runs.
extern const lumo::array<std::string> output_suffixes;
extern const lumo::array<std::string> window_titles;
extern const std::string feature_extension;

// The current image and every result computed from it.
template <typename T>
struct image_set {
    lumo::array_2d<unsigned char> input;
    lumo::array_2d<unsigned char> gradient;
    lumo::array_2d<T> distance;
    lumo::array_2d<T> dual_distance;
    lumo::array_2d<unsigned char> medial;
    lumo::array_2d<unsigned char> dual_medial;
    lumo::array_2d<T> residue;
    lumo::array_2d<T> dual_residue;
    lumo::array_2d<size_t> labels;
    feature_set<T> features;
    lumo::array_2d<unsigned char> feature_cover;
};

}  // namespace lumo::zarn

#endif
