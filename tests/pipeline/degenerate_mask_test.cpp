// Constant binary inputs: all foreground lies at distance 0 from the
// foreground, all background has no foreground to measure from.
#include <gtest/gtest.h>

#include <limits>

#include "pipeline/pipeline.hpp"

namespace lumo::zarn {
namespace {

using pipeline_t = image_pipeline<false, double>;
const double inf = std::numeric_limits<double>::infinity();

// The distance and dual distance slots that the check writes for a 3 x 2
// input holding v everywhere.
void trivial_distances(bool weighted, unsigned char v, double& distance, double& dual) {
    options<double> o;
    o.commands.distance = true;
    o.commands.dual_distance = true;
    o.program.weighted = weighted;
    pipeline_t p(o);
    p.timer.enabled = false;
    image_set<double> set;
    set.input.resize(lumo::make_size_array(3, 2), v);
    ASSERT_TRUE(p.check_degenerate(set));
    ASSERT_EQ(set.distance.length(), 6u);
    ASSERT_EQ(set.dual_distance.length(), 6u);
    for (size_t k = 1; k < 6; ++k) {
        ASSERT_EQ(set.distance[k], set.distance[0]);
        ASSERT_EQ(set.dual_distance[k], set.dual_distance[0]);
    }
    distance = set.distance[0];
    dual = set.dual_distance[0];
    EXPECT_EQ(o.program.weighted, weighted);  // restored after the dual side
}

TEST(PipeDegenerateMask, OnlyAnAllForegroundBinaryImageIsAtDistanceZero) {
    double d = -1, u = -1;
    trivial_distances(false, 255, d, u);
    EXPECT_EQ(d, 0.0);
    EXPECT_EQ(u, inf);  // the dual side is weighted
    trivial_distances(false, 1, d, u);
    EXPECT_EQ(d, 0.0);
    trivial_distances(false, 0, d, u);
    EXPECT_EQ(d, inf);
    trivial_distances(true, 255, d, u);
    EXPECT_EQ(d, inf);
    EXPECT_EQ(u, inf);
}

}  // namespace
}  // namespace lumo::zarn
