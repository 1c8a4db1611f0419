// The string-keyed hash map: key equality by bytes, neutral answers, growth past 70 %, probing
// that wraps round, deleted slots reclaimed under churn, and the slot-order and sorted listings.
#include <algorithm>
#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "test_support.h"

namespace {

QorString* S(const char* text) { return qor_string_from_cstr(text); }
QorString* B(std::string_view bytes) {
    return qor_string_new(bytes.data(), static_cast<int64_t>(bytes.size()));
}

// The elements of a string vector: text, or "<null>" for a null pointer.
std::vector<std::string> texts_of(int64_t handle) {
    std::vector<std::string> out;
    for (int64_t i = 0; i < qor_svec_len(handle); i++) {
        QorString* s = qor_svec_get(handle, i);
        out.push_back(s == nullptr ? "<null>" : text_of(s));
    }
    return out;
}

// Index of the slot holding key (by pointer), or -1.
int64_t slot_of(const QorStrHashMap* m, const QorString* key) {
    for (int64_t i = 0; i < m->capacity; i++) {
        if (m->entries[i].state == QOR_STR_SLOT_OCCUPIED && m->entries[i].key == key) return i;
    }
    return -1;
}

int64_t count_deleted(const QorStrHashMap* m) {
    int64_t n = 0;
    for (int64_t i = 0; i < m->capacity; i++) n += m->entries[i].state == QOR_STR_SLOT_DELETED;
    return n;
}

// The documented home slot of text in a table of 4096 slots: FNV-1a folded with its upper half.
int64_t home_in_4096(const std::string& text) {
    uint64_t h = 0xcbf29ce484222325ULL;
    for (unsigned char c : text) h = (h ^ c) * 0x100000001b3ULL;
    return static_cast<int64_t>((h ^ (h >> 32)) & 4095);
}

// Distinct keys "k0", "k1", ... whose home slot in a fresh map is home.
std::vector<QorString*> keys_with_home(int64_t home, size_t how_many) {
    std::vector<QorString*> found;
    for (int i = 0; found.size() < how_many; i++) {
        std::string text = "k" + std::to_string(i);
        if (home_in_4096(text) == home) found.push_back(S(text.c_str()));
    }
    return found;
}

}  // namespace

TEST(StrHashMap, NullMapAndFreshMapGiveNeutralAnswers) {
    QorString* k = S("k");
    EXPECT_EQ(qor_str_hashmap_insert(nullptr, k, 5), 0);
    EXPECT_EQ(qor_str_hashmap_get(nullptr, k), 0);
    EXPECT_EQ(qor_str_hashmap_contains(nullptr, k), 0);
    EXPECT_EQ(qor_str_hashmap_remove(nullptr, k), 0);
    EXPECT_EQ(qor_str_hashmap_len(nullptr), 0);
    EXPECT_EQ(qor_str_hashmap_inc(nullptr, k, 1), 0);
    EXPECT_EQ(qor_str_hashmap_free(nullptr), 0);
    str_hashmap_free(nullptr);
    QorVec* keys = str_hashmap_keys(nullptr);
    QorVec* values = qor_str_hashmap_values(nullptr);
    EXPECT_EQ(keys->len, 0);
    EXPECT_EQ(keys->capacity, 8);
    EXPECT_EQ(values->len, 0);
    qor_vec_free(keys);
    qor_vec_free(values);

    QorStrHashMap* m = str_hashmap_new();
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->capacity, 4096);
    EXPECT_EQ(str_hashmap_get(m, k), 0);
    EXPECT_EQ(str_hashmap_contains(m, k), 0);
    EXPECT_EQ(str_hashmap_len(m), 0);
    qor_str_hashmap_free(m);
}

