// The interactive merging view without a display: the merge-state layers
// pixel by pixel, their composition over the input, the feature boxes, the
// captions, the step reports of hand-made merges, and on random images the
// same merges as the plain loops with one window per merge.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <iomanip>
#include <limits>
#include <regex>
#include <string>
#include <vector>

#include "app/test_support.hpp"
#include "partition/partition_support.hpp"
#include "pipeline/capture.hpp"

namespace {

using namespace part_test;
namespace z = lumo::zarn;
using region = z::region_type<double>;
using view_type = z::merge_view<false, double>;
using pixel = std::array<int, 4>;  // planes 0, 1, 2 and the opacity

// Every window the view asked for, by title, with the picture's sizes.
struct window_record {
    std::string title;
    size_t rows, columns, planes;
};
std::vector<window_record> windows;

void record_window(const lumo::image<unsigned char>& picture, const std::string& name, const std::string& title) {
    windows.push_back({lumo::window_title(name, title), picture.size(0), picture.size(1), picture.channels()});
}

// A stage on a hand-made grid with components taken by the test. Input
// gray 100.
struct view_case {
    ridge_grid g;
    std::unique_ptr<stage> s;

    view_case(size_t w, size_t h, size_t room, bool feature_mode, bool timing = false) : g(w, h, 10.0) {
        g.opts.commands.partition = !feature_mode;
        g.opts.commands.features = feature_mode;
        g.opts.partition.interactive = true;
        g.opts.program.timing = timing;
        g.opts.features.fragmentation = 10;
        g.input.fill(100);
        for (size_t i = 0; i < g.nodes.length(); ++i) g.nodes[i].kind_backup = z::ordinary;
        s = g.make();
        s->init();
        s->reserve_storage(room);
        s->view.show = &record_window;
        windows.clear();
    }

    view_type& view() { return s->view; }

    component* take(double peak, double span, component* parent = nullptr, const region* r = nullptr) {
        component* c = g.storage.components.take();
        *c = component{peak, 0, span, 0, nullptr, parent, 0, 0};
        if (r) {
            c->region = g.storage.regions.take();
            *c->region = *r;
        }
        return c;
    }
    void place(size_t row, size_t col, component* c, z::status_enum kind = z::ordinary) {
        g.at(row, col).component = c;
        g.at(row, col).kind_backup = kind;
    }
    pixel layer_at(size_t row, size_t col) { return at(view().layer, row, col, 4); }
    pixel canvas_at(size_t row, size_t col) { return at(view().canvas, row, col, 3); }

    pixel at(const lumo::image<unsigned char>& im, size_t row, size_t col, size_t planes) {
        const size_t n = g.nodes.length(), i = row * g.w() + col;
        pixel p{0, 0, 0, 0};
        for (size_t k = 0; k < planes; ++k) p[k] = im[i + k * n];
        return p;
    }
};

const pixel cyan_full{255, 255, 0, 255}, cyan_quarter{255, 255, 0, 64};
const pixel yellow_full{0, 255, 255, 255}, yellow_quarter{0, 255, 255, 64};
const pixel shown_red{0, 0, 255, 255}, shown_blue{255, 0, 0, 255}, black{0, 0, 0, 255};
const pixel white{255, 255, 255, 255}, green{0, 255, 0, 255}, dark_green{0, 128, 0, 128};
const pixel none{0, 0, 0, 0};

// One grid row in range (row 1 of a grid of 3 rows), left to right:
// nothing, a (under A), A (first end), B (second end, under Broot), O1,
// O3 (under O1), O2, b (under Broot). O2 also sits above A, in row 0, and
// below B, in row 2, which is out of range; A also sits above b.
struct layout : view_case {
    component *A, *a, *Broot, *B, *b, *O1, *O3, *O2;
    z::link<double> l;

