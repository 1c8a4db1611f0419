// Helpers shared by several runtime families: the allocator entry and the heap funnel, string
// making and the overflow rule for joins, the one string hash, and the macro that exports a plain
// twin as an alias of its prefixed function. Nothing here is exported from the library.
#ifndef QOR_CORE_INTERNAL_H
#define QOR_CORE_INTERNAL_H

#include <stdint.h>
#include <string.h>

#include "qor_runtime.h"

#define QOR_INTERNAL __attribute__((visibility("hidden")))

// Exports `plain` as a second name of the already defined extern "C" function `target`:
// one body, two symbols.
#define QOR_PLAIN_ALIAS(plain, target)                                                   \
    extern "C" QOR_API __typeof__(target) plain /* NOLINT(bugprone-macro-parentheses) */ \
        __attribute__((alias(#target)))

extern "C" {

// The runtime's allocator for values compiled code never frees one by one: a pointer bump in
// the calling thread's arena while g_arena_enabled is set, plain malloc otherwise. Never null:
// when the heap refuses, the process stops through qor::out_of_memory.
QOR_INTERNAL void* qor_alloc(uint64_t n);

// The calling thread's current arena block (the tail of its list), or null.
#define QOR_INITIAL_EXEC __attribute__((tls_model("initial-exec")))
QOR_INTERNAL extern __thread QorArenaBlock* g_arena_current QOR_INITIAL_EXEC;

// Raises text into the calling thread's open foreign-call frame (flag, message, longjmp).
// Only called when the frame is active. raised_at is the stack pointer of the code that made
// the failing call (QOR_RAISED_AT in the runtime function it called): when that lies above
// the stack pointer of the frame's opener, the opener has returned, and instead of jumping
// into its dead frame the process stops with a "[qor] FATAL: " line and status 1.
QOR_INTERNAL QOR_NORETURN void qor_ffi_trigger(const char* text, uintptr_t raised_at);

// The caller's stack pointer at the call to the function this is written in (its canonical
// frame address: the frame pointer that reading the frame address forces, plus the saved frame
// pointer and the return address). Taken in the machine stack even when a sanitizer keeps
// locals elsewhere.
#define QOR_RAISED_AT() (reinterpret_cast<uintptr_t>(__builtin_frame_address(0)) + 16)

// 1 while the calling thread has an open foreign-call frame.
QOR_INTERNAL int32_t qor_ffi_frame_active(void);

// A cleanup that a failure raised into the foreign-call frame runs before it jumps back: a
// runtime function that holds memory or registrations while callbacks it calls may fail
// pushes one, and pops it on its normal way out. The record lives in that function's stack
// frame. Only hooks pushed since the frame now open was opened run; older ones belong to
// callers that the jump does not leave.
struct QorUnwindHook {
    void (*run)(void* arg);
    void* arg;
    struct QorUnwindHook* prev;
    uint64_t frame;
};
QOR_INTERNAL void qor_unwind_push(struct QorUnwindHook* hook, void (*run)(void*), void* arg);
// Removes hook, which must be the last one pushed, without running it.
QOR_INTERNAL void qor_unwind_pop(struct QorUnwindHook* hook);

}  // extern "C"

namespace qor {

// Writes "[qor] FATAL: out of memory (n bytes)" on stderr and exits with 1: the one stop for a
// request the heap refuses. n is the request (UINT64_MAX when its size overflowed).
QOR_INTERNAL QOR_NORETURN void out_of_memory(uint64_t n);

// malloc and realloc that never return null; a refused request is out_of_memory.
// xrealloc leaves p untouched until the new block is had.
QOR_INTERNAL void* xmalloc(uint64_t n);
QOR_INTERNAL void* xrealloc(void* p, uint64_t n);

// How a big block will be written. The one huge-page policy of the runtime: only a block that
// is about to be filled (a table being built, a large read) asks for huge pages; a block that
// may be barely touched (a thread's arena) never does, so it costs only the pages written.
enum class Touch { kDense, kSparse };

// Large blocks (kBigBlock bytes and up) for tables that are filled and freed in turn, arena
// blocks and large reads. Each is mapped directly at the next power of two, 2 MiB-aligned from
// 2 MiB up (with the huge-page hint when dense), and a freed block is kept (up to a bound) for
// the next request of its power of two by any thread, so the pages stay touched. Returns null
// when the system refuses; zeroed asks for zero bytes. Smaller sizes are passed to malloc/calloc
// and free, so callers may route every size through these two; big_free takes the size given
// to big_alloc.
constexpr uint64_t kBigBlock = uint64_t{1} << 17;
QOR_INTERNAL void* big_alloc(uint64_t bytes, bool zeroed, Touch touch = Touch::kDense);
QOR_INTERNAL void big_free(void* p, uint64_t bytes);

// The huge-page hint for memory about to be filled that did not come from big_alloc (a large
// read into a malloc'd buffer): the whole 2 MiB pages inside [p, p + bytes) ask for huge pages.
QOR_INTERNAL void hint_dense(void* p, uint64_t bytes);

// The byte size of count elements of size bytes plus header bytes, or UINT64_MAX when it does
// not fit in 64 bits (a request no allocator grants). count must not be negative.
inline uint64_t bytes_for(uint64_t count, uint64_t size, uint64_t header = 0) {
    uint64_t n = 0;
    if (__builtin_mul_overflow(count, size, &n) || __builtin_add_overflow(n, header, &n)) {
        return UINT64_MAX;
    }
    return n;
}

// The overflow rule for joins (concatenation, join, repetition): adds n to *total, or returns
// false when the sum passes INT64_MAX; the join then gives the fresh empty string, since no
// text of that length can exist.
inline bool add_length(int64_t* total, int64_t n) {
    return !__builtin_add_overflow(*total, n, total);
}

// The same rule for count copies of a piece of n bytes: *total = n * count, or false.
inline bool times_length(int64_t* total, int64_t n, int64_t count) {
    return !__builtin_mul_overflow(n, count, total);
}

// A new record over a new buffer holding the n bytes at bytes and a NUL; len = cap = n.
// Two allocations with qor_alloc, the buffer first. bytes may be NULL only when n is 0. A
// negative n gives the fresh empty string.
QOR_INTERNAL QorString* make_string(const char* bytes, int64_t n);

// A new record of n bytes whose contents the caller fills in (buffer[n] is already NUL). A
// negative n is taken as 0.
QOR_INTERNAL QorString* make_string_uninit(int64_t n);

// A new qor_alloc record over a buffer the caller already holds, with data[len] == 0: the one
// place a string record is filled in. Used for buffers made elsewhere (number text, the file
// reader's heap buffer).
QOR_INTERNAL QorString* make_record(char* data, int64_t len, int64_t cap);

// A record and its n bytes (then a NUL) on the process heap, whatever the arena flag says;
// null when memory is short, with the size of the refused request at *refused when given.
// Released with qor_ffi_free_string.
QOR_INTERNAL QorString* make_heap_string(const char* bytes, int64_t n, uint64_t* refused = nullptr);

// The fresh empty string: a new 1-byte NUL buffer and a new record, len = cap = 0.
QOR_INTERNAL QorString* fresh_empty_string();

// A missing string is a null record or a record whose data is null.
inline bool is_missing(const QorString* s) { return s == nullptr || s->data == nullptr; }

// The arena limit that a QOR_ARENA_MAX_SIZE value asks for: every digit counts wherever it
// stands, a last G or M (any case) scales by 2^30 or 2^20, 0 or unset means 4 GiB; saturates.
QOR_INTERNAL uint64_t parse_arena_limit(const char* value);

// Appends s to the string vector behind handle (nothing for a handle never issued); when the
// pointer array cannot grow, stops the process through out_of_memory rather than leave an
// element out. For the operations that fill a new vector and have no failure result.
QOR_INTERNAL void svec_append_or_stop(int64_t handle, QorString* s);

// Ends the process with status 1 after a fatal stop has written its message: the one exit of
// panics, failed checks, the arena limit and out of memory (adds the QOR_BACKTRACE backtrace).
QOR_INTERNAL QOR_NORETURN void fatal_exit();

// Reports an index outside [0, length) exactly as qor_panic_bounds does (frame or exit).
QOR_INTERNAL QOR_NORETURN void fail_bounds(int64_t index, int64_t length);

// Takes first + second bytes (both multiples of 8) from the current arena block in one bump,
// exactly where two consecutive qor_alloc calls would put them; null when the arena is off or
// the block has no room, and the caller then makes the two calls.
inline char* arena_bump_pair(uint64_t first, uint64_t second) {
    if (__atomic_load_n(&g_arena_enabled, __ATOMIC_RELAXED) == 0) return nullptr;
    QorArenaBlock* b = g_arena_current;
    if (b == nullptr || first + second > b->size - b->used) return nullptr;
    char* p = b->data + b->used;
    b->used += first + second;
    return p;
}

constexpr uint64_t kFnvOffsetBasis = 0xcbf29ce484222325ULL;
constexpr uint64_t kFnvPrime = 0x100000001b3ULL;

// 64-bit FNV-1a of n bytes: the one string hash of the runtime.
inline uint64_t fnv1a(const char* bytes, int64_t n) {
    uint64_t h = kFnvOffsetBasis;
    for (int64_t i = 0; i < n; i++) {
        h ^= static_cast<unsigned char>(bytes[i]);
        h *= kFnvPrime;
    }
    return h;
}

// Whether n >= 1 bytes at a and b are equal. Keys are mostly short, so up to 16 bytes are
// compared in at most two overlapping loads per side, inline, instead of through memcmp.
inline bool same_bytes(const char* a, const char* b, int64_t n) {
    auto load8 = [](const char* p) {
        uint64_t v;
        memcpy(&v, p, 8);
        return v;
    };
    auto load4 = [](const char* p) {
        uint32_t v;
        memcpy(&v, p, 4);
        return v;
    };
    if (n > 16) return memcmp(a, b, static_cast<size_t>(n)) == 0;
    if (n >= 8) return load8(a) == load8(b) && load8(a + n - 8) == load8(b + n - 8);
    if (n >= 4) return load4(a) == load4(b) && load4(a + n - 4) == load4(b + n - 4);
    return a[0] == b[0] && a[n / 2] == b[n / 2] && a[n - 1] == b[n - 1];
}

}  // namespace qor

#endif  // QOR_CORE_INTERNAL_H
