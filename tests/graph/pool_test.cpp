// The stable pool: records never move, appends never fail, the used count
// can go back to 0 without freeing, iteration crosses chunks in index order.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "graph/pool.hpp"
#include "graph/storage.hpp"

namespace {

using lumo::zarn::stable_pool;

struct indexed {
    int value = 7;
    std::uint64_t index = 99;
};

// Counts live instances, to see every built record destroyed exactly once.
struct counted {
    static inline int live = 0;
    std::vector<int> payload{1, 2, 3};
    counted() { ++live; }
    ~counted() { --live; }
};

TEST(GraphPool, AppendsPastTheFirstChunkKeepEveryRecordInPlace) {
    stable_pool<indexed> pool;
    pool.reserve(3);
    std::vector<indexed*> seen;
    for (int i = 0; i < 2000; ++i) {
        indexed& r = pool.append();
        EXPECT_EQ(r.value, 7);  // value-built
        r.value = i;
        seen.push_back(&r);
    }
    EXPECT_GT(pool.chunk_count(), 2u);
    ASSERT_EQ(pool.used(), 2000u);
    for (int i = 0; i < 2000; ++i) {
        EXPECT_EQ(&pool[i], seen[i]);
        EXPECT_EQ(seen[i]->value, i);
        EXPECT_EQ(seen[i]->index, static_cast<std::uint64_t>(i));
    }
    int expected = 0;
    for (indexed& r : pool) EXPECT_EQ(r.value, expected++);
    EXPECT_EQ(expected, 2000);
    // Iteration from the middle of a later chunk.
    expected = 1500;
    for (auto it = pool.at(1500); it != pool.end(); ++it) EXPECT_EQ(it->value, expected++);
}

TEST(GraphPool, ClearKeepsStorageAndReusesRecordsInOrder) {
    stable_pool<indexed> pool;
    pool.reserve(0);
    EXPECT_EQ(pool.capacity(), 0u);
    std::vector<indexed*> first;
    for (int i = 0; i < 600; ++i) first.push_back(&pool.append());
    const size_t capacity = pool.capacity();
    pool.clear();
    EXPECT_EQ(pool.used(), 0u);
    EXPECT_EQ(pool.capacity(), capacity);
    EXPECT_EQ(pool.begin(), pool.end());
    for (int i = 0; i < 600; ++i) EXPECT_EQ(&pool.append(), first[i]);
    EXPECT_EQ(pool.capacity(), capacity);
}

TEST(GraphPool, ReserveAndReleaseDestroyEveryBuiltRecordOnce) {
    {
        stable_pool<counted> pool;
        pool.reserve(10);
        for (int i = 0; i < 300; ++i) pool.append();
        EXPECT_EQ(counted::live, 300);
        pool.clear();
        for (int i = 0; i < 5; ++i) pool.append();
        EXPECT_EQ(counted::live, 300);  // reused, not rebuilt
        pool.reserve(4);
        EXPECT_EQ(counted::live, 0);
        pool.append();
        EXPECT_EQ(counted::live, 1);
    }
    EXPECT_EQ(counted::live, 0);
}

TEST(GraphPoolDeathTest, IndexPastTheUsedCountFailsTheElementCheck) {
    stable_pool<indexed> pool;
    pool.reserve(8);
    pool.append();
    EXPECT_DEATH(pool[1], "offset >= 0 && offset < length\\(\\)");
}

TEST(GraphStorage, FirstChunksFollowTheEstimateTimesTheFactor) {
    lumo::zarn::path_storage<false, double> paths(10, 1.5);  // m = 15
    EXPECT_EQ(paths.vertices.capacity(), 30u);
    EXPECT_EQ(paths.edges.capacity(), 45u);
    EXPECT_EQ(paths.paths.capacity(), 30u);
    EXPECT_EQ(paths.cycles.capacity(), 15u);
    EXPECT_EQ(paths.components.capacity(), 15u);
    EXPECT_EQ(paths.regions.capacity(), 15u);
    lumo::zarn::component_storage<false, double> components(10, 1.0);
    EXPECT_EQ(components.vertices.capacity(), 10u);
    EXPECT_EQ(components.edges.capacity(), 20u);
    EXPECT_EQ(components.paths.capacity(), 0u);
    lumo::zarn::component_storage<false, double> empty(0, 1.0);
    EXPECT_EQ(empty.vertices.capacity(), 0u);
    EXPECT_EQ(empty.vertices.chunk_count(), 0u);
}

}  // namespace