TEST(StrHashMap, EqualBytesAreOneKeyAndInsertReplaces) {
    QorStrHashMap* m = qor_str_hashmap_new();
    EXPECT_EQ(qor_str_hashmap_insert(m, S("apple"), 10), 0);
    EXPECT_EQ(qor_str_hashmap_insert(m, S("apple"), 20), 10);
    EXPECT_EQ(qor_str_hashmap_len(m), 1);
    EXPECT_EQ(qor_str_hashmap_get(m, S("apple")), 20);
    EXPECT_EQ(qor_str_hashmap_contains(m, S("appl")), 0);
    // Bytes after a NUL count: "a\0b" and "a\0c" are different keys.
    QorString* ab = qor_string_new("a\0b", 3);
    EXPECT_EQ(qor_str_hashmap_insert(m, ab, 1), 0);
    EXPECT_EQ(qor_str_hashmap_insert(m, qor_string_new("a\0c", 3), 2), 0);
    EXPECT_EQ(qor_str_hashmap_get(m, qor_string_new("a\0b", 3)), 1);
    // A stored 0 reads like absence except through contains.
    qor_str_hashmap_insert(m, S("zero"), 0);
    EXPECT_EQ(qor_str_hashmap_get(m, S("zero")), 0);
    EXPECT_EQ(qor_str_hashmap_contains(m, S("zero")), 1);
    qor_str_hashmap_free(m);
}

TEST(StrHashMap, NullKeyAndEmptyKeyAreDistinct) {
    QorStrHashMap* m = qor_str_hashmap_new();
    QorString* empty = S("");
    qor_str_hashmap_insert(m, nullptr, 7);
    qor_str_hashmap_insert(m, empty, 8);
    EXPECT_EQ(qor_str_hashmap_len(m), 2);
    EXPECT_EQ(qor_str_hashmap_get(m, nullptr), 7);
    EXPECT_EQ(qor_str_hashmap_get(m, S("")), 8);
    // The null key lives at slot 0; the empty key at the folded offset basis, 0xfc1.
    EXPECT_EQ(slot_of(m, nullptr), 0);
    EXPECT_EQ(slot_of(m, empty), 0xcbf29ce44fd0bfc1ULL & 4095);
    QorString* a = S("a");
    qor_str_hashmap_insert(m, a, 1);
    EXPECT_EQ(slot_of(m, a), home_in_4096("a"));
    EXPECT_EQ(slot_of(m, a), 192);
    qor_str_hashmap_remove(m, a);
    // A record without a buffer is found by pointer and never read.
    QorString no_data{nullptr, 5, 5};
    qor_str_hashmap_insert(m, &no_data, 9);
    EXPECT_EQ(qor_str_hashmap_get(m, &no_data), 9);
    EXPECT_EQ(qor_str_hashmap_get(m, S("abcde")), 0);
    EXPECT_EQ(qor_str_hashmap_remove(m, nullptr), 7);
    EXPECT_EQ(qor_str_hashmap_get(m, S("")), 8);
    qor_str_hashmap_free(m);
}

TEST(StrHashMap, RemoveReturnsValueOnce) {
    QorStrHashMap* m = qor_str_hashmap_new();
    qor_str_hashmap_insert(m, S("a"), 1);
    qor_str_hashmap_insert(m, S("b"), 2);
    EXPECT_EQ(qor_str_hashmap_remove(m, S("a")), 1);
    EXPECT_EQ(qor_str_hashmap_len(m), 1);
    EXPECT_EQ(qor_str_hashmap_remove(m, S("a")), 0);
    EXPECT_EQ(qor_str_hashmap_contains(m, S("a")), 0);
    EXPECT_EQ(qor_str_hashmap_get(m, S("b")), 2);
    qor_str_hashmap_free(m);
}

TEST(StrHashMap, IncCountsFromZeroAndUpdateOverwrites) {
    QorStrHashMap* m = qor_str_hashmap_new();
    QorString* w = S("word");
    EXPECT_EQ(qor_str_hashmap_inc(m, w, 3), 0);
    EXPECT_EQ(qor_str_hashmap_get(m, w), 3);
    qor_str_hashmap_inc(m, S("word"), -5);
    EXPECT_EQ(qor_str_hashmap_get(m, w), -2);
    qor_str_hashmap_update(m, w, INT64_MAX);
    qor_str_hashmap_inc(m, w, 1);
    EXPECT_EQ(qor_str_hashmap_get(m, w), INT64_MIN);
    EXPECT_EQ(qor_str_hashmap_len(m), 1);
    qor_str_hashmap_free(m);
}

