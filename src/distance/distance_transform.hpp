// The distance transform stage object: weighted distance over a height
// function, or exact Euclidean distance from binary foreground, both with
// generators (the seed whose wave reached each node).
//
// Every node carries a position in a displacement table (distance_factory)
// instead of a displacement vector; fronts compare lengths looked up there.
// Neighbours are visited up, down, left, right, and every comparison is
// strict, so of equal candidates the one held or tried first stays.
#ifndef ZARN_DISTANCE_DISTANCE_TRANSFORM_HPP
#define ZARN_DISTANCE_DISTANCE_TRANSFORM_HPP

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <limits>

#include <lumo/details/array_2d/array_2d>
#include <lumo/details/image/bridge.hpp>

#include "app/options.hpp"
#include "distance/distance_factory.hpp"
#include "distance/height.hpp"
#include "distance/queues.hpp"
#include "pipeline/grassfire.hpp"
#include "pipeline/node_grid.hpp"
#include "pipeline/stage_timer.hpp"

namespace lumo::zarn {

// Bucket of a distance: its integer part; negative and NaN values go to 0.
template <typename T>
inline size_t bucket_index(T v) {
    return v > T(0) ? static_cast<size_t>(v) : 0;
}

template <bool debug, typename T>
class distance_transform : public node_grid<debug, T> {
public:
    using node = node_type<debug, T>;
    using base = node_grid<debug, T>;
    using factory = distance_factory<T>;

    distance_transform(node_array<debug, T>& grid, options<T>& o,
                       const lumo::array_2d<unsigned char>& in,
                       lumo::array_2d<unsigned char>& gradient)
        : base(this, &grid, &o),
          option_copy(o.distance),
          timer(o.program.timing),
          input(&in),
          gradient_image(&gradient),
          buckets(o.program.weighted ? this->width + this->height : 0) {}

    distance_transform(const distance_transform&) = delete;
    distance_transform& operator=(const distance_transform&) = delete;

    // The stage driver: tables, input or heights, front, propagation and,
    // in binary mode, the reconstruction; returns the timed total in ms.
    double run() {
        timer.restart_total();
        timer.time("Distance factory initialization:", [this] { init_factory(); });
        if (!weighted())
            timer.time("Input copy:", [this] { copy_input(); });
        else if (this->opts->commands.primal)
            timer.time("Height function computation:", [this] { compute_height(); });
        timer.time("Distance front creation:", [this] { create_front(); });
        timer.time("Distance propagation:", [this] { propagate(); });
        if (!weighted()) {
            timer.time("Distance transform reconstruction:", [this] { reconstruct_distance(); });
            timer.time("Reconstruction of generators:", [this] { reconstruct_generators(); });
        }
        return timer.rule('-');
    }

    // Grows the shared tables to the grid and caches their geometry. A table
    // that this run needs is also filled when it does not match the current
    // geometry (an earlier run of the other mode may have grown it without
    // filling it).
    void init_factory() {
        const lumo::size_array s = this->nodes->size();
        const bool grew = factory::grow(s[0], s[1]);
        const bool need_lengths = weighted() || this->opts->commands.needs_dual();
        const bool need_entries = !weighted();
        if (need_lengths && (grew || !factory::lengths_current())) factory::fill_lengths();
        if (need_entries && (grew || !factory::entries_current())) factory::fill_entries();

        d0 = factory::d0();
        d1 = factory::d1();
        row_back = -static_cast<std::int32_t>(d0);
        row_forward = static_cast<std::int32_t>(d0);
        const bool lengths_ok = factory::lengths_current();
        const bool entries_ok = factory::entries_current();
        length_storage = lengths_ok ? factory::length_storage() : nullptr;
        entry_storage = entries_ok ? factory::entry_storage() : nullptr;
        length_centre = lengths_ok ? factory::length_centre() : nullptr;
        entry_centre = entries_ok ? factory::entry_centre() : nullptr;
        centre_row = factory::centre_row();
        centre_column = factory::centre_column();
    }

