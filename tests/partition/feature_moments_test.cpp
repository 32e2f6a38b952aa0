// Feature mode on small random images through the pipeline's distance and
// dual transform, with medial nodes marked at random: every feature record
// against the moments of its component's nodes, summed node by node; the
// cover against the flags above each node; the stage lines and counts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "partition/partition_support.hpp"
#include "pipeline/capture.hpp"

namespace {

using namespace part_test;
namespace z = lumo::zarn;

struct variant {
    bool weighted, marching, affine, flat;
};

image_case feature_run(const lumo::array_2d<unsigned char>& image, const variant& v) {
    image_case k(image);
    k.opts.commands.partition = false;
    k.opts.commands.features = true;
    k.opts.program.weighted = v.weighted;
    k.opts.partition.fast_marching = v.marching;
    k.opts.features.affine_normalized = v.affine;
    k.opts.features.flat = v.flat;
    k.opts.features.show_fine_partition = true;
    k.opts.features.show_cover = true;
    return k;
}

bool below(const component* c, const component* f) {
    for (; c; c = c->parent)
        if (c == f) return true;
    return false;
}

// The record of the nodes in rows 1 to h-2 whose component lies in f's
// tree, summed one by one; false when it is no ellipse.
bool brute_record(const z::node_array<false, double>& nodes, const component* f,
                  z::feature_type<double>& r) {
    const size_t w = nodes.size(0), h = nodes.size(1);
    z::region_type<double> g{};
    double sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;  // for the two-pass check
    std::vector<std::pair<double, double>> points;
    for (size_t row = 1; row + 1 < h; ++row)
        for (size_t col = 0; col < w; ++col) {
            if (!below(nodes[row * w + col].component, f)) continue;
            add_node(g, row, col);
            points.push_back({double(row), double(col)});
            sx += double(row);
            sy += double(col);
        }
    z::region_update(g);
    const double n = double(points.size());
    for (auto [x, y] : points) {
        sxx += (x - sx / n) * (x - sx / n);
        syy += (y - sy / n) * (y - sy / n);
        sxy += (x - sx / n) * (y - sy / n);
    }
    if (g.count) {
        EXPECT_NEAR(g.var_row, sxx / n, 1e-9 * (1 + sxx / n));
        EXPECT_NEAR(g.var_col, syy / n, 1e-9 * (1 + syy / n));
        EXPECT_NEAR(g.cov, sxy / n, 1e-9 * (1 + std::abs(sxy / n)));
    }
    r.a = g.var_row * 4;
    r.b = g.cov * 4;
    r.c = g.var_col * 4;
    r.x = g.mean_row;
    r.y = g.mean_col;
    r.determinant = r.c * r.a - r.b * r.b;
    return r.determinant > 0;
}

int feature_depth(const component* c) {
    int d = 0;
    for (; c; c = c->parent) d += c->feature;
    return std::min(d, 255);
}

TEST(FeatureMoments, RecordsCoverAndLabelsAgainstTheNodes) {
    const variant variants[] = {{true, true, false, false}, {true, false, true, false},
                                {false, true, false, true}, {true, true, true, true},
                                {false, false, false, false}};
    size_t records = 0;
    for (unsigned seed = 1; seed <= 8; ++seed)
        for (const variant& v : variants) {
            SCOPED_TRACE("seed " + std::to_string(seed) + " weighted " + std::to_string(v.weighted) +
                         " marching " + std::to_string(v.marching) + " -fn " + std::to_string(v.affine) +
                         " -fl " + std::to_string(v.flat));
            image_case k = feature_run(random_image(14 + 3 * seed, 20 + seed, seed), v);
            auto s = k.run_all(random_medial{seed, 3});
            const auto& nodes = k.nodes();
            auto& pool = k.pipe->partition_store.components;
            const z::feature_set<double>& features = k.set.features;

            size_t next = 0;
            for (size_t i = 0; i < pool.count(); ++i) {
                if (!pool[i].feature) continue;
                z::feature_type<double> expected;
                if (!brute_record(nodes, &pool[i], expected)) continue;
                ASSERT_LT(next, features.count);
                const z::feature_type<double>& got = features.records[next++];
                EXPECT_EQ(got.a, expected.a);
                EXPECT_EQ(got.b, expected.b);
                EXPECT_EQ(got.c, expected.c);
                EXPECT_EQ(got.x, expected.x);
                EXPECT_EQ(got.y, expected.y);
                EXPECT_EQ(got.determinant, expected.determinant);
            }
            EXPECT_EQ(next, features.count);
            records += next;
            EXPECT_LE(pool.count(), pool.capacity());

            // Cover and fine labels, node by node.
            int deepest = 0;
            const size_t w = nodes.size(0), h = nodes.size(1);
            for (size_t i = w; i < w * (h - 1); ++i) deepest = std::max(deepest, feature_depth(nodes[i].component));
            const auto levels = stage::cover_levels(static_cast<std::uint8_t>(deepest));
            for (size_t i = 0; i < nodes.length(); ++i) {
                const node& n = nodes[i];
                const bool inside = i >= w && i < w * (h - 1);
                ASSERT_EQ(n.cover, inside ? levels[feature_depth(n.component)] : 0) << i;
                ASSERT_EQ(n.label, n.component ? size_t(n.component - pool.first()) : z::size_max) << i;
            }
        }
    EXPECT_GT(records, 20u);  // the cases hold features to compare
}

// -t -vs with -fp and -fc: the seven stage lines of the second half in
// order, both statistics lines, the features counted as written.
TEST(FeatureMoments, StageLinesAndStatistics) {
    bool with_features = false;
    for (unsigned seed = 9; seed < 30 && !with_features; ++seed) {
        image_case k = feature_run(random_image(30, 26, seed), {true, true, false, false});
        k.opts.program.timing = true;
        k.opts.program.statistics = true;
        std::unique_ptr<stage> s;
        std::vector<std::string> l;
        {
            zarn_test::cout_capture first_half;
            s = k.prepare(random_medial{seed, 3});
            s->run();
            k.dual_distance();
        }
        {
            zarn_test::cout_capture out;
            s->finish();
            l = out.lines();
        }
        const char* labels[] = {"Component cleanup:", "Component boundary gap computation:",
                                "Component statistics computation:", "Component merging:",
                                "Feature generation:", "Partition output:", "Feature cover output:"};
        ASSERT_EQ(l.size(), 10u);
        for (size_t i = 0; i < 7; ++i)
            EXPECT_EQ(l[i].substr(0, 55), labels[i] + std::string(55 - std::strlen(labels[i]), ' '));
        EXPECT_EQ(l[7], "-> Components before / after merging:   " +
                            std::to_string(s->components_at_merge - s->unions) + " / " +
                            std::to_string(s->live_components));
        const size_t total = k.pipe->partition_store.components.count() - s->unions;
        EXPECT_EQ(l[8], "-> Total nodes / features (isolated):   " + std::to_string(total) + " / " +
                            std::to_string(k.set.features.count) + " (" +
                            std::to_string(s->isolated_features) + ")");
        EXPECT_EQ(l[9], std::string(70, '-'));
        with_features = k.set.features.count > 0;
    }
    EXPECT_TRUE(with_features);
}

}  // namespace