// Growth comes on the insert that finds 2868 entries, drops deleted slots and keeps every
// live key reachable.
TEST(StrHashMap, GrowsAfter2868EntriesAndDropsDeletedSlots) {
    QorStrHashMap* m = qor_str_hashmap_new();
    std::vector<QorString*> keys;
    for (int i = 0; i < 2868; i++) {
        keys.push_back(S(("key" + std::to_string(i)).c_str()));
        qor_str_hashmap_insert(m, keys.back(), i);
    }
    qor_str_hashmap_remove(m, keys[5]);
    qor_str_hashmap_remove(m, keys[6]);
    qor_str_hashmap_insert(m, S("extra1"), -1);
    qor_str_hashmap_insert(m, S("extra2"), -2);
    ASSERT_EQ(qor_str_hashmap_len(m), 2868);
    EXPECT_EQ(m->capacity, 4096);
    EXPECT_GT(count_deleted(m), 0);
    // Even an insert that only replaces a value grows first.
    EXPECT_EQ(qor_str_hashmap_insert(m, keys[0], 100), 0);
    EXPECT_EQ(m->capacity, 8192);
    EXPECT_EQ(qor_str_hashmap_len(m), 2868);
    EXPECT_EQ(count_deleted(m), 0);
    EXPECT_EQ(qor_str_hashmap_contains(m, keys[5]), 0);
    EXPECT_EQ(qor_str_hashmap_get(m, keys[0]), 100);
    EXPECT_EQ(qor_str_hashmap_get(m, S("extra2")), -2);
    for (int i = 7; i < 2868; i++) {
        ASSERT_EQ(qor_str_hashmap_get(m, S(("key" + std::to_string(i)).c_str())), i) << i;
    }
    qor_str_hashmap_free(m);
}

TEST(StrHashMap, ProbingWrapsFromLastSlotToSlotZero) {
    std::vector<QorString*> last = keys_with_home(4095, 2);
    QorStrHashMap* m = qor_str_hashmap_new();
    qor_str_hashmap_insert(m, last[0], 1);
    qor_str_hashmap_insert(m, last[1], 2);
    EXPECT_EQ(slot_of(m, last[0]), 4095);
    EXPECT_EQ(slot_of(m, last[1]), 0);
    // The path to the wrapped key passes the deleted last slot.
    qor_str_hashmap_remove(m, last[0]);
    EXPECT_EQ(qor_str_hashmap_get(m, last[1]), 2);
    qor_str_hashmap_free(m);
}

// Storing a key again after an earlier key of its path was removed must replace the live entry
// further along, not add a second one in the deleted slot.
TEST(StrHashMap, InsertAfterRemovalNeverDuplicatesAKey) {
    std::vector<QorString*> same = keys_with_home(100, 3);
    QorStrHashMap* m = qor_str_hashmap_new();
    for (int i = 0; i < 3; i++) qor_str_hashmap_insert(m, same[i], i + 1);
    qor_str_hashmap_remove(m, same[0]);
    EXPECT_EQ(qor_str_hashmap_insert(m, same[2], 30), 3);
    EXPECT_EQ(qor_str_hashmap_len(m), 2);
    EXPECT_EQ(qor_str_hashmap_get(m, same[2]), 30);
    EXPECT_EQ(qor_str_hashmap_remove(m, same[2]), 30);
    EXPECT_EQ(qor_str_hashmap_contains(m, same[2]), 0);
    // A key that is really new takes the first deleted slot of its path.
    EXPECT_EQ(qor_str_hashmap_insert(m, same[0], 10), 0);
    EXPECT_EQ(slot_of(m, same[0]), 100);
    EXPECT_EQ(qor_str_hashmap_len(m), 2);
    qor_str_hashmap_free(m);
}

