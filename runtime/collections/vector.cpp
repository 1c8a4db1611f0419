// Growable vectors of 64-bit slots on the process heap. Slots are signed 64-bit integers to
// every operation here (equality bit for bit, ordering signed), though the runtime also keeps
// pointers in them. Invariants: 0 <= len <= capacity, capacity >= 1 for every vector made
// here, and a vector never shrinks: pop, remove, clear and dedup keep capacity and storage;
// only qor_vec_free returns it. Doubling is the one growth rule.
// A NULL vector reads as empty (queries give their empty answer, updates do nothing), and
// indexes outside [0, len) read 0 and write nothing, so no call reads or writes out of bounds.
#include <stdlib.h>

#include <algorithm>
#include <cstddef>

#include "core/internal.h"

static_assert(sizeof(QorVec) == 24);
static_assert(offsetof(QorVec, capacity) == 0);
static_assert(offsetof(QorVec, len) == 8);
static_assert(offsetof(QorVec, items) == 16);

namespace {

constexpr int64_t kNewCapacity = 8;
constexpr int64_t kMaxSlots = INT64_MAX / static_cast<int64_t>(sizeof(int64_t)) / 2;

// A new record with capacity slots and len 0; NULL when the heap refuses or the slot count
// is beyond what a byte size can hold.
QorVec* make_vec(int64_t capacity) {
    if (capacity > kMaxSlots) return nullptr;
    auto* v = static_cast<QorVec*>(malloc(sizeof(QorVec)));
    if (v == nullptr) return nullptr;
    v->items = static_cast<int64_t*>(malloc(static_cast<size_t>(capacity) * sizeof(int64_t)));
    if (v->items == nullptr) {
        free(v);
        return nullptr;
    }
    v->capacity = capacity;
    v->len = 0;
    return v;
}

// Doubles the slot array until it holds `needed` slots: the one growth rule for push, insert
// and extend. Doubling once per missing slot and doubling up front end at the same capacity.
// Growth has no failure result, so a heap that refuses stops the process rather than let a
// push or an extend drop its values.
void reserve(QorVec* v, int64_t needed) {
    if (needed <= v->capacity) return;
    int64_t capacity = v->capacity < 1 ? 1 : v->capacity;
    while (capacity < needed) {
        if (capacity > kMaxSlots / 2) qor::out_of_memory(UINT64_MAX);
        capacity *= 2;
    }
    v->items = static_cast<int64_t*>(
        qor::xrealloc(v->items, static_cast<uint64_t>(capacity) * sizeof(int64_t)));
    v->capacity = capacity;
}

// A new vector holding the count slots at items; count <= 0 gives an empty one of capacity 8.
QorVec* copy_of(const int64_t* items, int64_t count) {
    if (count <= 0) return make_vec(kNewCapacity);
    QorVec* r = make_vec(count);
    if (r == nullptr) return nullptr;
    memcpy(r->items, items, static_cast<size_t>(count) * sizeof(int64_t));
    r->len = count;
    return r;
}

bool in_range(const QorVec* v, int64_t index) {
    return v != nullptr && index >= 0 && index < v->len;
}

}  // namespace

extern "C" QOR_API QorVec* qor_vec_new(void) { return make_vec(kNewCapacity); }

extern "C" QOR_API QorVec* qor_vec_with_capacity(int64_t n) { return make_vec(n < 2 ? 1 : n); }

// Returns v itself so that compiled code can chain pushes.
extern "C" QOR_API QorVec* qor_vec_push(QorVec* v, int64_t value) {
    if (v == nullptr) return nullptr;
    if (v->len >= v->capacity) reserve(v, v->len + 1);
    v->items[v->len++] = value;
    return v;
}

// 0 on an empty vector, indistinguishable from a stored 0.
extern "C" QOR_API int64_t qor_vec_pop(QorVec* v) {
    if (v == nullptr || v->len <= 0) return 0;
    return v->items[--v->len];
}

extern "C" QOR_API int64_t qor_vec_get(const QorVec* v, int64_t index) {
    return in_range(v, index) ? v->items[index] : 0;
}

extern "C" QOR_API void qor_vec_set(QorVec* v, int64_t index, int64_t value) {
    if (in_range(v, index)) v->items[index] = value;
}

