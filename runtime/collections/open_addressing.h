// The open-addressing core under the integer map and the string-keyed map: linear probing over a
// power-of-two slot array with deleted markers, written once and parameterised by each map's
// record, slot, hash and key equality.
//
// Each table also keeps a private tag array in a trailer behind its public record: one byte per
// slot that mirrors the slot's state and, for an occupied slot, 7 bits of its key's hash. A probe
// reads 16 tags at a time and looks at a slot only when its tag matches, so keys that merely share
// a probe path are passed over without being read. Tags change nothing about where entries live:
// every entry sits exactly where one-slot-at-a-time linear probing would put it.
//
// A table whose keys are costly to hash again (strings, read through two pointers) also keeps the
// low 32 bits of each occupied slot's hash in the trailer, so growth moves entries without
// reading a single key.
//
// Invariants: tags[i] describes entries[i] for every slot; tags[capacity + k] == tags[k] for
// k < kGroup - 1, so a group read near the end wraps round to slot 0; hashes[i] holds the low
// bits of the hash of an occupied slot's key; count + deleted is the number of slots that are not
// empty. Records are made only by create(), which allocates the trailer.
#ifndef QOR_COLLECTIONS_OPEN_ADDRESSING_H
#define QOR_COLLECTIONS_OPEN_ADDRESSING_H

#include <emmintrin.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <cassert>
#include <cstddef>

#include "core/internal.h"

namespace qor::oa {

// Slot states as the public slot records spell them.
constexpr uint32_t kEmpty = 0;
constexpr uint32_t kOccupied = 1;
constexpr uint32_t kDeleted = 2;

// Tags: an occupied slot's tag is 7 hash bits (0..127); the two free states have the high bit set.
constexpr uint8_t kTagEmpty = 0x80;
constexpr uint8_t kTagDeleted = 0xFE;
constexpr int64_t kGroup = 16;

inline uint8_t tag_of(uint64_t hash) { return static_cast<uint8_t>(hash >> 57); }

// Sixteen consecutive tags; each query answers with one bit per slot, slot k at bit k.
class Group {
  public:
    explicit Group(const uint8_t* tags)
        : tags_(_mm_loadu_si128(reinterpret_cast<const __m128i*>(tags))) {}
    uint32_t matching(uint8_t tag) const {
        __m128i wanted = _mm_set1_epi8(static_cast<char>(tag));
        return static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(wanted, tags_)));
    }
    uint32_t empty() const { return matching(kTagEmpty); }
    // Empty or deleted: the slots an insert may take.
    uint32_t vacant() const { return static_cast<uint32_t>(_mm_movemask_epi8(tags_)); }

  private:
    __m128i tags_;
};

// Bits of the slots before the first empty one of a group: the part a probe still walks.
inline uint32_t before_first_empty(uint32_t empty) {
    return empty == 0 ? 0xFFFFu : (empty & (0u - empty)) - 1;
}

// The heap block behind a record: the public record first, then the private trailer.
template <typename Record>
struct Block {
    Record record;
    uint8_t* tags;     // capacity + kGroup - 1 bytes
    uint32_t* hashes;  // capacity hash words, or null when the keys are cheap to hash again
    int64_t deleted;   // slots in the deleted state
};

// A zero-filled array of n slots (release with free_slots), or null. Large arrays are dense big
// blocks: mapped with the huge-page hint, and kept when freed for the next table of their size,
// so a program that fills and frees large maps in turn keeps touching the same pages.
template <typename Slot>
Slot* zeroed_slots(int64_t n) {
    if (n <= 0 || static_cast<uint64_t>(n) > UINT64_MAX / sizeof(Slot)) return nullptr;
    return static_cast<Slot*>(qor::big_alloc(static_cast<uint64_t>(n) * sizeof(Slot), true));
}

template <typename Slot>
void free_slots(Slot* slots, int64_t n) {
    qor::big_free(slots, static_cast<uint64_t>(n) * sizeof(Slot));
}

// A tag array for n slots, all empty, or null.
inline uint8_t* empty_tags(int64_t n) {
    auto* tags = static_cast<uint8_t*>(malloc(static_cast<size_t>(n + kGroup - 1)));
    if (tags != nullptr) memset(tags, kTagEmpty, static_cast<size_t>(n + kGroup - 1));
    return tags;
}

