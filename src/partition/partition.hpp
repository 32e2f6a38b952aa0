// The partition stage object: components grown along the ridges of the dual
// value field, links where they meet, and, after the pipeline's dual distance
// run, cleanup, merging along links and the partition labels.
//
// The value field: H minus the primal distance on ridge seeds (nodes whose
// kind holds the second frame ring or a medial mark), +inf elsewhere. Seeds
// are visited in ascending value; each joins the one component among its
// assigned neighbours, starts a component, or becomes a cut (kind plateau)
// where components meet.
//
// Neighbour order, in grid terms (row = index / w): +w, +(w-1), -1, -(w+1),
// -w, -(w-1), +1, +(w+1); on the image as shown: right, upper right, up,
// upper left, left, lower left, down, lower right.
#ifndef ZARN_PARTITION_PARTITION_HPP
#define ZARN_PARTITION_PARTITION_HPP

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <limits>
#include <string>
#include <vector>

#include <lumo/details/array_2d/array_2d>
#include <lumo/details/image/bridge.hpp>

#include "app/options.hpp"
#include "distance/queues.hpp"
#include "partition/merge_view.hpp"
#include "partition/records.hpp"
#include "partition/storage.hpp"
#include "pipeline/grassfire.hpp"
#include "pipeline/node_grid.hpp"
#include "pipeline/stage_timer.hpp"

namespace lumo::zarn {

// A node whose kind holds the second frame ring or a medial mark.
template <typename Node>
inline bool is_ridge_seed(const Node& n) {
    return (n.kind.bits() & (second_ring | medial)) != 0;
}

// Ascending node value, a NaN after every number, so that the stable sort of
// the seeds has a strict weak order to work with.
template <typename Node>
inline bool node_value_less(const Node* a, const Node* b) {
    if (std::isnan(a->value)) return false;
    return std::isnan(b->value) || a->value < b->value;
}

// Ascending link value with NaN last; on numbers it is link_value_less.
template <typename T>
inline bool link_order_less(const link<T>* a, const link<T>* b) {
    if (std::isnan(a->value)) return false;
    return std::isnan(b->value) || link_value_less(*a, *b);
}

template <bool debug, typename T>
class partition : public node_grid<debug, T> {
public:
    using node = node_type<debug, T>;
    using component = component_type<T>;
    using base = node_grid<debug, T>;

    static constexpr T infinity = std::numeric_limits<T>::infinity();

    partition(node_array<debug, T>& grid, options<T>& o, const lumo::array_2d<unsigned char>& padded,
              partition_storage<T>& store, feature_set<T>& pool)
        : base(this, &grid, &o),
          partition_opts(o.partition),
          feature_opts(o.features),
          timer(o.program.timing),
          input(&padded),
          storage(&store),
          features(&pool),
          bucket_count(this->width + this->height),
          buckets(bucket_count),
          ceiling(o.distance.ceiling),
          view(grid, padded, store, o) {
        const auto w = static_cast<std::ptrdiff_t>(this->width);
        const std::ptrdiff_t offsets[8] = {w, w - 1, -1, -(w + 1), -w, -(w - 1), 1, w + 1};
        std::copy(offsets, offsets + 8, neighbor_offset);
        // Values at or above this share the last bucket. They never occur:
        // ridge values stay below H, itself below 2 (w + h) + 2.
        bucket_limit = 4 * bucket_count + 64;
    }

    partition(const partition&) = delete;
    partition& operator=(const partition&) = delete;

    // ---- Drivers ----------------------------------------------------------