extern "C" QOR_API int64_t qor_vec_len(const QorVec* v) { return v == nullptr ? 0 : v->len; }

extern "C" QOR_API int64_t qor_vec_cap(const QorVec* v) { return v == nullptr ? 0 : v->capacity; }

extern "C" QOR_API void qor_vec_clear(QorVec* v) {
    if (v != nullptr) v->len = 0;
}

// Frees the slot array, then the record; the values in the slots are not touched (a vector
// of string pointers does not own the strings).
extern "C" QOR_API void qor_vec_free(QorVec* v) {
    if (v == nullptr) return;
    free(v->items);
    free(v);
}

extern "C" QOR_API void qor_vec_reverse(QorVec* v) {
    if (v == nullptr || v->len < 2) return;
    std::reverse(v->items, v->items + v->len);
}

extern "C" QOR_API int64_t qor_vec_index_of(const QorVec* v, int64_t value) {
    if (v == nullptr) return -1;
    for (int64_t i = 0; i < v->len; i++) {
        if (v->items[i] == value) return i;
    }
    return -1;
}

extern "C" QOR_API int64_t qor_vec_contains(const QorVec* v, int64_t value) {
    return qor_vec_index_of(v, value) >= 0;
}

extern "C" QOR_API void qor_vec_swap(QorVec* v, int64_t i, int64_t j) {
    if (!in_range(v, i) || !in_range(v, j)) return;
    std::swap(v->items[i], v->items[j]);
}

// Ascending by signed value. The sort is stable, so the order matches a stable insertion sort
// exactly, in O(n log n) rather than quadratic time.
extern "C" QOR_API void qor_vec_sort(QorVec* v) {
    if (v == nullptr || v->len < 2) return;
    std::stable_sort(v->items, v->items + v->len);
}

// Keeps the first slot of every run of equal neighbours: 1 1 2 1 becomes 1 2 1.
extern "C" QOR_API void qor_vec_dedup(QorVec* v) {
    if (v == nullptr || v->len < 2) return;
    int64_t kept = 1;
    for (int64_t i = 1; i < v->len; i++) {
        if (v->items[i] != v->items[kept - 1]) v->items[kept++] = v->items[i];
    }
    v->len = kept;
}

extern "C" QOR_API void qor_vec_fill(QorVec* v, int64_t value) {
    if (v == nullptr) return;
    std::fill(v->items, v->items + v->len, value);
}

// The copy's capacity is the source's len (8 when empty), whatever the source's capacity.
// A NULL source gives a new empty vector.
extern "C" QOR_API QorVec* qor_vec_copy(const QorVec* v) {
    if (v == nullptr) return make_vec(kNewCapacity);
    return copy_of(v->items, v->len);
}

// Sum and product wrap around in two's complement; unsigned arithmetic gives exactly that.
extern "C" QOR_API int64_t qor_vec_sum(const QorVec* v) {
    uint64_t sum = 0;
    if (v == nullptr) return 0;
    for (int64_t i = 0; i < v->len; i++) sum += static_cast<uint64_t>(v->items[i]);
    return static_cast<int64_t>(sum);
}

extern "C" QOR_API int64_t qor_vec_product(const QorVec* v) {
    uint64_t product = 1;
    if (v == nullptr) return 1;
    for (int64_t i = 0; i < v->len; i++) product *= static_cast<uint64_t>(v->items[i]);
    return static_cast<int64_t>(product);
}

// INT64_MAX when empty, which the caller cannot tell from a stored INT64_MAX.
extern "C" QOR_API int64_t qor_vec_min(const QorVec* v) {
    int64_t best = INT64_MAX;
    if (v == nullptr) return best;
    for (int64_t i = 0; i < v->len; i++) best = std::min(best, v->items[i]);
    return best;
}

// INT64_MIN when empty, which the caller cannot tell from a stored INT64_MIN.
extern "C" QOR_API int64_t qor_vec_max(const QorVec* v) {
    int64_t best = INT64_MIN;
    if (v == nullptr) return best;
    for (int64_t i = 0; i < v->len; i++) best = std::max(best, v->items[i]);
    return best;
}

