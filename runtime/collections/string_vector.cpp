// The process-wide pool of string vectors and the operations that fill new ones: splitting text
// by a separator, into words and into lines. (A string hash map's key listings, which also fill
// new string vectors, live beside the map in string_hash_map.cpp.)
// A string vector is named by its handle. Handles are issued in increasing order and never
// reused: freeing a vector empties it but keeps its handle valid. The pool's memory follows the
// vectors in use rather than the handles issued (see string_vector_pool.h): records live in
// chunks of 256 that are released once all their records are freed and empty, so a program that
// splits and frees forever runs in bounded memory. Vectors hold borrowed string pointers; the
// pieces made by splitting come from qor_alloc, the chunks, directory and pointer arrays from the
// heap. Nothing here is locked: callers on several threads serialise every use of the pool.
#include <emmintrin.h>
#include <stdlib.h>

#include <cassert>
#include <cstddef>

#include "collections/string_vector_pool.h"
#include "core/internal.h"
#include "text/byte_scan.h"

static_assert(sizeof(QorStrVec) == 24);
static_assert(offsetof(QorStrVec, items) == 0);
static_assert(offsetof(QorStrVec, len) == 8);
static_assert(offsetof(QorStrVec, capacity) == 16);

extern "C" {
QOR_INTERNAL int64_t g_svec_pool_len = 0;
QOR_INTERNAL qor::svec::DirSlot* g_svec_dir = nullptr;
QOR_INTERNAL int64_t g_svec_dir_cap = 0;
QOR_INTERNAL uint64_t g_svec_dir_home_mask = 0;
QOR_INTERNAL int64_t g_svec_chunk_count = 0;
QOR_INTERNAL qor::svec::Chunk* g_svec_idle_chunk = nullptr;
QOR_INTERNAL qor::svec::Chunk* g_svec_spare_chunk = nullptr;
}

