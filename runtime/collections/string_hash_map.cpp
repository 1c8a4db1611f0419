// The string-keyed hash map: open addressing with linear probing over one contiguous slot array,
// deleted-slot markers left by remove, and doubling growth once more than 70 % of the slots are
// occupied. Keys are borrowed record pointers; the record and slots live on the process heap.
// Invariants: capacity is a power of two, so (h & (capacity - 1)) == h % capacity; an empty slot
// ends every probe path, so a key is never stored beyond the first empty slot of its path, and
// insert never leaves two live entries for one key.
#include <stdlib.h>
#include <sys/mman.h>

#include <cstddef>

#include "core/internal.h"

static_assert(sizeof(QorStrHashSlot) == 24);
static_assert(offsetof(QorStrHashSlot, key) == 0);
static_assert(offsetof(QorStrHashSlot, value) == 8);
static_assert(offsetof(QorStrHashSlot, state) == 16);
static_assert(sizeof(QorStrHashMap) == 24);
static_assert(offsetof(QorStrHashMap, entries) == 0);
static_assert(offsetof(QorStrHashMap, count) == 8);
static_assert(offsetof(QorStrHashMap, capacity) == 16);

namespace {

constexpr int64_t kInitialCapacity = 4096;
// How many slots ahead growth prefetches key records, and then their bytes.
constexpr int64_t kRecordLead = 16;
constexpr int64_t kBytesLead = 8;
constexpr size_t kHugePage = size_t{2} << 20;

// FNV-1a of the key's bytes folded with its own upper half; NULL keys live at home slot 0.
// A key with no bytes to read (len <= 0, or no buffer) hashes as the empty string.
uint64_t folded_hash(const QorString* key) {
    uint64_t h = qor::kFnvOffsetBasis;
    if (key->len > 0 && key->data != nullptr) h = qor::fnv1a(key->data, key->len);
    return h ^ (h >> 32);
}

uint64_t home_slot(const QorString* key, int64_t capacity) {
    if (key == nullptr) return 0;
    return folded_hash(key) & static_cast<uint64_t>(capacity - 1);
}

// Same pointer, or both present with equal len and equal bytes. Bytes are compared only between
// keys of equal len, and never through a missing buffer.
bool keys_equal(const QorString* a, const QorString* b) {
    if (a == b) return true;
    if (a == nullptr || b == nullptr || a->len != b->len) return false;
    if (a->len <= 0) return true;
    if (a->data == nullptr || b->data == nullptr) return false;
    return memcmp(a->data, b->data, static_cast<size_t>(a->len)) == 0;
}

// The occupied slot holding key, or null. Stops at the first empty slot of the path.
QorStrHashSlot* find_slot(const QorStrHashMap* map, const QorString* key) {
    uint64_t mask = static_cast<uint64_t>(map->capacity - 1);
    uint64_t i = home_slot(key, map->capacity);
    for (int64_t probed = 0; probed < map->capacity; probed++, i = (i + 1) & mask) {
        QorStrHashSlot* slot = &map->entries[i];
        if (slot->state == QOR_STR_SLOT_EMPTY) return nullptr;
        if (slot->state == QOR_STR_SLOT_OCCUPIED && keys_equal(slot->key, key)) return slot;
    }
    return nullptr;
}

// A zero-filled array of n slots on the process heap (release with free). Arrays of 2 MiB and
// more are aligned to 2 MiB and marked for huge pages, so that filling a grown table takes one
// page fault per 2 MiB instead of one per 4 KiB.
QorStrHashSlot* zeroed_slots(int64_t n) {
    size_t bytes = static_cast<size_t>(n) * sizeof(QorStrHashSlot);
    if (bytes / sizeof(QorStrHashSlot) != static_cast<size_t>(n)) return nullptr;
    if (bytes < kHugePage) {
        return static_cast<QorStrHashSlot*>(calloc(static_cast<size_t>(n), sizeof(QorStrHashSlot)));
    }
    size_t rounded = (bytes + kHugePage - 1) & ~(kHugePage - 1);
    void* p = aligned_alloc(kHugePage, rounded);
    if (p == nullptr) return nullptr;
    madvise(p, rounded, MADV_HUGEPAGE);
    memset(p, 0, bytes);
    return static_cast<QorStrHashSlot*>(p);
}

// Doubles the slot array, re-placing every occupied slot in slot order and dropping deleted
// ones. When the new array cannot be had the map stays as it was.
void grow(QorStrHashMap* map) {
    int64_t new_capacity = map->capacity * 2;
    QorStrHashSlot* fresh = zeroed_slots(new_capacity);
    if (fresh == nullptr) return;
    uint64_t mask = static_cast<uint64_t>(new_capacity - 1);
    const QorStrHashSlot* entries = map->entries;
    for (int64_t i = 0; i < map->capacity; i++) {
        // Rehashing reads every key record and its bytes, scattered over the heap: fetch the
        // records a few slots ahead, and the bytes of records fetched earlier.
        if (i + kRecordLead < map->capacity &&
            entries[i + kRecordLead].state == QOR_STR_SLOT_OCCUPIED) {
            __builtin_prefetch(entries[i + kRecordLead].key);
        }
        if (i + kBytesLead < map->capacity &&
            entries[i + kBytesLead].state == QOR_STR_SLOT_OCCUPIED &&
            entries[i + kBytesLead].key != nullptr) {
            __builtin_prefetch(entries[i + kBytesLead].key->data);
        }
        const QorStrHashSlot& old = entries[i];
        if (old.state != QOR_STR_SLOT_OCCUPIED) continue;
        uint64_t j = home_slot(old.key, new_capacity);
        while (fresh[j].state == QOR_STR_SLOT_OCCUPIED) j = (j + 1) & mask;
        fresh[j] = old;
    }
    free(map->entries);
    map->entries = fresh;
    map->capacity = new_capacity;
}

// Appends the key pointer or the value of every occupied slot, in slot order.
QorVec* list_slots(const QorStrHashMap* map, bool keys) {
    QorVec* out = qor_vec_new();
    if (map == nullptr || out == nullptr) return out;
    for (int64_t i = 0; i < map->capacity; i++) {
        const QorStrHashSlot& slot = map->entries[i];
        if (slot.state != QOR_STR_SLOT_OCCUPIED) continue;
        qor_vec_push(out, keys ? reinterpret_cast<int64_t>(slot.key) : slot.value);
    }
    return out;
}

}  // namespace