    // Binary mode: each node's value := the padded input byte.
    void copy_input() {
        const auto& bytes = input->data();
        for (node* p = this->first_row; p != this->end; ++p) p->value = bytes[p->index];
    }

    // Weighted primal mode: heights from the gradient (or the intensity),
    // and the gradient view for -vg and -og.
    void compute_height() {
        height_parameters<T> p;
        p.height_factor = option_copy.height_factor;
        p.sigma = option_copy.derivation_scale;
        p.gradient = option_copy.gradient;
        lumo::array_2d<T> g;
        squared_gradient(*input, p, g);
        const T k = height_scale(g, p.height_factor);
        if (option_copy.view_gradient || this->opts->program.overlay_gradient()) {
            lumo::array_2d<T> v;
            normalised_gradient(g, k, v);
            lumo::map_to_gray(v, *gradient_image);
            if (option_copy.view_gradient) {
                lumo::image<unsigned char> shown;
                lumo::array_to_image(*gradient_image, shown);
                lumo::show_image_titled(shown, this->opts->program.file_name, "gradient");
            }
        }
        heights_from_gradient(g, k);
        const auto& h = g.data();
        for (node* n = this->first_row; n != this->end; ++n) n->value = h[n->index];
    }

    // Initial state and kind of every node, the seeds queued at the table
    // centre, and the outer frame marked as the fence of the propagation.
    void create_front() {
        if (weighted())
            create_weighted_front();
        else
            create_binary_front();
        set_frame_member(*this->nodes, &node::state, 1, status(border));
        set_frame_member(*this->nodes, &node::kind, 1, status(border));
    }

    void propagate() {
        const bool fire = this->opts->grassfire.distance_step != T(0);
        if (weighted()) {
            if (fire)
                propagate_weighted_fire();
            else
                propagate_weighted();
        } else {
            if (fire)
                propagate_binary_fire();
            else
                propagate_binary();
        }
    }

    void propagate_binary() { binary_front<false>(); }
    void propagate_binary_fire() { binary_front<true>(); }
    void propagate_weighted() { weighted_front<false>(); }
    void propagate_weighted_fire() { weighted_front<true>(); }

    // Binary mode: distance := length of the displacement; frame and
    // interior nodes 0. Nodes that no front reached keep their distance.
    void reconstruct_distance() {
        for (node* p = this->first_row; p != this->end; ++p) {
            if (p->kind.has(border) || p->kind.has(interior))
                p->distance = 0;
            else if (p->state != far)
                p->distance = std::sqrt(static_cast<T>(p->entry_position->squared_length));
        }
    }

    // Binary mode: generator := the node that the displacement points at;
    // interior nodes are their own, the frame and unreached nodes keep theirs.
    void reconstruct_generators() {
        const auto w = static_cast<std::ptrdiff_t>(this->width);
        const auto h = static_cast<std::ptrdiff_t>(this->height);
        const auto row_length = static_cast<std::ptrdiff_t>(d0);
        const auto y0 = static_cast<std::ptrdiff_t>(centre_row);
        const auto x0 = static_cast<std::ptrdiff_t>(centre_column);
        auto& all = this->nodes->data();
        node* p = this->first_row;
        for (std::ptrdiff_t y = 0; y < h; ++y)
            for (std::ptrdiff_t x = 0; x < w; ++x, ++p) {
                if (p->kind == border) continue;
                if (p->kind == interior) {
                    p->generator = p;
                    continue;
                }
                if (p->state == far) continue;
                const std::ptrdiff_t k = p->entry_position - entry_storage;
                const std::ptrdiff_t dy = k / row_length - y0;
                const std::ptrdiff_t dx = k % row_length - x0;
                p->generator = &all[static_cast<size_t>((y + dy) * w + (x + dx))];
            }
    }

    distance_options<T> option_copy;
    stage_timer timer;
    const lumo::array_2d<unsigned char>* input;
    lumo::array_2d<unsigned char>* gradient_image;
    parity_queues<node> parity;
    bucket_array<node> buckets;

