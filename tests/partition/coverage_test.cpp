// On small random images, weighted and binary, with and without medial
// nodes, in both visiting orders: every pixel of the image ends in a
// component, and the labels of the pipeline cover the image.
#include <gtest/gtest.h>

#include <string>

#include "partition/partition_support.hpp"

namespace {

using namespace part_test;
namespace z = lumo::zarn;

lumo::array_2d<unsigned char> binary_of(const lumo::array_2d<unsigned char>& im) {
    lumo::array_2d<unsigned char> out(im.size());
    for (size_t i = 0; i < im.length(); ++i) out[i] = im[i] > 140 ? 255 : 0;
    return out;
}

struct variant {
    bool weighted;
    bool marching;
    unsigned medial_one_in;  // 0: no medial node
};

TEST(PartitionCoverage, EveryPixelEndsInAComponent) {
    const variant variants[] = {{true, true, 0},  {true, true, 7},   {true, false, 5},
                                {false, true, 0}, {false, true, 6},  {false, false, 4},
                                {true, true, 2},  {false, false, 0}};
    for (unsigned seed = 1; seed <= 6; ++seed)
        for (const variant& v : variants) {
            const size_t rows = 5 + seed * 3, cols = 4 + seed * 5;
            SCOPED_TRACE("seed " + std::to_string(seed) + " weighted " +
                         std::to_string(v.weighted) + " marching " + std::to_string(v.marching) +
                         " medial " + std::to_string(v.medial_one_in));
            auto image = random_image(rows, cols, seed);
            if (!v.weighted) image = binary_of(image);
            image_case k(image);
            k.opts.program.weighted = v.weighted;
            k.opts.partition.fast_marching = v.marching;
            std::unique_ptr<stage> s;
            if (v.medial_one_in)
                s = k.run_all(random_medial{seed, v.medial_one_in});
            else
                s = k.run_all(no_medial);
            const auto& nodes = k.nodes();
            const size_t w = nodes.size(0), h = nodes.size(1);
            for (size_t j = 2; j + 2 < h; ++j)
                for (size_t i = 2; i + 2 < w; ++i) {
                    const node& n = nodes[i + w * j];
                    ASSERT_NE(n.component, nullptr) << i << " " << j;
                    ASSERT_NE(n.label, z::size_max) << i << " " << j;
                    ASSERT_EQ(n.label, size_t(z::component_find(n.component) -
                                              k.pipe->partition_store.components.first()));
                }
            EXPECT_LE(k.pipe->partition_store.components.count(),
                      k.pipe->partition_store.components.capacity());
            EXPECT_EQ(s->live_components, s->components_at_merge - s->unions);
        }
}

// The whole pipeline on random images: labels of the image's size, none
// without a component; -pc 1 leaves a single label where links join all.
TEST(PartitionCoverage, PipelineLabelsCoverTheImage) {
    for (unsigned seed = 11; seed <= 14; ++seed)
        for (bool weighted : {true, false}) {
            z::options<double> o;
            o.commands.partition = true;
            o.program.weighted = weighted;
            o.validate(false);
            z::image_set<double> set;
            set.input = random_image(9 + seed, 13 + seed, seed);
            if (!weighted) set.input = binary_of(set.input);
            z::run_image_pipeline<false, double>(set, o);
            ASSERT_EQ(set.labels.size(0), 9u + seed);
            ASSERT_EQ(set.labels.size(1), 13u + seed);
            for (size_t i = 0; i < set.labels.length(); ++i) ASSERT_NE(set.labels[i], z::size_max);
            EXPECT_TRUE(o.commands.primal);
            EXPECT_EQ(o.program.weighted, weighted);
        }
}

}  // namespace
