// The residue stage on random binary masks against a brute-force reference:
// every axial pair of nodes that the front reached, with different origins,
// has the residue arc - chord (the arc from the boundary graph); each marker
// gives a node the largest residue of the passing pairs that choose it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <memory>
#include <random>
#include <vector>

#include "distance/run_distance.hpp"
#include "graph/graph.hpp"
#include "medial/medial_axis.hpp"
#include "pipeline/pipeline.hpp"

namespace {

namespace z = lumo::zarn;
using node = z::node_type<false, double>;
using graph_t = z::component_graph<false, double>;
using stage_t = z::medial_axis<false, double, graph_t>;

// The pipeline's grid after the distance and the boundary graph of a mask,
// with the residue stage run by the given marker.
struct residue_run {
    z::options<double> opts;
    std::unique_ptr<z::image_pipeline<false, double>> pipe;
    std::unique_ptr<graph_t> graph;
    std::unique_ptr<stage_t> stage;

    residue_run(const lumo::array_2d<unsigned char>& mask, std::uint32_t marker) {
        opts.program.weighted = false;
        opts.commands.medial = true;
        opts.medial.marker = marker;
        pipe = std::make_unique<z::image_pipeline<false, double>>(opts);
        pipe->allocate_input(mask);
        pipe->initial_allocations();
        z::run_distance_stage<false, double>(pipe->nodes, opts, pipe->padded_input, pipe->gradient);
        graph = std::make_unique<graph_t>(pipe->nodes, opts, pipe->component_graph_storage);
        graph->parse_boundary();
        graph->parse_structure();
        stage = std::make_unique<stage_t>(pipe->nodes, opts, *graph);
        stage->init();
        stage->create_front();
        stage_t::marker_type m;
        m.front = &stage->front;
        stage->compute_residue(m);
    }
    node* nodes() { return pipe->nodes.raw(); }
    size_t count() const { return pipe->nodes.length(); }
    long w() const { return static_cast<long>(pipe->nodes.size(0)); }
};

bool in_pair_states(const node& n) {
    return n.state == z::done || n.state == z::far || n.state == z::boundary_seed;
}

// One tested pair: x before y in the grid, y = x + 1 or x + w.
struct tested_pair {
    node* x;
    node* y;
    double r;
    long d_along;  // oriented from x to y
    long a_x;      // across difference, origin of x minus origin of y
    long g_x, g_y;  // |z - o_z|^2 - |z - o_other|^2 at each node
};

// Pairs whose residue passes the scale: the front took at least one of the
// two, and both are far, taken or boundary seeds.
std::vector<tested_pair> passing_pairs(residue_run& run) {
    std::vector<tested_pair> out;
    const long w = run.w();
    const double f = std::sqrt(2.0) - 1;
    node* g = run.nodes();
    auto coords = [w](const node* n) { return std::pair<long, long>(long(n->index) / w, long(n->index) % w); };
    auto sq = [](long a, long b) { return a * a + b * b; };
    for (size_t i = 0; i < run.count(); ++i) {
        node* x = g + i;
        for (long step : {1L, w}) {
            if (i + step >= run.count()) continue;
            node* y = x + step;
            if (!in_pair_states(*x) || !in_pair_states(*y)) continue;
            if (x->state != z::done && y->state != z::done) continue;
            node* ox = x->generator;
            node* oy = y->generator;
            if (ox == oy) continue;
            const bool vertical = step == w;
            auto [oxr, oxc] = coords(ox);
            auto [oyr, oyc] = coords(oy);
            auto [xr, xc] = coords(x);
            auto [yr, yc] = coords(y);
            const long along = vertical ? oyr - oxr : oyc - oxc;
            const long across = vertical ? std::labs(oxc - oyc) : std::labs(oxr - oyr);
            const double chord = along >= across ? along + f * across : across + f * along;
            const double r = run.graph->boundary_distance(ox, oy) - chord;
            if (!(r > run.opts.medial.scale)) continue;
            const long a_x = vertical ? oxc - oyc : oxr - oyr;
            out.push_back({x, y, r, along, a_x, sq(xr - oxr, xc - oxc) - sq(xr - oyr, xc - oyc),
                           sq(yr - oyr, yc - oyc) - sq(yr - oxr, yc - oxc)});
        }
    }
    return out;
}

// Foreground blobs on a background, in image terms: rows x columns, with
// the foreground (non-zero) as the boundary that the distance grows from.
lumo::array_2d<unsigned char> random_mask(std::mt19937& rng, size_t rows, size_t columns) {
    lumo::array_2d<unsigned char> m(rows, columns);
    m.fill(0);
    const int blobs = 1 + rng() % 4;
    for (int b = 0; b < blobs; ++b) {
        const long r0 = rng() % rows, c0 = rng() % columns, rad = 1 + rng() % 4;
        for (size_t r = 0; r < rows; ++r)
            for (size_t c = 0; c < columns; ++c)
                if ((long(r) - r0) * (long(r) - r0) + (long(c) - c0) * (long(c) - c0) <= rad * rad)
                    m(r, c) = 255;
    }
    if (rng() % 3 == 0) m(rng() % rows, rng() % columns) = 255;
    return m;
}

bool has_both_values(const lumo::array_2d<unsigned char>& m) {
    bool on = false, off = false;
    for (size_t i = 0; i < m.length(); ++i) (m[i] ? on : off) = true;
    return on && off;
}

// The front reached every node that a mark or an expansion concerns.
void expect_front_complete(residue_run& run) {
    node* g = run.nodes();
    const long w = run.w();
    for (size_t i = 0; i < run.count(); ++i) {
        const node& n = g[i];
        if (n.residue == 0) continue;
        if (n.state == z::boundary_seed) continue;
        ASSERT_EQ(n.state, z::done) << i;
        for (long d : {1L, -1L, w, -w, w + 1, w - 1, -w + 1, -w - 1})
            ASSERT_NE(g[i + d].state, z::far) << i << " beside " << i + d;
    }
}

TEST(MedialReference, TwinMarkerOnRandomMasks) {
    std::mt19937 rng(11);
    int checked = 0, marked = 0;
    for (int k = 0; k < 120; ++k) {
        const auto mask = random_mask(rng, 6 + rng() % 14, 6 + rng() % 14);
        if (!has_both_values(mask)) continue;
        residue_run run(mask, 0);
        std::map<const node*, double> expected;
        for (const tested_pair& p : passing_pairs(run)) {
            expected[p.x] = std::max(expected[p.x], p.r);
            expected[p.y] = std::max(expected[p.y], p.r);
        }
        node* g = run.nodes();
        for (size_t i = 0; i < run.count(); ++i) {
            const auto it = expected.find(g + i);
            ASSERT_EQ(g[i].residue, it == expected.end() ? 0.0 : it->second) << "mask " << k << " node " << i;
        }
        expect_front_complete(run);
        ++checked;
        marked += !expected.empty();
    }
    EXPECT_GT(checked, 100);
    EXPECT_GT(marked, 40);
}

// The binary marker gives an along-dominant pair to the node nearer the
// bisector of the two origins (a tie to the larger index), and each node of
// an across-dominant pair when the bisector crosses within half a step of
// it across the pair (exactly half-way: the node with the larger across
// coordinate). Pairs whose origins lie crossed along the step only bound.
TEST(MedialReference, BinaryMarkerOnRandomMasks) {
    std::mt19937 rng(5);
    int exact = 0;
    for (int k = 0; k < 120; ++k) {
        const auto mask = random_mask(rng, 6 + rng() % 14, 6 + rng() % 14);
        if (!has_both_values(mask)) continue;
        residue_run run(mask, 1);
        std::map<const node*, double> lower, upper;
        std::map<const node*, bool> crossed;
        for (const tested_pair& p : passing_pairs(run)) {
            upper[p.x] = std::max(upper[p.x], p.r);
            upper[p.y] = std::max(upper[p.y], p.r);
            if (p.d_along < 0) {
                crossed[p.x] = crossed[p.y] = true;
                continue;
            }
            bool to_x, to_y;
            if (p.d_along >= std::labs(p.a_x)) {
                const long gx = std::labs(p.g_x), gy = std::labs(p.g_y);
                to_x = gx < gy;  // y has the larger index
                to_y = !to_x;
            } else {
                to_x = std::labs(p.g_x) < std::labs(p.a_x) || p.g_x == -p.a_x;
                to_y = std::labs(p.g_y) < std::labs(p.a_x) || p.g_y == p.a_x;
            }
            if (to_x) lower[p.x] = std::max(lower[p.x], p.r);
            if (to_y) lower[p.y] = std::max(lower[p.y], p.r);
        }
        node* g = run.nodes();
        for (size_t i = 0; i < run.count(); ++i) {
            const node* n = g + i;
            const double lo = lower.count(n) ? lower[n] : 0.0, hi = upper.count(n) ? upper[n] : 0.0;
            if (crossed.count(n)) {
                ASSERT_GE(n->residue, lo) << "mask " << k << " node " << i;
                ASSERT_LE(n->residue, hi) << "mask " << k << " node " << i;
            } else {
                ASSERT_EQ(n->residue, lo) << "mask " << k << " node " << i;
                exact += lo > 0;
            }
        }
        expect_front_complete(run);
    }
    EXPECT_GT(exact, 200);
}

// Grayscale: the twin marker's residues, and grey bytes from the distance of
// each node to the bisector.
TEST(MedialReference, GrayscaleMarkerOnRandomMasks) {
    std::mt19937 rng(3);
    int levels = 0;
    for (int k = 0; k < 80; ++k) {
        const auto mask = random_mask(rng, 6 + rng() % 14, 6 + rng() % 14);
        if (!has_both_values(mask)) continue;
        residue_run twin(mask, 0), grey(mask, 2);
        std::map<const node*, int> bytes;
        std::map<const node*, bool> crossed;
        double level = 0;
        const long w = grey.w();
        node* g = grey.nodes();
        for (const tested_pair& p : passing_pairs(grey)) {
            if (p.d_along < 0) {
                crossed[p.x] = crossed[p.y] = true;
                continue;
            }
            const long divisor = p.d_along >= std::labs(p.a_x) ? p.d_along : p.a_x;
            bytes[p.x] = std::max<int>(bytes[p.x], z::grey_byte_of<double>(p.g_x, divisor, level));
            bytes[p.y] = std::max<int>(bytes[p.y], z::grey_byte_of<double>(p.g_y, divisor, level));
        }
        for (size_t i = 0; i < grey.count(); ++i) {
            ASSERT_EQ(grey.nodes()[i].residue, twin.nodes()[i].residue) << "mask " << k << " node " << i;
            ASSERT_EQ(grey.nodes()[i].state, twin.nodes()[i].state);
            const node* n = g + i;
            if (crossed.count(n)) continue;
            ASSERT_EQ(n->marker, bytes.count(n) ? bytes[n] : 0) << "mask " << k << " node " << i << " w " << w;
            levels += n->marker > 0 && n->marker < 255;
        }
    }
    EXPECT_GT(levels, 50);
}

}  // namespace
