// The fixed option preset (-ho, -hs, -sa) and the six synthetic 500 x 500
// sample images, drawn into the input slot of the image set.
#include "app/preset.hpp"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <sstream>

#include <lumo/details/array_nd/sub_array.hpp>

#include "app/application.hpp"

namespace lumo::zarn {

namespace {

using byte_image = lumo::array_2d<unsigned char>;
constexpr size_t sample_size = 500;

// Every selected pixel := value; positions are (row, column).
void set_pixels(byte_image& img, const lumo::index_array& rows, const lumo::index_array& columns,
                unsigned char value) {
    const lumo::sub_array<unsigned char, byte_image, false> view(img, lumo::index_list(rows, columns));
    lumo::sub_array_assign(view, &value, 1, 0);
}

using lumo::range;

void sample_points_and_segment(byte_image& img) {
    img(200, 150) = 255;
    img(100, 350) = 255;
    set_pixels(img, {400}, range<size_t>(100, 400), 255);
}

void sample_grid(byte_image& img) {
    set_pixels(img, range<size_t>(100, 400), range<size_t>(0, 50, 450), 255);
    set_pixels(img, range<size_t>(0, 50, 450), range<size_t>(100, 400), 255);
}

void sample_ellipse(byte_image& img) {
    for (double t = 0; t < 6.283185307179586; t += 1.0 / 200) {
        const auto r = static_cast<size_t>(200.5 + 150 * std::sin(t));
        const auto c = static_cast<size_t>(250.5 + 200 * std::cos(t));
        img(r, c) = 255;
    }
}

void sample_five_points(byte_image& img) {
    img(250, 100) = 255;
    img(50, 200) = 255;
    img(450, 200) = 255;
    img(150, 400) = 255;
    img(350, 400) = 255;
}

// Uniform in [0, 1) from the start-up-seeded generator: a coordinate drawn
// as trunc(u x size) never reaches the image size.
double unit_draw() { return static_cast<double>(std::rand()) / (static_cast<double>(RAND_MAX) + 1.0); }

void sample_random_points(byte_image& img) {
    constexpr size_t points = 60;
    double u[2 * points];
    for (double& v : u) v = unit_draw();
    const auto rows = static_cast<double>(img.size(0));
    const auto columns = static_cast<double>(img.size(1));
    for (size_t k = 0; k < points; ++k)
        img(static_cast<size_t>(u[2 * k] * rows), static_cast<size_t>(u[2 * k + 1] * columns)) = 255;
}

// A frame of 201 rows by 401 columns with a gray line down its middle column.
void sample_rectangle(byte_image& img) {
    set_pixels(img, {150, 350}, range<size_t>(50, 450), 255);
    set_pixels(img, range<size_t>(150, 350), {50, 450}, 255);
    set_pixels(img, range<size_t>(151, 349), {250}, 128);
}

}  // namespace

size_t parse_sample_index(const std::string& name) {
    std::istringstream in(name);
    size_t index = 0;
    in >> index;
    return in.fail() ? 0 : index;
}

void application::apply_hardcoded_options() {
    command_options& c = opts.commands;
    c.distance = true;
    c.medial = true;
    c.partition = c.features = c.descriptors = false;
    c.both_medial = c.dual_distance = c.dual_medial = false;

    program_options<real>& p = opts.program;
    p.weighted = true;
    p.view = true;
    p.overlay = 0;
    p.timing = false;
    p.statistics = true;
    p.memory_factor = 1.0;
    p.debug = true;

    distance_options<real>& d = opts.distance;
    d.height_factor = 4;
    d.derivation_scale = 0.5;
    d.gradient = false;
    d.length_factor = 0.1;
    d.max_length = 50;
    d.isocontour = 0;
    d.view_gradient = d.view_traces = d.view_paths = false;

    medial_options<real>& m = opts.medial;
    m.scale = 2;
    m.dual_scale = 2;
    m.distance_scale = 0;
    m.marker = 1;
    m.thinning = m.times_distance = m.times_residue = false;

    partition_options<real>& q = opts.partition;
    q.fast_marching = true;
    q.min_components = size_max;
    q.min_link_distance = 10;
    q.style = 0;
    q.show_medial = false;
    q.margin = 50;
    q.link_expansion = true;
    q.interactive = false;
    q.show_cuts = false;

    feature_options<real>& f = opts.features;
    f.fragmentation = 0.5;
    f.growth = 0.1;
    f.zoom = 1;
    f.format = 0;
    f.affine_normalized = f.flat = f.feature_image = false;
    f.show_fine_partition = f.show_cover = false;

    grassfire_options<real>& g = opts.grassfire;
    g.step = g.distance_step = g.geodesic_step = g.medial_step = g.descent_step = 0;

    // The checks from the output-folder rule on.
    opts.validate(false);
}

bool application::draw_sample(const std::string& name) {
    byte_image& img = images.input;
    img.resize(sample_size, sample_size, 0);
    switch (parse_sample_index(name)) {
        case 1: sample_points_and_segment(img); return true;
        case 2: sample_grid(img); return true;
        case 3: sample_ellipse(img); return true;
        case 4: sample_five_points(img); return true;
        case 5: sample_random_points(img); return true;
        case 6: sample_rectangle(img); return true;
        default: return false;
    }
}

void application::run_sample() {
    if (opts.files.hardcoded()) apply_hardcoded_options();
    const std::string name = opts.files.hardcoded_sample ? std::string("6") : opts.files.sample;
    if (!draw_sample(name)) error_exit("Sample " + name + " not found!");
    process_files(images);
}

}  // namespace lumo::zarn