    // Initialization, seeds, ridge propagation, links, primal type backup;
    // returns the timed total in ms (0 with timing off).
    double run() {
        open_timer();
        init();
        timer.lap("Partition initialization:");
        timed(
            [this] {
                if (partition_opts.fast_marching)
                    create_front();
                else
                    create_list();
            },
            "Component front/list creation:");
        timed(
            [this] {
                if (partition_opts.fast_marching)
                    propagate_front();
                else
                    propagate_list();
            },
            "Ridge propagation / component creation:");
        timed([this] { create_links(); }, "Link creation/expansion:");
        timed([this] { backup_primal_type(); }, "Primal type backup:");
        if (partition_opts.show_cuts) show_cuts();
        return timer.rule('-');
    }

    // After the dual distance run: cleanup, merging, and the outputs that
    // the commands ask for; returns the timed total in ms.
    double finish() {
        open_timer();
        cleanup();
        timer.lap("Component cleanup:");
        const bool feature_mode = this->opts->commands.features_wanted();
        if (feature_mode) {
            timed([this] { compute_gaps(); }, "Component boundary gap computation:");
            timed([this] { compute_statistics(); }, "Component statistics computation:");
        }
        timed([this] { merge(); }, "Component merging:");
        if (feature_mode) {
            timed([this] { generate_features(); }, "Feature generation:");
            if (feature_opts.show_fine_partition)
                timed([this] { output_partition(false); }, "Partition output:");
            if (feature_opts.show_cover)
                timed([this] { output_feature_cover(); }, "Feature cover output:");
        } else if (this->opts->commands.partition) {
            timed([this] { output_partition(true); }, "Partition output:");
        }
        if (timer.enabled && this->opts->program.statistics) print_statistics();
        return timer.rule('-');
    }

    void print_statistics() const {
        std::cout << "-> Components before / after merging:   " << components_at_merge - unions
                  << " / " << live_components << std::endl;
        if (!this->opts->commands.features_wanted()) return;
        std::cout << "-> Total nodes / features (isolated):   "
                  << storage->components.count() - unions << " / " << features->count << " ("
                  << isolated_features << ")" << std::endl;
    }

    // ---- Initialization and seeds -----------------------------------------

    void init() {
        for (node* p = this->first_row; p != this->end; ++p) p->component = nullptr;
        if (partition_opts.interactive) view.reset();
    }

    // Fast marching: every ridge seed of rows 1 to h-2 that no 4-neighbour
    // seed undercuts is queued in the bucket of its value (state front); the
    // others wait (far); every other node is excluded (border).
    void create_front() {
        const auto w = static_cast<std::ptrdiff_t>(this->width);
        size_t seeds_found = 0;
        for (node* p = this->row_1; p != this->row_h_minus_1; ++p) {
            if (!is_ridge_seed(*p)) {
                p->state = border;
                continue;
            }
            ++seeds_found;
            const T v = p->value;
            if (undercuts(p[-1], v) || undercuts(p[1], v) || undercuts(p[-w], v) || undercuts(p[w], v)) {
                p->state = far;
                continue;
            }
            buckets.push(p, bucket_of(v));
            p->state = front;
        }
        bucket_count = buckets.count();
        reserve_storage(seeds_found);
    }

    // Sorting: every ridge seed of rows 1 to h-2 in ascending value, equal
    // values in scan order; no state changes.
    void create_list() {
        seeds.clear();
        for (node* p = this->row_1; p != this->row_h_minus_1; ++p)
            if (is_ridge_seed(*p)) seeds.push_back(p);
        std::stable_sort(seeds.begin(), seeds.end(), node_value_less<node>);
        reserve_storage(seeds.size());
    }

    void reserve_storage(size_t seed_count) {
        storage->reserve(seed_count, static_cast<double>(this->opts->program.memory_factor));
        first_component = storage->components.first();
    }

    // Bucket of a value: its integer part; 0 for a negative or NaN value.
    // Values from bucket_limit on, +inf included, share the last bucket, so
    // that the order of buckets follows the order of values: a node waiting
    // for a lower neighbour never sits in a bucket before it.
    size_t bucket_of(T v) const {
        if (!(v > T(0))) return 0;
        return v < static_cast<T>(bucket_limit) ? static_cast<size_t>(v) : bucket_limit;
    }

