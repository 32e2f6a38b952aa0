// Feature mode on hand-made components: gap sums and region moments, the
// fragmentation and growth tests of merging, frozen features under new
// parents, feature generation and the feature cover.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <utility>
#include <vector>

#include "partition/partition_support.hpp"

namespace {

using namespace part_test;
namespace z = lumo::zarn;
using region = z::region_type<double>;

// Variances 4 (rows) and 1 (columns), no covariance: sqrt_det 2.
region four_corners(double gap) { return region_of({{0, 0}, {0, 2}, {4, 0}, {4, 2}}, gap); }

// Components taken from the pool of a feature-mode stage, as the cleanup
// leaves them: singleton roots.
struct feature_case {
    ridge_grid g{7, 6, 10.0};
    std::unique_ptr<stage> s;

    template <typename Tweak>
    feature_case(size_t room, Tweak tweak) {
        g.opts.commands.partition = false;
        g.opts.commands.features = true;
        tweak(g.opts);
        s = g.make();
        s->init();
        s->reserve_storage(room);
    }
    explicit feature_case(size_t room = 40) : feature_case(room, [](z::options<double>&) {}) {}

    component* take(double peak, double span, const region* r = nullptr) {
        component* c = g.storage.components.take();
        *c = component{peak, 0, span, 0, nullptr, nullptr, 0, 0};
        if (r) {
            c->region = g.storage.regions.take();
            *c->region = *r;
        }
        return c;
    }
    void link(component* a, component* b, double value, double width, std::uint64_t rr = 0) {
        g.storage.links.push_back(link_record{a, b, value, width, rr, 2 * rr, 3 * rr});
    }
};

TEST(FeatureGaps, LinkSumsAndNodeMoments) {
    feature_case f;
    component* c[5];
    for (auto& k : c) k = f.take(0, 0);
    f.link(c[0], c[1], 9, 2.0, 1);
    f.link(c[0], c[2], 9, 3.0, 2);
    f.link(c[0], c[0], 9, 0.5, 4);  // ends already share a root: counted twice
    f.link(c[3], c[1], 9, 1.0, 8);  // c[3] holds no node
    // Random components on every node, frame rows included; c[4] gets
    // nodes only on grid rows 0 and h-1, which are not counted.
    std::mt19937 rng(5);
    const size_t w = 7, h = 6;
    for (size_t row = 0; row < h; ++row)
        for (size_t col = 0; col < w; ++col) {
            const bool frame = row == 0 || row + 1 == h;
            const unsigned pick = rng() % 4;
            f.g.at(row, col).component = frame ? c[4] : pick == 3 ? nullptr : c[pick];
        }
    f.s->compute_gaps();
    f.s->compute_statistics();

    EXPECT_EQ(c[0]->region->gap, 6.0);
    EXPECT_EQ(c[0]->region->gap_rr, 11u);
    EXPECT_EQ(c[0]->region->gap_cc, 33u);
    EXPECT_EQ(c[1]->region->gap, 3.0);
    EXPECT_EQ(c[1]->region->gap_rc, 18u);
    EXPECT_EQ(c[2]->region->gap, 3.0);
    EXPECT_EQ(c[3]->region->count, 0u);  // a link end without nodes: no moments
    EXPECT_EQ(c[3]->region->var_row, 0.0);
    EXPECT_EQ(c[3]->region->sqrt_det, 0.0);
    EXPECT_EQ(c[4]->region, nullptr);
    EXPECT_EQ(f.g.storage.regions.count(), 4u);

    for (int k = 0; k < 3; ++k) {
        region brute{};
        std::vector<std::pair<std::uint64_t, std::uint64_t>> nodes;
        for (size_t row = 1; row + 1 < h; ++row)
            for (size_t col = 0; col < w; ++col)
                if (f.g.at(row, col).component == c[k]) nodes.push_back({row, col});
        brute = region_of(nodes);
        const region& r = *c[k]->region;
        SCOPED_TRACE(k);
        EXPECT_EQ(r.count, brute.count);
        EXPECT_EQ(r.sum_col, brute.sum_col);
        EXPECT_TRUE(r.sum_row2 == brute.sum_row2 && r.sum_col2 == brute.sum_col2 &&
                    r.sum_rowcol == brute.sum_rowcol);
        EXPECT_EQ(r.var_row, brute.var_row);
        EXPECT_EQ(r.cov, brute.cov);
        EXPECT_EQ(r.mean_col, brute.mean_col);
    }
}

// Component a (eligible, four nodes, variances 4 and 1, gap 5, offset sums
// rr 3, cc 8) meets b at value 4. Its area times f^2 must exceed the gap
// (5), the squared gap with -fl (25), or with -fn the normalised gap
// (1 x 3 + 4 x 8) / 2 = 17.5, whatever -fl says.
TEST(FeatureMerging, FragmentationMeasureOfEachVariant) {
    struct expectation {
        double factor;
        bool plain, flat, affine;
    };
    const expectation table[] = {{1.2, true, false, false}, {2.1, true, false, true}, {2.6, true, true, true}};
    const std::pair<bool, bool> variants[] = {{false, false}, {false, true}, {true, false}, {true, true}};
    for (const expectation& e : table)
        for (auto [fn, fl] : variants) {
            feature_case f(4, [&](z::options<double>& o) {
                o.features.fragmentation = e.factor;
                o.features.affine_normalized = fn;
                o.features.flat = fl;
            });
            region ra = four_corners(5.0), rb = region_of({{9, 9}});
            ra.gap_rr = 3;
            ra.gap_cc = 8;
            component* a = f.take(1, 5, &ra);
            component* b = f.take(2, 0.5, &rb);
            f.link(a, b, 4, 0);
            f.s->merge();
            SCOPED_TRACE(std::to_string(e.factor) + " -fn " + std::to_string(fn) + " -fl " + std::to_string(fl));
            EXPECT_EQ(a->feature, fn ? e.affine : fl ? e.flat : e.plain);
            EXPECT_EQ(b->feature, 0);  // span below 2
            EXPECT_EQ(f.s->live_components, 1u);
        }
}

TEST(FeatureMerging, GrowthAndEligibility) {
    struct trial {
        double c_peak, c_valley, c_span, o_peak, v, growth;
        bool boundary, feature;
    };
    const double nan = std::nan("");
    const trial trials[] = {
        {3, 0, 5, 2, 4, 0.1, false, true},       // first merge: rise exactly 1
        {3.5, 0, 5, 2, 4, 0.1, false, false},    // rise 0.5
        {1, 0, 5, 3.95, 4, 0.1, false, false},   // neighbour's rise 0.05 <= 0.1 x 3
        {2, 4, 5, 0, 5, 0.5, false, false},      // since its valley: 1 > 0.5 x 2 fails
        {2, 4, 5, 0, 5.25, 0.5, false, true},
        {2, nan, 5, 0, 5.25, 0.5, false, false}, // a NaN valley is not 0, and compares false
        {3, 0, 2, 2, 4, 0.1, false, true},       // span exactly 2
        {3, 0, 1.999, 2, 4, 0.1, false, false},
        {3, 0, 5, 2, 4, 0.1, true, false},       // on the image frame
    };
    for (const trial& t : trials) {
        feature_case f;
        const region r = four_corners(0.0);
        component* c = f.take(t.c_peak, t.c_span, &r);
        c->valley = t.c_valley;
        c->boundary = t.boundary;
        component* o = f.take(t.o_peak, 0, &r);
        o->rank = 1;  // o survives: no new parent either way
        stage::test_feature<false, false>(*c, *o, t.v, t.growth, 1.0);
        EXPECT_EQ(c->feature, t.feature) << t.c_peak << " " << t.c_valley << " " << t.v;
    }
    // The area times f^2 must exceed the measure: 4 x 2.25 against a gap of 9.
    for (double gap : {9.0, 8.75}) {
        feature_case f;
        const region r = four_corners(gap);
        component* c = f.take(1, 5, &r);
        component* o = f.take(2, 0, &r);
        stage::test_feature<false, false>(*c, *o, 4, 0.1, 2.25);
        EXPECT_EQ(c->feature, gap < 9) << gap;
    }
    // -fn on a region of one line divides by 0: never a feature.
    feature_case f;
    const region line = region_of({{1, 1}, {1, 2}, {1, 3}});
    component* c = f.take(0, 9, &line);
    component* o = f.take(5, 0, &line);
    stage::test_feature<true, false>(*c, *o, 9, 0.0, 1e300);
    EXPECT_EQ(c->feature, 0);
    stage::test_feature<false, false>(*c, *o, 9, 0.0, 1e300);
    EXPECT_EQ(c->feature, 1);
}

// A and B meet at 4 (A becomes a feature under a new parent N1), N1 and C
// at 6 (N1 becomes a feature under N2), and A and B again at 7: the same
// root, so only N2's gaps change.
TEST(FeatureMerging, FrozenFeaturesUnderNewParents) {
    feature_case f(10, [](z::options<double>& o) { o.features.fragmentation = 10; });
    const region ra = four_corners(1.0), rb = region_of({{5, 5}}, 1.0), rc = region_of({{6, 6}}, 1.0);
    component* a = f.take(1, 5, &ra);
    component* b = f.take(2, 0.5, &rb);
    component* c = f.take(3, 0.5, &rc);
    f.link(a, b, 7, 0.125, 1);
    f.link(a, b, 4, 0.25, 2);
    f.link(b, c, 6, 0.5, 4);
    f.s->merge();
    ASSERT_EQ(f.g.storage.components.count(), 5u);
    component* n1 = f.g.storage.components.first() + 3;
    component* n2 = n1 + 1;
    EXPECT_EQ(f.s->components_at_merge, 3u);
    EXPECT_EQ(f.s->live_components, 1u);
    EXPECT_EQ(a->feature, 1);
    EXPECT_EQ(b->feature, 0);
    EXPECT_EQ(n1->feature, 1);
    EXPECT_EQ(n2->feature, 0);
    EXPECT_EQ(a->parent, n1);
    EXPECT_EQ(b->parent, n1);
    EXPECT_EQ(n1->parent, n2);
    EXPECT_EQ(c->parent, n2);
    EXPECT_EQ(n1->rank, 1u);
    EXPECT_EQ(n2->rank, 2u);
    EXPECT_EQ(n1->valley, 4.0);
    EXPECT_EQ(n2->valley, 6.0);
    EXPECT_EQ(n2->peak, 1.0);
    // Frozen: A as it was; N1 as it was after the first link left it.
    EXPECT_EQ(a->region->gap, 1.0);
    EXPECT_EQ(a->region->count, 4u);
    EXPECT_EQ(n1->region->count, 5u);
    EXPECT_EQ(n1->region->gap, 1.5);
    EXPECT_EQ(n1->region->gap_rr, std::uint64_t(0) - 4);  // modulo 2^64: no offsets were summed here
    EXPECT_EQ(n2->region->count, 6u);
    EXPECT_EQ(n2->region->gap, 1.5 + 1.0 - 1.0 - 0.25);
    EXPECT_EQ(n2->region->gap_rr, std::uint64_t(0) - 4 - 8 - 2);
    EXPECT_DOUBLE_EQ(n2->region->mean_row, (0 + 0 + 4 + 4 + 5 + 6) / 6.0);

    // Generation: the two flagged components and the root N2, isolated.
    f.s->generate_features();
    EXPECT_EQ(f.s->isolated_features, 1u);
    EXPECT_EQ(n2->feature, 1);
    ASSERT_EQ(f.g.features.count, 3u);
    EXPECT_EQ(f.g.features.records[0].a, 16.0);
    EXPECT_EQ(f.g.features.records[1].x, n1->region->mean_row);
    EXPECT_EQ(f.g.features.records[2].y, n2->region->mean_col);
}

// Which components give features, in pool order, and how they are scaled.
TEST(FeatureGeneration, SelectionScaleAndDeterminant) {
    auto run = [](double zoom) {
        auto f = std::make_unique<feature_case>(10, [&](z::options<double>& o) { o.features.zoom = zoom; });
        const region corners = four_corners(0), diagonal = region_of({{1, 1}, {3, 3}}),
                     single = region_of({{2, 2}}), triangle = region_of({{0, 0}, {0, 1}, {1, 0}});
        f->take(0, 0, &corners)->feature = 1;       // 0: flagged by merging
        f->take(0, 2.0, &diagonal);                 // 1: isolated, on a line: det 0
        f->take(0, 1.999, &corners);                // 2: span too small
        f->take(0, 3, &corners)->boundary = 1;      // 3: on the frame
        f->take(0, 3);                              // 4: no region
        component* child = f->take(0, 5, &corners);  // 5: not a root
        child->parent = f->g.storage.components.first();
        f->take(0, 3, &single);                     // 6: isolated, one node: det 0
        f->take(0, 3, &triangle);                   // 7: isolated
        f->s->generate_features();
        return f;
    };
    const auto f1 = run(1);
    EXPECT_EQ(f1->s->isolated_features, 3u);
    EXPECT_EQ(f1->g.features.records.length(), 4u);
    ASSERT_EQ(f1->g.features.count, 2u);
    const z::feature_type<double>& k0 = f1->g.features.records[0];
    EXPECT_EQ(k0.a, 16.0);
    EXPECT_EQ(k0.b, 0.0);
    EXPECT_EQ(k0.c, 4.0);
    EXPECT_EQ(k0.determinant, 64.0);
    EXPECT_EQ(k0.x, 2.0);
    EXPECT_EQ(k0.y, 1.0);
    const z::feature_type<double>& k7 = f1->g.features.records[1];
    EXPECT_DOUBLE_EQ(k7.a, 8.0 / 9);
    EXPECT_DOUBLE_EQ(k7.b, -4.0 / 9);
    EXPECT_DOUBLE_EQ(k7.c, 8.0 / 9);
    EXPECT_DOUBLE_EQ(k7.determinant, 48.0 / 81);
    EXPECT_DOUBLE_EQ(k7.x, 1.0 / 3);

    const auto f3 = run(3);  // the zoom of -de: 36 times the variances
    ASSERT_EQ(f3->g.features.count, 2u);
    EXPECT_EQ(f3->g.features.records[0].a, 144.0);

    const auto f0 = run(0);  // zoom 0: every determinant 0, the isolated still counted
    EXPECT_EQ(f0->g.features.count, 0u);
    EXPECT_EQ(f0->g.features.records.length(), 4u);
    EXPECT_EQ(f0->s->isolated_features, 3u);

    // An infinite scale gives no record that is not finite.
    EXPECT_EQ(run(1e200)->g.features.count, 0u);

    feature_case none;  // nothing in the pool: an empty feature pool
    none.g.features.count = 5;
    none.s->generate_features();
    EXPECT_EQ(none.g.features.count, 0u);
    EXPECT_EQ(none.g.features.records.length(), 0u);
}

TEST(FeatureCover, DepthLevels) {
    feature_case f;
    component* c[5];
    for (auto& k : c) k = f.take(0, 0);
    c[0]->parent = c[1];
    c[1]->parent = c[2];
    c[0]->feature = c[2]->feature = c[4]->feature = 1;
    for (size_t i = 0; i < f.g.nodes.length(); ++i) f.g.nodes[i].cover = 99;  // left by an earlier stage
    f.g.at(1, 1).component = c[0];
    f.g.at(1, 2).component = c[1];
    f.g.at(2, 2).component = c[2];
    f.g.at(3, 3).component = c[3];
    f.g.at(4, 4).component = c[4];
    f.g.at(0, 3).component = c[0];  // grid row 0: outside the range
    f.s->output_feature_cover();
    EXPECT_EQ(f.g.at(1, 1).cover, 255);
    EXPECT_EQ(f.g.at(1, 2).cover, 165);
    EXPECT_EQ(f.g.at(2, 2).cover, 165);
    EXPECT_EQ(f.g.at(3, 3).cover, 0);
    EXPECT_EQ(f.g.at(4, 4).cover, 165);
    EXPECT_EQ(f.g.at(0, 3).cover, 0);
    EXPECT_EQ(f.g.at(2, 3).cover, 0);
    EXPECT_EQ(f.g.at(0, 0).cover, 0);

    const auto three = stage::cover_levels(3), four = stage::cover_levels(4);
    EXPECT_EQ(std::vector<int>(three.begin(), three.begin() + 4), (std::vector<int>{0, 136, 195, 254}));
    EXPECT_EQ(std::vector<int>(four.begin(), four.begin() + 5), (std::vector<int>{0, 121, 165, 210, 255}));
    EXPECT_EQ(stage::cover_levels(0)[0], 0);

    // 300 nested features: the innermost counts 255.
    feature_case deep(400);
    std::vector<component*> chain;
    for (int k = 0; k < 300; ++k) {
        chain.push_back(deep.take(0, 0));
        chain.back()->feature = 1;
        if (k) chain[k - 1]->parent = chain[k];
    }
    deep.g.at(1, 1).component = chain.front();
    deep.g.at(1, 2).component = chain.back();
    deep.s->output_feature_cover();
    EXPECT_EQ(deep.g.at(1, 1).cover, 255);
    EXPECT_EQ(deep.g.at(1, 2).cover, 77);  // depth 1 of 255

    // No feature at all: every cover 0.
    feature_case bare;
    bare.g.at(2, 2).component = bare.take(0, 0);
    bare.g.at(2, 2).cover = 7;
    bare.s->output_feature_cover();
    EXPECT_EQ(bare.g.at(2, 2).cover, 0);
}

}  // namespace