// Traits supply:
//   using Record, Slot, Key;
//   static uint64_t hash(Key);              home slot = hash & (capacity - 1); tag from the top
//   static bool same_key(const Slot&, Key); key equality for an occupied slot
//   static Key key_of(const Slot&);
//   static constexpr bool kKeepsHashes;     keep hash words for growth (see above)
template <typename Traits>
class Table {
  public:
    using Record = typename Traits::Record;
    using Slot = typename Traits::Slot;
    using Key = typename Traits::Key;

    // Where an insert goes: the slot of the live equal key (found), else the first empty or
    // deleted slot of the path, else -1 when every slot is occupied by other keys.
    struct Spot {
        int64_t index;
        bool found;
    };

    // A new empty record of capacity slots (a power of two), or null when memory is short.
    static Record* create(int64_t capacity) {
        auto* block = static_cast<Block<Record>*>(malloc(sizeof(Block<Record>)));
        if (block == nullptr) return nullptr;
        block->record.entries = zeroed_slots<Slot>(capacity);
        block->tags = empty_tags(capacity);
        block->hashes = hash_words(capacity);
        if (block->record.entries == nullptr || block->tags == nullptr ||
            (Traits::kKeepsHashes && block->hashes == nullptr)) {
            free_slots(block->record.entries, capacity);
            free(block->tags);
            free(block->hashes);
            free(block);
            return nullptr;
        }
        block->record.count = 0;
        block->record.capacity = capacity;
        block->deleted = 0;
        return &block->record;
    }

    static void destroy(Record* map) {
        Block<Record>* block = block_of(map);
        free_slots(map->entries, map->capacity);
        free(block->tags);
        free(block->hashes);
        free(block);
    }

    // Index of the occupied slot holding key, or -1. Walks the path to its first empty slot.
    static int64_t find(const Record* map, Key key, uint64_t hash) {
        Spot spot = locate(map, key, hash);
        return spot.found ? spot.index : -1;
    }

    // Looks along the whole path (to its first empty slot) for a live equal key before settling
    // on the first free slot it passed, so a key never gets a second live entry after removals.
    static Spot locate(const Record* map, Key key, uint64_t hash) {
        const uint8_t* tags = block_of(map)->tags;
        uint64_t mask = static_cast<uint64_t>(map->capacity - 1);
        uint8_t tag = tag_of(hash);
        uint64_t i = hash & mask;
        // Most keys sit at or just after their home slot: start fetching it while the tags load.
        __builtin_prefetch(&map->entries[i]);
        int64_t target = -1;
        for (int64_t seen = 0; seen < map->capacity; seen += kGroup, i = (i + kGroup) & mask) {
            Group g(tags + i);
            uint32_t empty = g.empty();
            for (uint32_t m = g.matching(tag) & before_first_empty(empty); m != 0; m &= m - 1) {
                uint64_t j = (i + static_cast<unsigned>(__builtin_ctz(m))) & mask;
                if (Traits::same_key(map->entries[j], key)) return {static_cast<int64_t>(j), true};
            }
            uint32_t free_slots = g.vacant();
            if (target < 0 && free_slots != 0) {
                target = static_cast<int64_t>(
                    (i + static_cast<unsigned>(__builtin_ctz(free_slots))) & mask);
            }
            if (empty != 0) break;
        }
        return {target, false};
    }

    // Stores value under key: a live equal key gets the new value and its previous one is
    // returned; otherwise a new entry takes the first free slot of the path and the result is 0
    // (also when every slot holds another key, and nothing is stored).
    template <typename StoredKey>
    static int64_t put(Record* map, StoredKey key, int64_t value, uint64_t hash) {
        Spot spot = locate(map, key, hash);
        if (spot.found) {
            int64_t previous = map->entries[spot.index].value;
            map->entries[spot.index].value = value;
            return previous;
        }
        if (spot.index >= 0) occupy(map, spot.index, key, value, hash);
        return 0;
    }

    // Stores a new entry in the free slot at index (from locate). The key is taken as the slot
    // stores it (a string key is looked up through a const pointer but stored without const).
    template <typename StoredKey>
    static void occupy(Record* map, int64_t index, StoredKey key, int64_t value, uint64_t hash) {
        Slot& s = map->entries[index];
        if (s.state == kDeleted) block_of(map)->deleted--;
        s.key = key;
        s.value = value;
        s.state = kOccupied;
        set_tag(map, index, tag_of(hash));
        if constexpr (Traits::kKeepsHashes)
            block_of(map)->hashes[index] = static_cast<uint32_t>(hash);
        map->count++;
    }