namespace {

using qor::svec::Chunk;
using qor::svec::dir_slot;
using qor::svec::DirSlot;
using qor::svec::find_chunk;
using qor::svec::kChunkRecords;
using qor::svec::kChunkShift;

constexpr int64_t kFirstDirCap = 16;
constexpr int64_t kFirstItemsCap = 8;

QorStrVec* lookup(int64_t handle) { return qor::svec::find_record(handle); }

int64_t chunk_number(int64_t handle) { return handle >> kChunkShift; }

// The chunk of the last handle issued: new handles come from it, so it is kept even when empty.
bool is_newest(int64_t number) {
    return g_svec_pool_len > 0 && number == chunk_number(g_svec_pool_len - 1);
}

// Keeps the directory at most half full, doubling it first when one more chunk would pass that;
// false, with the directory untouched, when the larger one cannot be had (its byte size at
// *refused).
bool dir_has_room(uint64_t* refused) {
    if ((g_svec_chunk_count + 1) * 2 <= g_svec_dir_cap) return true;
    int64_t cap = g_svec_dir_cap == 0 ? kFirstDirCap : g_svec_dir_cap * 2;
    uint64_t bytes = qor::bytes_for(static_cast<uint64_t>(cap), sizeof(DirSlot));
    auto* dir = static_cast<DirSlot*>(malloc(bytes));
    if (dir == nullptr) {
        *refused = bytes;
        return false;
    }
    for (int64_t i = 0; i < cap; i++) dir[i] = qor::svec::kEmptySlot;
    for (int64_t i = 0; i < g_svec_dir_cap; i++) {
        if (g_svec_dir[i].chunk != nullptr)
            dir[dir_slot(dir, cap, g_svec_dir[i].number)] = g_svec_dir[i];
    }
    free(g_svec_dir);
    g_svec_dir = dir;
    g_svec_dir_cap = cap;
    g_svec_dir_home_mask = static_cast<uint64_t>(cap - 1) * sizeof(DirSlot);
    return true;
}

// Takes a chunk out of the directory; later entries of its probe run move back so that no run
// has a hole. Its memory, all zero but the header, is kept as the spare when there is none.
void release_chunk(Chunk* chunk) {
    assert(chunk->live == 0);
    auto mask = static_cast<uint64_t>(g_svec_dir_cap - 1);
    uint64_t hole = dir_slot(g_svec_dir, g_svec_dir_cap, chunk->number);
    for (uint64_t i = (hole + 1) & mask; g_svec_dir[i].chunk != nullptr; i = (i + 1) & mask) {
        uint64_t home = static_cast<uint64_t>(g_svec_dir[i].number) & mask;
        // The entry at i may fill the hole when the hole lies on its path from home to i.
        if (((i - home) & mask) >= ((i - hole) & mask)) {
            g_svec_dir[hole] = g_svec_dir[i];
            hole = i;
        }
    }
    g_svec_dir[hole] = qor::svec::kEmptySlot;
    g_svec_chunk_count--;
    if (g_svec_idle_chunk == chunk) g_svec_idle_chunk = nullptr;
    if (g_svec_spare_chunk == nullptr) {
        g_svec_spare_chunk = chunk;
    } else {
        free(chunk);
    }
}

// Called when a chunk has no items left and no new handle can come from it. It stays held as
// the idle chunk, releasing the one idle before, so a vector that is filled and freed over and
// over does not make and release its chunk each time.
void became_unused(Chunk* chunk) {
    if (g_svec_idle_chunk == chunk) return;
    if (g_svec_idle_chunk != nullptr) release_chunk(g_svec_idle_chunk);
    g_svec_idle_chunk = chunk;
}

// Makes chunk number n (every record freed and empty) and enters it in the directory, reusing
// the spare's memory before asking the heap; null when memory is short, with the size of the
// refused request at *refused.
Chunk* make_chunk(int64_t n, uint64_t* refused) {
    if (!dir_has_room(refused)) return nullptr;
    Chunk* chunk = g_svec_spare_chunk;
    g_svec_spare_chunk = nullptr;
    if (chunk == nullptr) chunk = static_cast<Chunk*>(calloc(1, sizeof(Chunk)));
    if (chunk == nullptr) {
        *refused = sizeof(Chunk);
        return nullptr;
    }
    chunk->number = n;
    chunk->live = 0;
    g_svec_dir[dir_slot(g_svec_dir, g_svec_dir_cap, n)] = DirSlot{n, chunk};
    g_svec_chunk_count++;
    return chunk;
}

// Issues the next handle over a freed, empty record; -1, with nothing issued, when the chunk
// it needs cannot be had. Starting a new chunk leaves the previous one unused if it holds no
// items.
int64_t issue_handle() {
    int64_t handle = g_svec_pool_len;
    if (handle == INT64_MAX) return -1;
    int64_t n = chunk_number(handle);
    if (find_chunk(n) == nullptr) {
        Chunk* previous = n > 0 ? find_chunk(n - 1) : nullptr;
        if (previous != nullptr && previous->live == 0) became_unused(previous);
        uint64_t refused = 0;
        if (make_chunk(n, &refused) == nullptr) return -1;
    }
    g_svec_pool_len++;
    return handle;
}

int64_t next_capacity(const QorStrVec* v) {
    return v->capacity == 0 ? kFirstItemsCap : v->capacity * 2;
}

// A vector's record with the chunk that holds it. Records do not move while their chunk is
// held, and nothing releases the chunk of a vector that is being filled.
struct Target {
    Chunk* chunk;
    QorStrVec* v;  // null when the chunk is not held
};

Target in_chunk(Chunk* chunk, int64_t handle) {
    return {chunk, chunk == nullptr ? nullptr : &chunk->records[handle & (kChunkRecords - 1)]};
}

// The record of an issued handle, if its chunk is held (always so for the newest handle).
Target held_target(int64_t handle) {
    return in_chunk(qor::svec::find_chunk_in_dir(chunk_number(handle)), handle);
}

// The record of an issued handle, making its chunk again if it was released; v is null when
// memory is short, with the size of the refused request at *refused.
Target target_of(int64_t handle, uint64_t* refused) {
    Target t = held_target(handle);
    return t.v != nullptr ? t : in_chunk(make_chunk(chunk_number(handle), refused), handle);
}

// Appends s when the array has room; the common case of every append, kept inline.
bool append_in_place(QorStrVec* v, QorString* s) {
    if (v->len >= v->capacity) return false;
    v->items[v->len++] = s;
    return true;
}

// Grows the full array of a vector to 8 pointers and then by doubling, and appends s. False,
// with the vector unchanged, when the array cannot grow; the size of the refused request is
// then at *refused.
bool grow_and_append(const Target& t, QorString* s, uint64_t* refused) {
    QorStrVec* v = t.v;
    int64_t cap = next_capacity(v);
    void* grown = realloc(v->items, static_cast<size_t>(cap) * sizeof(QorString*));
    if (grown == nullptr) {
        *refused = qor::bytes_for(static_cast<uint64_t>(cap), sizeof(QorString*));
        if (t.chunk->live == 0 && !is_newest(t.chunk->number)) became_unused(t.chunk);
        return false;
    }
    if (v->capacity == 0 && t.chunk->live++ == 0 && t.chunk == g_svec_idle_chunk) {
        g_svec_idle_chunk = nullptr;
    }
    v->items = static_cast<QorString**>(grown);
    v->capacity = cap;
    v->items[v->len++] = s;
    return true;
}

// For the operations that fill a vector and have no failure result of their own, memory that
// cannot be had stops the process rather than leave an element out. The slow paths keep their
// locals out of line, so the common append stays a few instructions.
__attribute__((noinline)) void grow_and_append_or_stop(const Target& t, QorString* s) {
    uint64_t refused = 0;
    if (!grow_and_append(t, s, &refused)) qor::out_of_memory(refused);
}

__attribute__((noinline)) Target target_or_stop(int64_t handle) {
    uint64_t refused = 0;
    Target t = target_of(handle, &refused);
    if (t.v == nullptr) qor::out_of_memory(refused);
    return t;
}

void append_or_stop(const Target& t, QorString* s) {
    if (!append_in_place(t.v, s)) grow_and_append_or_stop(t, s);
}

}  // namespace