    // Table geometry cached by init_factory; null for a table this run
    // cannot use.
    size_t d0 = 0, d1 = 0;
    std::int32_t row_back = 0, row_forward = 0;
    const T* length_storage = nullptr;
    const entry* entry_storage = nullptr;
    const T* length_centre = nullptr;
    const entry* entry_centre = nullptr;
    size_t centre_row = 0, centre_column = 0;

    // What the last node settled held; H is written from them. They are 0
    // when no node is settled, so that H is then 2.
    T best_distance = 0;
    std::int32_t best_squared_length = 0;

    // Stage steps and the per-neighbour updates, public for the tests.

    // A seed in weighted mode: height at most max(w, h), and not at least 1
    // above its left, right and upper neighbours. NaN heights are never seeds.
    void create_weighted_front() {
        const std::ptrdiff_t w = static_cast<std::ptrdiff_t>(this->width);
        const T t = static_cast<T>(this->width > this->height ? this->width : this->height);
        for (node* p = this->row_1; p != this->row_h_minus_1; ++p) {
            p->kind = ordinary;
            const T v = p->value;
            if (!(v <= t)) {
                p->state = far;
                continue;
            }
            const T e = v - T(1);
            if (e >= p[-1].value && e >= p[1].value && e >= p[-w].value) {
                p->state = far;
                continue;
            }
            p->distance = v;
            p->bucket = bucket_index(v);
            buckets.push(p, p->bucket);
            p->length_position = length_centre;
            p->generator = p;
            p->state = front;
        }
    }

    // Binary mode: background far, foreground with four foreground
    // neighbours interior, other foreground a seed in queue 0.
    void create_binary_front() {
        const std::ptrdiff_t w = static_cast<std::ptrdiff_t>(this->width);
        for (node* p = this->row_1; p != this->row_h_minus_1; ++p) {
            if (p->value == T(0)) {
                p->state = far;
                p->kind = ordinary;
            } else if (p[-1].value != T(0) && p[1].value != T(0) && p[-w].value != T(0) &&
                       p[w].value != T(0)) {
                p->state = interior;
                p->kind = interior;
            } else {
                parity.push(p, 0);
                p->entry_position = entry_centre;
                p->state = front;
                p->kind = boundary_seed;
            }
        }
    }

    void begin_propagation() {
        this->begin_fire(this->opts->commands.primal ? "distance" : "dual distance",
                         this->opts->grassfire.distance_step);
        best_distance = 0;
        best_squared_length = 0;
    }

    // A far neighbour joins the front with the handed-on position; a front
    // neighbour takes it when it is strictly shorter.
    void reach_binary(node* q, const entry* target) {
        if (q->state == far) {
            q->entry_position = target;
            parity.push(q, target->parity);
            q->state = front;
        } else if (q->state == front) {
            if (target->squared_length < q->entry_position->squared_length)
                q->entry_position = target;
        }
    }

    template <bool fire>
    void binary_front() {
        begin_propagation();
        if (fire) open_fire_display(timer);
        const std::ptrdiff_t w = static_cast<std::ptrdiff_t>(this->width);
        const std::ptrdiff_t r = row_forward;
        std::int32_t best_sq = 0;
        while (node* p = parity.take()) {
            prefetch_neighbours(parity.peek(prefetch_distance), w);
            if (p->state != front) continue;  // a frame node queued before the marking
            p->state = done;
            const entry* best = p->entry_position;
            best_sq = best->squared_length;
            if (fire) this->fire_at(std::sqrt(static_cast<T>(best_sq)));
            node* q = p - w;
            if (q->state == front) take_if_shorter(q->entry_position - r, best, best_sq);
            q = p + w;
            if (q->state == front) take_if_shorter(q->entry_position + r, best, best_sq);
            q = p - 1;
            if (q->state == front) take_if_shorter(q->entry_position - 1, best, best_sq);
            q = p + 1;
            if (q->state == front) take_if_shorter(q->entry_position + 1, best, best_sq);
            p->entry_position = best;
            reach_binary(p - w, best + r);
            reach_binary(p + w, best - r);
            reach_binary(p - 1, best + 1);
            reach_binary(p + 1, best - 1);
            best_squared_length = best_sq;
        }
        if (fire) close_fire_display(timer);
        this->opts->distance.ceiling =
            static_cast<T>(std::sqrt(static_cast<double>(best_squared_length)) + 2.0);
    }