    // ---- Ridge propagation ------------------------------------------------

    // Dispatchers: the loop instance is chosen once per stage.
    void propagate_front() {
        const bool fire = this->opts->grassfire.descent_step != T(0);
        if (!feature_opts.flat)
            fire ? propagate_marching_fire() : propagate_marching();
        else
            fire ? propagate_marching_flat_fire() : propagate_marching_flat();
    }

    void propagate_list() {
        const bool fire = this->opts->grassfire.descent_step != T(0);
        if (!feature_opts.flat)
            fire ? propagate_sorted_fire() : propagate_sorted();
        else
            fire ? propagate_sorted_flat_fire() : propagate_sorted_flat();
    }

    void propagate_marching() { propagate<true, false, false>(); }
    void propagate_marching_flat() { propagate<true, true, false>(); }
    void propagate_marching_fire() { propagate<true, false, true>(); }
    void propagate_marching_flat_fire() { propagate<true, true, true>(); }
    void propagate_sorted() { propagate<false, false, false>(); }
    void propagate_sorted_flat() { propagate<false, true, false>(); }
    void propagate_sorted_fire() { propagate<false, false, true>(); }
    void propagate_sorted_flat_fire() { propagate<false, true, true>(); }

    // ---- Link expansion and backup ----------------------------------------

    // Drains the cuts: in weighted mode with expansion each cut first spreads
    // to its 8-neighbours of exactly its value (breadth first); every cut and
    // spread node then leaves the value field (+inf).
    void create_links() {
        const bool expand = this->opts->program.weighted && partition_opts.link_expansion;
        while (!conflicts.empty()) {
            node* p = conflicts.pop_front();
            if (expand) {
                const T v = p->value;
                for (std::ptrdiff_t offset : neighbor_offset) expand_to(p + offset, v);
            }
            p->value = infinity;
        }
    }

    void expand_to(node* q, T v) {
        if (q->state != border && q->kind != plateau && q->value == v) push_plateau(q);
    }

    void push_plateau(node* q) {
        conflicts.push_back(q);
        q->component = nullptr;
        q->kind = plateau;
    }

    void backup_primal_type() {
        for (node* p = this->first_row; p != this->end; ++p) p->kind_backup = p->kind;
    }

    // The kind of every node through the status colours: cuts and spread
    // nodes black, the second frame ring white, medial nodes red.
    void render_cuts(lumo::image<unsigned char>& picture) const {
        render_node_image(*this->nodes, &node::kind, default_status_colors(), picture);
    }

    void show_cuts() const {
        lumo::image<unsigned char> picture;
        render_cuts(picture);
        lumo::show_image_titled(picture, this->opts->program.file_name, "cuts");
    }

    // ---- Cleanup ------------------------------------------------------------

    // Every node of rows 1 to h-2 takes the root component of the node whose
    // dual wave reached it (none for the frame and for unreached nodes);
    // link ends become roots; every component becomes a singleton root.
    // An origin is a seed of the dual run, its own origin: whether it comes
    // before or after the node, its root is the same.
    void cleanup() {
        for (node* p = this->row_1; p != this->row_h_minus_1; ++p) {
            const node* o = p->kind == border ? nullptr : dual_origin(*p);
            component* c = o ? o->component : nullptr;
            p->component = c ? component_find(c) : nullptr;
        }
        for (link<T>& l : storage->links) {
            l.c1 = component_find(l.c1);
            l.c2 = component_find(l.c2);
        }
        for (component& c : storage->components) {
            c.parent = nullptr;
            c.rank = 0;
            c.feature = 0;
        }
    }

    // The origin that the latest (dual) distance run gave the node; a node
    // it did not reach has none.
    static const node* dual_origin(const node& p) { return p.state == done ? p.generator : nullptr; }

    // ---- Boundary gaps and region statistics (feature mode) ----------------