void qor::svec_append_or_stop(int64_t handle, QorString* s) {
    if (handle < 0 || handle >= g_svec_pool_len) return;
    Target t = held_target(handle);
    append_or_stop(t.v != nullptr ? t : target_or_stop(handle), s);
}

namespace {

// Appends a new qor_alloc copy of n bytes to the vector being filled.
void append_piece(const Target& t, const char* bytes, int64_t n) {
    append_or_stop(t, qor::make_string(bytes, n));
}

// Element order for sorting: null first, then unsigned bytes, then the shorter string. Only
// the sign of the result matters, so lengths are compared rather than subtracted.
int qorstring_cmp(const void* pa, const void* pb) {
    const QorString* a = *static_cast<QorString* const*>(pa);
    const QorString* b = *static_cast<QorString* const*>(pb);
    if (a == nullptr || b == nullptr) return (a != nullptr) - (b != nullptr);
    int64_t common = a->len < b->len ? a->len : b->len;
    if (common > 0 && a->data != nullptr && b->data != nullptr) {
        int c = memcmp(a->data, b->data, static_cast<size_t>(common));
        if (c != 0) return c;
    }
    return (a->len > b->len) - (a->len < b->len);
}

void sort_items(QorStrVec* v) {
    if (v->len >= 2)
        qsort(v->items, static_cast<size_t>(v->len), sizeof(QorString*), qorstring_cmp);
}

// An element matches when it is present and holds exactly the bytes of s.
bool same_bytes(const QorString* element, const QorString* s) {
    if (qor::is_missing(element) || element->len != s->len) return false;
    return s->len <= 0 || memcmp(element->data, s->data, static_cast<size_t>(s->len)) == 0;
}

bool is_space(char c) { return c == '\t' || c == '\n' || c == '\r' || c == ' '; }

// Bit k is set when the byte at p + k is tab, line feed, carriage return or space (k < 64).
uint64_t space_mask(const char* p) {
    const __m128i tab = _mm_set1_epi8('\t');
    const __m128i line_feed = _mm_set1_epi8('\n');
    const __m128i carriage_return = _mm_set1_epi8('\r');
    const __m128i blank = _mm_set1_epi8(' ');
    uint64_t mask = 0;
    for (size_t k = 0; k < 4; k++) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
        __m128i hit = _mm_or_si128(
            _mm_or_si128(_mm_cmpeq_epi8(v, tab), _mm_cmpeq_epi8(v, line_feed)),
            _mm_or_si128(_mm_cmpeq_epi8(v, carriage_return), _mm_cmpeq_epi8(v, blank)));
        mask |= static_cast<uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(hit))) << (16 * k);
    }
    return mask;
}

}  // namespace

