// Threads with one argument and one result, and reference-counted shared cells.
// A thread record lives from qor_spawn until the qor_join that frees it; result is written by
// the thread before it ends and read only after pthread_join, which orders the two. A shared
// cell's count changes only by sequentially consistent read-modify-write; the decrement that
// takes it from 1 to 0 frees the cell.
// A spawned thread starts with zeroed runtime thread-locals (empty arena, no foreign-call
// frame, unseeded random state, no arguments); an arena it ends with values in is kept, so text
// it made stays readable after the join (an emptied one goes back when the thread ends).
#include <stdlib.h>

#include <atomic>
#include <cstddef>

#include "core/internal.h"

static_assert(offsetof(QorThread, fn) == 0);
static_assert(offsetof(QorThread, arg) == 8);
static_assert(offsetof(QorThread, result) == 16);
static_assert(offsetof(QorThread, thread) == 24);
static_assert(sizeof(QorThread) == 32);

static_assert(offsetof(QorArc, count) == 0);
static_assert(offsetof(QorArc, value) == 8);
static_assert(sizeof(QorArc) == 16);

namespace {

// Handles below this value are taken as plain integers by qor_join, never as thread records.
constexpr int64_t kLowestThreadHandle = 0x10000;

std::atomic_ref<int64_t> count_of(QorArc* a) { return std::atomic_ref<int64_t>(a->count); }

}  // namespace

// The body of every spawned thread. Its exit value, the address of result, is never read.
extern "C" void* qor_thread_entry_posix(void* record) {
    auto* t = static_cast<QorThread*>(record);
    t->result = t->fn == nullptr ? 0 : t->fn(t->arg);
    return &t->result;
}

extern "C" QOR_API QorThread* qor_spawn(QorThreadFn fn, int64_t arg) {
    auto* t = static_cast<QorThread*>(malloc(sizeof(QorThread)));
    if (t == nullptr) return nullptr;
    t->fn = fn;
    t->arg = arg;
    t->result = 0;
    if (pthread_create(&t->thread, nullptr, qor_thread_entry_posix, t) != 0) {
        free(t);
        return nullptr;
    }
    return t;
}

// Compiled code may hand small integers through the same slot as thread handles; those come
// back unchanged without waiting.
extern "C" QOR_API int64_t qor_join(QorThread* handle) {
    auto as_int = static_cast<int64_t>(reinterpret_cast<intptr_t>(handle));
    if (as_int < kLowestThreadHandle) return as_int;
    pthread_join(handle->thread, nullptr);
    int64_t result = handle->result;
    free(handle);
    return result;
}

extern "C" QOR_API QorArc* qor_arc_new(int64_t value) {
    auto* a = static_cast<QorArc*>(malloc(sizeof(QorArc)));
    if (a == nullptr) return nullptr;
    a->count = 1;
    a->value = value;
    return a;
}

extern "C" QOR_API QorArc* qor_arc_clone(QorArc* a) {
    if (a == nullptr) return nullptr;
    count_of(a).fetch_add(1, std::memory_order_seq_cst);
    return a;
}

// value is fixed at creation, so a plain read is enough.
extern "C" QOR_API int64_t qor_arc_get(QorArc* a) { return a == nullptr ? 0 : a->value; }

extern "C" QOR_API void qor_arc_drop(QorArc* a) {
    if (a == nullptr) return;
    if (count_of(a).fetch_sub(1, std::memory_order_seq_cst) == 1) free(a);
}

// A sequentially consistent load: it sees every clone and drop ordered before it.
extern "C" QOR_API int64_t qor_arc_strong_count(QorArc* a) {
    if (a == nullptr) return 0;
    return count_of(a).load(std::memory_order_seq_cst);
}
