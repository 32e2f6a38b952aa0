// Single pairs through the whole residue loop: one node in the front, one
// far neighbour, every other node a frame node. Coordinates are grid rows
// (index / w) and columns (index % w), as the pair geometry uses them.
#include <gtest/gtest.h>

#include <cmath>

#include "medial_support.hpp"

namespace {

using namespace medial_test;
using z::marker_kind;

struct pair_case {
    medial_grid g;
    node* p;
    node* q;

    // p at (pr, pc) from origin (opr, opc), q at (qr, qc) from (oqr, oqc).
    pair_case(size_t pr, size_t pc, size_t opr, size_t opc, size_t qr, size_t qc, size_t oqr,
              size_t oqc, size_t rows = 24, size_t columns = 24)
        : g(rows, columns) {
        p = &g.open(pr, pc, g.at(opr, opc));
        q = &g.open(qr, qc, g.at(oqr, oqc));
    }

    template <marker_kind kind, bool weighted = false>
    void run() {
        auto s = g.make();
        s->enqueue(p);
        typename stage::marker_type m;
        m.front = &s->front;
        s->propagate<weighted, kind, false, false>(m);
        EXPECT_TRUE(s->front.empty());
    }
};

TEST(MedialGreyLevel, WorkedValues) {
    double level = 0;
    const struct {
        long v, c;
        int byte;
    } cases[] = {{0, 1, 255}, {1, 2, 255}, {2, 3, 227}, {1, 1, 170}, {4, 3, 113},
                 {3, 2, 85},  {5, 3, 57},  {2, 1, 0},   {7, 2, 0},   {-5, -3, 57}};
    for (const auto& c : cases) EXPECT_EQ(z::grey_byte_of<double>(c.v, c.c, level), c.byte) << c.v << "/" << c.c;
    EXPECT_EQ(z::grey_byte_of<double>(0, 1, level), 255);
    EXPECT_EQ(level, 1.0);  // held at 1 above it
    EXPECT_EQ(z::grey_byte_of<double>(1, 2, level), 255);
    EXPECT_EQ(level, 1.0);
    // A zero divisor: the level is infinite or not a number, the byte 0.
    EXPECT_EQ(z::grey_byte_of<double>(3, 0, level), 0);
    EXPECT_EQ(z::grey_byte_of<double>(0, 0, level), 0);
    EXPECT_TRUE(std::isnan(level));
    // Levels of the along form with D = 10.
    const long es[] = {0, -5, -10, -15, -20, -21};
    const int bytes[] = {255, 255, 170, 85, 0, 0};
    for (int k = 0; k < 6; ++k) EXPECT_EQ(z::grey_byte_of<double>(es[k], 10, level), bytes[k]) << es[k];
    EXPECT_EQ(z::grey_byte_of<double>(5, 4, level), 128);
}

TEST(MedialGrayscaleMarker, HorizontalForwardPairs) {
    const struct {
        size_t origin_q_column;
        int p_byte, q_byte;
    } cases[] = {{7, 170, 170}, {6, 255, 0}, {8, 0, 255}};
    for (const auto& c : cases) {
        pair_case k(10, 3, 10, 0, 10, 4, 10, c.origin_q_column);
        k.run<marker_kind::grayscale>();
        EXPECT_EQ(k.p->marker, c.p_byte) << c.origin_q_column;
        EXPECT_EQ(k.q->marker, c.q_byte) << c.origin_q_column;
        // Residues as the twin marker gives them.
        EXPECT_EQ(k.p->residue, inf);
        EXPECT_EQ(k.q->residue, inf);
        EXPECT_EQ(k.p->state, z::done);
        EXPECT_EQ(k.q->state, z::done);
    }
}

TEST(MedialGrayscaleMarker, VerticalAcrossPairs) {
    const struct {
        size_t pc, oqr, oqc;
        int p_byte, q_byte;
    } cases[] = {{2, 0, 5, 170, 170}, {2, 0, 4, 255, 255}, {2, 0, 6, 0, 0}, {1, 1, 5, 136, 204}};
    for (const auto& c : cases) {
        pair_case k(5, c.pc, 0, 0, 6, c.pc, c.oqr, c.oqc);
        k.run<marker_kind::grayscale>();
        EXPECT_EQ(k.p->marker, c.p_byte) << c.oqc;
        EXPECT_EQ(k.q->marker, c.q_byte) << c.oqc;
    }
}

TEST(MedialGrayscaleMarker, KeepsTheLargestByte) {
    medial_grid g(24, 24);
    node& p = g.open(10, 3, g.at(10, 0));
    node& q = g.open(10, 4, g.at(10, 7));
    g.at(10, 4).marker = 200;  // an earlier pair gave q more than 170
    p.marker = 100;
    auto s = g.make();
    s->enqueue(&p);
    stage::marker_type m;
    m.front = &s->front;
    s->propagate<false, marker_kind::grayscale, false, false>(m);
    EXPECT_EQ(p.marker, 170);
    EXPECT_EQ(q.marker, 200);
}

TEST(MedialBinaryMarker, AlongPairGoesToTheLargerRowFromEitherSide) {
    // Origins at rows 0 and 9 of column 5; the pair at rows 4 and 5.
    {
        pair_case k(5, 5, 9, 5, 4, 5, 0, 5);  // row 5 taken: backward pair
        k.g.graph.arc = 100;
        k.run<marker_kind::binary>();
        EXPECT_EQ(k.p->residue, 100 - 9);
        EXPECT_EQ(k.q->residue, 0);
    }
    {
        pair_case k(4, 5, 0, 5, 5, 5, 9, 5);  // row 4 taken: forward pair
        k.g.graph.arc = 100;
        k.run<marker_kind::binary>();
        EXPECT_EQ(k.p->residue, 0);
        EXPECT_EQ(k.q->residue, 100 - 9);
        EXPECT_EQ(k.q->state, z::done);  // queued by the marker, then taken
    }
}

TEST(MedialBinaryMarker, AcrossPairs) {
    {
        // Bisector through both nodes: both get r.
        pair_case k(3, 2, 0, 0, 4, 2, 0, 4);
        k.run<marker_kind::binary>();
        EXPECT_EQ(k.p->residue, inf);
        EXPECT_EQ(k.q->residue, inf);
    }
    {
        // d_along 1 below the across difference 14: e = -1, both raised.
        pair_case k(5, 10, 5, 3, 4, 10, 4, 17);
        k.g.graph.arc = 50;
        k.run<marker_kind::binary>();
        const double chord = 14 + (std::sqrt(2.0) - 1) * 1;
        EXPECT_EQ(k.p->residue, 50 - chord);
        EXPECT_EQ(k.q->residue, 50 - chord);
    }
}

TEST(MedialBinaryMarker, CrossedOriginsMayChooseNeither) {
    // Forward vertical pair whose origins lie in the opposite order along the
    // step: d_along = -2 < 0, so the pair is across-dominant with D = 2 and
    // a = 1; e lies beyond both nodes' half steps.
    pair_case k(5, 5, 9, 5, 6, 5, 7, 4);
    k.run<marker_kind::binary>();
    // e = |p - o_p|^2 - |p - o_q|^2 = 16 - 5 = 11: p needs e >= -1 (yes),
    // q needs e + 4 < 1 (no).
    EXPECT_EQ(k.p->residue, inf);
    EXPECT_EQ(k.q->residue, 0);
    EXPECT_EQ(k.q->state, z::done);  // enqueued by p's expansion, not marked
}

TEST(MedialTwinMarker, BothNodesAndTheStrictThreshold) {
    {
        pair_case k(5, 5, 9, 5, 4, 5, 0, 5);
        k.run<marker_kind::twin>();
        EXPECT_EQ(k.p->residue, inf);  // different components
        EXPECT_EQ(k.q->residue, inf);
    }
    {
        // r equal to the scale marks nothing.
        pair_case k(5, 5, 9, 5, 4, 5, 0, 5);
        k.g.graph.arc = 11;  // chord 9
        k.run<marker_kind::twin>();
        EXPECT_EQ(k.p->residue, 0);
        EXPECT_EQ(k.q->residue, 0);
        EXPECT_EQ(k.q->state, z::far);  // never queued
    }
    {
        pair_case k(5, 5, 9, 5, 4, 5, 0, 5);
        k.g.graph.arc = std::nan("");
        k.run<marker_kind::twin>();
        EXPECT_EQ(k.p->residue, 0);
    }
}

TEST(MedialPairTest, SameOriginAndStatesOutsideTheMaskAreNotPaired) {
    medial_grid g(12, 12);
    node& origin = g.at(1, 1);
    node& p = g.open(5, 5, origin);
    g.open(4, 5, origin);                        // same origin
    g.open(6, 5, g.at(9, 9)).state = z::done;    // already taken
    g.open(5, 4, g.at(9, 1)).state = z::interior;
    node& seed = g.open(5, 6, g.at(1, 9));
    seed.state = z::boundary_seed;  // a boundary seed is tested
    auto s = g.make();
    s->enqueue(&p);
    stage::marker_type m;
    m.front = &s->front;
    s->propagate<false, marker_kind::twin, false, false>(m);
    EXPECT_EQ(g.graph.queries, 1u);
    EXPECT_EQ(seed.residue, inf);
    EXPECT_EQ(seed.state, z::boundary_seed);  // raised, never queued
}

// The chord: octagonal length of the origin differences; weighted mode adds
// the height difference of the origins; a crossed order shortens it.
TEST(MedialPairTest, Chords) {
    const double f = std::sqrt(2.0) - 1;
    auto residue_of = [](pair_case& k, bool weighted) {
        k.g.graph.arc = 100;
        k.g.opts.program.weighted = weighted;
        weighted ? k.run<marker_kind::twin, true>() : k.run<marker_kind::twin, false>();
        return k.p->residue;
    };
    {
        pair_case k(5, 5, 9, 6, 4, 5, 0, 3);  // d_along 9, d_across 3
        EXPECT_EQ(residue_of(k, false), 100 - (9 + f * 3));
    }
    {
        pair_case k(5, 5, 9, 6, 4, 5, 0, 3);
        k.g.at(9, 6).value = 2.5;
        k.g.at(0, 3).value = 7;
        EXPECT_EQ(residue_of(k, true), 100 - (4.5 + (9 + f * 3)));
    }
    {
        pair_case k(5, 5, 3, 5, 4, 5, 6, 9);  // d_along -3, d_across 4
        EXPECT_EQ(residue_of(k, false), 100 - (4 + f * -3));
    }
}

}  // namespace