extern "C" QOR_API int64_t qor_svec_new(void) { return issue_handle(); }

namespace {

// A push that must make the vector's chunk again or grow its array, kept out of line so that
// the common push stays a leaf with no frame of its own.
__attribute__((noinline)) int64_t push_slow(int64_t handle, QorString* s) {
    if (handle < 0 || handle >= g_svec_pool_len) return -1;
    uint64_t refused = 0;
    Target t = target_of(handle, &refused);
    if (t.v == nullptr) return -1;
    return append_in_place(t.v, s) || grow_and_append(t, s, &refused) ? 0 : -1;
}

}  // namespace

// A freed handle takes pushes again.
extern "C" QOR_API int64_t qor_svec_push(int64_t handle, QorString* s) {
    QorStrVec* v = lookup(handle);
    return v != nullptr && append_in_place(v, s) ? 0 : push_slow(handle, s);
}

extern "C" QOR_API int64_t qor_svec_len(int64_t handle) {
    QorStrVec* v = lookup(handle);
    return v == nullptr ? 0 : v->len;
}

extern "C" QOR_API QorString* qor_svec_get(int64_t handle, int64_t index) {
    QorStrVec* v = lookup(handle);
    if (v == nullptr || index < 0 || index >= v->len) return nullptr;
    return v->items[index];
}

// Releases the pointer array; the handle stays valid and the next push starts over. The last
// vector of a chunk to be freed takes the chunk with it, unless new handles still come from it.
extern "C" QOR_API int64_t qor_svec_free(int64_t handle) {
    if (handle < 0 || handle >= g_svec_pool_len) return 0;
    Target t = held_target(handle);
    if (t.v == nullptr || t.v->items == nullptr) return 0;
    free(t.v->items);
    *t.v = QorStrVec{nullptr, 0, 0};
    if (--t.chunk->live == 0 && !is_newest(t.chunk->number)) became_unused(t.chunk);
    return 0;
}

extern "C" QOR_API int64_t qor_svec_clear(int64_t handle) {
    QorStrVec* v = lookup(handle);
    if (v != nullptr) v->len = 0;
    return 0;
}

// A null element adds nothing but keeps the separators around its position: 'a', null, 'b'
// joined by "," give "a,,b". A null separator joins the elements directly. A total past
// INT64_MAX gives the fresh empty string.
extern "C" QOR_API QorString* qor_svec_join(int64_t handle, const QorString* sep) {
    QorStrVec* v = lookup(handle);
    if (v == nullptr || v->len == 0) return qor::fresh_empty_string();
    // Read once: the byte copies below could alias the record as far as the compiler knows.
    QorString* const* items = v->items;
    const int64_t len = v->len;
    int64_t sep_len = qor::is_missing(sep) || sep->len < 0 ? 0 : sep->len;
    int64_t total = 0;
    if (!qor::times_length(&total, sep_len, len - 1)) return qor::fresh_empty_string();
    for (int64_t i = 0; i < len; i++) {
        const QorString* e = items[i];
        if (qor::is_missing(e) || e->len <= 0) continue;
        if (!qor::add_length(&total, e->len)) return qor::fresh_empty_string();
    }
    QorString* r = qor::make_string_uninit(total);
    char* out = r->data;
    for (int64_t i = 0; i < len; i++) {
        if (i > 0) {
            qor::text::copy_bytes(out, sep_len > 0 ? sep->data : nullptr,
                                  static_cast<size_t>(sep_len));
            out += sep_len;
        }
        const QorString* e = items[i];
        if (qor::is_missing(e) || e->len <= 0) continue;
        qor::text::copy_bytes(out, e->data, static_cast<size_t>(e->len));
        out += e->len;
    }
    return r;
}

extern "C" QOR_API int64_t qor_svec_index_of(int64_t handle, const QorString* s) {
    QorStrVec* v = lookup(handle);
    if (v == nullptr || qor::is_missing(s)) return -1;
    for (int64_t i = 0; i < v->len; i++) {
        if (same_bytes(v->items[i], s)) return i;
    }
    return -1;
}

extern "C" QOR_API int64_t qor_svec_contains(int64_t handle, const QorString* s) {
    return qor_svec_index_of(handle, s) >= 0;
}

