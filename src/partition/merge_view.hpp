// The interactive merging view (-vi): before every merge of two components
// the merge state is painted over the input; after it a report goes to
// standard output and a window shows the picture until a key is pressed.
//
// The picture of a step, in grid terms (node i is pixel i of every plane):
// the input in gray, the link's two ends blended in cyan and yellow at half
// strength, the boundaries between fine components coloured by the merge
// state, and, in feature mode, every feature box drawn so far in magenta.
#ifndef ZARN_PARTITION_MERGE_VIEW_HPP
#define ZARN_PARTITION_MERGE_VIEW_HPP

#include <array>
#include <cmath>
#include <cstddef>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <lumo/details/array_2d/array_2d>
#include <lumo/details/image/bridge.hpp>
#include <lumo/details/image/color.hpp>
#include <lumo/details/image/overlay.hpp>

#include "app/options.hpp"
#include "app/render.hpp"
#include "partition/records.hpp"
#include "partition/storage.hpp"
#include "pipeline/node_grid.hpp"

namespace lumo::zarn {

// Colours and opacities of the merge-state layer. Bytes are in plane order;
// a window shows planes 0, 1, 2 as blue, green, red, and the names say what
// it shows.
namespace merge_layer {

using colour = std::array<unsigned char, 3>;

inline constexpr colour cyan{255, 255, 0};         // first end of the link
inline constexpr colour yellow{0, 255, 255};       // second end of the link
inline constexpr colour red{0, 0, 255};            // between the two merging components
inline constexpr colour blue{255, 0, 0};           // between a merging component and another
inline constexpr colour green{0, 255, 0};          // between two other components
inline constexpr colour dark_green{0, 128, 0};     // between fine components of one root
inline constexpr colour white{255, 255, 255};      // seed of the distance on a merge boundary
inline constexpr colour black{0, 0, 0};            // cut on a merge boundary

inline constexpr unsigned char full = 255;
inline constexpr unsigned char half = 128;
inline constexpr unsigned char quarter = 64;

}  // namespace merge_layer

template <bool debug, typename T>
class merge_view {
public:
    using node = node_type<debug, T>;
    using component = component_type<T>;
    // Shows a picture in a window titled from a file name and a title, and
    // waits for a key.
    using show_function = void (*)(const lumo::image<unsigned char>&, const std::string& name,
                                   const std::string& title);

    merge_view(const node_array<debug, T>& grid, const lumo::array_2d<unsigned char>& padded_input,
               partition_storage<T>& store, const options<T>& o)
        : nodes(grid.raw()),
          width(grid.size(0)),
          height(grid.size(1)),
          node_count(grid.length()),
          input(&padded_input),
          storage(&store),
          opts(&o),
          zoom(o.features.zoom) {}

    merge_view(const merge_view&) = delete;
    merge_view& operator=(const merge_view&) = delete;

    // A mask without feature boxes; captions with 2 decimals in fixed
    // notation, whatever standard output uses.
    void reset() {
        mask_image.resize(width, height, 1, static_cast<unsigned char>(0));
        for (std::ostringstream* s : {&cyan_caption, &yellow_caption}) {
            s->setf(std::ios::fixed, std::ios::floatfield);
            s->precision(2);
        }
    }

    // Before the first step of a merging run: every node's component and
    // the class of its kind before the dual run, which merging does not
    // change, in arrays the renderers read far faster than the nodes.
    void start() {
        components.resize(node_count);
        kinds.resize(node_count);
        for (size_t i = 0; i < node_count; ++i) {
            components[i] = nodes[i].component;
            kinds[i] = kind_class(nodes[i].kind_backup);
        }
    }

    // ---- One step ---------------------------------------------------------

    // Before the merge of r1 and r2, the distinct representatives of the
    // link's ends: the canvas, the link line (the window routine ends it)
    // and the captions of both as they stand.
    template <bool feature_mode, bool affine, bool flat>
    void begin_step(const link<T>& l, component* r1, component* r2) {
        cyan_component = r1;
        yellow_component = r2;
        render_merge_state<feature_mode>(l);
        // In the format standard output has: no manipulator here.
        std::cout << "link height " << static_cast<double>(l.value) << ", width/gap "
                  << static_cast<double>(l.width);
        if constexpr (feature_mode) {
            region_caption<affine, flat>(cyan_caption, eligible_flags[0], *r1);
            region_caption<affine, flat>(yellow_caption, eligible_flags[1], *r2);
        } else {
            component_caption(cyan_caption, eligible_flags[0], *r1);
            component_caption(yellow_caption, eligible_flags[1], *r2);
        }
    }

    // After a partition-mode merge into `merged`: the rest of the report,
    // then the window.
    void interactive_view(const component* merged) {
        std::cout << " -> " << component_index(merged) << std::endl;
        print_caption(cyan_component, "cyan  ", cyan_caption);
        print_caption(yellow_component, "yellow", yellow_caption);
        std::cout << std::endl;
        show_canvas();
    }

