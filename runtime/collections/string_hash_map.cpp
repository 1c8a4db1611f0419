// The string-keyed hash map: open addressing with linear probing over one contiguous slot array,
// deleted-slot markers left by remove, and doubling growth once more than 70 % of the slots are
// occupied, on the shared core of open_addressing.h. Keys are borrowed record pointers; the
// record and slots live on the process heap. Also here: the key listings into string vectors.
// Invariants: capacity is a power of two, so (h & (capacity - 1)) == h % capacity; an empty slot
// ends every probe path, so a key is never stored beyond the first empty slot of its path, and
// insert never leaves two live entries for one key.
#include <stdlib.h>

#include <algorithm>
#include <cstddef>

#include "collections/open_addressing.h"
#include "core/internal.h"

static_assert(sizeof(QorStrHashSlot) == 24);
static_assert(offsetof(QorStrHashSlot, key) == 0);
static_assert(offsetof(QorStrHashSlot, value) == 8);
static_assert(offsetof(QorStrHashSlot, state) == 16);
static_assert(sizeof(QorStrHashMap) == 24);
static_assert(offsetof(QorStrHashMap, entries) == 0);
static_assert(offsetof(QorStrHashMap, count) == 8);
static_assert(offsetof(QorStrHashMap, capacity) == 16);
static_assert(QOR_STR_SLOT_EMPTY == qor::oa::kEmpty &&
              QOR_STR_SLOT_OCCUPIED == qor::oa::kOccupied &&
              QOR_STR_SLOT_DELETED == qor::oa::kDeleted);

namespace {

constexpr int64_t kInitialCapacity = 4096;

struct StringKeys {
    using Record = QorStrHashMap;
    using Slot = QorStrHashSlot;
    using Key = const QorString*;

    // FNV-1a of the key's bytes folded with its own upper half; NULL keys live at home slot 0.
    // A key with no bytes to read (len <= 0, or no buffer) hashes as the empty string.
    static uint64_t hash(const QorString* key) {
        if (key == nullptr) return 0;
        uint64_t h = qor::kFnvOffsetBasis;
        if (key->len > 0 && key->data != nullptr) h = qor::fnv1a(key->data, key->len);
        return h ^ (h >> 32);
    }

    // Same pointer, or both present with equal len and equal bytes. Bytes are compared only
    // between keys of equal len, and never through a missing buffer.
    static bool same_key(const QorStrHashSlot& slot, const QorString* key) {
        const QorString* a = slot.key;
        if (a == key) return true;
        if (a == nullptr || key == nullptr || a->len != key->len) return false;
        if (a->len <= 0) return true;
        if (a->data == nullptr || key->data == nullptr) return false;
        return qor::same_bytes(a->data, key->data, a->len);
    }

    static const QorString* key_of(const QorStrHashSlot& slot) { return slot.key; }

