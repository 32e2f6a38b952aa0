// Merging in partition mode (stop rules, order), the partition labels, and
// the drivers' timing and statistics lines.
#include <gtest/gtest.h>

#include <map>
#include <numeric>
#include <string>
#include <vector>

#include "partition/partition_support.hpp"
#include "pipeline/capture.hpp"

namespace {

using namespace part_test;
namespace z = lumo::zarn;

// Components and links made by hand on an empty grid, as the cleanup leaves
// them (singleton roots), with H = 10.
struct hand_made {
    ridge_grid g{6, 5, 10.0};
    std::unique_ptr<stage> s;
    std::vector<component*> c;

    hand_made(size_t components, size_t pc, double pd) {
        g.opts.partition.min_components = pc;
        g.opts.partition.min_link_distance = pd;
        s = g.make();
        s->init();
        s->reserve_storage(components);
        for (size_t k = 0; k < components; ++k) {
            component* r = g.storage.components.take();
            *r = component{double(k), 0, 0, 0, nullptr, nullptr, 0, 0};
            c.push_back(r);
        }
    }
    void link(size_t a, size_t b, double value) {
        g.storage.links.push_back(link_record{c[a], c[b], value, 1, 0, 0, 0});
    }
    const component* root(size_t k) { return z::component_find(c[k]); }
};

TEST(PartitionMerge, DefaultsMergeNothing) {
    hand_made h(3, z::size_max, inf);
    h.link(0, 1, 1);
    h.link(1, 2, 2);
    h.s->merge();
    EXPECT_EQ(h.s->components_at_merge, 3u);
    EXPECT_EQ(h.s->live_components, 3u);
    for (size_t k = 0; k < 3; ++k) EXPECT_EQ(h.c[k]->parent, nullptr);
}

// -pd alone (-pc 0): every link up to H - pd, in ascending value.
TEST(PartitionMerge, DepthLimitStopsAtTheFirstHigherLink) {
    hand_made h(5, 0, 6.0);  // limit 4
    h.link(0, 1, 5);
    h.link(2, 3, 1);
    h.link(3, 4, 4);
    h.link(1, 2, 4.5);
    h.s->merge();
    EXPECT_EQ(h.s->live_components, 3u);
    EXPECT_EQ(h.root(2), h.root(3));
    EXPECT_EQ(h.root(3), h.root(4));
    EXPECT_NE(h.root(1), h.root(2));
    EXPECT_NE(h.root(0), h.root(1));
}

// -pc alone (-pd 0): links up to H until the count reaches -pc; the unions
// of the propagation are not components.
TEST(PartitionMerge, ComponentCountStopsMerging) {
    hand_made h(6, 2, 0.0);
    h.s->unions = 1;  // one record was absorbed: five roots
    h.c[5]->parent = h.c[4];
    for (size_t k = 0; k + 2 < 6; ++k) h.link(k, k + 1, double(k));
    h.link(0, 4, 9.5);
    h.s->merge();
    EXPECT_EQ(h.s->components_at_merge, 6u);
    EXPECT_EQ(h.s->live_components, 2u);
    EXPECT_EQ(h.root(0), h.root(3));
    EXPECT_NE(h.root(3), h.root(4));
    // Above H nothing merges, whatever -pc says; H is the primal one,
    // kept when the dual distance run rewrites the options' copy.
    hand_made above(3, 0, 0.0);
    above.g.opts.distance.ceiling = 1000;
    above.link(0, 1, 9.5);
    above.link(1, 2, 10.5);
    above.s->merge();
    EXPECT_EQ(above.s->live_components, 2u);
}

// Equal values keep the order in which the links were made: that decides
// which root survives.
TEST(PartitionMerge, EqualValuesInLinkOrder) {
    for (bool swapped : {false, true}) {
        hand_made h(3, 0, 0.0);
        if (!swapped) {
            h.link(0, 1, 5);
            h.link(2, 0, 5);
        } else {
            h.link(2, 0, 5);
            h.link(0, 1, 5);
        }
        h.s->merge();
        EXPECT_EQ(h.s->live_components, 1u);
        EXPECT_EQ(h.root(1), swapped ? h.c[2] : h.c[0]);
    }
}

// Many links of one value: a sort that is not stable would merge others.
TEST(PartitionMerge, ManyEqualValuesStayInLinkOrder) {
    hand_made h(40, 20, 0.0);
    for (size_t k = 0; k + 1 < 40; ++k) h.link(k, k + 1, 5.0);
    h.s->merge();
    EXPECT_EQ(h.s->live_components, 20u);
    for (size_t k = 1; k <= 20; ++k) EXPECT_EQ(h.root(k), h.root(0)) << k;
    for (size_t k = 21; k < 40; ++k) EXPECT_EQ(h.root(k), h.c[k]) << k;
}

TEST(PartitionMerge, SharedRootsAndNaNValues) {
    hand_made h(3, 0, 5.0);  // limit 5
    h.link(0, 1, 1);
    h.link(1, 0, 2);            // already one root: nothing
    h.link(1, 2, std::nan(""));  // not a number: does not stop, merged last
    h.s->merge();
    EXPECT_EQ(h.s->live_components, 1u);
    EXPECT_EQ(h.root(0), h.root(2));
}

TEST(PartitionOutput, LabelsAreRootIndicesOrOwnIndices) {
    hand_made h(4, 0, 0.0);
    h.c[1]->parent = h.c[2];
    h.c[2]->parent = h.c[3];
    node& a = h.g.at(2, 2);
    node& b = h.g.at(2, 3);
    node& none = h.g.at(3, 3);
    a.component = h.c[1];
    b.component = h.c[0];
    h.s->output_partition(false);
    EXPECT_EQ(a.label, 1u);
    EXPECT_EQ(b.label, 0u);
    EXPECT_EQ(none.label, z::size_max);
    EXPECT_EQ(h.g.at(0, 0).label, z::size_max);
    h.s->output_partition(true);
    EXPECT_EQ(a.label, 3u);
    EXPECT_EQ(h.c[1]->parent, h.c[3]);  // the path is shortened
    EXPECT_EQ(b.label, 0u);
    EXPECT_EQ(none.label, z::size_max);
}

// Brute force: the links in a stable insertion sort by value, applied to a
// plain set partition of the components with the same stop rules.
struct reference {
    std::vector<size_t> set;
    size_t find(size_t k) {
        while (set[k] != k) k = set[k];
        return k;
    }
};

// On small random images with random medial marks: after merging down to
// every count, nodes share a label exactly when the reference puts their
// components in one set.
TEST(PartitionMerge, OrderEqualsStableSortOfTheLinks) {
    for (unsigned seed : {1u, 2u, 3u}) {
        const auto image = random_image(23, 31, seed);
        image_case probe(image);
        auto s0 = probe.prepare(random_medial{seed, 9});
        s0->run();
        probe.dual_distance();
        s0->finish();
        const size_t before = s0->components_at_merge - s0->unions;
        ASSERT_EQ(s0->live_components, before);
        ASSERT_GT(before, 3u) << seed;

        for (size_t pc : {before - 1, before / 2, size_t(2), size_t(1), size_t(0)}) {
            SCOPED_TRACE(std::to_string(seed) + " -pc " + std::to_string(pc));
            image_case k(image);
            k.opts.partition.min_components = pc;
            auto s = k.prepare(random_medial{seed, 9});
            s->run();
            k.dual_distance();
            s->cleanup();
            // The state merging starts from.
            const component* first = k.pipe->partition_store.components.first();
            const auto& links = k.pipe->partition_store.links;
            std::vector<size_t> order(links.size());
            std::iota(order.begin(), order.end(), 0);
            for (size_t i = 1; i < order.size(); ++i)
                for (size_t j = i; j > 0 && links[order[j]].value < links[order[j - 1]].value; --j)
                    std::swap(order[j], order[j - 1]);
            reference ref;
            ref.set.resize(k.pipe->partition_store.components.count());
            std::iota(ref.set.begin(), ref.set.end(), 0);
            size_t live = ref.set.size() - s->unions;
            const double limit = s->ceiling;  // -pd 0
            for (size_t i : order) {
                if (live <= pc || links[i].value > limit) break;
                const size_t a = ref.find(size_t(links[i].c1 - first));
                const size_t b = ref.find(size_t(links[i].c2 - first));
                if (a == b) continue;
                ref.set[b] = a;
                --live;
            }
            std::vector<long> node_set;
            for (size_t i = 0; i < k.nodes().length(); ++i) {
                const component* c = k.nodes()[i].component;
                node_set.push_back(c ? long(ref.find(size_t(c - first))) : -1);
            }
            s->merge();
            s->output_partition(true);
            EXPECT_EQ(s->live_components, live);
            std::map<size_t, long> label_to_set;
            std::map<long, size_t> set_to_label;
            for (size_t i = 0; i < k.nodes().length(); ++i) {
                const size_t label = k.nodes()[i].label;
                ASSERT_EQ(label == z::size_max, node_set[i] < 0) << i;
                if (label == z::size_max) continue;
                const auto [at, fresh_label] = label_to_set.emplace(label, node_set[i]);
                const auto [back, fresh_set] = set_to_label.emplace(node_set[i], label);
                ASSERT_EQ(at->second, node_set[i]) << i;
                ASSERT_EQ(back->second, label) << i;
            }
        }
    }
}

// Partition mode, lines of both drivers: five stage lines and a rule, then
// three stage lines, the statistics line and a rule.
TEST(PartitionDrivers, TimingAndStatisticsLines) {
    const auto image = random_image(20, 24, 7);
    image_case k(image);
    k.opts.program.timing = true;
    k.opts.program.statistics = true;
    k.opts.partition.min_components = 3;
    auto s = k.prepare(random_medial{7, 10});
    std::vector<std::string> run_lines, finish_lines;
    double run_total, finish_total;
    {
        zarn_test::cout_capture out;
        run_total = s->run();
        run_lines = out.lines();
    }
    k.dual_distance();
    {
        zarn_test::cout_capture out;
        finish_total = s->finish();
        finish_lines = out.lines();
    }
    auto label = [](const std::string& l) { return l.substr(0, 55); };
    auto padded = [](const std::string& l) { return l + std::string(55 - l.size(), ' '); };
    const std::string dash(70, '-');
    ASSERT_EQ(run_lines.size(), 6u);
    EXPECT_EQ(label(run_lines[0]), padded("Partition initialization:"));
    EXPECT_EQ(label(run_lines[1]), padded("Component front/list creation:"));
    EXPECT_EQ(label(run_lines[2]), padded("Ridge propagation / component creation:"));
    EXPECT_EQ(label(run_lines[3]), padded("Link creation/expansion:"));
    EXPECT_EQ(label(run_lines[4]), padded("Primal type backup:"));
    EXPECT_EQ(run_lines[5], dash);
    ASSERT_EQ(finish_lines.size(), 5u);
    EXPECT_EQ(label(finish_lines[0]), padded("Component cleanup:"));
    EXPECT_EQ(label(finish_lines[1]), padded("Component merging:"));
    EXPECT_EQ(label(finish_lines[2]), padded("Partition output:"));
    const size_t before = s->components_at_merge - s->unions;
    EXPECT_GE(s->live_components, 3u);
    EXPECT_LT(s->live_components, before);
    EXPECT_EQ(finish_lines[3], "-> Components before / after merging:   " + std::to_string(before) +
                                   " / " + std::to_string(s->live_components));
    EXPECT_EQ(finish_lines[4], dash);
    double sum = 0;
    for (size_t i = 0; i < 5; ++i) sum += std::stod(run_lines[i].substr(55, 12));
    EXPECT_NEAR(run_total, sum, 0.05);
    EXPECT_GE(finish_total, 0.0);
}

// Without -t nothing is printed, statistics included, and both return 0.
TEST(PartitionDrivers, SilentWithoutTiming) {
    image_case k(random_image(12, 14, 3));
    k.opts.program.statistics = true;
    auto s = k.prepare(no_medial);
    zarn_test::cout_capture out;
    EXPECT_EQ(s->run(), 0.0);
    k.dual_distance();
    EXPECT_EQ(s->finish(), 0.0);
    EXPECT_EQ(out.text(), "");
}

// With -t and -vs but a feature command, the second statistics line follows.
TEST(PartitionDrivers, FeatureCommandPrintsBothStatisticsLines) {
    image_case k(random_image(12, 14, 4));
    k.opts.commands.partition = false;
    k.opts.commands.features = true;
    k.opts.program.timing = true;
    k.opts.program.statistics = true;
    auto s = k.prepare(no_medial);
    s->run();
    k.dual_distance();
    zarn_test::cout_capture out;
    s->finish();
    const std::vector<std::string> l = out.lines();
    ASSERT_GE(l.size(), 3u);
    EXPECT_EQ(l[l.size() - 3].rfind("-> Components before / after merging:   ", 0), 0u);
    EXPECT_EQ(l[l.size() - 2], "-> Total nodes / features (isolated):   " +
                                   std::to_string(k.pipe->partition_store.components.count() -
                                                  s->unions) +
                                   " / 0 (0)");
    for (const std::string& line : l) EXPECT_NE(line.rfind("Partition output:", 0), 0u);
}

}  // namespace