    // After a feature-mode merge: the boxes of the ends that are features
    // now, the report with a drawn and an eligible marker per end, then the
    // window.
    void interactive_feature_view(const component* merged) {
        draw_merge_features();
        std::cout << " -> " << component_index(merged) << std::endl;
        print_marked_caption(cyan_component, "cyan  ", cyan_caption, drawn_flags[0], eligible_flags[0]);
        print_marked_caption(yellow_component, "yellow", yellow_caption, drawn_flags[1], eligible_flags[1]);
        std::cout << std::endl;
        show_canvas();
    }

    void show_canvas() const { show(canvas, opts->program.file_name, "interactive partition"); }

    // ---- Pictures -----------------------------------------------------------

    // The representative of a component: its root, found keeping every
    // feature component on the paths in feature mode.
    template <bool keep_features>
    static component* representative(component* c) {
        if constexpr (keep_features)
            return component_find_keep_features(c);
        else
            return component_find(c);
    }

    template <bool keep_features>
    void render_merge_state(const link<T>& l) {
        interactive_highlight_render<keep_features>(l);
        lumo::compose_overlay(canvas, *input, layer, false, 0.5);
        interactive_canvas_render<keep_features>(l);
        lumo::overlay_image(canvas, canvas, layer, false);
        lumo::image_to_array(mask_image, mask);
        lumo::overlay_image(canvas, canvas, mask, lumo::color_magenta(), false, 0.3);
    }

    // The link's own end components opaque, cyan and yellow; the other
    // components already merged into either at a quarter, in its colour.
    // The ends' representatives differ.
    template <bool keep_features>
    void interactive_highlight_render(const link<T>& l) {
        using namespace merge_layer;
        clear_layer();
        const component* root1 = representative<keep_features>(l.c1);
        const component* root2 = representative<keep_features>(l.c2);
        last_known memo;
        for (size_t i = width; i < last_row_start(); ++i) {
            component* c = components[i];
            if (!c) continue;
            if (c == l.c1) {
                paint(i, cyan, full);
            } else if (c == l.c2) {
                paint(i, yellow, full);
            } else {
                const component* r = memo.template of<keep_features>(c);
                if (r == root1)
                    paint(i, cyan, quarter);
                else if (r == root2)
                    paint(i, yellow, quarter);
            }
        }
    }

    // The boundaries of the fine partition, each node against its
    // neighbours at index - 1 and index - w, coloured by the merge state.
    // A later pair may repaint a node; the last write stays.
    template <bool keep_features>
    void interactive_canvas_render(const link<T>& l) {
        clear_layer();
        const component* r1 = representative<keep_features>(l.c1);
        const component* r2 = representative<keep_features>(l.c2);
        last_known memo, neighbor_memo;
        for (size_t i = width; i < last_row_start(); ++i) {
            component* c = components[i];
            if (!c) continue;
            for (const size_t j : {i - 1, i - width}) {
                component* d = components[j];
                if (!d || d == c) continue;
                paint_pair(i, memo.template of<keep_features>(c), j, neighbor_memo.template of<keep_features>(d),
                           r1, r2);
            }
        }
    }

    // The boxes of the ends that carry the feature flag, at (2.4 zoom)^2
    // times their covariance, onto the canvas in magenta and into the mask
    // that keeps them for later steps. A box that is no finite ellipse is
    // not drawn, and its flag says so.
    void draw_merge_features() {
        const T scale = T(2.4) * zoom;
        const T s = scale * scale;
        const component* ends[2] = {cyan_component, yellow_component};
        for (int k = 0; k < 2; ++k) drawn_flags[k] = ends[k]->feature && draw_box_of(*ends[k]->region, s);
    }

    // ---- Report lines -------------------------------------------------------

    // "peak p, valley v, span s"; eligible when the component may become a
    // feature: a span of at least 2 (not NaN) and off the image frame.
    void component_caption(std::ostringstream& s, bool& eligible, const component& c) const {
        eligible = c.span >= T(2) && !c.boundary;
        s.str("");
        s << "peak ";
        put_number(s, c.peak);
        s << ", valley ";
        put_number(s, c.valley);
        s << ", span ";
        put_number(s, c.span);
    }

    // The component caption, then its share of the grid's nodes in
    // percent, its gaps as the fragmentation test measures them, and those
    // per node. Gaps are not finite for a region on one line under the
    // normalised measure, and so is the ratio of a region without nodes.
    template <bool affine, bool flat>
    void region_caption(std::ostringstream& s, bool& eligible, const component& c) const {
        component_caption(s, eligible, c);
        const region_type<T>& r = *c.region;
        const T count = static_cast<T>(r.count);
        const T area = count / static_cast<T>(node_count) * T(100);
        const T gaps = fragmentation_measure<affine, flat>(r);
        s << ", area ";
        put_number(s, area);
        s << ", gaps ";
        put_number(s, gaps);
        s << ", frag ";
        put_number(s, gaps / count);
    }

    void print_caption(const component* c, const char* colour, const std::ostringstream& s) const {
        std::cout << colour << " " << component_index(c) << ": " << s.str() << std::endl;
    }

