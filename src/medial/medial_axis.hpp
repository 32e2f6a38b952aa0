// The medial axis stage object: a front grown from the distance maxima pairs
// every node it takes with its four axial neighbours; where the two origins
// differ, the distance between them along the boundary minus their straight
// separation is the pair's residue. Pairs whose residue exceeds the scale are
// handed to a marker (twin, binary or grayscale); the residues then become
// the binary medial axis, optionally thinned.
//
// The residue loop is one template over the mode, the marker, the minimum-
// distance skip and the grassfire display; a dispatcher picks the instance
// once per stage, so the per-node loop tests none of them.
#ifndef ZARN_MEDIAL_MEDIAL_AXIS_HPP
#define ZARN_MEDIAL_MEDIAL_AXIS_HPP

#include <cmath>
#include <cstdint>
#include <utility>

#include <lumo/details/array_2d/array_2d>

#include "app/options.hpp"
#include "distance/queues.hpp"
#include "medial/thinning.hpp"
#include "pipeline/grassfire.hpp"
#include "pipeline/node_grid.hpp"
#include "pipeline/stage_timer.hpp"

namespace lumo::zarn {

enum class marker_kind : std::uint32_t { twin = 0, binary = 1, grayscale = 2 };

// What the residue loop hands to its marker: the front where raised far
// nodes are queued, and the grayscale marker's last conversion (kept for
// inspection; nothing reads it).
template <typename Node, typename T>
struct medial_marker {
    fifo<Node*>* front = nullptr;
    T grey_level = 0;
    std::uint8_t grey_byte = 0;
};

// The node taken from the front (p) and the neighbour under test (q), with
// their origins' coordinates on the pair's axes: along the step from p to q
// and across it. All integer geometry is 64-bit, so squared norms and the
// bisector value are exact on any grid.
template <typename Node, typename T>
struct medial_pair {
    Node* p = nullptr;
    std::int64_t p_along = 0, p_across = 0;
    Node* q = nullptr;
    Node* origin_p = nullptr;
    Node* origin_q = nullptr;
    T height_p = 0, height_q = 0;
    std::int64_t origin_p_along = 0, origin_p_across = 0;
    std::int64_t origin_q_along = 0, origin_q_across = 0;
    T arc = 0, chord = 0, r = 0;
    // Along difference oriented with the step (positive when the origins lie
    // in the order of p and q); across difference, absolute until a marker
    // replaces it by the signed one.
    std::int64_t d_along = 0, d_across = 0;
    std::int64_t e = 0;  // |p - o_p|^2 - |p - o_q|^2, set by the bisector markers
    std::int64_t origin_p_norm2 = 0, origin_q_norm2 = 0;
    bool along_dominant = false;
};

// The grey byte of a node whose bisector value is v, measured with divisor
// c: 255 within a quarter step of the bisector, falling linearly to 0 at a
// full step. A zero divisor or any non-finite level gives 0.
template <typename T>
std::uint8_t grey_byte_of(std::int64_t v, std::int64_t c, T& level) {
    const T t = std::fabs(static_cast<T>(v) / static_cast<T>(c));
    const T g = (T(4) - T(2) * t) / T(3);
    level = g;
    if (g > T(1)) {
        level = T(1);
        return 255;
    }
    if (g > T(0)) return static_cast<std::uint8_t>(T(255) * g + T(0.5));
    return 0;
}

template <bool debug, typename T, typename Graph>
class medial_axis : public node_grid<debug, T> {
public:
    using node = node_type<debug, T>;
    using base = node_grid<debug, T>;
    using marker_type = medial_marker<node, T>;
    using pair_type = medial_pair<node, T>;

    medial_axis(node_array<debug, T>& grid, options<T>& o, Graph& g)
        : base(this, &grid, &o),
          scale(o.medial.scale),
          dual_scale(o.medial.dual_scale),
          distance_scale(o.medial.distance_scale),
          marker(o.medial.marker),
          thinning(o.medial.thinning),
          times_distance(o.medial.times_distance),
          times_residue(o.medial.times_residue),
          timer(o.program.timing),
          graph(&g),
          octagonal_factor(std::sqrt(T(2)) - T(1)) {}

    medial_axis(const medial_axis&) = delete;
    medial_axis& operator=(const medial_axis&) = delete;

