// Inline arrays: a two-word header and the elements in one qor_alloc block. Push, pop, concat
// and slice each build a new block and leave their inputs as they were, so a value compiled
// code still holds keeps its contents; only qor_array_set_safe writes into an existing array.
// Every array made here has capacity == len and is exactly 16 + 8 * len bytes.
#include <cstddef>

#include "core/internal.h"

static_assert(sizeof(QorArray) == 16);
static_assert(offsetof(QorArray, capacity) == 0);
static_assert(offsetof(QorArray, len) == 8);
static_assert(offsetof(QorArray, items) == 16);

namespace {

// A null array, or a malformed one with a negative len, reads as empty wherever an array is
// only read.
int64_t length_of(const QorArray* arr) { return arr == nullptr || arr->len < 0 ? 0 : arr->len; }

// A new block of n >= 0 slots with both header words set to n; the elements are the caller's.
QorArray* new_array(int64_t n) {
    auto* arr = static_cast<QorArray*>(
        qor_alloc(qor::bytes_for(static_cast<uint64_t>(n), sizeof(int64_t), sizeof(QorArray))));
    arr->capacity = n;
    arr->len = n;
    return arr;
}

// The length of a new array of a + b slots; a count past INT64_MAX is a request no heap grants.
int64_t sum_of(int64_t a, int64_t b) {
    if (!qor::add_length(&a, b)) qor::out_of_memory(UINT64_MAX);
    return a;
}

void copy_slots(int64_t* dst, const int64_t* src, int64_t n) {
    if (n > 0) memcpy(dst, src, static_cast<size_t>(n) * sizeof(int64_t));
}

}  // namespace

extern "C" QOR_API QorArray* qor_array_push(const QorArray* arr, int64_t value) {
    int64_t n = length_of(arr);
    QorArray* r = new_array(sum_of(n, 1));
    if (n > 0) copy_slots(r->items, arr->items, n);
    r->items[n] = value;
    return r;
}

// The removed element is not handed back; an empty array comes back as the same pointer.
extern "C" QOR_API QorArray* qor_array_pop(QorArray* arr) {
    if (length_of(arr) <= 0) return arr;
    QorArray* r = new_array(arr->len - 1);
    copy_slots(r->items, arr->items, r->len);
    return r;
}

extern "C" QOR_API QorArray* qor_array_concat(const QorArray* a, const QorArray* b) {
    int64_t na = length_of(a);
    int64_t nb = length_of(b);
    QorArray* r = new_array(sum_of(na, nb));
    if (na > 0) copy_slots(r->items, a->items, na);
    if (nb > 0) copy_slots(r->items + na, b->items, nb);
    return r;
}

// start is raised to 0 and end lowered to len; an empty range gives a header-only array.
// The comparison avoids end - start, which could overflow for extreme arguments.
extern "C" QOR_API QorArray* qor_array_slice(const QorArray* arr, int64_t start, int64_t end) {
    int64_t n = length_of(arr);
    if (start < 0) start = 0;
    if (end > n) end = n;
    if (end <= start) return new_array(0);
    QorArray* r = new_array(end - start);
    copy_slots(r->items, arr->items + start, r->len);
    return r;
}

extern "C" QOR_API int64_t qor_array_len(const QorArray* arr) { return length_of(arr); }

// A null array has no valid index, so every access to one fails the bounds check.
extern "C" QOR_API int64_t qor_array_get_safe(const QorArray* arr, int64_t index) {
    int64_t n = length_of(arr);
    if (index < 0 || index >= n) qor::fail_bounds(index, n);
    return arr->items[index];
}

extern "C" QOR_API void qor_array_set_safe(QorArray* arr, int64_t index, int64_t value) {
    int64_t n = length_of(arr);
    if (index < 0 || index >= n) qor::fail_bounds(index, n);
    arr->items[index] = value;
}
