// The integer hash map: open addressing with linear probing over a fixed table of 131072 slots
// that never grows, with deleted markers left by remove, on the shared core of open_addressing.h.
// Invariants: count is the number of occupied slots; a key has at most one occupied slot, and
// that slot lies on the key's probe path before any empty slot, so lookups stop at the first
// empty slot they meet. The slot array is only ever rebuilt at the same 131072 slots, to drop
// deleted slots that would otherwise lengthen every probe path.
#include <stdlib.h>

#include <cstddef>

#include "collections/open_addressing.h"
#include "core/internal.h"

static_assert(sizeof(QorIntMapSlot) == 24);
static_assert(offsetof(QorIntMapSlot, key) == 0);
static_assert(offsetof(QorIntMapSlot, value) == 8);
static_assert(offsetof(QorIntMapSlot, state) == 16);
static_assert(sizeof(QorIntMap) == 24);
static_assert(offsetof(QorIntMap, entries) == 0);
static_assert(offsetof(QorIntMap, count) == 8);
static_assert(offsetof(QorIntMap, capacity) == 16);

namespace {

constexpr int64_t kCapacity = 131072;
constexpr int64_t kAbsent = INT64_MIN;

struct IntKeys {
    using Record = QorIntMap;
    using Slot = QorIntMapSlot;
    using Key = int64_t;
    // One multiplication folded with its upper half; the home slot is its low bits.
    static uint64_t hash(int64_t key) {
        uint64_t h = static_cast<uint64_t>(key) * 0x517cc1b727220a95ULL;
        return h ^ (h >> 32);
    }
    static bool same_key(const QorIntMapSlot& s, int64_t key) { return s.key == key; }
    static int64_t key_of(const QorIntMapSlot& s) { return s.key; }
    static constexpr bool kKeepsHashes = false;
};

using Table = qor::oa::Table<IntKeys>;

// A new vector of one field of every occupied slot, in slot order.
template <typename Field>
QorVec* list_slots(const QorIntMap* map, Field field) {
    QorVec* v = qor_vec_new();
    if (map == nullptr) return v;
    for (int64_t i = 0; i < map->capacity; i++) {
        const QorIntMapSlot& s = map->entries[i];
        if (s.state == qor::oa::kOccupied) qor_vec_push(v, field(s));
    }
    return v;
}

}  // namespace

extern "C" QOR_API QorIntMap* hashmap_new(void) { return Table::create(kCapacity); }

// Looks along the whole path for a live entry of the key before taking the first deleted slot
// it passed, so a key never gets a second live entry after removals. A table with neither a
// match nor a free slot stores nothing. Deleted slots are reclaimed first once they and the
// live ones fill 70 % of the table.
extern "C" QOR_API int64_t hashmap_insert(QorIntMap* map, int64_t key, int64_t value) {
    if (map == nullptr) return 0;
    Table::reclaim_deleted(map);
    return Table::put(map, key, value, IntKeys::hash(key));
}

extern "C" QOR_API int64_t hashmap_get(const QorIntMap* map, int64_t key) {
    if (map == nullptr) return kAbsent;
    int64_t i = Table::find(map, key, IntKeys::hash(key));
    return i < 0 ? kAbsent : map->entries[i].value;
}

extern "C" QOR_API int64_t hashmap_contains(const QorIntMap* map, int64_t key) {
    return map != nullptr && Table::find(map, key, IntKeys::hash(key)) >= 0;
}

extern "C" QOR_API int64_t hashmap_remove(QorIntMap* map, int64_t key) {
    if (map == nullptr) return kAbsent;
    int64_t i = Table::find(map, key, IntKeys::hash(key));
    if (i < 0) return kAbsent;
    Table::erase(map, i);
    return map->entries[i].value;
}

extern "C" QOR_API int64_t hashmap_len(const QorIntMap* map) {
    return map == nullptr ? 0 : map->count;
}

extern "C" QOR_API void hashmap_free(QorIntMap* map) {
    if (map != nullptr) Table::destroy(map);
}

extern "C" QOR_API QorVec* hashmap_keys(const QorIntMap* map) {
    return list_slots(map, [](const QorIntMapSlot& s) { return s.key; });
}

extern "C" QOR_API QorVec* hashmap_values(const QorIntMap* map) {
    return list_slots(map, [](const QorIntMapSlot& s) { return s.value; });
}