    // The stage driver; returns the timed total in milliseconds.
    double run() {
        timer.time("Medial axis transform initialization:", [this] { init(); });
        timer.time("Creating medial axis front:", [this] { create_front(); });
        timer.time("Medial axis residue computation:", [this] {
            marker_type m;
            m.front = &front;
            compute_residue(m);
        });
        // The grey levels are the result: nothing is binarised or thinned.
        if (this->opts->medial.marker == std::uint32_t(marker_kind::grayscale)) return timer.total;
        timer.time("Medial axis binary representation:", [this] { binary_representation(); });
        if (thinning) timer.time("Medial axis thinning:", [this] { thin(); });
        timer.time("Medial axis reconstruction:", [this] { reconstruct(); });
        return timer.rule('-');
    }

    void init() {
        for (node* p = this->first_row; p != this->end; ++p) {
            p->marker = 0;
            p->residue = 0;
        }
    }

    // Rows 1 to h - 2: boundary nodes become seeds of the pair tests, nodes
    // that no axial neighbour exceeds in distance enter the front, the rest
    // wait far. Frame neighbours take no part in the comparison (weighted
    // mode never gives them a distance; in binary mode theirs is 0, which
    // never exceeds another).
    void create_front() {
        // A node enters the front at most once: the block never moves.
        front.reserve(this->count);
        const std::ptrdiff_t w = static_cast<std::ptrdiff_t>(this->width);
        for (node* p = this->row_1; p != this->row_h_minus_1; ++p) {
            if (p->kind.has(border) || p->kind.has(interior)) continue;
            if (p->kind == boundary_seed) {
                p->state = boundary_seed;
                continue;
            }
            // A node that no distance wave reached has no origin to compare.
            if (!p->generator) {
                p->state = done;
                continue;
            }
            const T d = p->distance;
            if (exceeds(p[-1], d) || exceeds(p[1], d) || exceeds(p[-w], d) || exceeds(p[w], d)) {
                p->state = far;
            } else {
                front.push_back(p);
                p->state = status(lumo::zarn::front);
            }
        }
    }

    void enqueue(node* n) {
        if (n->state == far) {
            front.push_back(n);
            n->state = status(lumo::zarn::front);
        }
    }

    // q takes r when r raises its residue; a far q then joins the front.
    static void mark(marker_type& m, node* q, T r) {
        if (r > q->residue) {
            q->residue = r;
            if (q->state == far) {
                m.front->push_back(q);
                q->state = status(lumo::zarn::front);
            }
        }
    }

    static void mark_twin(marker_type& m, node* p, node* q, T r) {
        if (r > p->residue) p->residue = r;
        mark(m, q, r);
    }

    // Signed differences of the origins (o_p - o_q) on both axes, o_q's
    // squared norm and the bisector value of p; the forward steps first turn
    // the along difference round. Returns the signed along difference D.
    static std::int64_t bisector(pair_type& s, bool forward) {
        if (forward) s.d_along = -s.d_along;
        const std::int64_t d = s.d_along;
        const std::int64_t a = s.origin_p_across - s.origin_q_across;
        s.d_across = a;
        s.origin_q_norm2 = s.origin_q_along * s.origin_q_along + s.origin_q_across * s.origin_q_across;
        s.e = s.origin_p_norm2 - s.origin_q_norm2 - 2 * (s.p_across * a + s.p_along * d);
        return d;
    }

    // Binary marker: the residue goes to the node of the pair nearer the
    // perpendicular bisector of the two origins; a crossing exactly half-way
    // goes to the node with the larger coordinate.
    static void mark_binary(pair_type& s, marker_type& m, bool forward) {
        const std::int64_t d = bisector(s, forward);
        if (s.along_dominant)
            mark_binary_along(m, s.p, s.q, s.e, d, s.r);
        else
            mark_binary_across(m, s.p, s.q, s.e, d, s.d_across, s.r);
    }

    static void mark_binary_along(marker_type& m, node* p, node* q, std::int64_t e, std::int64_t d, T r) {
        if ((d <= 0 && e > d) || (d >= 1 && e >= -d)) {
            if (r > p->residue) p->residue = r;
        } else {
            mark(m, q, r);
        }
    }

    static void mark_binary_across(marker_type& m, node* p, node* q, std::int64_t e, std::int64_t d,
                                   std::int64_t a, T r) {
        if (((a <= 0 && e > a) || (a >= 1 && e >= -a)) && r > p->residue) p->residue = r;
        const std::int64_t f = e + 2 * (d < 0 ? -d : d);
        if ((a <= 0 && f <= -a) || (a >= 1 && f < a)) mark(m, q, r);
    }

    // Grayscale marker: both nodes take the residue as with the twin marker,
    // and each keeps the largest grey level of its nearness to the bisector.
    static void mark_grayscale_pair(pair_type& s, marker_type& m, bool forward) {
        const std::int64_t d = bisector(s, forward);
        mark_grayscale(m, s.p, s.q, s.e, d, s.along_dominant ? d : s.d_across, s.r);
    }

