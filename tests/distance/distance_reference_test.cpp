// The propagations against plain re-implementations that carry displacement
// vectors and std::deque queues instead of table positions: generators and
// distances must agree node for node, so a different visit order, tie rule,
// queue choice or table step shows up even where distances tie.
#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <random>
#include <vector>

#include "distance/run_distance.hpp"
#include "distance_support.hpp"

namespace {

using namespace dist_test;
namespace z = lumo::zarn;

enum ref_state { r_far, r_front, r_done, r_other };

struct vec {
    long x = 0, y = 0;
    long sq() const { return x * x + y * y; }
    vec operator+(vec o) const { return {x + o.x, y + o.y}; }
};

// Offsets of the neighbours up, down, left, right, as (dx, dy).
const vec steps[4] = {{0, -1}, {0, 1}, {-1, 0}, {1, 0}};

struct reference {
    size_t w, h;
    std::vector<ref_state> state;
    std::vector<vec> disp;  // generator minus node
    std::vector<double> dist;
    double ceiling = 0;
    reference(size_t w_, size_t h_) : w(w_), h(h_), state(w_ * h_, r_other), disp(w_ * h_), dist(w_ * h_, inf) {}
    long offset(vec s) const { return s.x + long(w) * s.y; }
    bool frame(size_t i) const {
        const size_t x = i % w, y = i / w;
        return x == 0 || y == 0 || x + 1 == w || y + 1 == h;
    }
};

reference binary_reference(const lumo::array_2d<unsigned char>& in) {
    reference r(in.size(0), in.size(1));
    const size_t w = r.w, n = r.w * r.h;
    std::deque<size_t> q[2];
    for (size_t i = w; i < n - w; ++i) {
        if (in[i] == 0)
            r.state[i] = r_far;
        else if (!(in[i - 1] && in[i + 1] && in[i - w] && in[i + w]))
            r.state[i] = r_front, q[0].push_back(i);
    }
    for (size_t i = 0; i < n; ++i)
        if (r.frame(i)) r.state[i] = r_other;
    int cur = 0;
    long last = 0;
    for (;;) {
        if (q[cur].empty()) {
            cur = 1 - cur;
            if (q[cur].empty()) break;
        }
        const size_t p = q[cur].front();
        q[cur].pop_front();
        if (r.state[p] != r_front) continue;
        r.state[p] = r_done;
        vec best = r.disp[p];
        for (vec s : steps) {
            const size_t nq = p + r.offset(s);
            if (r.state[nq] != r_front) continue;
            const vec c = r.disp[nq] + s;
            if (c.sq() < best.sq()) best = c;
        }
        r.disp[p] = best;
        last = best.sq();
        for (vec s : steps) {
            const size_t nq = p + r.offset(s);
            const vec c = best + vec{-s.x, -s.y};
            if (r.state[nq] == r_far) {
                r.disp[nq] = c;
                r.state[nq] = r_front;
                q[static_cast<unsigned long>(std::sqrt(double(c.sq()))) & 1].push_back(nq);
            } else if (r.state[nq] == r_front && c.sq() < r.disp[nq].sq()) {
                r.disp[nq] = c;
            }
        }
    }
    r.ceiling = std::sqrt(double(last)) + 2.0;
    return r;
}

reference weighted_reference(const std::vector<double>& height, size_t w, size_t h) {
    reference r(w, h);
    const size_t n = w * h;
    std::vector<std::deque<size_t>> buckets(w + h);
    std::vector<size_t> gen(n), bucket(n);
    auto push = [&](size_t i, size_t b) {
        if (b >= buckets.size()) buckets.resize(b + 1);
        buckets[b].push_back(i);
    };
    auto index_of = [](double v) { return v > 0 ? size_t(v) : size_t(0); };
    const double t = double(std::max(w, h));
    for (size_t i = w; i < n - w; ++i) {
        const double v = height[i];
        r.state[i] = r_far;
        if (!(v <= t)) continue;
        if (v - 1 >= height[i - 1] && v - 1 >= height[i + 1] && v - 1 >= height[i - w]) continue;
        r.dist[i] = v, bucket[i] = index_of(v), gen[i] = i, r.state[i] = r_front;
        push(i, bucket[i]);
    }
    for (size_t i = 0; i < n; ++i)
        if (r.frame(i)) r.state[i] = r_other;
    double last = 0;
    for (size_t cursor = 0; cursor < buckets.size(); ++cursor)
        while (!buckets[cursor].empty()) {
            const size_t p = buckets[cursor].front();
            buckets[cursor].pop_front();
            if (r.state[p] != r_front) continue;
            r.state[p] = r_done;
            for (vec s : steps) {
                const size_t nq = p + r.offset(s);
                if (r.state[nq] != r_front) continue;
                const vec c = r.disp[nq] + s;
                const double v = std::sqrt(double(c.sq())) + height[gen[nq]];
                if (v < r.dist[p]) r.disp[p] = c, r.dist[p] = v, gen[p] = gen[nq];
            }
            last = r.dist[p];
            for (vec s : steps) {
                const size_t nq = p + r.offset(s);
                const vec c = r.disp[p] + vec{-s.x, -s.y};
                const double v = std::sqrt(double(c.sq())) + height[gen[p]];
                if (r.state[nq] == r_far) {
                    r.disp[nq] = c, r.dist[nq] = v, bucket[nq] = index_of(v), gen[nq] = gen[p];
                    r.state[nq] = r_front;
                    push(nq, bucket[nq]);
                } else if (r.state[nq] == r_front && v < r.dist[nq]) {
                    r.disp[nq] = c, r.dist[nq] = v, gen[nq] = gen[p];
                    if (index_of(v) < bucket[nq]) bucket[nq] = index_of(v), push(nq, bucket[nq]);
                }
            }
        }
    r.ceiling = last + 2.0;
    return r;
}

// Generators of reached nodes, as linear indices.
void expect_same(grid_setup& s, const reference& r, bool weighted) {
    size_t compared = 0;
    for (size_t i = 0; i < s.nodes.length(); ++i) {
        if (r.state[i] != r_done) continue;
        const node& n = s.nodes[i];
        ASSERT_EQ(n.state, z::done) << i;
        const long g = long(i) + r.offset(r.disp[i]);
        ASSERT_EQ(long(n.generator->index), g) << i;
        if (weighted)
            ASSERT_EQ(n.distance, r.dist[i]) << i;
        else
            ASSERT_EQ(n.distance, std::sqrt(double(r.disp[i].sq()))) << i;
        ++compared;
    }
    EXPECT_EQ(s.opts.distance.ceiling, r.ceiling);
    EXPECT_GT(compared, 0u);
}

// Every node against the reference: state, and for reached nodes the table
// position (decoded to a displacement), generator and distance. Stricter than
// expect_same: a node left in the front, or a tie broken by a different
// displacement to the same generator, also shows up.
void expect_every_node(grid_setup& s, const transform& t, const reference& r, bool weighted) {
    const long d0 = long(t.d0), x0 = long(t.centre_column), y0 = long(t.centre_row);
    for (size_t i = 0; i < s.nodes.length(); ++i) {
        const node& n = s.nodes[i];
        if (r.frame(i)) {
            ASSERT_EQ(n.state, z::border) << i;
            continue;
        }
        const z::status_enum expected[] = {z::far, z::front, z::done};
        if (r.state[i] != r_other) {
            ASSERT_EQ(n.state, expected[r.state[i]]) << i;
        }
        if (r.state[i] != r_front && r.state[i] != r_done) continue;
        const long k = weighted ? long(n.length_position - t.length_storage)
                                : long(n.entry_position - t.entry_storage);
        ASSERT_EQ(k % d0 - x0, r.disp[i].x) << i;
        ASSERT_EQ(k / d0 - y0, r.disp[i].y) << i;
        ASSERT_EQ(long(n.generator->index), long(i) + r.offset(r.disp[i])) << i;
        ASSERT_EQ(n.distance, weighted ? r.dist[i] : std::sqrt(double(r.disp[i].sq()))) << i;
    }
    EXPECT_EQ(s.opts.distance.ceiling, r.ceiling);
}

// Sparse seeds of a few integer heights among nodes too high to be seeds:
// waves of equal height meet everywhere, so which generator and which
// displacement a node keeps depends on the order in which the front hands
// values on and takes nodes out (up, down, left, right; FIFO per bucket).
TEST(DistanceReference, WeightedTiesFollowVisitOrder) {
    std::mt19937 rng(47);
    std::uniform_real_distribution<double> unit(0, 1);
    for (int k = 0; k < 60; ++k) {
        const size_t w = 6 + rng() % 40, h = 6 + rng() % 40;
        grid_setup s(w, h, true);
        std::vector<double> heights(w * h);
        const double density = 0.01 + 0.05 * unit(rng);
        for (double& v : heights) v = unit(rng) < density ? double(rng() % 3) : 1000;
        heights[w * (h / 2) + w / 2] = 0;
        for (size_t i = 0; i < w * h; ++i) s.nodes[i].value = heights[i];
        auto t = s.make();
        weighted_from_heights(*t);
        expect_every_node(s, *t, weighted_reference(heights, w, h), true);
    }
}

// The same for the binary front: single foreground pixels and small groups
// make many equidistant generators.
TEST(DistanceReference, BinaryTiesFollowVisitOrder) {
    std::mt19937 rng(53);
    std::uniform_real_distribution<double> unit(0, 1);
    for (int k = 0; k < 60; ++k) {
        const size_t w = 6 + rng() % 40, h = 6 + rng() % 40;
        grid_setup s(w, h, false);
        const double density = 0.01 + 0.05 * unit(rng);
        for (size_t i = 0; i < s.input.length(); ++i) s.input[i] = unit(rng) < density ? 255 : 0;
        s.input[w * (h / 2) + w / 2] = 255;
        auto t = s.make();
        binary_from_input(*t);
        t->reconstruct_distance();
        t->reconstruct_generators();
        expect_every_node(s, *t, binary_reference(s.input), false);
    }
}

TEST(DistanceReference, BinaryGeneratorsAndOrder) {
    std::mt19937 rng(41);
    for (int k = 0; k < 40; ++k) {
        const size_t w = 6 + rng() % 120, h = 6 + rng() % 120;
        grid_setup s(w, h, false);
        const double density = k % 2 ? 0.01 : 0.4;
        std::uniform_real_distribution<double> unit(0, 1);
        for (size_t i = 0; i < s.input.length(); ++i) s.input[i] = unit(rng) < density ? 255 : 0;
        s.input[w * (h / 2) + w / 2] = 255;
        z::run_distance_stage<false, double>(s.nodes, s.opts, s.input, s.gradient);
        expect_same(s, binary_reference(s.input), false);
    }
}

TEST(DistanceReference, WeightedGeneratorsAndOrder) {
    std::mt19937 rng(43);
    std::uniform_real_distribution<double> unit(0, 1);
    for (int k = 0; k < 40; ++k) {
        const size_t w = 6 + rng() % 80, h = 6 + rng() % 80;
        grid_setup s(w, h, true);
        std::vector<double> heights(w * h);
        for (double& v : heights) {
            const double u = unit(rng);
            // Integer heights make ties; some above t are never seeds.
            v = k % 2 ? std::floor(u * 8) : (u < 0.05 ? 10 * unit(rng) : 1000);
        }
        for (size_t i = 0; i < w * h; ++i) s.nodes[i].value = heights[i];
        auto t = s.make();
        weighted_from_heights(*t);
        expect_same(s, weighted_reference(heights, w, h), true);
    }
}

}  // namespace