    // The front jumps around the grid: the rows above and below a node are
    // far apart in memory, so the lines that a node taken a few steps later
    // will read are requested now. A hint only; results never depend on it.
    static constexpr size_t prefetch_distance = 8;
    static void prefetch_neighbours(const node* p, std::ptrdiff_t w) {
        if (!p) return;
        __builtin_prefetch(p - w, 1);
        __builtin_prefetch(p + w, 1);
        __builtin_prefetch(p - 1, 1);
        __builtin_prefetch(p + 1, 1);
    }

    static void take_if_shorter(const entry* candidate, const entry*& best, std::int32_t& best_sq) {
        if (candidate->squared_length < best_sq) {
            best = candidate;
            best_sq = candidate->squared_length;
        }
    }

    // Reach (far) or relax (front) a neighbour from the settled node's
    // generator g of height gh; a drop of the bucket index adds an entry.
    void reach_weighted(node* q, const T* target, node* g, T gh) {
        const T candidate = *target + gh;
        q->length_position = target;
        q->distance = candidate;
        q->bucket = bucket_index(candidate);
        buckets.push(q, q->bucket);
        q->generator = g;
        q->state = front;
    }

    void relax_weighted(node* q, const T* target, node* g, T gh) {
        const T candidate = *target + gh;
        if (!(candidate < q->distance)) return;
        q->length_position = target;
        q->generator = g;
        q->distance = candidate;
        const size_t b = bucket_index(candidate);
        if (b < q->bucket) {
            q->bucket = b;
            buckets.push(q, b);
        }
    }

    void hand_on_weighted(node* q, const T* target, node* g, T gh) {
        if (q->state == far)
            reach_weighted(q, target, g, gh);
        else if (q->state == front)
            relax_weighted(q, target, g, gh);
    }

    // The candidate from a front neighbour q: its generator with p's
    // position derived from q's.
    static void try_weighted(const node* q, const T* candidate, node*& g, const T*& pos, T& d) {
        const T value = *candidate + q->generator->value;
        if (value < d) {
            g = q->generator;
            pos = candidate;
            d = value;
        }
    }

    template <bool fire>
    void weighted_front() {
        begin_propagation();
        if (fire) open_fire_display(timer);
        const std::ptrdiff_t w = static_cast<std::ptrdiff_t>(this->width);
        const std::ptrdiff_t r = row_forward;
        while (node* p = buckets.take()) {
            prefetch_neighbours(buckets.peek(prefetch_distance), w);
            if (p->state != front) continue;  // stale: settled through an earlier entry
            p->state = done;
            node* g = p->generator;
            const T* pos = p->length_position;
            T d = p->distance;
            if (fire) this->fire_at(d);
            node* q = p - w;
            if (q->state == front) try_weighted(q, q->length_position - r, g, pos, d);
            q = p + w;
            if (q->state == front) try_weighted(q, q->length_position + r, g, pos, d);
            q = p - 1;
            if (q->state == front) try_weighted(q, q->length_position - 1, g, pos, d);
            q = p + 1;
            if (q->state == front) try_weighted(q, q->length_position + 1, g, pos, d);
            p->length_position = pos;
            p->generator = g;
            p->distance = d;
            const T gh = g->value;
            hand_on_weighted(p - w, pos + r, g, gh);
            hand_on_weighted(p + w, pos - r, g, gh);
            hand_on_weighted(p - 1, pos + 1, g, gh);
            hand_on_weighted(p + 1, pos - 1, g, gh);
            best_distance = d;
        }
        if (fire) close_fire_display(timer);
        this->opts->distance.ceiling = best_distance + T(2);
    }

private:
    bool weighted() const { return this->opts->program.weighted; }
};

}  // namespace lumo::zarn

#endif