    // The divisor is D in the along form and the signed across difference in
    // the across form.
    static void mark_grayscale(marker_type& m, node* p, node* q, std::int64_t e, std::int64_t d,
                               std::int64_t divisor, T r) {
        if (r > p->residue) p->residue = r;
        m.grey_byte = grey_byte_of(e, divisor, m.grey_level);
        if (p->marker < m.grey_byte) p->marker = m.grey_byte;
        mark(m, q, r);
        m.grey_byte = grey_byte_of(e + 2 * (d < 0 ? -d : d), divisor, m.grey_level);
        if (q->marker < m.grey_byte) q->marker = m.grey_byte;
    }

    // The residue stage: picks the loop of the mode and marker kind; any
    // other kind runs none.
    void compute_residue(marker_type& m) {
        const bool weighted = this->opts->program.weighted;
        switch (this->opts->medial.marker) {
            case std::uint32_t(marker_kind::twin):
                weighted ? compute_residue<true, marker_kind::twin>(m)
                         : compute_residue<false, marker_kind::twin>(m);
                break;
            case std::uint32_t(marker_kind::binary):
                weighted ? compute_residue<true, marker_kind::binary>(m)
                         : compute_residue<false, marker_kind::binary>(m);
                break;
            case std::uint32_t(marker_kind::grayscale):
                weighted ? compute_residue<true, marker_kind::grayscale>(m)
                         : compute_residue<false, marker_kind::grayscale>(m);
                break;
            default:
                break;
        }
    }

    // The minimum-distance skip serves the primal axis only; a grassfire step
    // that is not exactly 0 (NaN included) shows the front.
    template <bool weighted, marker_kind kind>
    void compute_residue(marker_type& m) {
        const bool skip = this->opts->commands.primal && distance_scale > T(0);
        const bool fire = !(this->opts->grassfire.medial_step == T(0));
        if (skip) {
            fire ? propagate<weighted, kind, true, true>(m) : propagate<weighted, kind, true, false>(m);
        } else {
            fire ? propagate<weighted, kind, false, true>(m) : propagate<weighted, kind, false, false>(m);
        }
    }

    // The residue loop. Nodes of the outer ring never enter the front (front
    // creation skips them and they never have state far), so every neighbour
    // of a node taken lies inside the grid.
    template <bool weighted, marker_kind kind, bool min_distance, bool fire>
    void propagate(marker_type& m) {
        begin_residue();
        if constexpr (fire) open_fire_display(timer);
        const std::uint64_t w = this->width;
        pair_type s;
        while (!front.empty()) {
            node* p = front.pop_front();
            prefetch_pair_nodes(front.peek(prefetch_distance), w);
            p->state = done;
            node* origin = p->generator;
            if constexpr (min_distance) {
                if (distance_scale > p->distance - origin->distance) continue;
            }
            s.p = p;
            s.origin_p = origin;
            if constexpr (weighted) s.height_p = origin->value;
            s.p_along = static_cast<std::int64_t>(p->index / w);
            s.p_across = static_cast<std::int64_t>(p->index % w);
            s.origin_p_along = static_cast<std::int64_t>(origin->index / w);
            s.origin_p_across = static_cast<std::int64_t>(origin->index % w);
            s.origin_p_norm2 = s.origin_p_along * s.origin_p_along + s.origin_p_across * s.origin_p_across;

            test_pair<weighted, kind, false, true>(s, p - w, m);
            test_pair<weighted, kind, true, true>(s, p + w, m);
            if constexpr (fire) display_step(s.p_along);
            std::swap(s.p_along, s.p_across);
            std::swap(s.origin_p_along, s.origin_p_across);
            test_pair<weighted, kind, false, false>(s, p - 1, m);
            test_pair<weighted, kind, true, false>(s, p + 1, m);

            if (!(p->residue == T(0))) {
                enqueue(p + w);
                enqueue(p + w - 1);
                enqueue(p - 1);
                enqueue(p - w - 1);
                enqueue(p - w);
                enqueue(p - w + 1);
                enqueue(p + 1);
                enqueue(p + w + 1);
            }
        }
        if constexpr (fire) close_fire_display(timer);
    }

    // The front holds nodes far apart in memory: the node a few steps later
    // and its axial neighbours are requested now. A hint only.
    static constexpr size_t prefetch_distance = 8;
    [[gnu::always_inline]] static void prefetch_pair_nodes(const node* p, std::uint64_t w) {
        if (!p) return;
        __builtin_prefetch(p, 1);
        __builtin_prefetch(p - w, 1);
        __builtin_prefetch(p + w, 1);
        __builtin_prefetch(p - 1, 1);
        __builtin_prefetch(p + 1, 1);
    }