    // Every link adds its width and offset products to the gap sums of both
    // ends, each given a region first when it has none. A link whose ends
    // share a root counts twice there; merging takes it out again.
    void compute_gaps() {
        for (link<T>& l : storage->links)
            for (component* c : {l.c1, l.c2}) {
                region_type<T>& r = region_of(c);
                r.gap += l.width;
                r.gap_rr += l.rr;
                r.gap_rc += l.rc;
                r.gap_cc += l.cc;
            }
    }

    // The moments of every component's nodes in rows 1 to h-2, gathered
    // along runs of one component within a grid row; then the statistics of
    // every region.
    void compute_statistics() {
        const std::uint64_t w = this->width;
        for (std::uint64_t row = 1; row + 1 < this->height; ++row) {
            const node* line = this->first_row + row * w;
            for (std::uint64_t first = 0, last; first < w; first = last + 1) {
                component* c = line[first].component;
                for (last = first; last + 1 < w && line[last + 1].component == c;) ++last;
                if (c) add_run(region_of(c), row, first, last);
            }
        }
        for (component& c : storage->components)
            if (c.region) region_update(*c.region);
    }

    // ---- Merging ------------------------------------------------------------

    // Links in ascending value (equal values in the order they were made).
    std::vector<link<T>*> sorted_links() {
        std::vector<link<T>*> order;
        order.reserve(storage->links.size());
        for (link<T>& l : storage->links) order.push_back(&l);
        std::stable_sort(order.begin(), order.end(), link_order_less<T>);
        return order;
    }

    void merge() {
        const std::vector<link<T>*> order = sorted_links();
        components_at_merge = storage->components.count();
        live_components = components_at_merge - unions;
        if (this->opts->commands.features_wanted())
            merge_features(order);
        else
            merge_partition(order);
    }

    // Unites roots along the links until -pc components are left or the
    // link values pass H - (-pd) (a NaN value does not stop). -vi shows
    // every union; the loop is the same.
    void merge_partition(const std::vector<link<T>*>& order) {
        if (partition_opts.interactive)
            merge_partition_links<true>(order);
        else
            merge_partition_links<false>(order);
    }

    // The interactive loop opens with a rule (an empty line without timing)
    // and closes with one only when it reaches the end of the list.
    template <bool interactive>
    void merge_partition_links(const std::vector<link<T>*>& order) {
        if constexpr (interactive) {
            open_fire_display(timer);
            view.start();
        }
        const T limit = ceiling - partition_opts.min_link_distance;
        const size_t least = partition_opts.min_components;
        for (link<T>* l : order) {
            if (live_components <= least || l->value > limit) return;
            component* a = component_find(l->c1);
            component* b = component_find(l->c2);
            if (a == b) continue;
            if constexpr (interactive) view.template begin_step<false, false, false>(*l, a, b);
            component* merged = component_union(a, b);
            --live_components;
            if constexpr (interactive) view.interactive_view(merged);
        }
        if constexpr (interactive) close_fire_display(timer);
    }

    // Feature mode: every link in order joins the roots of its ends, keeping
    // feature components on every path; the link then lies inside the
    // merged component and leaves its gap sums. One loop instance per
    // (-fn, -fl, -vi), chosen once; the measure of fragmentation is the gap
    // sum, its square (-fl), or the gap normalised by the region's shape
    // (-fn, whatever -fl says). -vi shows every join and makes the same.
    void merge_features(const std::vector<link<T>*>& order) {
        const bool affine = feature_opts.affine_normalized, flat = feature_opts.flat;
        if (affine)
            flat ? merge_feature_links<true, true>(order) : merge_feature_links<true, false>(order);
        else
            flat ? merge_feature_links<false, true>(order) : merge_feature_links<false, false>(order);
    }

    template <bool affine, bool flat>
    void merge_feature_links(const std::vector<link<T>*>& order) {
        if (partition_opts.interactive)
            merge_feature_links<affine, flat, true>(order);
        else
            merge_feature_links<affine, flat, false>(order);
    }