extern "C" QOR_API QorStrHashMap* qor_str_hashmap_new(void) {
    auto* map = static_cast<QorStrHashMap*>(malloc(sizeof(QorStrHashMap)));
    if (map == nullptr) return nullptr;
    map->entries = static_cast<QorStrHashSlot*>(calloc(kInitialCapacity, sizeof(QorStrHashSlot)));
    if (map->entries == nullptr) {
        free(map);
        return nullptr;
    }
    map->count = 0;
    map->capacity = kInitialCapacity;
    return map;
}

// Looks along the whole probe path (up to its first empty slot) for a live equal key before
// reusing the first deleted slot met, so a key removed and stored again never shadows or
// duplicates a live entry further along. Returns 0 also when no slot could be found, which
// happens only when the table is full and growth failed.
extern "C" QOR_API int64_t qor_str_hashmap_insert(QorStrHashMap* map, QorString* key,
                                                  int64_t value) {
    if (map == nullptr) return 0;
    if (map->count * 10 > map->capacity * 7) grow(map);
    uint64_t mask = static_cast<uint64_t>(map->capacity - 1);
    uint64_t i = home_slot(key, map->capacity);
    QorStrHashSlot* target = nullptr;
    for (int64_t probed = 0; probed < map->capacity; probed++, i = (i + 1) & mask) {
        QorStrHashSlot* slot = &map->entries[i];
        if (slot->state == QOR_STR_SLOT_OCCUPIED) {
            if (!keys_equal(slot->key, key)) continue;
            int64_t previous = slot->value;
            slot->value = value;
            return previous;
        }
        if (target == nullptr) target = slot;
        if (slot->state == QOR_STR_SLOT_EMPTY) break;
    }
    if (target == nullptr) return 0;
    target->key = key;
    target->value = value;
    target->state = QOR_STR_SLOT_OCCUPIED;
    map->count++;
    return 0;
}

extern "C" QOR_API int64_t qor_str_hashmap_get(const QorStrHashMap* map, const QorString* key) {
    if (map == nullptr) return 0;
    const QorStrHashSlot* slot = find_slot(map, key);
    return slot == nullptr ? 0 : slot->value;
}

extern "C" QOR_API int64_t qor_str_hashmap_contains(const QorStrHashMap* map,
                                                    const QorString* key) {
    if (map == nullptr) return 0;
    return find_slot(map, key) != nullptr;
}

// The slot keeps its key and value words; only its state says they are gone.
extern "C" QOR_API int64_t qor_str_hashmap_remove(QorStrHashMap* map, const QorString* key) {
    if (map == nullptr) return 0;
    QorStrHashSlot* slot = find_slot(map, key);
    if (slot == nullptr) return 0;
    slot->state = QOR_STR_SLOT_DELETED;
    map->count--;
    return slot->value;
}

extern "C" QOR_API int64_t qor_str_hashmap_len(const QorStrHashMap* map) {
    return map == nullptr ? 0 : map->count;
}

// The prefixed and plain names differ only in the result: 0 here, nothing for the plain one.
extern "C" QOR_API int64_t qor_str_hashmap_free(QorStrHashMap* map) {
    if (map == nullptr) return 0;
    free(map->entries);
    free(map);
    return 0;
}

extern "C" QOR_API void str_hashmap_free(QorStrHashMap* map) { qor_str_hashmap_free(map); }

extern "C" QOR_API QorVec* qor_str_hashmap_values(const QorStrHashMap* map) {
    return list_slots(map, false);
}

// Key pointers, not copies: the listing stays valid only as long as the keys do.
extern "C" QOR_API QorVec* str_hashmap_keys(const QorStrHashMap* map) {
    return list_slots(map, true);
}

extern "C" QOR_API int64_t qor_str_hashmap_inc(QorStrHashMap* map, QorString* key, int64_t delta) {
    uint64_t sum =
        static_cast<uint64_t>(qor_str_hashmap_get(map, key)) + static_cast<uint64_t>(delta);
    qor_str_hashmap_insert(map, key, static_cast<int64_t>(sum));
    return 0;
}

extern "C" QOR_API int64_t qor_str_hashmap_update(QorStrHashMap* map, QorString* key,
                                                  int64_t value) {
    qor_str_hashmap_insert(map, key, value);
    return 0;
}

QOR_PLAIN_ALIAS(str_hashmap_new, qor_str_hashmap_new);
QOR_PLAIN_ALIAS(str_hashmap_insert, qor_str_hashmap_insert);
QOR_PLAIN_ALIAS(str_hashmap_get, qor_str_hashmap_get);
QOR_PLAIN_ALIAS(str_hashmap_contains, qor_str_hashmap_contains);
QOR_PLAIN_ALIAS(str_hashmap_remove, qor_str_hashmap_remove);
QOR_PLAIN_ALIAS(str_hashmap_len, qor_str_hashmap_len);
QOR_PLAIN_ALIAS(str_hashmap_values, qor_str_hashmap_values);
