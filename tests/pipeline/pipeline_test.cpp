#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "pipeline/capture.hpp"
#include "pipeline/padding.hpp"
#include "pipeline/pipeline.hpp"
#include "support/image_support.hpp"

namespace lumo::zarn {
namespace {

using image_test::bytes;
using pipeline_t = image_pipeline<false, double>;
using node_t = node_type<false, double>;
const double inf = std::numeric_limits<double>::infinity();

// A pipeline whose grid is set up for the given input, as the run does it.
void prepare(pipeline_t& p, const lumo::array_2d<unsigned char>& input) {
    p.allocate_input(input);
    p.initial_allocations();
}

TEST(PipePadding, ReplicatesTheEdges) {
    lumo::array_2d<unsigned char> one = bytes(1, 1, {7}), out;
    pad_image(one, out, 2);
    ASSERT_EQ(out.size(0), 5u);
    ASSERT_EQ(out.size(1), 5u);
    for (size_t k = 0; k < 25; ++k) EXPECT_EQ(out[k], 7);

    // Rows (1 2 3) and (4 5 6); the first index is the row.
    lumo::array_2d<unsigned char> a(2, 3);
    for (size_t j = 0; j < 3; ++j) {
        a(0, j) = static_cast<unsigned char>(1 + j);
        a(1, j) = static_cast<unsigned char>(4 + j);
    }
    pad_image(a, out, 2);
    ASSERT_EQ(out.size(0), 6u);
    ASSERT_EQ(out.size(1), 7u);
    const int top[7] = {1, 1, 1, 2, 3, 3, 3}, bottom[7] = {4, 4, 4, 5, 6, 6, 6};
    for (size_t i = 0; i < 6; ++i)
        for (size_t j = 0; j < 7; ++j) EXPECT_EQ(out(i, j), i < 3 ? top[j] : bottom[j]);
}

TEST(PipePadding, MatchesTheClampFormulaAndUnpadsBack) {
    std::srand(5);
    for (size_t s0 = 1; s0 <= 6; ++s0)
        for (size_t s1 = 1; s1 <= 6; ++s1)
            for (size_t b = 0; b <= 3; ++b) {
                lumo::array_2d<unsigned char> a(s0, s1), p, back;
                for (size_t k = 0; k < a.length(); ++k) a[k] = static_cast<unsigned char>(std::rand());
                pad_image(a, p, b);
                ASSERT_EQ(p.size(0), s0 + 2 * b);
                ASSERT_EQ(p.size(1), s1 + 2 * b);
                auto clamp = [](long v, size_t n) { return v < 0 ? 0 : (v >= long(n) ? n - 1 : size_t(v)); };
                for (size_t i = 0; i < p.size(0); ++i)
                    for (size_t j = 0; j < p.size(1); ++j)
                        ASSERT_EQ(p(i, j), a(clamp(long(i) - long(b), s0), clamp(long(j) - long(b), s1)));
                unpad_image(p, back, b);
                ASSERT_TRUE(back.size() == a.size());
                for (size_t k = 0; k < a.length(); ++k) ASSERT_EQ(back[k], a[k]);
            }
}

TEST(PipeAllocations, EveryFieldIsDefined) {
    options<double> o;
    pipeline_t p(o);
    prepare(p, bytes(2, 1, {0, 9}));
    ASSERT_EQ(p.nodes.size(0), 6u);
    ASSERT_EQ(p.nodes.size(1), 5u);
    ASSERT_EQ(p.nodes.length(), 30u);
    EXPECT_EQ(p.base.width, 6u);
    EXPECT_EQ(p.base.height, 5u);
    EXPECT_EQ(p.base.half_size, 2u);
    EXPECT_EQ(p.base.end, p.nodes.raw() + 30);
    for (size_t i = 0; i < 30; ++i) {
        const node_t& n = p.nodes[i];
        EXPECT_EQ(n.index, i);
        EXPECT_EQ(n.state.bits(), 0u);
        EXPECT_EQ(n.kind.bits(), 0u);
        EXPECT_EQ(n.kind_backup.bits(), 0u);
        EXPECT_EQ(n.generator, nullptr);
        EXPECT_EQ(n.value, 0.0);
        EXPECT_EQ(n.vertex, nullptr);
        EXPECT_EQ(n.distance, inf);
        EXPECT_EQ(n.marker, 0);
        EXPECT_EQ(n.bucket, 0u);
        EXPECT_EQ(n.geodesic_distance, 0.0);
        EXPECT_EQ(n.length_position, nullptr);
        EXPECT_EQ(n.component, nullptr);
        EXPECT_EQ(n.label, 0u);
        EXPECT_EQ(n.cover, 0);
        EXPECT_EQ(n.residue, 0.0);
    }
}

TEST(PipeExtraction, DropsTheBorder) {
    options<double> o;
    pipeline_t p(o);
    prepare(p, bytes(3, 2, {1, 2, 3, 4, 5, 6}));
    ASSERT_EQ(p.nodes.size(0), 7u);
    ASSERT_EQ(p.nodes.size(1), 6u);
    for (size_t k = 0; k < p.nodes.length(); ++k) {
        p.nodes[k].distance = double(k);
        p.nodes[k].marker = static_cast<std::uint8_t>(k);
        p.nodes[k].label = 1000 + k;
    }
    lumo::array_2d<double> d;
    lumo::array_2d<unsigned char> m;
    lumo::array_2d<size_t> l;
    extract_node_field(p.nodes, &node_t::distance, d, 2);
    extract_node_field(p.nodes, &node_t::marker, m, 2);
    extract_node_field(p.nodes, &node_t::label, l, 2);
    ASSERT_EQ(d.size(0), 3u);
    ASSERT_EQ(d.size(1), 2u);
    EXPECT_EQ(d(0, 0), double(2 + 7 * 2));
    for (size_t i = 0; i < 3; ++i)
        for (size_t j = 0; j < 2; ++j) {
            const size_t k = (i + 2) + 7 * (j + 2);
            EXPECT_EQ(d(i, j), double(k));
            EXPECT_EQ(m(i, j), k);
            EXPECT_EQ(l(i, j), 1000 + k);
        }
}

struct slots {
    image_set<double> set;
    slots() {
        set.input = bytes(3, 2, {1, 2, 3, 4, 5, 6});
    }
    bool written(const lumo::array_2d<double>& a) const { return a.length() == 6; }
    bool written(const lumo::array_2d<unsigned char>& a) const { return a.length() == 6; }
    bool written(const lumo::array_2d<size_t>& a) const { return a.length() == 6; }
};

TEST(PipeExtraction, SlotsFollowTheOptions) {
    struct expectation {
        const char* what;
        void (*set)(options<double>&);
        bool distance, marker, residue;
    };
    const expectation cases[] = {
        {"-d", [](options<double>& o) { o.commands.distance = true; }, true, false, false},
        {"-m", [](options<double>& o) { o.commands.medial = true; }, false, true, false},
        {"-d -re", [](options<double>& o) { o.commands.distance = true; o.medial.times_residue = true; }, true, false, false},
        {"-m -re", [](options<double>& o) { o.commands.medial = true; o.medial.times_residue = true; }, false, true, true},
        {"-a", [](options<double>& o) { o.medial.times_distance = true; }, true, false, false},
        {"-od", [](options<double>& o) { o.program.overlay = 2; }, true, false, false},
        {"-u", [](options<double>& o) { o.commands.both_medial = true; }, false, true, false},
        {"-pm", [](options<double>& o) { o.partition.show_medial = true; }, false, true, false},
        {"-ud (primal)", [](options<double>& o) { o.commands.dual_distance = true; }, false, false, false},
    };
    for (const auto& c : cases) {
        options<double> o;
        c.set(o);
        pipeline_t p(o);
        slots s;
        prepare(p, s.set.input);
        p.medial_done = true;
        p.write_outputs(s.set.distance, s.set.medial, s.set.residue);
        EXPECT_EQ(s.written(s.set.distance), c.distance) << c.what;
        EXPECT_EQ(s.written(s.set.medial), c.marker) << c.what;
        EXPECT_EQ(s.written(s.set.residue), c.residue) << c.what;
    }
}

TEST(PipeExtraction, DualRunAndStagesThatDidNotRun) {
    options<double> o;
    o.commands.both_medial = true;
    o.medial.times_residue = true;
    {
        // Nothing marks a medial axis yet: no marker or residue picture.
        pipeline_t p(o);
        slots s;
        prepare(p, s.set.input);
        p.write_outputs(s.set.distance, s.set.medial, s.set.residue);
        EXPECT_FALSE(s.written(s.set.medial));
        EXPECT_FALSE(s.written(s.set.residue));
    }
    pipeline_t p(o);
    slots s;
    prepare(p, s.set.input);
    p.medial_done = true;
    p.enter_dual_mode();
    p.write_outputs(s.set.dual_distance, s.set.dual_medial, s.set.dual_residue);
    EXPECT_FALSE(s.written(s.set.dual_distance));  // -u alone
    EXPECT_TRUE(s.written(s.set.dual_medial));
    o.commands.dual_distance = true;
    p.write_outputs(s.set.dual_distance, s.set.dual_medial, s.set.dual_residue);
    p.leave_dual_mode();
    EXPECT_TRUE(s.written(s.set.dual_distance));
}

TEST(PipeExtraction, PartitionOutputsAndFeatureShift) {
    auto run = [](void (*set)(options<double>&), bool partition_done, slots& s) {
        options<double> o;
        set(o);
        pipeline_t p(o);
        prepare(p, s.set.input);
        p.partition_done = partition_done;
        s.set.features.records.resize(2);
        s.set.features.count = 1;
        s.set.features.records[0].x = 40;
        s.set.features.records[0].y = 12.5;
        s.set.features.records[1].x = 7;
        p.write_partition_outputs(s.set.features, s.set.labels, s.set.feature_cover);
    };
    {
        slots s;
        run([](options<double>& o) { o.commands.partition = true; }, true, s);
        EXPECT_TRUE(s.written(s.set.labels));
        EXPECT_FALSE(s.written(s.set.feature_cover));
        EXPECT_EQ(s.set.features.records[0].x, 40.0);  // no features: no shift
    }
    {
        slots s;
        run([](options<double>& o) { o.commands.features = true; o.features.show_fine_partition = true; o.features.show_cover = true; }, true, s);
        EXPECT_EQ(s.set.features.records[0].x, 38.0);
        EXPECT_EQ(s.set.features.records[0].y, 10.5);
        EXPECT_EQ(s.set.features.records[1].x, 7.0);  // beyond the count
        EXPECT_FALSE(s.written(s.set.labels));        // disk mode without -fi
        EXPECT_FALSE(s.written(s.set.feature_cover));
    }
    {
        slots s;
        run([](options<double>& o) { o.commands.features = true; o.commands.partition = true; o.program.view = true; o.features.show_fine_partition = true; }, true, s);
        EXPECT_TRUE(s.written(s.set.labels));
        EXPECT_FALSE(s.written(s.set.feature_cover));
    }
    {
        slots s;
        run([](options<double>& o) { o.commands.descriptors = true; o.commands.partition = true; o.features.feature_image = true; o.features.show_cover = true; }, true, s);
        EXPECT_EQ(s.set.features.records[0].x, 38.0);
        EXPECT_FALSE(s.written(s.set.labels));
        EXPECT_FALSE(s.written(s.set.feature_cover));
    }
    {
        // No partition stage ran: no features, no pictures.
        slots s;
        run([](options<double>& o) { o.commands.features = true; o.program.view = true; o.features.show_cover = true; }, false, s);
        EXPECT_EQ(s.set.features.count, 0u);
        EXPECT_FALSE(s.written(s.set.feature_cover));
    }
}

TEST(PipeDegenerate, TrivialOutputsPerOption) {
    {
        options<double> o;
        o.commands.distance = true;
        o.program.timing = true;
        pipeline_t p(o);
        slots s;
        s.set.input = bytes(2, 2, {0, 0, 0, 0});
        s.set.features.count = 5;  // left by an earlier image
        zarn_test::cout_capture out;
        EXPECT_EQ(p.run(s.set), 0.0);
        EXPECT_EQ(out.text(), "Degenerate case: input is constant!\n");
        ASSERT_EQ(s.set.distance.size(0), 2u);
        ASSERT_EQ(s.set.distance.size(1), 2u);
        for (size_t k = 0; k < 4; ++k) EXPECT_EQ(s.set.distance[k], inf);
        EXPECT_EQ(s.set.medial.length(), 0u);
        EXPECT_EQ(s.set.features.count, 0u);
        EXPECT_EQ(p.nodes.length(), 0u);  // the grid is never sized
    }
    {
        options<double> o;
        o.commands.distance = true;
        pipeline_t p(o);
        slots s;
        s.set.input = bytes(1, 1, {200});
        zarn_test::cout_capture out;
        EXPECT_EQ(p.run(s.set), 0.0);
        EXPECT_EQ(out.text(), "");
        EXPECT_EQ(s.set.distance.length(), 1u);
    }
    {
        // -u: both marker slots; distances only with -d/-ud, -a or -od.
        options<double> o;
        o.commands.both_medial = true;
        o.commands.dual_distance = true;
        o.medial.times_residue = true;
        o.program.weighted = false;
        pipeline_t p(o);
        p.timer.enabled = false;
        slots s;
        s.set.input = bytes(3, 2, {4, 4, 4, 4, 4, 4});
        EXPECT_TRUE(p.check_degenerate(s.set));
        EXPECT_FALSE(s.written(s.set.distance));
        EXPECT_TRUE(s.written(s.set.dual_distance));
        for (size_t k = 0; k < 6; ++k) EXPECT_EQ(s.set.dual_distance[k], inf);
        EXPECT_TRUE(s.written(s.set.medial));
        EXPECT_TRUE(s.written(s.set.dual_medial));
        EXPECT_TRUE(s.written(s.set.residue));
        EXPECT_TRUE(s.written(s.set.dual_residue));
        EXPECT_EQ(s.set.dual_residue[0], 0.0);
        EXPECT_TRUE(o.commands.primal);
        EXPECT_FALSE(o.program.weighted);
    }
    {
        options<double> o;
        o.commands.partition = true;
        o.program.overlay = 3;
        pipeline_t p(o);
        p.timer.enabled = false;
        slots s;
        s.set.input = bytes(3, 2, {4, 4, 4, 4, 4, 4});
        EXPECT_TRUE(p.check_degenerate(s.set));
        EXPECT_TRUE(s.written(s.set.labels));
        EXPECT_TRUE(s.written(s.set.gradient));
        EXPECT_FALSE(s.written(s.set.feature_cover));
    }
    {
        // -f in disk mode without -fi: no trivial pictures.
        options<double> o;
        o.commands.features = true;
        o.features.show_fine_partition = true;
        o.features.show_cover = true;
        pipeline_t p(o);
        p.timer.enabled = false;
        slots s;
        s.set.input = bytes(3, 2, {4, 4, 4, 4, 4, 4});
        EXPECT_TRUE(p.check_degenerate(s.set));
        EXPECT_FALSE(s.written(s.set.labels));
        EXPECT_FALSE(s.written(s.set.feature_cover));
        o.features.feature_image = true;
        EXPECT_TRUE(p.check_degenerate(s.set));
        EXPECT_TRUE(s.written(s.set.labels));
        EXPECT_TRUE(s.written(s.set.feature_cover));
    }
    {
        options<double> o;
        o.commands.distance = true;
        o.program.timing = true;
        pipeline_t p(o);
        slots s;
        s.set.input = bytes(2, 1, {10, 11});
        zarn_test::cout_capture out;
        EXPECT_FALSE(p.check_degenerate(s.set));
        EXPECT_EQ(out.text(), "");
        EXPECT_FALSE(s.written(s.set.distance));
    }
}

TEST(PipeRun, NoCommandDoesNothing) {
    options<double> o;
    o.program.timing = true;
    pipeline_t p(o);
    slots s;
    zarn_test::cout_capture out;
    EXPECT_EQ(p.run(s.set), 0.0);
    EXPECT_EQ(out.text(), "");
    EXPECT_EQ(p.padded_input.length(), 0u);
}

TEST(PipeDual, BoundaryConditionOnA5By5Grid) {
    options<double> o;
    pipeline_t p(o);
    prepare(p, bytes(1, 1, {3}));
    for (size_t k = 0; k < 25; ++k) p.nodes[k].kind = status(medial);
    p.nodes[12].kind = status(ordinary);
    p.apply_dual_boundary_condition();
    size_t borders = 0, rings = 0;
    for (size_t k = 0; k < 25; ++k) {
        borders += p.nodes[k].kind == border;
        rings += p.nodes[k].kind == second_ring;
    }
    EXPECT_EQ(borders, 16u);
    EXPECT_EQ(rings, 8u);
    EXPECT_TRUE(p.nodes[12].kind == ordinary);
    EXPECT_TRUE(p.nodes(1, 1).kind == second_ring);
    EXPECT_TRUE(p.nodes(0, 3).kind == border);
}

TEST(PipeDual, HeightNegation) {
    options<double> o;
    o.distance.ceiling = 9.25;
    pipeline_t p(o);
    prepare(p, bytes(3, 3, {0, 1, 2, 3, 4, 5, 6, 7, 8}));  // a 7 x 7 grid
    for (size_t k = 0; k < p.nodes.length(); ++k) {
        p.nodes[k].kind = status(ordinary);
        p.nodes[k].distance = 1.0;
        p.nodes[k].value = -5;
    }
    p.nodes(3, 3).kind = status(medial);
    p.nodes(3, 3).distance = 7.25;  // H - 2
    p.nodes(0, 3).kind = status(medial);
    p.apply_dual_boundary_condition();
    p.nodes(1, 4).distance = 3.0;
    p.negate_height();
    EXPECT_EQ(p.nodes(1, 4).value, 6.25);
    EXPECT_EQ(p.nodes(3, 3).value, 2.0);
    EXPECT_EQ(p.nodes(2, 2).value, inf);
    EXPECT_EQ(p.nodes(0, 3).value, inf);  // outer ring, was medial
    EXPECT_TRUE(p.nodes(3, 3).kind == medial);
    EXPECT_EQ(p.nodes(1, 4).distance, 3.0);
}

TEST(PipeDual, TransformOutputAndModeSwitch) {
    options<double> o;
    o.program.weighted = false;
    {
        pipeline_t p(o);
        prepare(p, bytes(2, 1, {0, 1}));
        zarn_test::cout_capture out;
        p.timer.enabled = false;
        EXPECT_EQ(p.dual_transform(), 0.0);
        EXPECT_EQ(out.text(), "");
        EXPECT_TRUE(p.nodes[0].kind == border);
    }
    pipeline_t p(o);
    prepare(p, bytes(2, 1, {0, 1}));
    p.timer.total = 3.0;
    zarn_test::cout_capture out;
    const double total = p.dual_transform();
    const auto lines = out.lines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "Sub-total:" + std::string(45, ' ') + std::string(8, ' ') + "3.00 ms");
    EXPECT_EQ(lines[1], std::string(70, '='));
    EXPECT_EQ(lines[2].substr(0, 55), "Dual transform -- image boundary condition:" + std::string(12, ' '));
    EXPECT_EQ(lines[3].substr(0, 55), "Dual transform -- height / distance negation:" + std::string(10, ' '));
    EXPECT_EQ(lines[4], std::string(70, '-'));
    EXPECT_GE(total, 3.0);

    p.enter_dual_mode();
    EXPECT_TRUE(o.program.weighted);
    EXPECT_FALSE(o.commands.primal);
    p.leave_dual_mode();
    EXPECT_FALSE(o.program.weighted);
    EXPECT_TRUE(o.commands.primal);
}

}  // namespace
}  // namespace lumo::zarn