    // The interactive loop opens and closes with a rule (without timing an
    // empty line opens it and nothing closes it).
    template <bool affine, bool flat, bool interactive>
    void merge_feature_links(const std::vector<link<T>*>& order) {
        if constexpr (interactive) {
            open_fire_display(timer);
            view.start();
        }
        for (link<T>* l : order) merge_feature_link<affine, flat, interactive>(*l);
        if constexpr (interactive) close_fire_display(timer);
    }

    // One link of feature-mode merging; returns the component that holds
    // both ends afterwards.
    template <bool affine, bool flat, bool interactive>
    component* merge_feature_link(const link<T>& l) {
        component* a = component_find_keep_features(l.c1);
        component* b = component_find_keep_features(l.c2);
        component* r = a;
        if (a != b) {
            if constexpr (interactive) view.template begin_step<true, affine, flat>(l, a, b);
            r = merge_step<affine, flat>(a, b, l.value);
            --live_components;
        }
        region_type<T>& g = *r->region;
        g.gap -= T(2) * l.width;
        g.gap_rr -= 2 * l.rr;
        g.gap_rc -= 2 * l.rc;
        g.gap_cc -= 2 * l.cc;
        if constexpr (interactive)
            if (a != b) view.interactive_feature_view(r);
        return r;
    }

    // Tests both distinct roots for being features, each against the other
    // as it stands before the join, then joins them at link value v.
    template <bool affine, bool flat>
    component* merge_step(component* a, component* b, T v) {
        const T growth = feature_opts.growth;
        const T frag2 = feature_opts.fragmentation * feature_opts.fragmentation;
        test_feature<affine, flat>(*a, *b, v, growth, frag2);
        test_feature<affine, flat>(*b, *a, v, growth, frag2);
        return component_merge(a, b, v, *storage);
    }

    // c becomes a feature, at meeting o at link value v, when it may be one
    // (span at least 2, off the image frame), is not too fragmented (area
    // times f^2 above the measure of its gaps) and has grown enough: since
    // its last merge, or, never merged, beside o. A comparison with NaN
    // fails; a flag once set stays.
    template <bool affine, bool flat>
    static void test_feature(component& c, const component& o, T v, T growth, T frag2) {
        const bool eligible = c.span >= T(2) && !c.boundary;
        const region_type<T>& r = *c.region;
        const bool whole = static_cast<T>(r.count) * frag2 > fragmentation_measure<affine, flat>(r);
        const bool grown = c.valley == T(0)
                               ? (v - o.peak) > growth * (v - c.peak) && (v - c.peak) >= T(1)
                               : (v - c.valley) > growth * (c.valley - c.peak);
        if (eligible && whole && grown) c.feature = 1;
    }

    // ---- Feature generation ---------------------------------------------

    // Every component that merging flagged, and every root off the frame
    // with a region and a span of at least 2 (an isolated feature, flagged
    // now), in pool order, gives a feature: the mean and the covariance of
    // its nodes' positions, the covariance scaled by (2 zoom)^2. Only
    // features with a positive determinant and finite entries are kept.
    void generate_features() {
        const size_t n = storage->components.count();
        size_t selected = 0;
        for (size_t k = 0; k < n; ++k) {
            component& c = storage->components[k];
            if (c.feature) {
                ++selected;
            } else if (c.region && !c.parent && c.span >= T(2) && !c.boundary) {
                c.feature = 1;
                ++isolated_features;
                ++selected;
            }
        }
        features->count = 0;
        features->records.release(true);
        features->records.resize(selected);
        const T zoom2 = T(2) * feature_opts.zoom;
        const T s = zoom2 * zoom2;
        for (size_t k = 0; k < n; ++k) {
            const component& c = storage->components[k];
            if (!c.feature) continue;
            feature_type<T>& f = features->records[features->count];
            if (make_feature(*c.region, s, f)) ++features->count;
        }
    }