    // Hashing again would read every key record and its bytes, scattered over the heap.
    static constexpr bool kKeepsHashes = true;
};

using Table = qor::oa::Table<StringKeys>;

// The growth check every insert, inc and update makes first: past 70 % occupied slots the table
// doubles, dropping deleted slots. Growth that cannot get memory stops the process: going on in
// the old table would fill it and then lose the keys that no longer fit, each reported as
// stored. Below that, a table whose deleted slots have filled it up is rebuilt at the same
// capacity.
void make_room(QorStrHashMap* map) {
    if (map->count * 10 > map->capacity * 7) {
        uint64_t refused = Table::rehash(map, map->capacity * 2);
        if (refused != 0) qor::out_of_memory(refused);
    } else {
        Table::reclaim_deleted(map);
    }
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

void push_in_slot_order(const QorStrHashMap* map, int64_t handle) {
    for (int64_t i = 0; i < map->capacity; i++) {
        const QorStrHashSlot& slot = map->entries[i];
        if (slot.state == QOR_STR_SLOT_OCCUPIED) qor::svec_append_or_stop(handle, slot.key);
    }
}

// A key with its first 8 bytes read as a big-endian number, zero-padded: when two prefixes
// differ they order the keys as the full byte comparison (shorter first on a tie) would.
struct SortEntry {
    uint64_t prefix;
    QorString* key;
};

uint64_t prefix_of(const QorString* s) {
    unsigned char bytes[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    memcpy(bytes, s->data, static_cast<size_t>(s->len < 8 ? s->len : 8));
    uint64_t p = 0;
    for (unsigned char b : bytes) p = (p << 8) | b;
    return p;
}

// Unsigned bytes, then the shorter first: the string vector's order for present keys.
bool key_before(const SortEntry& a, const SortEntry& b) {
    if (a.prefix != b.prefix) return a.prefix < b.prefix;
    int64_t common = std::min(a.key->len, b.key->len);
    if (common > 8) {
        int c = memcmp(a.key->data + 8, b.key->data + 8, static_cast<size_t>(common - 8));
        if (c != 0) return c < 0;
    }
    return a.key->len < b.key->len;
}

// Pushes the occupied slots' keys in sorted order: the null key (there is at most one) first,
// then by bytes. Keys are distinct, so the order is the one qor_svec_sort gives. Returns false,
// pushing nothing, when some key is a record without bytes to read (or the scratch array cannot
// be had): the caller then lists and sorts the general way.
bool push_sorted(const QorStrHashMap* map, int64_t handle) {
    auto* entries =
        static_cast<SortEntry*>(malloc(static_cast<size_t>(map->count + 1) * sizeof(SortEntry)));
    if (entries == nullptr) return false;
    int64_t n = 0;
    bool has_null = false;
    for (int64_t i = 0; i < map->capacity; i++) {
        const QorStrHashSlot& slot = map->entries[i];
        if (slot.state != QOR_STR_SLOT_OCCUPIED) continue;
        QorString* key = slot.key;
        if (key == nullptr) {
            has_null = true;
            continue;
        }
        if (key->data == nullptr || key->len < 0) {
            free(entries);
            return false;
        }
        entries[n++] = SortEntry{prefix_of(key), key};
    }
    std::sort(entries, entries + n, key_before);
    if (has_null) qor::svec_append_or_stop(handle, nullptr);
    for (int64_t i = 0; i < n; i++) qor::svec_append_or_stop(handle, entries[i].key);
    free(entries);
    return true;
}

}  // namespace

extern "C" QOR_API QorStrHashMap* qor_str_hashmap_new(void) {
    return Table::create(kInitialCapacity);
}

// Looks along the whole probe path (up to its first empty slot) for a live equal key before
// reusing the first deleted slot met, so a key removed and stored again never shadows or
// duplicates a live entry further along. Growth keeps the table at most 70 % full, so a new key
// always finds a slot.
extern "C" QOR_API int64_t qor_str_hashmap_insert(QorStrHashMap* map, QorString* key,
                                                  int64_t value) {
    if (map == nullptr) return 0;
    make_room(map);
    return Table::put(map, key, value, StringKeys::hash(key));
}

extern "C" QOR_API int64_t qor_str_hashmap_get(const QorStrHashMap* map, const QorString* key) {
    if (map == nullptr) return 0;
    int64_t i = Table::find(map, key, StringKeys::hash(key));
    return i < 0 ? 0 : map->entries[i].value;
}

extern "C" QOR_API int64_t qor_str_hashmap_contains(const QorStrHashMap* map,
                                                    const QorString* key) {
    if (map == nullptr) return 0;
    return Table::find(map, key, StringKeys::hash(key)) >= 0;
}

// The slot keeps its key and value words; only its state says they are gone.
extern "C" QOR_API int64_t qor_str_hashmap_remove(QorStrHashMap* map, const QorString* key) {
    if (map == nullptr) return 0;
    int64_t i = Table::find(map, key, StringKeys::hash(key));
    if (i < 0) return 0;
    Table::erase(map, i);
    return map->entries[i].value;
}

extern "C" QOR_API int64_t qor_str_hashmap_len(const QorStrHashMap* map) {
    return map == nullptr ? 0 : map->count;
}

// The prefixed and plain names differ only in the result: 0 here, nothing for the plain one.
extern "C" QOR_API int64_t qor_str_hashmap_free(QorStrHashMap* map) {
    if (map != nullptr) Table::destroy(map);
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

// One probe: the same growth check as insert, then the entry's value moves by delta with
// two's-complement wrap-around, or a new entry holds delta (a missing key counts as 0).
extern "C" QOR_API int64_t qor_str_hashmap_inc(QorStrHashMap* map, QorString* key, int64_t delta) {
    if (map == nullptr) return 0;
    make_room(map);
    uint64_t hash = StringKeys::hash(key);
    Table::Spot spot = Table::locate(map, key, hash);
    if (spot.found) {
        int64_t& value = map->entries[spot.index].value;
        value = static_cast<int64_t>(static_cast<uint64_t>(value) + static_cast<uint64_t>(delta));
    } else if (spot.index >= 0) {
        Table::occupy(map, spot.index, key, delta, hash);
    }
    return 0;
}

extern "C" QOR_API int64_t qor_str_hashmap_update(QorStrHashMap* map, QorString* key,
                                                  int64_t value) {
    qor_str_hashmap_insert(map, key, value);
    return 0;
}

// The map's key pointers (not copies) in slot order, the order of str_hashmap_keys, in a new
// string vector; -1, with the map untouched, when the pool cannot grow.
extern "C" QOR_API int64_t qor_str_hashmap_keys(const QorStrHashMap* map) {
    int64_t handle = qor_svec_new();
    if (handle >= 0 && map != nullptr) push_in_slot_order(map, handle);
    return handle;
}

// The same keys in the order of qor_svec_sort: null first, then unsigned bytes, then shorter.
extern "C" QOR_API int64_t qor_str_hashmap_sorted_keys(const QorStrHashMap* map) {
    int64_t handle = qor_svec_new();
    if (handle < 0 || map == nullptr || push_sorted(map, handle)) return handle;
    push_in_slot_order(map, handle);
    qor_svec_sort(handle);
    return handle;
}

QOR_PLAIN_ALIAS(str_hashmap_new, qor_str_hashmap_new);
QOR_PLAIN_ALIAS(str_hashmap_insert, qor_str_hashmap_insert);
QOR_PLAIN_ALIAS(str_hashmap_get, qor_str_hashmap_get);
QOR_PLAIN_ALIAS(str_hashmap_contains, qor_str_hashmap_contains);
QOR_PLAIN_ALIAS(str_hashmap_remove, qor_str_hashmap_remove);
QOR_PLAIN_ALIAS(str_hashmap_len, qor_str_hashmap_len);
QOR_PLAIN_ALIAS(str_hashmap_values, qor_str_hashmap_values);