extern "C" QOR_API int64_t qor_svec_sort(int64_t handle) {
    QorStrVec* v = lookup(handle);
    if (v != nullptr) sort_items(v);
    return 0;
}

// The removed pointer is not returned; later elements shift one place left.
extern "C" QOR_API int64_t qor_svec_remove(int64_t handle, int64_t index) {
    QorStrVec* v = lookup(handle);
    if (v == nullptr || index < 0 || index >= v->len) return 0;
    memmove(&v->items[index], &v->items[index + 1],
            static_cast<size_t>(v->len - index - 1) * sizeof(QorString*));
    v->len--;
    return 1;
}

// Pieces between separators, in order. A separator at the start gives a leading empty piece,
// one at the very end gives no trailing one; a missing or empty separator splits the text into
// single bytes. Unlike the text splitter, the result is a string vector handle (-1 when no
// handle can be had).
extern "C" QOR_API int64_t qor_str_split(const QorString* text, const QorString* sep) {
    int64_t handle = issue_handle();
    if (handle < 0 || qor::is_missing(text) || text->len <= 0) return handle;
    Target t = held_target(handle);
    const char* pos = text->data;
    const char* end = text->data + text->len;
    if (qor::is_missing(sep) || sep->len <= 0) {
        for (; pos < end; pos++) append_piece(t, pos, 1);
        return handle;
    }
    const char* data = text->data;
    const auto n = static_cast<size_t>(text->len);
    const auto m = static_cast<size_t>(sep->len);
    size_t cur = 0;
    qor::text::scan_matches(data, n, sep->data, m, 0, [&](size_t p) {
        append_piece(t, data + cur, static_cast<int64_t>(p - cur));
        cur = p + m;
        return true;
    });
    if (cur < n) append_piece(t, data + cur, static_cast<int64_t>(n - cur));
    return handle;
}

// Maximal runs of bytes other than tab, line feed, carriage return and space; never empty.
// 64 bytes per step: the whitespace mask of the step gives every word start (a non-space
// after a space) and word end (a space after a non-space) at once, so the scan does not branch
// on each byte; the bytes past the last full step are read one by one.
extern "C" QOR_API int64_t qor_str_split_whitespace(const QorString* text) {
    int64_t handle = issue_handle();
    if (handle < 0 || qor::is_missing(text) || text->len <= 0) return handle;
    Target t = held_target(handle);
    const char* data = text->data;
    const auto n = static_cast<size_t>(text->len);
    size_t word = 0;
    bool in_word = false;  // a word started at `word` and has not ended yet
    size_t i = 0;
    for (; i + 64 <= n; i += 64) {
        uint64_t space = space_mask(data + i);
        uint64_t before = (space << 1) | (in_word ? 0 : 1);  // bit k: byte i + k - 1 is a space
        uint64_t edges = (~space & before) | (space & ~before);
        for (; edges != 0; edges &= edges - 1) {
            size_t at = i + static_cast<size_t>(__builtin_ctzll(edges));
            if (!in_word) {
                word = at;
            } else {
                append_piece(t, data + word, static_cast<int64_t>(at - word));
            }
            in_word = !in_word;
        }
    }
    for (; i < n; i++) {
        if (is_space(data[i]) == !in_word) continue;
        if (!in_word) {
            word = i;
        } else {
            append_piece(t, data + word, static_cast<int64_t>(i - word));
        }
        in_word = !in_word;
    }
    if (in_word) append_piece(t, data + word, static_cast<int64_t>(n - word));
    return handle;
}

// Lines cut at each line feed, each without one trailing carriage return; a final line feed
// adds no empty line.
extern "C" QOR_API int64_t qor_str_lines(const QorString* text) {
    int64_t handle = issue_handle();
    if (handle < 0 || qor::is_missing(text) || text->len <= 0) return handle;
    Target t = held_target(handle);
    const char* pos = text->data;
    const char* end = text->data + text->len;
    while (pos < end) {
        const char* nl =
            static_cast<const char*>(memchr(pos, '\n', static_cast<size_t>(end - pos)));
        const char* stop = nl == nullptr ? end : nl;
        int64_t n = stop - pos;
        if (n > 0 && pos[n - 1] == '\r') n--;
        append_piece(t, pos, n);
        if (nl == nullptr) break;
        pos = nl + 1;
    }
    return handle;
}