    // ---- Outputs ------------------------------------------------------------

    // Every node's label: the pool index of its component's root (roots) or
    // of its own component; the largest size_t for a node without one.
    void output_partition(bool roots) {
        for (node* p = this->first_row; p != this->end; ++p) {
            component* c = p->component;
            if (!c) {
                p->label = size_max;
                continue;
            }
            if (roots && c->parent) {
                c->parent = component_find(c->parent);
                c = c->parent;
            }
            p->label = component_index(c);
        }
    }

    // Every node's cover: a gray level that grows with the number of
    // features stacked over it (its component's and its ancestors' flags),
    // 0 where none is. The depth of a component is counted once; nodes
    // outside rows 1 to h-2 and without a component get 0.
    void output_feature_cover() {
        std::vector<std::uint8_t> depth = feature_depths();
        for (node* p = this->first_row; p != this->end; ++p) p->cover = 0;
        std::uint8_t deepest = 0;
        for (node* p = this->row_1; p != this->row_h_minus_1; ++p) {
            if (!p->component) continue;
            p->cover = depth[component_index(p->component)];
            deepest = std::max(deepest, p->cover);
        }
        const std::array<std::uint8_t, 256> gray = cover_levels(deepest);
        for (node* p = this->first_row; p != this->end; ++p) p->cover = gray[p->cover];
    }

    // Per component in pool order: the number of feature components among
    // it and its ancestors, at most 255.
    std::vector<std::uint8_t> feature_depths() const {
        constexpr int unknown = -1;
        const size_t n = storage->components.count();
        std::vector<int> depth(n, unknown);
        std::vector<size_t> path;
        for (size_t k = 0; k < n; ++k) {
            // Up to the first component of known depth, or past the root.
            size_t j = k;
            while (depth[j] == unknown) {
                path.push_back(j);
                const component* p = storage->components[j].parent;
                if (!p) break;
                j = component_index(p);
            }
            int above = depth[j] == unknown ? 0 : depth[j];
            while (!path.empty()) {
                const size_t i = path.back();
                path.pop_back();
                above = std::min(255, above + storage->components[i].feature);
                depth[i] = above;
            }
        }
        return std::vector<std::uint8_t>(depth.begin(), depth.end());
    }

    // Gray level of each depth below the deepest d: 0 for 0, else
    // (depth x 0.7 / d + 0.3) x 255, truncated.
    static std::array<std::uint8_t, 256> cover_levels(std::uint8_t deepest) {
        std::array<std::uint8_t, 256> gray{};
        if (deepest == 0) return gray;
        for (int d = 1; d <= deepest; ++d)
            gray[d] = static_cast<std::uint8_t>((static_cast<T>(d) * T(0.7) / static_cast<T>(deepest) + T(0.3)) * T(255.0));
        return gray;
    }

    size_t component_index(const component* c) const { return static_cast<size_t>(c - first_component); }

    // ---- Fields -------------------------------------------------------------

    partition_options<T> partition_opts;
    feature_options<T> feature_opts;
    stage_timer timer;
    const lumo::array_2d<unsigned char>* input;  // padded input image
    partition_storage<T>* storage;
    feature_set<T>* features;
    fifo<node*> conflicts;  // cuts, in the order they were made
    size_t bucket_count;    // buckets in use: w + h, or more for high seed values
    size_t bucket_limit;
    bucket_array<node> buckets;
    std::vector<node*> seeds;  // sorting mode, ascending value
    size_t unions = 0;         // immediate unions of the propagation
    size_t components_at_merge = 0;
    size_t live_components = 0;
    size_t isolated_features = 0;
    component* first_component = nullptr;
    // H of the primal run; the dual distance run rewrites the options' copy.
    T ceiling;
    std::ptrdiff_t neighbor_offset[8];
    merge_view<debug, T> view;  // -vi

private:
    // Working values of the node being processed, with its neighbourhood as
    // it stood when loaded.
    struct visit {
        T value;
        T span;         // H - value - distance of the origin
        T cut_minimum;  // lowest value among cut neighbours
        const node* origin;
        component* current;  // the component found so far
        node* neighbors[8];
        status states[8];
        T values[8];
    };

