// The integer hash map: open addressing with linear probing over a fixed table of 131072 slots
// (never grown, never rehashed), with deleted markers left by remove.
// Invariants: count is the number of occupied slots; a key has at most one occupied slot, and
// that slot lies on the key's probe path before any empty slot, so lookups stop at the first
// empty slot they meet.
#include <stdlib.h>

#include <cstddef>

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
// a & (kCapacity - 1) == a % kCapacity, since kCapacity is a power of two.
constexpr uint64_t kMask = kCapacity - 1;
constexpr int64_t kAbsent = INT64_MIN;

enum SlotState : uint32_t { kEmpty = 0, kOccupied = 1, kDeleted = 2 };

uint64_t home_slot(int64_t key) {
    uint64_t h = static_cast<uint64_t>(key) * 0x517cc1b727220a95ULL;
    h ^= h >> 32;
    return h & kMask;
}

// The occupied slot holding key, or null. Deleted slots are passed over; an empty one ends
// the search.
QorIntMapSlot* find(const QorIntMap* map, int64_t key) {
    uint64_t i = home_slot(key);
    for (int64_t probed = 0; probed < kCapacity; probed++, i = (i + 1) & kMask) {
        QorIntMapSlot* s = &map->entries[i];
        if (s->state == kEmpty) return nullptr;
        if (s->state == kOccupied && s->key == key) return s;
    }
    return nullptr;
}

// A new vector of one field of every occupied slot, in slot order.
template <typename Field>
QorVec* list_slots(const QorIntMap* map, Field field) {
    QorVec* v = qor_vec_new();
    if (map == nullptr) return v;
    for (int64_t i = 0; i < kCapacity; i++) {
        const QorIntMapSlot& s = map->entries[i];
        if (s.state == kOccupied) qor_vec_push(v, field(s));
    }
    return v;
}

}  // namespace

extern "C" QOR_API QorIntMap* hashmap_new(void) {
    auto* map = static_cast<QorIntMap*>(malloc(sizeof(QorIntMap)));
    if (map == nullptr) return nullptr;
    map->entries = static_cast<QorIntMapSlot*>(calloc(kCapacity, sizeof(QorIntMapSlot)));
    if (map->entries == nullptr) {
        free(map);
        return nullptr;
    }
    map->count = 0;
    map->capacity = kCapacity;
    return map;
}

// The probe walks on to the first empty slot looking for a live entry of the key before it
// settles on the first deleted slot it passed, so a key never gets a second live entry after
// removals. A table with neither a match nor a free slot stores nothing.
extern "C" QOR_API int64_t hashmap_insert(QorIntMap* map, int64_t key, int64_t value) {
    if (map == nullptr) return 0;
    QorIntMapSlot* target = nullptr;
    uint64_t i = home_slot(key);
    for (int64_t probed = 0; probed < kCapacity; probed++, i = (i + 1) & kMask) {
        QorIntMapSlot* s = &map->entries[i];
        if (s->state == kEmpty) {
            if (target == nullptr) target = s;
            break;
        }
        if (s->state == kOccupied && s->key == key) {
            int64_t old = s->value;
            s->value = value;
            return old;
        }
        if (s->state == kDeleted && target == nullptr) target = s;
    }
    if (target == nullptr) return 0;
    target->key = key;
    target->value = value;
    target->state = kOccupied;
    map->count++;
    return 0;
}

extern "C" QOR_API int64_t hashmap_get(const QorIntMap* map, int64_t key) {
    if (map == nullptr) return kAbsent;
    const QorIntMapSlot* s = find(map, key);
    return s == nullptr ? kAbsent : s->value;
}

extern "C" QOR_API int64_t hashmap_contains(const QorIntMap* map, int64_t key) {
    return map != nullptr && find(map, key) != nullptr;
}

extern "C" QOR_API int64_t hashmap_remove(QorIntMap* map, int64_t key) {
    if (map == nullptr) return kAbsent;
    QorIntMapSlot* s = find(map, key);
    if (s == nullptr) return kAbsent;
    s->state = kDeleted;
    map->count--;
    return s->value;
}

extern "C" QOR_API int64_t hashmap_len(const QorIntMap* map) {
    return map == nullptr ? 0 : map->count;
}

extern "C" QOR_API void hashmap_free(QorIntMap* map) {
    if (map == nullptr) return;
    free(map->entries);
    free(map);
}

extern "C" QOR_API QorVec* hashmap_keys(const QorIntMap* map) {
    return list_slots(map, [](const QorIntMapSlot& s) { return s.key; });
}

extern "C" QOR_API QorVec* hashmap_values(const QorIntMap* map) {
    return list_slots(map, [](const QorIntMapSlot& s) { return s.value; });
}