// Clamps start up to 0 and end down to len; an empty or inverted range gives a new empty
// vector of capacity 8, otherwise the capacity is exactly the element count.
extern "C" QOR_API QorVec* qor_vec_slice(const QorVec* v, int64_t start, int64_t end) {
    if (v == nullptr) return make_vec(kNewCapacity);
    if (start < 0) start = 0;
    if (end > v->len) end = v->len;
    if (start >= end) return make_vec(kNewCapacity);
    return copy_of(v->items + start, end - start);
}

// Appends src's elements as repeated pushes would (same final capacity). src's len is read
// before growing and its items after, so extending a vector with itself appends a copy of
// its original elements even when growth moves the storage.
extern "C" QOR_API void qor_vec_extend(QorVec* dst, const QorVec* src) {
    if (dst == nullptr || src == nullptr || src->len <= 0) return;
    int64_t n = src->len;
    int64_t needed = dst->len;
    if (!qor::add_length(&needed, n)) qor::out_of_memory(UINT64_MAX);
    reserve(dst, needed);
    memcpy(dst->items + dst->len, src->items, static_cast<size_t>(n) * sizeof(int64_t));
    dst->len += n;
}

// 0 and no change for an index outside [0, len), indistinguishable from a removed 0.
extern "C" QOR_API int64_t qor_vec_remove(QorVec* v, int64_t index) {
    if (!in_range(v, index)) return 0;
    int64_t removed = v->items[index];
    memmove(v->items + index, v->items + index + 1,
            static_cast<size_t>(v->len - index - 1) * sizeof(int64_t));
    v->len--;
    return removed;
}

// Negative indexes insert at the front, indexes beyond len append; grows as push does.
extern "C" QOR_API void qor_vec_insert(QorVec* v, int64_t index, int64_t value) {
    if (v == nullptr) return;
    int64_t at = std::clamp<int64_t>(index, 0, v->len);
    if (v->len >= v->capacity) reserve(v, v->len + 1);
    memmove(v->items + at + 1, v->items + at, static_cast<size_t>(v->len - at) * sizeof(int64_t));
    v->items[at] = value;
    v->len++;
}

QOR_PLAIN_ALIAS(vec_new, qor_vec_new);
QOR_PLAIN_ALIAS(vec_with_capacity, qor_vec_with_capacity);
QOR_PLAIN_ALIAS(vec_push, qor_vec_push);
QOR_PLAIN_ALIAS(vec_pop, qor_vec_pop);
QOR_PLAIN_ALIAS(vec_get, qor_vec_get);
QOR_PLAIN_ALIAS(vec_set, qor_vec_set);
QOR_PLAIN_ALIAS(vec_len, qor_vec_len);
QOR_PLAIN_ALIAS(vec_cap, qor_vec_cap);
QOR_PLAIN_ALIAS(vec_clear, qor_vec_clear);
QOR_PLAIN_ALIAS(vec_free, qor_vec_free);
QOR_PLAIN_ALIAS(vec_reverse, qor_vec_reverse);
QOR_PLAIN_ALIAS(vec_contains, qor_vec_contains);
QOR_PLAIN_ALIAS(vec_index_of, qor_vec_index_of);
QOR_PLAIN_ALIAS(vec_swap, qor_vec_swap);
QOR_PLAIN_ALIAS(vec_sort, qor_vec_sort);
QOR_PLAIN_ALIAS(vec_dedup, qor_vec_dedup);
QOR_PLAIN_ALIAS(vec_fill, qor_vec_fill);
QOR_PLAIN_ALIAS(vec_copy, qor_vec_copy);
QOR_PLAIN_ALIAS(vec_sum, qor_vec_sum);
QOR_PLAIN_ALIAS(vec_product, qor_vec_product);
QOR_PLAIN_ALIAS(vec_min, qor_vec_min);
QOR_PLAIN_ALIAS(vec_max, qor_vec_max);
QOR_PLAIN_ALIAS(vec_slice, qor_vec_slice);
QOR_PLAIN_ALIAS(vec_extend, qor_vec_extend);
QOR_PLAIN_ALIAS(vec_remove, qor_vec_remove);
QOR_PLAIN_ALIAS(vec_insert, qor_vec_insert);