    static bool undercuts(const node& q, T v) { return is_ridge_seed(q) && q.value < v; }

    // The component's region; a new, empty one from the pool when it has
    // none.
    region_type<T>& region_of(component* c) {
        if (!c->region) {
            c->region = storage->regions.take();
            region_clear(*c->region);
        }
        return *c->region;
    }

    // The nodes of grid row `row`, columns first to last, join region r:
    // the sums of the run in closed form, equal to adding node by node.
    static void add_run(region_type<T>& r, std::uint64_t row, std::uint64_t first, std::uint64_t last) {
        const std::uint64_t n = last - first + 1;
        const std::uint64_t cols = (first + last) * n / 2;
        const moment_sum cols2 = square_sum(last) - (first ? square_sum(first - 1) : 0);
        r.count += n;
        r.sum_row += n * row;
        r.sum_col += cols;
        r.sum_row2 += moment_sum(n) * row * row;
        r.sum_col2 += cols2;
        r.sum_rowcol += moment_sum(row) * cols;
    }

    // 0^2 + 1^2 + ... + k^2
    static moment_sum square_sum(std::uint64_t k) {
        return moment_sum(k) * (k + 1) * (2 * moment_sum(k) + 1) / 6;
    }

    void open_timer() {
        if (timer.enabled) timer.total = 0;
        timer.restart();
    }

    template <typename F>
    void timed(F&& stage, const char* label) {
        timer.restart();
        stage();
        timer.lap(label);
    }

    // ---- The propagation loop: one template over the visiting order, the
    // link width (flat or squared) and the grassfire display.
    template <bool marching, bool flat, bool fire>
    void propagate() {
        this->name = "partition";
        this->fire_step = this->opts->grassfire.descent_step;
        this->next_fire_level = 0;
        this->pass_count = 0;
        this->row_bound = 0;
        if (fire) open_fire_display(timer);
        visit v;
        if constexpr (marching) {
            while (node* p = buckets.take()) {
                prefetch_neighborhood(buckets.peek(prefetch_distance));
                if (p->state != front) continue;
                v.value = p->value;
                load_neighbors(v, p);
                if (propagate_step(v)) {
                    queue_node(p, v.value);  // behind the lower neighbours it waits for
                    continue;
                }
                p->state = done;
                if (fire) this->fire_at(v.value);
                assign_node<marching, flat>(v, p);
            }
        } else {
            for (node* p : seeds) {
                v.value = p->value;
                load_neighbors(v, p);
                if (fire) this->fire_at(v.value);
                assign_node<marching, flat>(v, p);
            }
        }
        if (fire) close_fire_display(timer);
    }

    // Queued nodes lie far apart in memory: the node a few places ahead and
    // its eight neighbours are requested now. A hint only.
    static constexpr size_t prefetch_distance = 8;
    [[gnu::always_inline]] void prefetch_neighborhood(const node* p) const {
        if (!p) return;
        __builtin_prefetch(p, 1);
        for (int k = 0; k < 8; ++k) __builtin_prefetch(p + neighbor_offset[k], 1);
    }

    void load_neighbors(visit& v, node* p) const {
        for (int k = 0; k < 8; ++k) {
            node* q = p + neighbor_offset[k];
            v.neighbors[k] = q;
            v.states[k] = q->state;
            v.values[k] = q->value;
        }
    }

