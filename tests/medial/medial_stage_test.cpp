// The stage around the residue loop: front creation, the dispatcher's
// switches, binary representation, reconstruction and the driver's lines.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "medial_support.hpp"
#include "pipeline/capture.hpp"

namespace {

using namespace medial_test;
using z::marker_kind;

// A 7 x 7 grid whose 5 x 5 inside is ordinary and reached from one origin,
// with the distance rising to the right: the column.
medial_grid open_inside(bool weighted = false) {
    medial_grid g(7, 7, weighted);
    for (size_t r = 1; r < 6; ++r)
        for (size_t c = 1; c < 6; ++c) g.open(r, c, g.at(1, 1), double(c));
    return g;
}

std::vector<node*> front_of(stage& s) {
    std::vector<node*> out;
    while (!s.front.empty()) out.push_back(s.front.pop_front());
    return out;
}

TEST(MedialFront, MaximaPlateausAndSeeds) {
    medial_grid g = open_inside();
    g.at(2, 2).distance = 9;  // a peak
    g.at(4, 4).distance = 6;  // exceeds (4, 5)
    g.at(3, 5).kind = z::boundary_seed;
    g.at(5, 1).kind = z::interior;
    g.at(5, 1).state = z::interior;
    g.at(5, 3).generator = nullptr;  // never reached by a distance wave
    auto s = g.make();
    s->create_front();
    // Index order; the rest of column 5 is a plateau that nothing exceeds.
    const std::vector<node*> expected = {&g.at(1, 5), &g.at(2, 2), &g.at(2, 5), &g.at(4, 4), &g.at(5, 5)};
    EXPECT_EQ(front_of(*s), expected);
    EXPECT_EQ(g.at(2, 2).state, z::front);
    EXPECT_EQ(g.at(4, 5).state, z::far);
    EXPECT_EQ(g.at(2, 3).state, z::far);
    EXPECT_EQ(g.at(3, 5).state, z::boundary_seed);
    EXPECT_EQ(g.at(5, 1).state, z::interior);
    EXPECT_EQ(g.at(5, 3).state, z::done);
    EXPECT_EQ(g.at(0, 3).state, z::border);
}

TEST(MedialFront, FrameNeighboursDoNotCount) {
    // Weighted mode leaves the frame's distance as it was (here +inf): the
    // column beside the frame is still the plateau of maxima.
    medial_grid g = open_inside(true);
    for (size_t i = 0; i < g.nodes.length(); ++i)
        if (g.nodes[i].kind == z::border) g.nodes[i].distance = inf;
    auto s = g.make();
    s->create_front();
    const std::vector<node*> expected = {&g.at(1, 5), &g.at(2, 5), &g.at(3, 5), &g.at(4, 5), &g.at(5, 5)};
    EXPECT_EQ(front_of(*s), expected);
}

TEST(MedialFront, EmptyFrontChangesNoResidue) {
    medial_grid g(6, 6);
    g.open(2, 2, g.at(1, 1)).kind = z::boundary_seed;
    auto s = g.make();
    s->opts->grassfire.medial_step = 0;
    s->create_front();
    stage::marker_type m;
    m.front = &s->front;
    s->compute_residue(m);
    EXPECT_EQ(s->name, "medial");
    EXPECT_EQ(s->threshold, 2.0);
    EXPECT_EQ(s->state_mask, 131u);
    EXPECT_EQ(g.graph.queries, 0u);
}

// Three nodes in a row of one column: the middle one is popped first and
// pairs with both; the end nodes come from other origins.
struct skip_case {
    medial_grid g{9, 9};
    node* middle;
    skip_case(double middle_distance, double origin_distance) {
        node& o = g.at(4, 1);
        o.distance = origin_distance;
        middle = &g.open(4, 4, o, middle_distance);
        g.open(3, 4, g.at(1, 4), 1);
        g.open(5, 4, g.at(7, 4), 1);
        g.opts.medial.distance_scale = 2;
        g.opts.medial.marker = 0;
    }
    void run() {
        auto s = g.make();
        s->enqueue(middle);
        stage::marker_type m;
        m.front = &s->front;
        s->compute_residue(m);
    }
};

TEST(MedialDistanceScale, ComparesWithTheOriginsOwnDistance) {
    {
        skip_case k(5, 3);  // 5 - 3 = 2: not below the scale, processed
        k.run();
        EXPECT_EQ(k.middle->residue, inf);
        EXPECT_EQ(k.g.at(3, 4).state, z::done);  // expanded to
    }
    {
        skip_case k(4.5, 3);  // 1.5 below 2: skipped
        k.middle->residue = 7;  // even a raised node expands nothing
        k.run();
        EXPECT_EQ(k.middle->state, z::done);
        EXPECT_EQ(k.middle->residue, 7);
        EXPECT_EQ(k.g.at(3, 4).state, z::far);
        EXPECT_EQ(k.g.graph.queries, 0u);
    }
    {
        skip_case k(4.5, 3);  // the dual axis never skips
        k.g.opts.commands.primal = false;
        k.run();
        EXPECT_EQ(k.middle->residue, inf);
    }
}

TEST(MedialDispatch, UnknownMarkerKindRunsNoLoop) {
    skip_case k(9, 0);
    k.g.opts.medial.marker = 3;
    k.run();
    EXPECT_EQ(k.middle->residue, 0);
    EXPECT_EQ(k.g.graph.queries, 0u);
}

TEST(MedialDispatch, DualNameAndScale) {
    skip_case k(9, 0);
    k.g.opts.commands.primal = false;
    k.g.opts.medial.dual_scale = 1e9;
    k.g.graph.arc = 1e9 + 3;  // chord 3: r = 1e9 is not above the dual scale
    auto s = k.g.make();
    s->enqueue(k.middle);
    stage::marker_type m;
    m.front = &s->front;
    s->compute_residue(m);
    EXPECT_EQ(s->name, "dual medial");
    EXPECT_EQ(k.middle->residue, 0);
}

TEST(MedialLoop, RaisedEarlierStillExpands) {
    // a is taken first and raises b as the q of its pair; b's own tests then
    // find nothing, yet b expands to its far neighbour c.
    medial_grid g(9, 9);
    node& a = g.open(4, 3, g.at(1, 3));
    node& b = g.open(4, 4, g.at(7, 4));
    node& c = g.open(4, 5, g.at(7, 4));  // same origin as b: no pair
    auto s = g.make();
    s->enqueue(&a);
    stage::marker_type m;
    m.front = &s->front;
    s->propagate<false, marker_kind::twin, false, false>(m);
    EXPECT_EQ(b.residue, inf);
    EXPECT_EQ(c.state, z::done);
    EXPECT_EQ(c.residue, 0);
    EXPECT_EQ(g.graph.queries, 1u);  // a-b only: c-b share an origin
}

TEST(MedialLoop, PassCounting) {
    medial_grid g(40, 10);  // half of the smaller size: 5
    auto s = g.make();
    s->begin_residue();
    s->next_fire_level = 1e9;  // counts without showing a snapshot
    for (long row : {3, 9, 12, 12, 8})
        s->display_step(row);
    EXPECT_EQ(s->pass_count, 0u);
    EXPECT_EQ(s->row_bound, 12);
    s->display_step(6);  // 12 > 6 + 5: a new pass
    EXPECT_EQ(s->pass_count, 1u);
    EXPECT_EQ(s->row_bound, 0);
    s->display_step(2);
    s->display_step(30);
    s->display_step(24);
    EXPECT_EQ(s->pass_count, 2u);
}

TEST(MedialReconstruction, KindsMarkersAndResidues) {
    medial_grid g(5, 6);
    const z::status_enum kinds[] = {z::border, z::second_ring, z::interior, z::boundary_seed};
    for (size_t k = 0; k < 4; ++k) {
        node& n = g.at(1, 1 + k);
        n.kind = kinds[k];
        n.residue = 5;
    }
    node& marked = g.at(3, 4);
    marked.kind = z::ordinary;
    marked.residue = std::nan("");
    node& unmarked = g.at(3, 3);
    unmarked.kind = z::ordinary;
    unmarked.residue = 0;
    auto s = g.make();
    s->binary_representation();
    EXPECT_EQ(marked.marker, 255);  // NaN counts as non-zero
    EXPECT_EQ(g.at(1, 2).marker, 255);
    s->reconstruct();
    for (size_t k = 0; k < 4; ++k) {
        const node& n = g.at(1, 1 + k);
        EXPECT_EQ(n.marker, 0);
        EXPECT_EQ(n.residue, 0);
        EXPECT_EQ(n.kind, kinds[k]);
    }
    EXPECT_EQ(marked.kind, z::medial);
    EXPECT_TRUE(std::isnan(marked.residue));

    // With thinning, a node that lost its mark loses its residue.
    s->thinning = true;
    marked.marker = 0;
    marked.kind = z::ordinary;
    s->reconstruct();
    EXPECT_EQ(marked.residue, 0);
    EXPECT_EQ(marked.kind, z::ordinary);
}

std::vector<std::string> driver_lines(medial_grid& g) {
    zarn_test::cout_capture out;
    auto s = g.make();
    s->run();
    return out.lines();
}

void expect_labels(const std::vector<std::string>& lines, const std::vector<std::string>& labels,
                   bool rule) {
    ASSERT_EQ(lines.size(), labels.size() + (rule ? 1 : 0));
    for (size_t i = 0; i < labels.size(); ++i) {
        EXPECT_EQ(lines[i].size(), 70u);
        EXPECT_EQ(lines[i].substr(0, 55), labels[i] + std::string(55 - labels[i].size(), ' '));
        EXPECT_EQ(lines[i].substr(67), " ms");
    }
    if (rule) {
        EXPECT_EQ(lines.back(), std::string(70, '-'));
    }
}

TEST(MedialDriver, TimingLinesOfEveryMarker) {
    const std::string init = "Medial axis transform initialization:", front = "Creating medial axis front:",
                      residue = "Medial axis residue computation:",
                      binary = "Medial axis binary representation:", thin = "Medial axis thinning:",
                      recon = "Medial axis reconstruction:";
    for (std::uint32_t marker : {0u, 1u}) {
        medial_grid g = open_inside();
        g.opts.program.timing = true;
        g.opts.medial.marker = marker;
        expect_labels(driver_lines(g), {init, front, residue, binary, recon}, true);
        g.opts.medial.thinning = true;
        expect_labels(driver_lines(g), {init, front, residue, binary, thin, recon}, true);
    }
    medial_grid g = open_inside();
    g.opts.program.timing = true;
    g.opts.medial.marker = 2;
    g.opts.medial.thinning = true;
    g.at(3, 3).distance = 4;
    g.at(3, 4).generator = &g.at(5, 5);
    expect_labels(driver_lines(g), {init, front, residue}, false);
    // The grey levels stay, and no node becomes medial.
    for (size_t i = 0; i < g.nodes.length(); ++i) EXPECT_NE(g.nodes[i].kind, z::medial);
    EXPECT_GT(g.at(3, 3).marker, 0);
}

TEST(MedialDriver, SilentWithoutTimingAndLeavesMedialNodes) {
    medial_grid g = open_inside();
    g.at(3, 3).distance = 4;
    g.at(3, 4).generator = &g.at(5, 5);
    g.at(3, 3).marker = 9;  // initialisation clears old markers
    g.at(1, 5).residue = 3;
    zarn_test::cout_capture out;
    auto s = g.make();
    EXPECT_EQ(s->run(), 0.0);
    EXPECT_EQ(out.text(), "");
    // (3, 3) and (3, 4) pair with different origins; the bisector of (1, 1)
    // and (5, 5) runs through (3, 3), which the binary marker chooses.
    EXPECT_EQ(g.at(3, 3).kind, z::medial);
    EXPECT_EQ(g.at(3, 3).marker, 255);
    EXPECT_EQ(g.at(1, 5).residue, 0);
    EXPECT_EQ(g.at(1, 5).marker, 0);
}

}  // namespace