    void print_marked_caption(const component* c, const char* colour, const std::ostringstream& s,
                              bool drawn, bool eligible) const {
        std::cout << (drawn ? "+ " : "- ") << (eligible ? "+ " : "- ");
        print_caption(c, colour, s);
    }

    size_t component_index(const component* c) const {
        return static_cast<size_t>(c - storage->components.first());
    }

    // ---- Fields -------------------------------------------------------------

    component* cyan_component = nullptr;    // first end's representative
    component* yellow_component = nullptr;  // second end's representative
    bool drawn_flags[2] = {false, false};     // a box was drawn this step
    bool eligible_flags[2] = {false, false};  // span >= 2, off the frame
    feature_type<T> ellipse_feature{};
    std::ostringstream cyan_caption;
    std::ostringstream yellow_caption;
    lumo::image<unsigned char> canvas;      // the picture shown
    lumo::image<unsigned char> layer;       // w x h x 4: colour and opacity
    lumo::image<unsigned char> mask_image;  // every feature box drawn so far
    lumo::array_2d<unsigned char> mask;     // its one plane
    show_function show = &lumo::show_image_titled;

private:
    // The representative of the component met last: nodes of one
    // component come in runs, and a second find on a shortened path
    // returns the same root without writing.
    struct last_known {
        component* c = nullptr;
        component* r = nullptr;
        template <bool keep_features>
        component* of(component* k) {
            if (k != c) {
                c = k;
                r = representative<keep_features>(k);
            }
            return r;
        }
    };

    // The first node of the last grid row: the renderers visit rows 1 to
    // h - 2, whose neighbours at index - 1 and index - w lie in the grid.
    size_t last_row_start() const { return (height - 1) * width; }

    void clear_layer() {
        if (layer.length() == 4 * node_count)
            layer.fill(0);
        else
            layer.resize(width, height, 4, static_cast<unsigned char>(0));
    }

    void paint(size_t i, const merge_layer::colour& c, unsigned char opacity) {
        unsigned char* p = layer.raw() + i;
        const size_t plane = node_count;
        p[0] = c[0];
        p[plane] = c[1];
        p[2 * plane] = c[2];
        p[3 * plane] = opacity;
    }

    // Two neighbouring nodes of different fine components, with the
    // representatives rp and rq of their components. On a boundary of the
    // merge (one side inside the merging components, or one on each of
    // them) each node shows its own kind; elsewhere the pair is green, dark
    // when the two already share a root.
    void paint_pair(size_t p, const component* rp, size_t q, const component* rq, const component* r1,
                    const component* r2) {
        using namespace merge_layer;
        const bool p_inside = rp == r1 || rp == r2;
        const bool q_inside = rq == r1 || rq == r2;
        const bool between = (rp == r1 && rq == r2) || (rp == r2 && rq == r1);
        if (p_inside != q_inside || between) {
            paint(p, boundary_colour(kinds[p], between), full);
            paint(q, boundary_colour(kinds[q], between), full);
        } else if (rp == rq) {
            paint(p, dark_green, half);
            paint(q, dark_green, half);
        } else {
            paint(p, green, full);
            paint(q, green, full);
        }
    }

    // What a node on a merge boundary shows of its kind before the dual
    // run: a cut (exactly), a seed of the distance run, or neither.
    enum kind_shown : unsigned char { plain_kind, cut_kind, seed_kind };

    static kind_shown kind_class(status k) {
        if (k == plateau) return cut_kind;
        if (k.has(interior) || k.has(boundary_seed)) return seed_kind;
        return plain_kind;
    }

    // A node on a merge boundary: black for a cut, white for a seed of the
    // distance run, otherwise red between the merging components and blue
    // towards the others.
    static const merge_layer::colour& boundary_colour(unsigned char kind, bool between) {
        using namespace merge_layer;
        if (kind == cut_kind) return black;
        if (kind == seed_kind) return white;
        return between ? red : blue;
    }

    bool draw_box_of(const region_type<T>& r, T s) {
        feature_type<T>& f = ellipse_feature;
        if (!make_feature(r, s, f)) return false;
        ellipse_axes(f);
        if (!std::isfinite(f.major) || !std::isfinite(f.minor) || !std::isfinite(f.angle)) return false;
        draw_feature(canvas, f, lumo::color_magenta());
        draw_feature(mask_image, f, lumo::color<unsigned char>(255, 255, 255));
        return true;
    }

    // Fixed notation as the stream has it; every NaN reads "nan", whatever
    // its sign bit.
    static void put_number(std::ostream& s, T v) {
        if (std::isnan(v))
            s << "nan";
        else
            s << static_cast<double>(v);
    }

    const node* nodes;
    std::vector<component*> components;  // of every node, from start()
    std::vector<unsigned char> kinds;    // kind_shown of every node
    size_t width;
    size_t height;
    size_t node_count;
    const lumo::array_2d<unsigned char>* input;  // padded input, the background
    partition_storage<T>* storage;
    const options<T>* opts;
    T zoom;
};

}  // namespace lumo::zarn

#endif