    // True when a lower neighbour is still waiting; a far one is queued.
    // Neighbours of equal or greater value never hold a node back.
    bool propagate_step(visit& v) {
        bool pending = false;
        for (int k = 0; k < 8; ++k)
            if (v.values[k] < v.value) pending |= pending_lower(v.neighbors[k], v.states[k], v.values[k]);
        return pending;
    }

    bool pending_lower(node* q, status s, T value) {
        if (s == front) return true;
        if (s != far) return false;
        queue_front<true>(q, value);
        return true;
    }

    // No push ever lands behind the cursor (the lower neighbours of a
    // node are settled first); should one, it is taken from the cursor's
    // bucket rather than lost.
    void queue_node(node* q, T value) {
        const size_t b = bucket_of(value);
        buckets.push(q, b < buckets.cursor() ? buckets.cursor() : b);
    }

    // A far node joins the front. Sorting mode reads no buckets: the state
    // changes, the push is left out.
    template <bool marching>
    void queue_front(node* q, T value) {
        if (marching) queue_node(q, value);
        q->state = front;
    }

    void push_cut(node* p) {
        conflicts.push_back(p);
        p->kind = plateau;
    }

    void row_col(std::uint64_t index, std::uint64_t& row, std::uint64_t& col) const {
        row = index / this->width;
        col = index % this->width;
    }

    // Joins the one component found among the neighbours, starts a new one
    // at a local minimum, or becomes a cut.
    template <bool marching, bool flat>
    void assign_node(visit& v, node* p) {
        v.origin = p->generator;
        const T origin_distance = v.origin ? v.origin->distance : T(0);
        v.span = ceiling - v.value - origin_distance;
        v.cut_minimum = infinity;
        v.current = nullptr;
        bool linked = false;
        for (int k = 0; k < 8; ++k) linked |= examine_neighbor<marching, flat>(v, p, k);
        if (!linked && v.current) {
            // The record found first, which a union may have made a child.
            p->component = v.current;
            if (p->kind == second_ring) v.current->boundary = 1;
        } else if (!linked && v.value < v.cut_minimum) {
            component* c = storage->components.take();
            *c = component{v.value, T(0), v.span, std::uint8_t(p->kind == second_ring ? 1 : 0),
                           nullptr, nullptr, 0, 0};
            p->component = c;
        } else {
            push_cut(p);
        }
    }

    // One neighbour of the node being assigned; true when a link was made.
    template <bool marching, bool flat>
    bool examine_neighbor(visit& v, node* p, int k) {
        const status s = v.states[k];
        if (s == border) return false;
        node* q = v.neighbors[k];
        if (s == far) queue_front<marching>(q, v.values[k]);
        if (q->kind == plateau) {
            if (v.values[k] < v.cut_minimum) v.cut_minimum = v.values[k];
            return false;
        }
        if (!q->component) return false;
        component* r = component_find(q->component);
        if (!v.current) {
            v.current = r;
            return false;
        }
        component* c = component_find(v.current);
        v.current = c;
        if (c == r) return false;
        const bool margin_ok =
            p->kind != second_ring || v.span <= static_cast<T>(partition_opts.margin);
        if (v.value - c->peak >= T(1) && v.value - r->peak >= T(1) && margin_ok) {
            make_link<flat>(v, p, c, r);
            v.current = r;
            return true;
        }
        component_union(c, r);
        ++unions;
        return false;
    }

    template <bool flat>
    void make_link(const visit& v, const node* p, component* c, component* r) {
        std::uint64_t dr = 0, dc = 0;
        if (v.origin) {
            std::uint64_t row, col, origin_row, origin_col;
            row_col(p->index, row, col);
            row_col(v.origin->index, origin_row, origin_col);
            dr = row > origin_row ? row - origin_row : origin_row - row;
            dc = col > origin_col ? col - origin_col : origin_col - col;
        }
        storage->links.push_back(
            link<T>{c, r, v.value, flat ? v.span : v.span * v.span, dr * dr, dr * dc, dc * dc});
    }

};

}  // namespace lumo::zarn

#endif
