#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <string>
#include <vector>

#include "pipeline/capture.hpp"
#include "pipeline/grassfire.hpp"
#include "pipeline/node_grid.hpp"
#include "pipeline/stage_timer.hpp"

namespace lumo::zarn {
namespace {

using grid_t = node_array<false, double>;
using node_t = node_type<false, double>;

TEST(PipeNodeGrid, GeometryOfA5By7Grid) {
    grid_t grid(5, 7);
    node_grid<false, double> g(nullptr, &grid, nullptr);
    EXPECT_EQ(g.width, 5u);
    EXPECT_EQ(g.height, 7u);
    EXPECT_EQ(g.count, 35u);
    EXPECT_EQ(g.offset_w_minus_1, 4u);
    EXPECT_EQ(g.offset_w_plus_1, 6u);
    EXPECT_EQ(g.offset_w, 5u);
    EXPECT_EQ(g.offset_2w, 10u);
    EXPECT_EQ(g.offset_n_minus_w, 30u);
    EXPECT_EQ(g.offset_n_minus_2w, 25u);
    node_t* base = grid.raw();
    EXPECT_EQ(g.first_row, base);
    EXPECT_EQ(g.row_1, base + 5);
    EXPECT_EQ(g.row_2, base + 10);
    EXPECT_EQ(g.row_h_minus_2, base + 25);
    EXPECT_EQ(g.row_h_minus_1, base + 30);
    EXPECT_EQ(g.end, base + 35);
    EXPECT_EQ(g.half_size, 2u);
    EXPECT_TRUE(g.sizes == grid.size());
    EXPECT_TRUE(g.name.empty());
}

TEST(PipeNodeGrid, HalfSizeAndInnerRows) {
    grid_t grid(6, 5);
    node_grid<false, double> g(nullptr, &grid, nullptr);
    EXPECT_EQ(g.half_size, 2u);
    // [row_1, row_h_minus_1) holds exactly the nodes whose second index is
    // neither 0 nor H - 1.
    for (node_t* n = g.first_row; n != g.end; ++n) {
        const size_t j = static_cast<size_t>(n - g.first_row) / g.width;
        EXPECT_EQ(n >= g.row_1 && n < g.row_h_minus_1, j != 0 && j != g.height - 1);
    }
}

TEST(PipeNodeGrid, FrameMemberReplacesTheWholeWord) {
    grid_t grid(6, 4);
    for (size_t i = 0; i < grid.length(); ++i) {
        grid[i].kind = status(medial);
        grid[i].kind |= ordinary;
        grid[i].state = status(far);
    }
    set_frame_member(grid, &node_t::kind, 1, status(border));
    for (size_t j = 0; j < 4; ++j)
        for (size_t i = 0; i < 6; ++i) {
            const bool frame = i == 0 || i == 5 || j == 0 || j == 3;
            const status& k = grid(i, j).kind;
            if (frame)
                EXPECT_TRUE(k == border) << i << "," << j;
            else
                EXPECT_EQ(k.bits(), 256u + 8u) << i << "," << j;
            EXPECT_TRUE(grid(i, j).state == far);
        }
    // A frame wider than half the grid covers every node.
    set_frame_member(grid, &node_t::state, 7, status(done));
    for (size_t i = 0; i < grid.length(); ++i) EXPECT_TRUE(grid[i].state == done);
}

TEST(PipeStageTimer, ElapsedBorrowsASecond) {
    timeval a{10, 900000}, b{12, 600000};
    EXPECT_DOUBLE_EQ(elapsed_ms(a, b), 1700.0);
    timeval c{5, 0}, d{5, 2500};
    EXPECT_DOUBLE_EQ(elapsed_ms(c, d), 2.5);
}

TEST(PipeStageTimer, ReportLineLayout) {
    zarn_test::cout_capture out;
    stage_timer t(true);
    t.report("Total:", 12.5);
    t.report(std::string(55, 'x'), 3.0);
    t.report(std::string(60, 'y'), 1234567.891);
    t.report("", 1.0);
    const auto lines = out.lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "Total:" + std::string(49, ' ') + std::string(7, ' ') + "12.50 ms");
    EXPECT_EQ(lines[1], std::string(55, 'x') + std::string(8, ' ') + "3.00 ms");
    EXPECT_EQ(lines[2], std::string(60, 'y') + "  1234567.89 ms");
    EXPECT_TRUE(std::cout.flags() & std::ios::fixed);
    EXPECT_EQ(std::cout.precision(), 2);
}

TEST(PipeStageTimer, LapAddsEvenWithoutALabel) {
    zarn_test::cout_capture out;
    stage_timer t(true);
    gettimeofday(&t.start, nullptr);
    t.start.tv_sec -= 2;  // a lap of at least two seconds
    const double lap = t.lap("");
    EXPECT_GE(lap, 2000.0);
    EXPECT_DOUBLE_EQ(t.total, lap);
    EXPECT_EQ(out.text(), "");

    stage_timer off(false);
    off.restart();
    EXPECT_EQ(off.lap("Step:"), 0.0);
    EXPECT_EQ(off.total, 0.0);
    EXPECT_EQ(out.text(), "");
}

TEST(PipeStageTimer, RulesAndClose) {
    {
        zarn_test::cout_capture out;
        stage_timer t(true);
        t.total = 4;
        EXPECT_EQ(t.rule('-'), 4.0);
        EXPECT_EQ(t.close(), 4.0);
        std::cout << std::setw(3) << "a" << std::endl;  // the fill is a blank again
        const auto lines = out.lines();
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_EQ(lines[0], std::string(70, '-'));
        EXPECT_EQ(lines[1], std::string(70, '='));
        EXPECT_EQ(lines[2], "  a");
    }
    {
        zarn_test::cout_capture out;
        stage_timer t(false);
        t.total = 0;
        EXPECT_EQ(t.rule('='), 0.0);
        EXPECT_EQ(out.text(), "");
        EXPECT_EQ(t.close(), 0.0);
        EXPECT_EQ(out.text(), "\n");
    }
}

TEST(PipeGrassfire, DefaultColoursAndRendering) {
    const status_color_map colors = default_status_colors();
    ASSERT_EQ(colors.size(), 10u);
    auto bytes_of = [&](status_enum flag) {
        const status_color& c = colors.at(flag);
        return std::vector<int>{c[0], c[1], c[2]};
    };
    EXPECT_EQ(bytes_of(far), (std::vector<int>{0, 255, 0}));
    EXPECT_EQ(bytes_of(front), (std::vector<int>{0, 165, 255}));
    EXPECT_EQ(bytes_of(done), (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(bytes_of(ordinary), (std::vector<int>{0, 75, 150}));
    EXPECT_EQ(bytes_of(border), (std::vector<int>{255, 0, 0}));
    EXPECT_EQ(bytes_of(second_ring), (std::vector<int>{255, 255, 255}));
    EXPECT_EQ(bytes_of(interior), (std::vector<int>{255, 255, 0}));
    EXPECT_EQ(bytes_of(boundary_seed), (std::vector<int>{255, 255, 255}));
    EXPECT_EQ(bytes_of(medial), (std::vector<int>{0, 0, 255}));
    EXPECT_EQ(bytes_of(plateau), (std::vector<int>{0, 0, 0}));

    grid_t grid(3, 2);
    const status_enum states[6] = {far, front, done, border, medial, second_ring};
    for (size_t i = 0; i < 6; ++i) {
        grid[i].state = status(states[i]);
        grid[i].kind = status(ordinary);
    }
    grid[4].kind |= medial;  // a combination has no colour
    lumo::image<unsigned char> picture;
    render_node_image(grid, &node_t::state, colors, picture);
    ASSERT_EQ(picture.rows(), 3u);
    ASSERT_EQ(picture.columns(), 2u);
    ASSERT_EQ(picture.channels(), 3u);
    for (size_t i = 0; i < 6; ++i)
        for (size_t k = 0; k < 3; ++k)
            EXPECT_EQ(picture[i + 6 * k], colors.at(states[i])[k]) << i << " " << k;

    // A stale image is cleared: uncoloured kinds come out black.
    render_node_image(grid, &node_t::kind, colors, picture);
    for (size_t k = 0; k < 3; ++k) {
        EXPECT_EQ(picture[0 + 6 * k], colors.at(ordinary)[k]);
        EXPECT_EQ(picture[4 + 6 * k], 0);
    }

    // An empty grid renders an empty picture without touching a node.
    grid_t empty(0, 0);
    render_node_image(empty, &node_t::state, colors, picture);
    EXPECT_EQ(picture.length(), 0u);
}

TEST(PipeGrassfire, SnapshotText) {
    EXPECT_EQ(fire_text("dual distance"), "dual distance fire");
    EXPECT_EQ(fire_text(""), "fire");
    zarn_test::cout_capture out;
    print_fire_line(fire_text("distance"), 12.0);
    print_fire_line(fire_text(""), 3.25f);
    std::cout << 2.0 / 3.0 << std::endl;  // the one-decimal format sticks
    EXPECT_EQ(out.text(), "distance fire @12.0\nfire @3.2\n0.7\n");
}

}  // namespace
}  // namespace lumo::zarn