    // Marks the occupied slot at index deleted; its key and value words stay as they were.
    static void erase(Record* map, int64_t index) {
        map->entries[index].state = kDeleted;
        set_tag(map, index, kTagDeleted);
        block_of(map)->deleted++;
        map->count--;
    }

    // Once live plus deleted slots pass 70 % of the table, rebuilds it at the same capacity so
    // that deleted slots stop lengthening every path. Waits until at least 1/16 of the slots are
    // deleted, so that churn near the limit pays for one rebuild with many removals. A rebuild
    // that cannot get memory is skipped: every entry stays, and deleted slots still take new
    // ones.
    static void reclaim_deleted(Record* map) {
        int64_t deleted = block_of(map)->deleted;
        if ((map->count + deleted) * 10 > map->capacity * 7 && deleted * 16 >= map->capacity) {
            rehash(map, map->capacity);
        }
    }

    // Moves every occupied slot, in slot order, to the first empty slot of its path in a fresh
    // array of new_capacity slots; deleted slots are dropped. When memory is short the table
    // stays as it was and the byte size of the refused request is returned; 0 on success.
    static uint64_t rehash(Record* map, int64_t new_capacity) {
        Slot* fresh = zeroed_slots<Slot>(new_capacity);
        uint8_t* fresh_tags = empty_tags(new_capacity);
        uint32_t* fresh_hashes = hash_words(new_capacity);
        if (fresh == nullptr || fresh_tags == nullptr ||
            (Traits::kKeepsHashes && fresh_hashes == nullptr)) {
            auto n = static_cast<uint64_t>(new_capacity);
            uint64_t refused = fresh == nullptr        ? qor::bytes_for(n, sizeof(Slot))
                               : fresh_tags == nullptr ? n + kGroup - 1
                                                       : qor::bytes_for(n, sizeof(uint32_t));
            free_slots(fresh, new_capacity);
            free(fresh_tags);
            free(fresh_hashes);
            return refused;
        }
        Block<Record>* block = block_of(map);
        uint64_t mask = static_cast<uint64_t>(new_capacity - 1);
        // The kept words hold enough bits for any table of up to 2^32 slots.
        bool kept = Traits::kKeepsHashes && mask <= UINT32_MAX;
        const Slot* old = map->entries;
        [[maybe_unused]] int64_t moved = 0;
        for (int64_t i = 0; i < map->capacity; i++) {
            if (old[i].state != kOccupied) continue;
            uint64_t hash = kept ? block->hashes[i] : Traits::hash(Traits::key_of(old[i]));
            uint8_t tag = kept ? block->tags[i] : tag_of(hash);
            uint64_t j = hash & mask;
            while (true) {
                uint32_t empty = Group(fresh_tags + j).empty();
                if (empty != 0) {
                    j = (j + static_cast<unsigned>(__builtin_ctz(empty))) & mask;
                    break;
                }
                j = (j + kGroup) & mask;
            }
            fresh[j] = old[i];
            set_tag(fresh_tags, new_capacity, static_cast<int64_t>(j), tag);
            if constexpr (Traits::kKeepsHashes) fresh_hashes[j] = static_cast<uint32_t>(hash);
            moved++;
        }
        assert(moved == map->count);
        free_slots(map->entries, map->capacity);
        free(block->tags);
        free(block->hashes);
        map->entries = fresh;
        map->capacity = new_capacity;
        block->tags = fresh_tags;
        block->hashes = fresh_hashes;
        block->deleted = 0;
        return 0;
    }

  private:
    // The hash words of a new table, or null when this kind of table keeps none.
    static uint32_t* hash_words(int64_t n) {
        if constexpr (!Traits::kKeepsHashes) return nullptr;
        return static_cast<uint32_t*>(malloc(static_cast<size_t>(n) * sizeof(uint32_t)));
    }

    static Block<Record>* block_of(Record* map) { return reinterpret_cast<Block<Record>*>(map); }
    static const Block<Record>* block_of(const Record* map) {
        return reinterpret_cast<const Block<Record>*>(map);
    }

    // Writes a tag and, for the first kGroup - 1 slots, its mirror past the end.
    static void set_tag(uint8_t* tags, int64_t capacity, int64_t index, uint8_t tag) {
        tags[index] = tag;
        tags[((index - (kGroup - 1)) & (capacity - 1)) + (kGroup - 1)] = tag;
    }
    static void set_tag(Record* map, int64_t index, uint8_t tag) {
        set_tag(block_of(map)->tags, map->capacity, index, tag);
    }
};

}  // namespace qor::oa

#endif  // QOR_COLLECTIONS_OPEN_ADDRESSING_H
