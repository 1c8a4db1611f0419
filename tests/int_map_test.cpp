// Integer map: the fixed table, wrap-around probing, deleted slots, the one-live-entry rule
// after removals, the full table, the listings' slot order, and deleted slots reclaimed under
// churn.
#include <algorithm>
#include <chrono>
#include <vector>

#include "test_support.h"

namespace {

constexpr int64_t kSlots = 131072;

uint64_t home_of(int64_t key) {
    uint64_t h = static_cast<uint64_t>(key) * 0x517cc1b727220a95ULL;
    return (h ^ (h >> 32)) & (kSlots - 1);
}

// The first `count` keys at or after `from` whose home slot is `slot`.
std::vector<int64_t> keys_homed_at(uint64_t slot, int count, int64_t from = 1) {
    std::vector<int64_t> keys;
    for (int64_t k = from; static_cast<int>(keys.size()) < count; k++) {
        if (home_of(k) == slot) keys.push_back(k);
    }
    return keys;
}

std::vector<int64_t> drain(QorVec* v) {
    std::vector<int64_t> out(v->items, v->items + v->len);
    qor_vec_free(v);
    return out;
}

struct MapFixture : testing::Test {
    QorIntMap* map = hashmap_new();
    ~MapFixture() override { hashmap_free(map); }
};

using IntMap = MapFixture;

}  // namespace

TEST_F(IntMap, StartsEmptyWithTheFullTable) {
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(map->capacity, kSlots);
    EXPECT_EQ(map->count, 0);
    EXPECT_EQ(hashmap_get(map, 42), INT64_MIN);
    EXPECT_EQ(hashmap_contains(map, 42), 0);
    EXPECT_EQ(hashmap_len(map), 0);
}

TEST_F(IntMap, InsertReplacesAndReportsThePreviousValue) {
    EXPECT_EQ(hashmap_insert(map, 7, 70), 0);
    EXPECT_EQ(hashmap_len(map), 1);
    EXPECT_EQ(hashmap_insert(map, 7, 71), 70);
    EXPECT_EQ(hashmap_len(map), 1);
    EXPECT_EQ(hashmap_get(map, 7), 71);
    EXPECT_EQ(hashmap_remove(map, 7), 71);
    EXPECT_EQ(hashmap_len(map), 0);
    EXPECT_EQ(hashmap_get(map, 7), INT64_MIN);
    EXPECT_EQ(hashmap_remove(map, 7), INT64_MIN);
}

// Extreme keys are ordinary, and a stored INT64_MIN is told from absence only by contains.
TEST_F(IntMap, ExtremeKeysAndTheAbsentValue) {
    const int64_t keys[] = {0, -1, INT64_MAX, INT64_MIN};
    for (int64_t k : keys) EXPECT_EQ(hashmap_insert(map, k, k ^ 5), 0);
    EXPECT_EQ(hashmap_len(map), 4);
    for (int64_t k : keys) EXPECT_EQ(hashmap_get(map, k), k ^ 5);
    hashmap_insert(map, 3, INT64_MIN);
    EXPECT_EQ(hashmap_get(map, 3), INT64_MIN);
    EXPECT_EQ(hashmap_contains(map, 3), 1);
    EXPECT_EQ(hashmap_contains(map, 4), 0);
}

TEST(IntMapNull, NullMapGivesNeutralResults) {
    EXPECT_EQ(hashmap_insert(nullptr, 1, 2), 0);
    EXPECT_EQ(hashmap_get(nullptr, 1), INT64_MIN);
    EXPECT_EQ(hashmap_contains(nullptr, 1), 0);
    EXPECT_EQ(hashmap_remove(nullptr, 1), INT64_MIN);
    EXPECT_EQ(hashmap_len(nullptr), 0);
    QorVec* k = hashmap_keys(nullptr);
    EXPECT_EQ(k->len, 0);
    EXPECT_EQ(k->capacity, 8);
    EXPECT_TRUE(drain(hashmap_values(nullptr)).empty());
    qor_vec_free(k);
    hashmap_free(nullptr);
}

// Keys homed at the last slot continue at slot 0; a deleted slot does not cut the path.
TEST_F(IntMap, ProbingWrapsFromTheLastSlotPastDeletedSlots) {
    std::vector<int64_t> k = keys_homed_at(kSlots - 1, 3);
    for (int i = 0; i < 3; i++) hashmap_insert(map, k[i], 100 + i);
    EXPECT_EQ(map->entries[kSlots - 1].key, k[0]);
    EXPECT_EQ(map->entries[0].key, k[1]);
    EXPECT_EQ(map->entries[1].key, k[2]);
    EXPECT_EQ(hashmap_remove(map, k[0]), 100);
    EXPECT_EQ(map->entries[kSlots - 1].state, 2u);
    EXPECT_EQ(hashmap_get(map, k[1]), 101);
    EXPECT_EQ(hashmap_get(map, k[2]), 102);
    EXPECT_EQ(hashmap_contains(map, k[0]), 0);
}

