#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "distance/run_distance.hpp"
#include "distance_support.hpp"

namespace {

using namespace dist_test;
namespace z = lumo::zarn;

// An image w x h (first index fastest) padded by 2 with replicated edges.
struct binary_case {
    size_t w, h;
    std::vector<unsigned char> pixels;
    binary_case(size_t w_, size_t h_) : w(w_), h(h_), pixels(w_ * h_, 0) {}
    void set(size_t x, size_t y) { pixels[x + w * y] = 255; }
};

grid_setup padded(const binary_case& c) {
    grid_setup s(c.w + 4, c.h + 4, false);
    for (size_t y = 0; y < c.h + 4; ++y)
        for (size_t x = 0; x < c.w + 4; ++x) {
            const size_t ix = std::min(c.w - 1, x < 2 ? 0 : x - 2);
            const size_t iy = std::min(c.h - 1, y < 2 ? 0 : y - 2);
            s.input[x + (c.w + 4) * y] = c.pixels[ix + c.w * iy];
        }
    return s;
}

TEST(DistanceBinaryFront, SinglePixelAndBlock) {
    binary_case c(7, 7);
    c.set(1, 1);
    for (size_t y = 3; y < 6; ++y)
        for (size_t x = 3; x < 6; ++x) c.set(x, y);
    grid_setup s = padded(c);
    auto t = s.make();
    t->init_factory();
    t->copy_input();
    EXPECT_EQ(s.at(3, 3).value, 255.0);
    t->create_front();
    const node& single = s.at(3, 3);
    EXPECT_EQ(single.state, z::front);
    EXPECT_EQ(single.kind, z::boundary_seed);
    EXPECT_EQ(single.entry_position, t->entry_centre);
    for (const node* n : {&s.at(2, 3), &s.at(4, 3), &s.at(3, 2), &s.at(3, 4)}) {
        EXPECT_EQ(n->state, z::far);
        EXPECT_EQ(n->kind, z::ordinary);
    }
    size_t seeds = 0, interiors = 0;
    for (size_t i = 0; i < s.nodes.length(); ++i) {
        seeds += s.nodes[i].kind == z::boundary_seed;
        interiors += s.nodes[i].kind == z::interior;
    }
    EXPECT_EQ(seeds, 9u);
    EXPECT_EQ(interiors, 1u);
    EXPECT_EQ(s.at(6, 6).state, z::interior);
    EXPECT_EQ(s.at(6, 6).kind, z::interior);
    // Queued in scan order, all in queue 0.
    ASSERT_EQ(t->parity.queue[0].size(), 9u);
    EXPECT_TRUE(t->parity.queue[1].empty());
    EXPECT_EQ(t->parity.queue[0][0], &single);
    EXPECT_EQ(t->parity.queue[0][1], &s.at(5, 5));
    EXPECT_TRUE(t->buckets.count() == 0);
}

// Foreground on the image edge reaches the frame; frame nodes queued by the
// scan end as border and are skipped.
TEST(DistanceBinaryFront, EdgeForegroundQueuesFrameNodes) {
    binary_case c(6, 5);
    for (size_t y = 0; y < 5; ++y) c.set(0, y);
    grid_setup s = padded(c);
    auto t = s.make();
    t->init_factory();
    t->copy_input();
    t->create_front();
    size_t stale = 0;
    for (size_t k = 0; k < t->parity.queue[0].size(); ++k)
        stale += t->parity.queue[0][k]->state == z::border;
    EXPECT_GT(stale, 0u);
    t->propagate_binary();
    t->reconstruct_distance();
    t->reconstruct_generators();
    EXPECT_EQ(s.at(0, 4).kind, z::border);
    EXPECT_EQ(s.at(0, 4).distance, 0.0);
    EXPECT_EQ(s.at(6, 4).distance, 4.0);  // image column 4, four from column 0
}

TEST(DistanceBinaryQueues, TakeSwitchesWhenTheCurrentQueueIsEmpty) {
    z::parity_queues<node> q;
    node a{}, b{}, c{};
    EXPECT_EQ(q.take(), nullptr);
    EXPECT_TRUE(q.index);  // an exhausted take has switched once
    q.push(&a, 0);
    q.push(&b, 1);
    q.push(&c, 1);
    EXPECT_EQ(q.take(), &b);  // queue 1 is current now
    q.push(&a, 1);            // appended to the current queue: same pass
    EXPECT_EQ(q.take(), &c);
    EXPECT_EQ(q.take(), &a);
    EXPECT_EQ(q.take(), &a);  // switched to queue 0
    EXPECT_FALSE(q.index);
    EXPECT_EQ(q.take(), nullptr);
}

// One seed in a 5 x 5 grid: its neighbours at squared length 1 and the
// diagonals at 2 share queue 1, so a diagonal is the last node settled.
TEST(DistanceBinaryPropagation, SingleSeedCeiling) {
    binary_case c(1, 1);
    grid_setup s(5, 5, false);
    s.input[12] = 255;
    auto t = s.make();
    binary_from_input(*t);
    EXPECT_DOUBLE_EQ(s.opts.distance.ceiling, 2.0 + std::sqrt(2.0));
    EXPECT_EQ(s.at(1, 2).entry_position->squared_length, 1);
    EXPECT_EQ(s.at(1, 2).entry_position->parity, 1);
    EXPECT_EQ(s.at(1, 1).entry_position->squared_length, 2);
    EXPECT_EQ(s.at(1, 1).entry_position, t->entry_centre + 1 + t->d0);
    EXPECT_TRUE(t->parity.queue[0].empty() && t->parity.queue[1].empty());
}

TEST(DistanceBinaryPropagation, NoSeedGivesCeilingTwo) {
    grid_setup s(6, 6, false);
    s.opts.distance.ceiling = 50;
    auto t = s.make();
    binary_from_input(*t);
    EXPECT_EQ(s.opts.distance.ceiling, 2.0);
    t->reconstruct_distance();
    t->reconstruct_generators();
    EXPECT_EQ(s.at(3, 3).distance, inf);  // unreached: untouched
    EXPECT_EQ(s.at(3, 3).generator, nullptr);
}

TEST(DistanceBinaryReconstruction, DecodesDisplacements) {
    grid_setup s(12, 10, false);
    auto t = s.make();
    t->init_factory();
    for (size_t i = 0; i < s.nodes.length(); ++i) {
        s.nodes[i].state = z::done;
        s.nodes[i].kind = z::ordinary;
        s.nodes[i].entry_position = t->entry_centre;
    }
    node& p = s.at(4, 7);
    p.entry_position = t->entry_centre + 3 - 4 * static_cast<std::ptrdiff_t>(t->d0);
    node& in = s.at(2, 2);
    in.kind = z::interior;
    in.state = z::interior;
    node& seed = s.at(8, 8);
    seed.kind = z::boundary_seed;
    node& frame = s.at(0, 5);
    frame.kind = z::border;
    frame.generator = &p;
    t->reconstruct_distance();
    t->reconstruct_generators();
    EXPECT_EQ(p.distance, 5.0);
    EXPECT_EQ(p.generator, &s.at(7, 3));
    EXPECT_EQ(in.distance, 0.0);
    EXPECT_EQ(in.generator, &in);
    EXPECT_EQ(seed.distance, 0.0);
    EXPECT_EQ(seed.generator, &seed);
    EXPECT_EQ(frame.distance, 0.0);
    EXPECT_EQ(frame.generator, &p);
}

struct binary_agreement {
    size_t nodes = 0, differ = 0;
    double max_error = 0, max_relative = 0;
};

// Runs the stage and compares every background distance with the exact
// distance to the nearest boundary seed, found by brute force.
void compare_exact(const binary_case& c, binary_agreement& out) {
    grid_setup s = padded(c);
    const size_t w = c.w + 4, h = c.h + 4;
    z::run_distance_stage<false, double>(s.nodes, s.opts, s.input, s.gradient);
    // The seeds by their definition: foreground inside the frame with a
    // background 4-neighbour.
    std::vector<std::pair<long, long>> seeds;
    auto fg = [&](size_t x, size_t y) { return s.input[x + w * y] != 0; };
    for (size_t y = 1; y + 1 < h; ++y)
        for (size_t x = 1; x + 1 < w; ++x) {
            const bool is_seed =
                fg(x, y) && (!fg(x - 1, y) || !fg(x + 1, y) || !fg(x, y - 1) || !fg(x, y + 1));
            ASSERT_EQ(s.at(x, y).kind == z::boundary_seed, is_seed) << x << "," << y;
            if (is_seed) seeds.emplace_back(long(x), long(y));
        }
    for (size_t y = 1; y + 1 < h; ++y)
        for (size_t x = 1; x + 1 < w; ++x) {
            const node& n = s.at(x, y);
            if (fg(x, y)) {
                ASSERT_EQ(n.distance, 0.0);
                continue;
            }
            if (seeds.empty()) continue;
            ASSERT_EQ(n.state, z::done);
            long best = -1;
            for (auto [sx, sy] : seeds) {
                const long d = (sx - long(x)) * (sx - long(x)) + (sy - long(y)) * (sy - long(y));
                if (best < 0 || d < best) best = d;
            }
            // The generator is a seed at exactly the reported distance.
            const node& g = *n.generator;
            ASSERT_EQ(g.kind, z::boundary_seed);
            const long gx = long(g.index % w) - long(x), gy = long(g.index / w) - long(y);
            ASSERT_EQ(n.distance, std::sqrt(double(gx * gx + gy * gy)));
            const double exact = std::sqrt(double(best));
            ASSERT_GE(n.distance, exact);
            ++out.nodes;
            if (n.distance != exact) {
                ++out.differ;
                out.max_error = std::max(out.max_error, n.distance - exact);
                out.max_relative = std::max(out.max_relative, (n.distance - exact) / exact);
            }
        }
}

binary_case random_blobs(std::mt19937& rng, size_t w, size_t h, double density) {
    binary_case c(w, h);
    std::uniform_real_distribution<double> unit(0, 1);
    for (size_t i = 0; i < w * h; ++i)
        if (unit(rng) < density) c.pixels[i] = 255;
    return c;
}

binary_case random_lines(std::mt19937& rng, size_t w, size_t h, int lines) {
    binary_case c(w, h);
    std::uniform_real_distribution<double> unit(0, 1);
    for (int k = 0; k < lines; ++k) {
        const double x0 = unit(rng) * w, y0 = unit(rng) * h, x1 = unit(rng) * w, y1 = unit(rng) * h;
        const int steps = int(2 * (w + h));
        for (int i = 0; i <= steps; ++i) {
            const double f = double(i) / steps;
            c.set(std::min(w - 1, size_t(x0 + f * (x1 - x0))), std::min(h - 1, size_t(y0 + f * (y1 - y0))));
        }
    }
    return c;
}

TEST(DistanceBinaryPropagation, SingleSeedsAndStraightBoundariesAreExact) {
    binary_agreement a;
    std::mt19937 rng(17);
    for (int k = 0; k < 40; ++k) {
        const size_t w = 1 + rng() % 60, h = 1 + rng() % 60;
        binary_case one(w, h);
        one.set(rng() % w, rng() % h);
        compare_exact(one, a);
        binary_case half(w, h);  // foreground below a row, or right of a column
        const bool by_row = k % 2 == 0;
        const size_t cut = by_row ? rng() % h : rng() % w;
        for (size_t y = 0; y < h; ++y)
            for (size_t x = 0; x < w; ++x)
                if ((by_row ? y : x) >= cut) half.set(x, y);
        compare_exact(half, a);
    }
    EXPECT_GT(a.nodes, 10000u);
    EXPECT_EQ(a.differ, 0u);
}

TEST(DistanceBinaryPropagation, RandomImagesAgainstExactDistance) {
    std::mt19937 rng(29);
    binary_agreement sparse, dense, lines, tiny;
    for (int k = 0; k < 60; ++k) {
        const size_t w = 1 + rng() % 4, h = 1 + rng() % 4;
        compare_exact(random_blobs(rng, w, h, 0.4), tiny);
    }
    const size_t sizes[][2] = {{17, 23}, {64, 64}, {120, 45}, {200, 180}, {300, 90}};
    for (const auto& sz : sizes)
        for (int k = 0; k < 2; ++k) {
            compare_exact(random_blobs(rng, sz[0], sz[1], 0.002), sparse);
            compare_exact(random_lines(rng, sz[0], sz[1], 3), lines);
        }
    for (int k = 0; k < 20; ++k)  // many seeds: smaller images keep the brute force quick
        compare_exact(random_blobs(rng, 10 + rng() % 60, 10 + rng() % 60, 0.5), dense);
    for (auto [label, a] : {std::pair{"tiny", &tiny}, {"sparse", &sparse}, {"dense", &dense},
                            {"lines", &lines}})
        std::printf("[ binary %-6s] nodes %zu, differ %zu (%.4f%%), max error %.4f, max relative %.4f\n",
                    label, a->nodes, a->differ, a->nodes ? 100.0 * a->differ / a->nodes : 0.0,
                    a->max_error, a->max_relative);
    EXPECT_EQ(tiny.differ, 0u);
    EXPECT_LE(double(sparse.differ) / sparse.nodes, 0.002);
    EXPECT_LE(double(lines.differ) / lines.nodes, 0.02);
    EXPECT_LE(double(dense.differ) / dense.nodes, 0.002);
    for (auto* a : {&sparse, &dense, &lines}) {
        EXPECT_LT(a->max_error, 1.0);
        EXPECT_LT(a->max_relative, 0.1);
    }
}

}  // namespace