// Both listings walk the slots in index order, so the i-th value belongs to the i-th key.
TEST(StrHashMap, ListingsFollowSlotOrderAndCorrespond) {
    QorStrHashMap* m = qor_str_hashmap_new();
    for (int i = 0; i < 50; i++) qor_str_hashmap_insert(m, S(("n" + std::to_string(i)).c_str()), i);
    qor_str_hashmap_remove(m, S("n7"));
    QorVec* keys = str_hashmap_keys(m);
    QorVec* values = str_hashmap_values(m);
    ASSERT_EQ(keys->len, 49);
    ASSERT_EQ(values->len, 49);
    int64_t previous_slot = -1;
    for (int64_t i = 0; i < keys->len; i++) {
        auto* key =
            reinterpret_cast<QorString*>(keys->items[i]);  // NOLINT(performance-no-int-to-ptr)
        EXPECT_EQ("n" + std::to_string(values->items[i]), text_of(key));
        int64_t slot = slot_of(m, key);
        EXPECT_GT(slot, previous_slot);
        previous_slot = slot;
    }
    qor_vec_free(keys);
    qor_vec_free(values);
    qor_str_hashmap_free(m);
}

// Large tables come from a separately zeroed array: 50,000 keys make 131072 slots (3 MiB).
TEST(StrHashMap, LargeTablesStayConsistent) {
    QorStrHashMap* m = qor_str_hashmap_new();
    std::vector<QorString*> keys;
    for (int i = 0; i < 50000; i++) {
        keys.push_back(S(("big" + std::to_string(i)).c_str()));
        qor_str_hashmap_insert(m, keys.back(), i);
    }
    EXPECT_EQ(m->capacity, 131072);
    for (int i = 0; i < 50000; i += 2) qor_str_hashmap_remove(m, keys[i]);
    EXPECT_EQ(qor_str_hashmap_len(m), 25000);
    int64_t occupied = 0;
    for (int64_t i = 0; i < m->capacity; i++)
        occupied += m->entries[i].state == QOR_STR_SLOT_OCCUPIED;
    EXPECT_EQ(occupied, 25000);
    for (int i = 0; i < 50000; i++) {
        ASSERT_EQ(qor_str_hashmap_get(m, keys[i]), i % 2 == 0 ? 0 : i) << i;
    }
    qor_str_hashmap_free(m);
}

// The key listings hold the map's own key pointers: in slot order (as str_hashmap_keys), or
// sorted with null first, then unsigned bytes, then the shorter key, also past 8 bytes and
// across NUL bytes.
TEST(StrHashMap, KeyListingsInSlotOrderAndSortedOrder) {
    QorStrHashMap* m = qor_str_hashmap_new();
    for (const char* k : {"pear", "apple", "fig", "banana", "cherry"}) {
        qor_str_hashmap_insert(m, S(k), 1);
    }
    qor_str_hashmap_remove(m, S("fig"));
    QorVec* by_slot = str_hashmap_keys(m);
    int64_t h = qor_str_hashmap_keys(m);
    ASSERT_EQ(qor_svec_len(h), 4);
    for (int64_t i = 0; i < 4; i++) {
        EXPECT_EQ(by_slot->items[i], reinterpret_cast<int64_t>(qor_svec_get(h, i)));
    }
    qor_vec_free(by_slot);
    using Texts = std::vector<std::string>;
    EXPECT_EQ(texts_of(qor_str_hashmap_sorted_keys(m)),
              (Texts{"apple", "banana", "cherry", "pear"}));
    EXPECT_EQ(qor_svec_len(qor_str_hashmap_keys(nullptr)), 0);
    EXPECT_GE(qor_str_hashmap_sorted_keys(nullptr), 0);

    for (std::string_view k : std::initializer_list<std::string_view>{
             "c", "ba", "b", "", "prefix00b", "prefix00a", "prefix00", "prefix00ab",
             std::string_view("ab\0", 3), "ab", "\xff", "a\x80"}) {
        qor_str_hashmap_insert(m, B(k), 2);
    }
    qor_str_hashmap_insert(m, nullptr, 3);
    Texts expected{"<null>",   "",          "ab",         std::string("ab\0", 3),
                   "apple",    "a\x80",     "b",          "ba",
                   "banana",   "c",         "cherry",     "pear",
                   "prefix00", "prefix00a", "prefix00ab", "prefix00b",
                   "\xff"};
    EXPECT_EQ(texts_of(qor_str_hashmap_sorted_keys(m)), expected);

    // A record without bytes is still listed, in the order qor_svec_sort gives it.
    QorString no_data{nullptr, 3, 3};
    qor_str_hashmap_insert(m, &no_data, 4);
    int64_t general = qor_str_hashmap_keys(m);
    qor_svec_sort(general);
    EXPECT_EQ(texts_of(qor_str_hashmap_sorted_keys(m)).size(), expected.size() + 1);
    int64_t sorted = qor_str_hashmap_sorted_keys(m);
    for (int64_t i = 0; i < qor_svec_len(general); i++) {
        EXPECT_EQ(qor_svec_get(sorted, i), qor_svec_get(general, i)) << i;
    }
    qor_str_hashmap_free(m);
}