// After a removal ahead of it on the path, inserting a live key again replaces it in place
// instead of adding a second entry in the deleted slot.
TEST_F(IntMap, InsertAfterRemovalKeepsOneLiveEntryPerKey) {
    std::vector<int64_t> k = keys_homed_at(100, 3);
    for (int i = 0; i < 3; i++) hashmap_insert(map, k[i], i);
    hashmap_remove(map, k[0]);
    EXPECT_EQ(hashmap_insert(map, k[2], 22), 2);
    EXPECT_EQ(hashmap_len(map), 2);
    EXPECT_EQ(map->entries[100].state, 2u);
    EXPECT_EQ(hashmap_remove(map, k[2]), 22);
    EXPECT_EQ(hashmap_contains(map, k[2]), 0);
    EXPECT_EQ(hashmap_len(map), 1);

    // A new key takes the first deleted slot of its path.
    std::vector<int64_t> other = keys_homed_at(100, 1, k[2] + 1);
    EXPECT_EQ(hashmap_insert(map, other[0], 9), 0);
    EXPECT_EQ(map->entries[100].key, other[0]);
    EXPECT_EQ(map->entries[100].state, 1u);
    EXPECT_EQ(hashmap_get(map, k[1]), 1);
    EXPECT_EQ(hashmap_len(map), 2);
}

// A full table rejects new keys silently, still replaces existing ones, answers misses, and
// takes new keys again once a slot is freed.
TEST_F(IntMap, FullTableRejectsNewKeysUntilASlotFrees) {
    for (int64_t k = 0; k < kSlots; k++) hashmap_insert(map, k, k + 1);
    ASSERT_EQ(hashmap_len(map), kSlots);
    EXPECT_EQ(hashmap_insert(map, kSlots, 5), 0);
    EXPECT_EQ(hashmap_len(map), kSlots);
    EXPECT_EQ(hashmap_contains(map, kSlots), 0);
    EXPECT_EQ(hashmap_get(map, kSlots), INT64_MIN);
    EXPECT_EQ(hashmap_insert(map, 10, -10), 11);
    EXPECT_EQ(hashmap_remove(map, 77), 78);
    EXPECT_EQ(hashmap_insert(map, kSlots, 5), 0);
    EXPECT_EQ(hashmap_get(map, kSlots), 5);
    EXPECT_EQ(hashmap_len(map), kSlots);
}

// Listings follow slot order, not insertion order, and match position by position.
TEST_F(IntMap, ListingsFollowSlotOrderAndCorrespond) {
    int64_t late = keys_homed_at(9, 1)[0];
    int64_t early = keys_homed_at(4, 1)[0];
    hashmap_insert(map, late, 1);
    hashmap_insert(map, early, 2);
    EXPECT_EQ(drain(hashmap_keys(map)), (std::vector<int64_t>{early, late}));
    EXPECT_EQ(drain(hashmap_values(map)), (std::vector<int64_t>{2, 1}));

    for (int64_t k = -500; k < 500; k++) hashmap_insert(map, k * 7919, k);
    hashmap_remove(map, 7919);
    std::vector<int64_t> keys = drain(hashmap_keys(map));
    std::vector<int64_t> values = drain(hashmap_values(map));
    ASSERT_EQ(keys.size(), values.size());
    EXPECT_EQ(static_cast<int64_t>(keys.size()), hashmap_len(map));
    for (size_t i = 0; i < keys.size(); i++) EXPECT_EQ(hashmap_get(map, keys[i]), values[i]);
    std::vector<int64_t> by_slot;
    for (int64_t i = 0; i < kSlots; i++) {
        if (map->entries[i].state == 1) by_slot.push_back(map->entries[i].key);
    }
    EXPECT_EQ(keys, by_slot);
}

// Insert/remove churn with a constant live set: deleted slots are reclaimed at the same capacity
// once they and the live ones pass 70 % of the table, so absent keys stay cheap to look up and
// nothing live is lost or moved off its probe path.
TEST_F(IntMap, ChurnReclaimsDeletedSlotsAtTheSameCapacity) {
    constexpr int64_t kLive = 1000;
    constexpr int64_t kCycles = 1000000;
    int64_t most_used = 0;
    for (int64_t k = 0; k < kLive; k++) hashmap_insert(map, k, k);
    for (int64_t k = kLive; k < kLive + kCycles; k++) {
        ASSERT_EQ(hashmap_insert(map, k, k), 0);
        ASSERT_EQ(hashmap_remove(map, k - kLive), k - kLive);
        if (k % 65536 == 0) {
            int64_t used = 0;
            for (int64_t i = 0; i < kSlots; i++) used += map->entries[i].state != 0;
            most_used = std::max(most_used, used);
        }
    }
    EXPECT_EQ(map->capacity, kSlots);
    EXPECT_EQ(hashmap_len(map), kLive);
    EXPECT_LE(most_used, kSlots * 7 / 10 + kSlots / 16 + 1);

    std::vector<int64_t> keys = drain(hashmap_keys(map));
    std::vector<int64_t> values = drain(hashmap_values(map));
    std::vector<int64_t> by_slot;
    for (int64_t i = 0; i < kSlots; i++) {
        if (map->entries[i].state == 1) by_slot.push_back(map->entries[i].key);
    }
    EXPECT_EQ(keys, by_slot);
    EXPECT_EQ(keys, values);
    std::sort(keys.begin(), keys.end());
    ASSERT_EQ(static_cast<int64_t>(keys.size()), kLive);
    EXPECT_EQ(keys.front(), kCycles);
    EXPECT_EQ(keys.back(), kCycles + kLive - 1);

    // Would scan most of the table per lookup if the deleted slots were still there.
    auto start = std::chrono::steady_clock::now();
    int64_t found = 0;
    for (int64_t k = 0; k < 200000; k++) found += hashmap_contains(map, -k - 1);
    EXPECT_EQ(found, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}
