// Link expansion over equal-valued plateaus, the primal type backup, the
// cuts picture, and the cleanup through the origins of the dual run.
#include <gtest/gtest.h>

#include <lumo/details/image/color.hpp>

#include "partition/partition_support.hpp"

namespace {

using namespace part_test;
namespace z = lumo::zarn;

// Row 2: A = 2, three seeds of 7 (the last one cuts A from B), B = 3; a
// seed of 7.0000001 below the first 7 joins A; an excluded node of value 7
// above it. Sorting mode takes the 7s in scan order, so the first two join A.
struct plateau_case {
    ridge_grid g{9, 6};
    std::unique_ptr<stage> s;

    explicit plateau_case(bool weighted = true, bool expansion = true) {
        g.seed(2, 1, 2);
        g.seed(2, 2, 7);
        g.seed(2, 3, 7);
        g.seed(2, 4, 7);
        g.seed(2, 5, 3);
        g.seed(3, 1, 7.0000001);
        g.at(1, 2).state = z::border;
        g.at(1, 2).value = 7;
        g.opts.program.weighted = weighted;
        g.opts.partition.link_expansion = expansion;
        g.opts.partition.fast_marching = false;
        s = g.make();
        s->init();
        s->create_list();
        s->propagate_list();
    }
};

TEST(PartitionExpansion, CutSpreadsOverItsPlateau) {
    plateau_case c;
    node& cut = c.g.at(2, 4);
    ASSERT_EQ(cut.kind, z::plateau);
    ASSERT_EQ(c.g.label_of(2, 2), 0);
    ASSERT_EQ(c.g.label_of(2, 3), 0);
    ASSERT_EQ(c.g.label_of(3, 1), 0);
    c.s->create_links();
    for (size_t col : {2, 3, 4}) {
        const node& n = c.g.at(2, col);
        EXPECT_EQ(n.kind, z::plateau) << col;
        EXPECT_EQ(n.component, nullptr) << col;
        EXPECT_EQ(n.value, inf) << col;
    }
    EXPECT_EQ(c.g.at(3, 1).kind, z::medial);  // 7.0000001: untouched
    EXPECT_EQ(c.g.at(3, 1).value, 7.0000001);
    EXPECT_EQ(c.g.label_of(3, 1), 0);
    EXPECT_EQ(c.g.at(1, 2).kind, z::ordinary);  // excluded: never spread to
    EXPECT_EQ(c.g.at(1, 2).value, 7.0);
    EXPECT_EQ(c.g.at(2, 1).value, 2.0);
    EXPECT_TRUE(c.s->conflicts.empty());
    // The component records themselves are unchanged.
    EXPECT_EQ(c.g.storage.components[0].peak, 2.0);
    EXPECT_EQ(c.g.storage.links.size(), 1u);

    c.s->backup_primal_type();
    for (size_t i = 0; i < c.g.nodes.length(); ++i)
        EXPECT_EQ(c.g.nodes[i].kind_backup, c.g.nodes[i].kind) << i;
    EXPECT_EQ(c.g.at(2, 3).kind_backup, z::plateau);
    EXPECT_EQ(c.g.at(0, 0).kind_backup, z::border);
}

TEST(PartitionExpansion, BinaryModeOrDisabledOnlyClearsTheCuts) {
    for (bool weighted : {true, false}) {
        plateau_case c(weighted, !weighted);
        c.s->create_links();
        EXPECT_EQ(c.g.at(2, 4).value, inf);
        EXPECT_EQ(c.g.at(2, 4).kind, z::plateau);
        for (size_t col : {2, 3}) {
            EXPECT_EQ(c.g.at(2, col).kind, z::medial);
            EXPECT_EQ(c.g.at(2, col).value, 7.0);
            EXPECT_EQ(c.g.label_of(2, col), 0);
        }
    }
}

// The kind picture: cuts black, medial nodes (0, 0, 255), the frame
// (255, 0, 0), the second frame ring white.
TEST(PartitionExpansion, CutsPictureShowsTheKinds) {
    plateau_case c;
    c.s->create_links();
    c.g.at(4, 7).kind = z::second_ring;
    lumo::image<unsigned char> picture;
    c.s->render_cuts(picture);
    const size_t w = c.g.w(), h = 6, n = w * h;
    ASSERT_EQ(picture.size(0), w);
    ASSERT_EQ(picture.size(1), h);
    auto pixel = [&](size_t row, size_t col) {
        const size_t i = row * w + col;
        return std::vector<int>{picture[i], picture[i + n], picture[i + 2 * n]};
    };
    const std::vector<int> black{0, 0, 0}, white{255, 255, 255};
    EXPECT_EQ(pixel(2, 4), black);
    EXPECT_EQ(pixel(2, 3), black);
    EXPECT_EQ(pixel(2, 1), (std::vector<int>{0, 0, 255}));
    EXPECT_EQ(pixel(0, 0), (std::vector<int>{255, 0, 0}));
    EXPECT_EQ(pixel(4, 7), white);
}

// After the dual run every node of rows 1 to h-2 off the frame holds the
// root that its origin holds; spread nodes are covered again.
TEST(PartitionCleanup, NodesTakeTheRootOfTheirDualOrigin) {
    plateau_case c;
    c.s->create_links();
    c.s->backup_primal_type();
    c.g.at(1, 2).value = inf;  // no value outside the ridges
    c.g.dual_distance();
    // A node the dual run did not reach, and one whose origin has no
    // component, end without one.
    node& unreached = c.g.at(4, 6);
    unreached.state = z::far;
    node& orphan = c.g.at(4, 2);
    orphan.generator = &c.g.at(0, 3);  // never given a component
    c.s->cleanup();
    const size_t w = c.g.w();
    for (size_t row = 1; row + 1 < 6; ++row)
        for (size_t col = 0; col < w; ++col) {
            const node& n = c.g.at(row, col);
            if (col == 0 || col + 1 == w || &n == &unreached || &n == &orphan) {
                EXPECT_EQ(n.component, nullptr) << row << " " << col;
                continue;
            }
            ASSERT_NE(n.generator, nullptr);
            EXPECT_EQ(n.component, n.generator->component) << row << " " << col;
            ASSERT_NE(n.component, nullptr) << row << " " << col;
            EXPECT_EQ(n.component->parent, nullptr);
        }
    for (size_t col = 0; col < w; ++col) {
        EXPECT_EQ(c.g.at(0, col).component, nullptr);
        EXPECT_EQ(c.g.at(5, col).component, nullptr);
    }
    for (const component& k : c.g.storage.components) {
        EXPECT_EQ(k.parent, nullptr);
        EXPECT_EQ(k.rank, 0u);
        EXPECT_EQ(k.feature, 0);
    }
    const link_record& l = c.g.storage.links[0];
    EXPECT_EQ(l.c1, &c.g.storage.components[0]);
    EXPECT_EQ(l.c2, c.g.at(2, 5).component);
}

// Link ends and nodes point at the roots the propagation left, even when
// the unions made them children.
TEST(PartitionCleanup, LinkEndsBecomeRoots) {
    ridge_grid g(9, 5);
    g.seed(2, 1, 5.5);
    g.seed(2, 2, 6.0);  // unites A under B
    g.seed(2, 3, 5.2);
    g.seed(2, 4, 5.9);
    g.seed(2, 5, 5.3);
    g.seed(2, 6, 8.0);  // links B's tree (through C) with D
    g.seed(2, 7, 4.0);
    auto s = g.make();
    s->run();
    component* b = g.at(2, 3).component;
    component* cc = g.at(2, 5).component;
    ASSERT_EQ(g.storage.links.size(), 1u);
    EXPECT_EQ(g.storage.links[0].c1, b);  // c1 is a root when made
    ASSERT_EQ(cc->parent, b);
    g.storage.links[0].c1 = cc;  // a child end: the cleanup finds its root
    g.dual_distance();
    s->cleanup();
    EXPECT_EQ(g.storage.links[0].c1, b);
    EXPECT_EQ(g.at(2, 1).component, b);
    EXPECT_EQ(g.at(2, 5).component, b);
    EXPECT_EQ(cc->parent, nullptr);
}

}  // namespace