    explicit layout(bool feature_mode) : view_case(8, 3, 10, feature_mode) {
        A = take(1, 0);
        a = take(1, 0, A);
        Broot = take(1, 0);
        B = take(1, 0, Broot);
        b = take(1, 0, Broot);
        O1 = take(1, 0);
        O3 = take(1, 0, O1);
        O2 = take(1, 0);
        place(1, 1, a);
        place(1, 2, A);
        place(1, 3, B, z::plateau);
        place(1, 4, O1, z::interior);
        place(1, 5, O3);
        place(1, 6, O2, z::status_enum(z::medial | z::boundary_seed));
        place(1, 7, b, z::status_enum(z::plateau | z::medial));  // not exactly a cut
        place(0, 2, O2);
        place(0, 7, A);
        place(2, 3, O2);
        l = z::link<double>{A, B, 5, 1, 0, 0, 0};
        view().start();
    }
};

TEST(MergeViewLayers, HighlightAndBoundariesPixelByPixel) {
    for (bool feature_mode : {false, true}) {
        SCOPED_TRACE(feature_mode ? "feature mode" : "partition mode");
        layout t(feature_mode);
        if (feature_mode)
            t.view().interactive_highlight_render<true>(t.l);
        else
            t.view().interactive_highlight_render<false>(t.l);
        const std::vector<pixel> highlight = {none, cyan_quarter, cyan_full, yellow_full, none, none, none, yellow_quarter};
        for (size_t col = 0; col < 8; ++col) {
            EXPECT_EQ(t.layer_at(1, col), highlight[col]) << col;
            EXPECT_EQ(t.layer_at(0, col), none) << col;
            EXPECT_EQ(t.layer_at(2, col), none) << col;
        }

        if (feature_mode)
            t.view().interactive_canvas_render<true>(t.l);
        else
            t.view().interactive_canvas_render<false>(t.l);
        // Later pairs repaint: A is blue against O2 above it, then red
        // against B; O1 white against B, then dark green against O3; b blue
        // against O2 on its left, then red against A above it.
        const std::vector<pixel> boundaries = {none, dark_green, shown_red, black, dark_green, green, white, shown_red};
        for (size_t col = 0; col < 8; ++col) {
            EXPECT_EQ(t.layer_at(1, col), boundaries[col]) << col;
            EXPECT_EQ(t.layer_at(0, col), col == 2 ? shown_blue : col == 7 ? shown_red : none) << col;
            EXPECT_EQ(t.layer_at(2, col), none) << col;
        }
        EXPECT_EQ(t.view().layer.channels(), 4u);
    }
}

// Gray 100 under the ends at half strength, the boundaries at their
// opacity over that, and the boxes of earlier steps in magenta at 0.3.
TEST(MergeViewLayers, CompositionWeights) {
    view_case t(6, 4, 10, false);
    component* A = t.take(1, 0);
    component* a = t.take(1, 0, A);
    component* B = t.take(1, 0);
    t.place(1, 1, A);
    t.place(1, 2, A);
    t.place(2, 1, A);
    t.place(2, 2, A);
    t.place(1, 3, B);
    t.place(2, 4, a);
    t.view().mask_image[1 * 6 + 1] = 255;
    t.view().start();
    t.view().render_merge_state<false>(z::link<double>{A, B, 5, 1, 0, 0, 0});
    EXPECT_EQ(t.canvas_at(2, 1), (pixel{177, 177, 50, 0}));  // cyan at 0.5
    EXPECT_EQ(t.canvas_at(2, 4), (pixel{119, 119, 87, 0}));  // cyan at 64 x 0.5 / 255
    EXPECT_EQ(t.canvas_at(1, 2), (pixel{0, 0, 255, 0}));     // a boundary replaces
    EXPECT_EQ(t.canvas_at(1, 1), (pixel{200, 123, 111, 0}));  // magenta over the cyan
    EXPECT_EQ(t.canvas_at(0, 0), (pixel{100, 100, 100, 0}));
    EXPECT_EQ(t.canvas_at(3, 5), (pixel{100, 100, 100, 0}));
    EXPECT_EQ(t.view().canvas.channels(), 3u);
}

// Columns of the mask holding part of a box in image row `row`.
std::vector<size_t> marked_columns(const lumo::image<unsigned char>& mask, size_t rows, size_t row) {
    std::vector<size_t> cols;
    for (size_t col = 0; col < mask.size(1); ++col)
        if (mask[row + rows * col]) cols.push_back(col);
    return cols;
}

// The boxes of the ends that are features, 2.4 times the square roots of
// the covariance's eigenvalues; never one that is no finite ellipse.
TEST(MergeViewFeatures, BoxesOfFeatureEnds) {
    // Nodes at grid rows 13 and 17, columns 11 and 13: variances 4 and 1.
    const region corners = region_of({{13, 11}, {13, 13}, {17, 11}, {17, 13}});
    view_case t(30, 30, 10, true);
    t.view().canvas.resize(30, 30, 3, static_cast<unsigned char>(0));
    component* f = t.take(1, 5, nullptr, &corners);
    component* g = t.take(1, 5, nullptr, &corners);
    f->feature = 1;
    t.view().cyan_component = g;
    t.view().yellow_component = f;
    t.view().draw_merge_features();
    EXPECT_FALSE(t.view().drawn_flags[0]);
    EXPECT_TRUE(t.view().drawn_flags[1]);
    // Grid row r is image column r: the long sides 4.8 from column 15.
    const std::vector<size_t> cols = marked_columns(t.view().mask_image, 30, 12);
    ASSERT_FALSE(cols.empty());
    EXPECT_EQ(cols.front(), 9u);
    EXPECT_EQ(cols.back(), 21u);
    EXPECT_EQ(t.view().mask_image[12 + 30 * 15], 0);
    EXPECT_TRUE(marked_columns(t.view().mask_image, 30, 16).empty());
    EXPECT_EQ(t.canvas_at(20, 12)[1], 0);  // magenta on the canvas
    EXPECT_GT(t.canvas_at(20, 12)[0], 0);

    // The mask keeps the box; no region fit for an ellipse draws nothing.
    const auto mask_before = t.view().mask_image;
    const region empty = region_of({}), line = region_of({{3, 3}, {4, 3}});
    region infinite = corners;
    infinite.var_row = std::numeric_limits<double>::infinity();
    for (const region* r : {&empty, &line, static_cast<const region*>(&infinite)}) {
        component* h = t.take(1, 5, nullptr, r);
        h->feature = 1;
        t.view().cyan_component = t.view().yellow_component = h;
        t.view().draw_merge_features();
        EXPECT_FALSE(t.view().drawn_flags[0]);
        EXPECT_FALSE(t.view().drawn_flags[1]);
        EXPECT_TRUE(std::equal(mask_before.raw(), mask_before.raw() + 900, t.view().mask_image.raw()));
    }

    // Zoom 0: no box at all.
    view_case zero(30, 30, 10, true);
    zero.g.opts.features.zoom = 0;
    zero.s = zero.g.make();
    zero.s->init();
    zero.s->reserve_storage(4);
    zero.view().canvas.resize(30, 30, 3, static_cast<unsigned char>(0));
    component* k = zero.take(1, 5, nullptr, &corners);
    k->feature = 1;
    zero.view().cyan_component = zero.view().yellow_component = k;
    zero.view().draw_merge_features();
    EXPECT_FALSE(zero.view().drawn_flags[0]);
    for (size_t i = 0; i < 900; ++i) ASSERT_EQ(zero.view().mask_image[i], 0) << i;
}

TEST(MergeViewCaptions, NumbersEligibilityAndNonFiniteFigures) {
    view_case t(7, 6, 10, true);  // 42 nodes
    view_type& v = t.view();
    std::cout << std::scientific << std::setprecision(5);  // captions keep their own format
    component* c = t.take(5.876, 2.0);
    bool eligible = false;
    v.component_caption(v.cyan_caption, eligible, *c);
    EXPECT_EQ(v.cyan_caption.str(), "peak 5.88, valley 0.00, span 2.00");
    EXPECT_TRUE(eligible);
    c->boundary = 1;
    v.component_caption(v.cyan_caption, eligible, *c);
    EXPECT_FALSE(eligible);
    for (double span : {1.999, -std::nan("")}) {
        component* d = t.take(0, span);
        v.component_caption(v.yellow_caption, eligible, *d);
        EXPECT_FALSE(eligible) << span;
    }
    EXPECT_EQ(v.yellow_caption.str(), "peak 0.00, valley 0.00, span nan");
    std::cout << std::defaultfloat << std::setprecision(6);

    // Area in percent of the grid; gaps as each fragmentation test measures
    // them; frag per node.
    region r = region_of({{0, 0}, {0, 2}, {4, 0}, {4, 2}}, 3.0);  // sqrt_det 2
    r.gap_rr = 1;
    r.gap_cc = 8;
    component* e = t.take(2, 3, nullptr, &r);
    v.region_caption<false, false>(v.cyan_caption, eligible, *e);
    EXPECT_EQ(v.cyan_caption.str(), "peak 2.00, valley 0.00, span 3.00, area 9.52, gaps 3.00, frag 0.75");
    EXPECT_TRUE(eligible);
    v.region_caption<false, true>(v.cyan_caption, eligible, *e);
    EXPECT_EQ(v.cyan_caption.str(), "peak 2.00, valley 0.00, span 3.00, area 9.52, gaps 9.00, frag 2.25");
    for (bool flat : {false, true}) {  // (1 x 1 + 4 x 8) / 2
        if (flat)
            v.region_caption<true, true>(v.cyan_caption, eligible, *e);
        else
            v.region_caption<true, false>(v.cyan_caption, eligible, *e);
        EXPECT_EQ(v.cyan_caption.str(), "peak 2.00, valley 0.00, span 3.00, area 9.52, gaps 16.50, frag 4.12");
    }
    // Only the normalised gaps of a region on one line, and the ratio of a
    // region without nodes, are not finite.
    const region line = region_of({{1, 1}, {1, 2}}, 1.0), empty = region_of({}, 2.0);
    region line_gaps = line;
    line_gaps.gap_rr = 4;
    component* flat_line = t.take(0, 0, nullptr, &line_gaps);
    component* thin = t.take(0, 0, nullptr, &line);
    component* hollow = t.take(0, 0, nullptr, &empty);
    v.region_caption<true, false>(v.cyan_caption, eligible, *flat_line);
    EXPECT_EQ(v.cyan_caption.str(), "peak 0.00, valley 0.00, span 0.00, area 4.76, gaps inf, frag inf");
    v.region_caption<true, false>(v.cyan_caption, eligible, *thin);
    EXPECT_EQ(v.cyan_caption.str(), "peak 0.00, valley 0.00, span 0.00, area 4.76, gaps nan, frag nan");
    v.region_caption<false, false>(v.cyan_caption, eligible, *hollow);
    EXPECT_EQ(v.cyan_caption.str(), "peak 0.00, valley 0.00, span 0.00, area 0.00, gaps 2.00, frag inf");
    v.region_caption<true, false>(v.cyan_caption, eligible, *hollow);
    EXPECT_EQ(v.cyan_caption.str(), "peak 0.00, valley 0.00, span 0.00, area 0.00, gaps nan, frag nan");
}

// Three components, links (1, 2) at 2.25 and (0, 1) at 3.5, H = 10: the
// report of each union, in the format standard output has.
struct partition_steps : view_case {
    component* c[3];
    partition_steps(size_t pc, double pd, bool timing, bool with_links = true)
        : view_case(6, 5, 3, false, timing) {
        g.opts.partition.min_components = pc;
        g.opts.partition.min_link_distance = pd;
        s = g.make();
        s->init();
        s->reserve_storage(3);
        s->view.show = &record_window;
        for (int k = 0; k < 3; ++k) c[k] = take(k, 2.0 * k);
        if (!with_links) return;
        g.storage.links.push_back(z::link<double>{c[0], c[1], 3.5, 1, 0, 0, 0});
        g.storage.links.push_back(z::link<double>{c[1], c[2], 2.25, 0.5, 0, 0, 0});
    }
    std::string merge_report() {
        zarn_test::cout_capture out;
        std::cout << std::fixed << std::setprecision(2);
        s->merge();
        std::cout << std::defaultfloat << std::setprecision(6);
        return out.text();
    }
};

const std::string rule = std::string(70, '=') + "\n";
const std::string first_step =
    "link height 2.25, width/gap 0.50 -> 1\n"
    "cyan   1: peak 1.00, valley 0.00, span 2.00\n"
    "yellow 2: peak 2.00, valley 0.00, span 4.00\n\n";
const std::string second_step =
    "link height 3.50, width/gap 1.00 -> 1\n"
    "cyan   0: peak 0.00, valley 0.00, span 0.00\n"
    "yellow 1: peak 1.00, valley 0.00, span 4.00\n\n";

TEST(MergeViewReport, PartitionModeStepsAndRules) {
    partition_steps all(0, 0.0, true);
    EXPECT_EQ(all.merge_report(), rule + first_step + second_step + rule);
    EXPECT_EQ(all.s->live_components, 1u);
    ASSERT_EQ(windows.size(), 2u);
    EXPECT_EQ(windows[0].title, "[interactive partition] -- zarn");
    EXPECT_EQ(windows[0].rows, 6u);
    EXPECT_EQ(windows[0].columns, 5u);
    EXPECT_EQ(windows[0].planes, 3u);

    // Stopping on -pc or on the distance limit closes without a rule.
    EXPECT_EQ(partition_steps(2, 0.0, true).merge_report(), rule + first_step);
    EXPECT_EQ(windows.size(), 1u);
    EXPECT_EQ(partition_steps(3, 0.0, true).merge_report(), rule);
    EXPECT_EQ(partition_steps(0, 8.0, true).merge_report(), rule);  // 2.25 above 10 - 8
    EXPECT_TRUE(windows.empty());
    // No link: both rules; without timing an empty line opens, nothing closes.
    EXPECT_EQ(partition_steps(0, 0.0, true, false).merge_report(), rule + rule);
    EXPECT_EQ(partition_steps(0, 0.0, false, false).merge_report(), "\n");
    EXPECT_EQ(partition_steps(0, 0.0, false).merge_report(), "\n" + first_step + second_step);
}

// A meets B at 4 and becomes a feature under a new parent N1 (index 3);
// N1 meets C at 6 and becomes one under N2 (index 4); A and B meet again
// at 7 inside N2: no step.
TEST(MergeViewReport, FeatureModeStepsWithMarkers) {
    view_case t(7, 6, 10, true, true);
    const region ra = region_of({{0, 0}, {0, 2}, {4, 0}, {4, 2}}, 1.0), rb = region_of({{5, 5}}, 1.0),
                 rc = region_of({{6, 6}}, 1.0);
    component* a = t.take(1, 5, nullptr, &ra);
    component* b = t.take(2, 0.5, nullptr, &rb);
    component* c = t.take(3, 0.5, nullptr, &rc);
    t.g.storage.links.push_back(z::link<double>{a, b, 7, 0.125, 1, 2, 3});
    t.g.storage.links.push_back(z::link<double>{a, b, 4, 0.25, 2, 4, 6});
    t.g.storage.links.push_back(z::link<double>{b, c, 6, 0.5, 4, 8, 12});
    zarn_test::cout_capture out;
    std::cout << std::fixed << std::setprecision(2);
    t.s->merge();
    std::cout << std::defaultfloat << std::setprecision(6);
    EXPECT_EQ(out.text(), rule +
                              "link height 4.00, width/gap 0.25 -> 3\n"
                              "+ + cyan   0: peak 1.00, valley 0.00, span 5.00, area 9.52, gaps 1.00, frag 0.25\n"
                              "- - yellow 1: peak 2.00, valley 0.00, span 0.50, area 2.38, gaps 1.00, frag 1.00\n\n"
                              "link height 6.00, width/gap 0.50 -> 4\n"
                              "+ + cyan   3: peak 1.00, valley 4.00, span 5.00, area 11.90, gaps 1.50, frag 0.30\n"
                              "- - yellow 2: peak 3.00, valley 0.00, span 0.50, area 2.38, gaps 1.00, frag 1.00\n\n" +
                              rule);
    EXPECT_EQ(windows.size(), 2u);
    EXPECT_EQ(t.s->live_components, 1u);
}

// Whatever the variant, the interactive loop leaves the forest, counters,
// labels, features and cover of the plain loop, with one report and one
// window per merge of two components.
struct outcome {
    size_t at_merge, live, steps;
    std::vector<size_t> labels;
    std::vector<int> covers;
    std::vector<double> features;
    std::string report;
};

outcome run_case(const lumo::array_2d<unsigned char>& image, unsigned seed, bool features, size_t pc,
                 bool affine, bool flat, bool interactive) {
    image_case k(image);
    k.opts.commands.partition = !features;
    k.opts.commands.features = features;
    k.opts.partition.min_components = pc;
    k.opts.features.affine_normalized = affine;
    k.opts.features.flat = flat;
    k.opts.features.show_fine_partition = true;
    k.opts.features.show_cover = true;
    k.opts.partition.interactive = interactive;
    auto s = k.prepare(random_medial{seed, 4});
    s->view.show = &record_window;
    windows.clear();
    outcome o;
    {
        zarn_test::cout_capture out;
        s->run();
        k.dual_distance();
        s->finish();
        o.report = out.text();
    }
    o.at_merge = s->components_at_merge - s->unions;
    o.live = s->live_components;
    o.steps = windows.size();
    for (size_t i = 0; i < k.nodes().length(); ++i) {
        o.labels.push_back(k.nodes()[i].label);
        o.covers.push_back(k.nodes()[i].cover);
    }
    for (size_t i = 0; i < k.set.features.count; ++i) {
        const z::feature_type<double>& f = k.set.features.records[i];
        for (double v : {f.determinant, f.a, f.b, f.c, f.x, f.y}) o.features.push_back(v);
    }
    return o;
}

TEST(MergeViewLoop, SameMergesAsThePlainLoops) {
    const std::regex link_line("link height [0-9.e+-]+, width/gap [0-9.e+-]+ -> [0-9]+");
    const std::regex partition_line("(cyan  |yellow) [0-9]+: peak [0-9.-]+, valley [0-9.-]+, span [0-9.-]+");
    const std::regex feature_line("[-+] [-+] (cyan  |yellow) [0-9]+: peak [0-9.-]+, valley [0-9.-]+, span [0-9.-]+, "
                                  "area [0-9.]+, gaps [-0-9.naif]+, frag [-0-9.naif]+");
    size_t total_steps = 0;
    for (unsigned seed = 1; seed <= 4; ++seed) {
        const auto image = random_image(12 + 2 * seed, 15 + seed, seed);
        struct setting {
            bool features;
            size_t pc;
            bool affine, flat;
        };
        const setting settings[] = {{false, 0, false, false}, {false, 3, false, false},
                                    {true, z::size_max, false, false}, {true, z::size_max, false, true},
                                    {true, z::size_max, true, false}, {true, z::size_max, true, true}};
        for (const setting& v : settings) {
            SCOPED_TRACE("seed " + std::to_string(seed) + " features " + std::to_string(v.features) + " -pc " +
                         std::to_string(v.pc) + " -fn " + std::to_string(v.affine) + " -fl " + std::to_string(v.flat));
            const outcome plain = run_case(image, seed, v.features, v.pc, v.affine, v.flat, false);
            const outcome shown = run_case(image, seed, v.features, v.pc, v.affine, v.flat, true);
            EXPECT_EQ(shown.at_merge, plain.at_merge);
            EXPECT_EQ(shown.live, plain.live);
            EXPECT_EQ(shown.labels, plain.labels);
            EXPECT_EQ(shown.covers, plain.covers);
            EXPECT_EQ(shown.features, plain.features);
            EXPECT_EQ(plain.steps, 0u);
            EXPECT_EQ(plain.report, "");
            EXPECT_EQ(shown.steps, plain.at_merge - plain.live);
            total_steps += shown.steps;
            // An empty line, then four lines per step; nothing else.
            const std::vector<std::string> lines = zarn_test::lines_of(shown.report);
            ASSERT_EQ(lines.size(), 1 + 4 * shown.steps);
            EXPECT_EQ(lines[0], "");
            for (size_t k = 0; k < shown.steps; ++k) {
                EXPECT_TRUE(std::regex_match(lines[1 + 4 * k], link_line)) << lines[1 + 4 * k];
                for (size_t j : {2, 3})
                    EXPECT_TRUE(std::regex_match(lines[j + 4 * k], v.features ? feature_line : partition_line))
                        << lines[j + 4 * k];
                EXPECT_EQ(lines[4 + 4 * k], "");
            }
        }
    }
    EXPECT_GT(total_steps, 40u);
}

}  // namespace