    // Mask, threshold, name and grassfire progress of a residue loop.
    void begin_residue() {
        state_mask = far | lumo::zarn::front | boundary_seed;
        const bool primal = this->opts->commands.primal;
        threshold = primal ? scale : dual_scale;
        this->begin_fire(primal ? "medial" : "dual medial", this->opts->grassfire.medial_step);
    }

    // One pair: q must still be far, in the front or a boundary seed, and
    // reached from another origin than p.
    template <bool weighted, marker_kind kind, bool forward, bool vertical>
    void test_pair(pair_type& s, node* q, marker_type& m) {
        if ((q->state.bits() & state_mask) == 0) return;
        node* origin = q->generator;
        if (origin == s.origin_p) return;
        s.q = q;
        s.origin_q = origin;
        if constexpr (weighted) s.height_q = origin->value;
        const std::uint64_t w = this->width;
        const auto row = static_cast<std::int64_t>(origin->index / w);
        const auto column = static_cast<std::int64_t>(origin->index % w);
        s.origin_q_along = vertical ? row : column;
        s.origin_q_across = vertical ? column : row;
        s.d_along = forward ? s.origin_q_along - s.origin_p_along : s.origin_p_along - s.origin_q_along;
        const std::int64_t across = s.origin_p_across - s.origin_q_across;
        s.d_across = across < 0 ? -across : across;
        s.along_dominant = s.d_along >= s.d_across;
        const T along_t = static_cast<T>(s.d_along), across_t = static_cast<T>(s.d_across);
        s.chord = s.along_dominant ? along_t + octagonal_factor * across_t
                                   : across_t + octagonal_factor * along_t;
        if constexpr (weighted) s.chord = std::fabs(s.height_p - s.height_q) + s.chord;
        s.arc = graph->boundary_distance(s.origin_p, origin);
        s.r = s.arc - s.chord;
        if (!(s.r > threshold)) return;
        if constexpr (kind == marker_kind::twin)
            mark_twin(m, s.p, q, s.r);
        else if constexpr (kind == marker_kind::binary)
            mark_binary(s, m, forward);
        else
            mark_grayscale_pair(s, m, forward);
    }

    // Counts passes of the front: a pass ends when the rows taken fall back
    // by more than half the smaller grid size; a snapshot is due whenever
    // the count exceeds the next level. Rows compare as unsigned.
    void display_step(std::int64_t row) {
        const auto r = static_cast<std::uint64_t>(row);
        if (r > static_cast<std::uint64_t>(this->row_bound)) {
            this->row_bound = row;
        } else if (static_cast<std::uint64_t>(this->row_bound) > r + this->half_size) {
            ++this->pass_count;
            this->row_bound = 0;
            this->fire_at(static_cast<T>(this->pass_count));
        }
    }

    // Marker 255 wherever the residue is not 0 (NaN included).
    void binary_representation() {
        for (node* p = this->first_row; p != this->end; ++p)
            if (!(p->residue == T(0))) p->marker = 255;
    }

    void thin() {
        lumo::array_2d<unsigned char> image(this->sizes);
        for (node* p = this->first_row; p != this->end; ++p) image[p->index] = p->marker;
        thin_image(image);
        for (node* p = this->first_row; p != this->end; ++p) p->marker = image[p->index];
    }

    // Frame, interior and boundary nodes lose marker and residue; every other
    // marked node becomes a medial node. After thinning, unmarked nodes lose
    // their residue too.
    void reconstruct() {
        const std::uint64_t cleared = border | second_ring | interior | boundary_seed;
        for (node* p = this->first_row; p != this->end; ++p) {
            if (p->kind.bits() & cleared) {
                p->marker = 0;
                p->residue = 0;
            } else if (p->marker != 0) {
                p->kind = status(medial);
            } else if (thinning) {
                p->residue = 0;
            }
        }
    }

    T scale;
    T dual_scale;
    T distance_scale;
    std::uint32_t marker;
    bool thinning;
    bool times_distance;
    bool times_residue;
    stage_timer timer;
    Graph* graph;
    fifo<node*> front;
    T octagonal_factor;
    std::uint64_t state_mask = 0;
    T threshold = 0;

private:
    static bool exceeds(const node& n, T d) { return !n.kind.has(border) && n.distance > d; }
};

}  // namespace lumo::zarn

#endif
