// The layout of the process-wide string-vector pool, for string_vector.cpp and for tests that
// look inside it. Handles are issued in increasing order and never reused, yet the pool's memory
// follows the vectors in use, not the handles ever issued: records live in chunks of 256, and a
// chunk whose records are all freed and empty is released once no new handle can come from it.
// A handle whose chunk is gone reads as an empty vector; a push makes the chunk again, zeroed.
// The chunks present are found through a small open-addressing directory keyed by chunk number,
// so the directory too holds only chunks in use, however many handles were issued before.
// Invariants: a record with items null has len and capacity 0 (freed and empty); a chunk's live
// count is the number of its records with items allocated; every chunk in the directory except
// the newest (the one holding the last handle issued) and the idle one has live > 0; the
// directory is at most half full, and an entry sits on the probe path from its home slot
// (number & (capacity - 1)) with no empty slot between them.
#ifndef QOR_COLLECTIONS_STRING_VECTOR_POOL_H
#define QOR_COLLECTIONS_STRING_VECTOR_POOL_H

#include <stdint.h>

#include "core/internal.h"

// One string vector: capacity pointers at items (null while capacity is 0), len of them in use.
struct QorStrVec {
    QorString** items;
    int64_t len;
    int64_t capacity;
};

namespace qor::svec {

constexpr int kChunkShift = 8;
constexpr int64_t kChunkRecords = int64_t{1} << kChunkShift;

// The records of handles number × 256 to number × 256 + 255, and how many of them have items
// allocated. Records with no items are all zero bytes, so the memory of a released chunk can
// serve again without being cleared.
struct Chunk {
    int64_t number;
    int64_t live;
    QorStrVec records[kChunkRecords];
};

// A directory slot: chunk number and chunk, or kEmptySlot. An empty slot's number matches no
// chunk, so a slot whose number matches always holds its chunk.
struct DirSlot {
    int64_t number;
    Chunk* chunk;
};
constexpr DirSlot kEmptySlot{-1, nullptr};

}  // namespace qor::svec

// Handles 0 .. g_svec_pool_len - 1 have been issued. The directory has g_svec_dir_cap slots (a
// power of two, 0 before the first handle) holding g_svec_chunk_count chunks;
// g_svec_dir_home_mask is (g_svec_dir_cap - 1) × 16, see home_slot. One held chunk
// that became unused may stay as g_svec_idle_chunk until another takes its place, and the
// memory of one released chunk may wait in g_svec_spare_chunk for the next one made.
extern "C" {
QOR_INTERNAL extern int64_t g_svec_pool_len;
QOR_INTERNAL extern qor::svec::DirSlot* g_svec_dir;
QOR_INTERNAL extern int64_t g_svec_dir_cap;
QOR_INTERNAL extern uint64_t g_svec_dir_home_mask;
QOR_INTERNAL extern int64_t g_svec_chunk_count;
QOR_INTERNAL extern qor::svec::Chunk* g_svec_idle_chunk;
QOR_INTERNAL extern qor::svec::Chunk* g_svec_spare_chunk;
}

namespace qor::svec {

// The slot of chunk number n (n >= 0) in a directory of cap slots, or the empty slot where it
// would go.
inline uint64_t dir_slot(const DirSlot* dir, int64_t cap, int64_t n) {
    auto mask = static_cast<uint64_t>(cap - 1);
    uint64_t i = static_cast<uint64_t>(n) & mask;
    while (dir[i].chunk != nullptr && dir[i].number != n) i = (i + 1) & mask;
    return i;
}

// The chunk numbered n, or null when it is not held; the directory must exist.
inline Chunk* find_chunk_in_dir(int64_t n) {
    return g_svec_dir[dir_slot(g_svec_dir, g_svec_dir_cap, n)].chunk;
}

inline Chunk* find_chunk(int64_t n) { return g_svec_dir_cap == 0 ? nullptr : find_chunk_in_dir(n); }

// The home slot of the chunk holding handle, where most chunks are found, taken straight from
// the handle: its byte offset ((handle >> 8) & (cap - 1)) × 16 is (handle >> 4) & ((cap - 1)
// << 4), one shift and one mask.
inline const DirSlot* home_slot(int64_t handle) {
    static_assert(sizeof(DirSlot) == 16 && kChunkShift >= 4);
    uint64_t offset = (static_cast<uint64_t>(handle) >> (kChunkShift - 4)) & g_svec_dir_home_mask;
    return reinterpret_cast<const DirSlot*>(reinterpret_cast<const char*>(g_svec_dir) + offset);
}

// The record behind an issued handle, or null when the handle was never issued or its chunk is
// not held (then the vector is freed and empty). A handle was issued only after its chunk was
// made, so the directory exists.
inline QorStrVec* find_record(int64_t handle) {
    // One unsigned compare also turns away negative handles.
    if (static_cast<uint64_t>(handle) >= static_cast<uint64_t>(g_svec_pool_len)) return nullptr;
    int64_t n = handle >> kChunkShift;
    const DirSlot* slot = home_slot(handle);
    if (slot->number != n) {  // further along its probe run, or not held
        slot = &g_svec_dir[dir_slot(g_svec_dir, g_svec_dir_cap, n)];
        if (slot->number != n) return nullptr;
    }
    return &slot->chunk->records[handle & (kChunkRecords - 1)];
}

}  // namespace qor::svec

#endif  // QOR_COLLECTIONS_STRING_VECTOR_POOL_H