// Insert/remove churn with 1,000 live keys stays at 4096 slots: deleted slots are reclaimed once
// they and the live ones pass 70 %, so absent keys stay cheap and every live key stays reachable
// through insert, inc and get.
TEST(StrHashMap, ChurnReclaimsDeletedSlotsAtTheSameCapacity) {
    constexpr int kLive = 1000;
    constexpr int kCycles = 200000;
    QorStrHashMap* m = qor_str_hashmap_new();
    std::vector<QorString*> keys;
    for (int i = 0; i < kLive + kCycles; i++) keys.push_back(S(("c" + std::to_string(i)).c_str()));
    for (int i = 0; i < kLive; i++) qor_str_hashmap_insert(m, keys[i], i);
    int64_t most_used = 0;
    for (int i = kLive; i < kLive + kCycles; i++) {
        if (i % 2 == 0) {
            ASSERT_EQ(qor_str_hashmap_insert(m, keys[i], i), 0);
        } else {
            qor_str_hashmap_inc(m, keys[i], i);
        }
        ASSERT_EQ(qor_str_hashmap_remove(m, B(text_of(keys[i - kLive]))), i - kLive);
        int64_t used = 0;
        if (i % 4096 == 0) {
            for (int64_t s = 0; s < m->capacity; s++) used += m->entries[s].state != 0;
        }
        most_used = std::max(most_used, used);
    }
    EXPECT_EQ(m->capacity, 4096);
    EXPECT_EQ(qor_str_hashmap_len(m), kLive);
    EXPECT_LE(most_used, 4096 * 7 / 10 + 4096 / 16 + 1);
    QorVec* listed = str_hashmap_keys(m);
    QorVec* values = qor_str_hashmap_values(m);
    ASSERT_EQ(listed->len, kLive);
    int64_t previous_slot = -1;
    for (int64_t i = 0; i < listed->len; i++) {
        auto* key =
            reinterpret_cast<QorString*>(listed->items[i]);  // NOLINT(performance-no-int-to-ptr)
        EXPECT_EQ("c" + std::to_string(values->items[i]), text_of(key));
        EXPECT_GE(values->items[i], kCycles);
        int64_t slot = slot_of(m, key);
        EXPECT_GT(slot, previous_slot);
        previous_slot = slot;
    }
    qor_vec_free(listed);
    qor_vec_free(values);

    // Would walk most of the table per lookup if the deleted slots were still there.
    auto start = std::chrono::steady_clock::now();
    QorString* absent = S("absent key");
    int64_t found = 0;
    for (int i = 0; i < 200000; i++) found += qor_str_hashmap_contains(m, absent);
    EXPECT_EQ(found, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    qor_str_hashmap_free(m);
}
