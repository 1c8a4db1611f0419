// The heap allocation funnel: malloc and realloc wrappers that never return null. A
// request the heap refuses stops the process through out_of_memory, the one place that
// reports exhausted memory, so no caller tests for null and none can forget to.
// Operations whose result can say "failed" (constructors that return null, the file reader's
// fresh empty string) call the plain allocator instead and keep reporting the failure.
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>

#include "core/internal.h"

void qor::out_of_memory(uint64_t n) {
    fprintf(stderr, "[qor] FATAL: out of memory (%llu bytes)\n",
            static_cast<unsigned long long>(n));
    fatal_exit();
}

// A null result means failure even for 0 bytes, so a zero-byte request is taken as one byte.
void* qor::xmalloc(uint64_t n) {
    void* p = malloc(n == 0 ? 1 : n);
    if (p == nullptr) out_of_memory(n);
    return p;
}

// p stays owned by the caller until the new block replaces it: on failure the process stops
// before any pointer is overwritten.
void* qor::xrealloc(void* p, uint64_t n) {
    void* q = realloc(p, n == 0 ? 1 : n);
    if (q == nullptr) out_of_memory(n);
    return q;
}

namespace {

constexpr uint64_t kHugePage = uint64_t{2} << 20;
// Up to this many bytes of freed big blocks are kept, as at most kSparePerSize blocks of each
// size; the rest go back to the system.
constexpr uint64_t kSpareBudget = uint64_t{32} << 20;
constexpr int kSparePerSize = 4;
constexpr uint64_t kLargestBig = uint64_t{1} << 62;
constexpr int kSizes = 46;  // 2^17 .. 2^62

struct Spares {
    pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
    uint64_t kept_bytes = 0;
    int count[kSizes] = {};
    void* blocks[kSizes][kSparePerSize] = {};
};
Spares spares;

// A leak checker (LeakSanitizer, when the host runs under one) looks for pointers only in the
// heap, stacks and globals; a mapped table is named to it, so that what only the table points
// to is not taken for a leak. Blocks kept for reuse are unnamed, so stale pointers in them
// hide nothing.
extern "C" __attribute__((weak)) void __lsan_register_root_region(const void* p, size_t n);
extern "C" __attribute__((weak)) void __lsan_unregister_root_region(const void* p, size_t n);

void name_to_leak_checker(const void* p, uint64_t bytes, bool in_use) {
    if (in_use && __lsan_register_root_region != nullptr) __lsan_register_root_region(p, bytes);
    if (!in_use && __lsan_unregister_root_region != nullptr) {
        __lsan_unregister_root_region(p, bytes);
    }
}

bool is_big(uint64_t bytes) { return bytes >= qor::kBigBlock && bytes <= kLargestBig; }

// The mapping behind a big request: the next power of two. Only the pages written cost memory,
// so the rounding costs address space, not memory.
uint64_t class_bytes(uint64_t bytes) { return uint64_t{1} << (64 - __builtin_clzll(bytes - 1)); }

// 0 for kBigBlock, 1 for twice that, and so on.
int size_class(uint64_t bytes) {
    return __builtin_ctzll(class_bytes(bytes)) - __builtin_ctzll(qor::kBigBlock);
}

void hint_huge_pages(void* p, uint64_t bytes, qor::Touch touch) {
    if (touch == qor::Touch::kDense) qor::hint_dense(p, bytes);
}

// A fresh mapping of bytes, aligned to 2 MiB from that size up (the extra head and tail
// are unmapped again).
void* map_fresh(uint64_t bytes) {
    uint64_t align = bytes >= kHugePage ? kHugePage : 0;
    void* p =
        mmap(nullptr, bytes + align, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return nullptr;
    if (align == 0) return p;
    auto start = reinterpret_cast<uintptr_t>(p);
    uintptr_t aligned = (start + align - 1) & ~(align - 1);
    if (aligned > start) munmap(p, aligned - start);
    if (start + align > aligned)
        munmap(reinterpret_cast<void*>(aligned + bytes), start + align - aligned);
    return reinterpret_cast<void*>(aligned);
}

// A fork while another thread holds the lock would leave the child's copy locked for good: the
// lock is taken around fork and released on both sides.
void lock_spares() { pthread_mutex_lock(&spares.lock); }
void unlock_spares() { pthread_mutex_unlock(&spares.lock); }
pthread_once_t fork_guard = PTHREAD_ONCE_INIT;
void guard_fork() { pthread_atfork(lock_spares, unlock_spares, unlock_spares); }

}  // namespace

// A kept block goes to the next request of its size whatever its first use was; a dense
// request gives it the hint again, so pages it never had fault in huge.
// Asks for huge pages over the whole 2 MiB pages inside [p, p + bytes). With the kernel's usual
// defrag=madvise a fault there may compact memory first; a dense block is filled at once, so
// that cost comes once per 2 MiB that is written anyway, and kept blocks never pay it again.
// Only a hint: the bytes are the same whether or not the kernel follows it.
void qor::hint_dense(void* p, uint64_t bytes) {
    auto base = reinterpret_cast<uintptr_t>(p);
    uintptr_t first = (base + kHugePage - 1) & ~(kHugePage - 1);
    uintptr_t last = (base + bytes) & ~(kHugePage - 1);
    if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

void* qor::big_alloc(uint64_t bytes, bool zeroed, Touch touch) {
    if (!is_big(bytes)) return zeroed ? calloc(1, bytes) : malloc(bytes);
    pthread_once(&fork_guard, guard_fork);
    int c = size_class(bytes);
    pthread_mutex_lock(&spares.lock);
    void* p = nullptr;
    if (spares.count[c] > 0) {
        p = spares.blocks[c][--spares.count[c]];
        spares.kept_bytes -= class_bytes(bytes);
    }
    pthread_mutex_unlock(&spares.lock);
    bool fresh = p == nullptr;
    if (fresh) p = map_fresh(class_bytes(bytes));
    if (p == nullptr) return nullptr;
    hint_huge_pages(p, class_bytes(bytes), touch);
    if (zeroed && !fresh) memset(p, 0, bytes);
    name_to_leak_checker(p, bytes, true);
    return p;
}

void qor::big_free(void* p, uint64_t bytes) {
    if (p == nullptr) return;
    if (!is_big(bytes)) {
        free(p);
        return;
    }
    name_to_leak_checker(p, bytes, false);
    int c = size_class(bytes);
    bytes = class_bytes(bytes);
    pthread_mutex_lock(&spares.lock);
    bool kept = spares.count[c] < kSparePerSize && spares.kept_bytes + bytes <= kSpareBudget;
    if (kept) {
        spares.blocks[c][spares.count[c]++] = p;
        spares.kept_bytes += bytes;
    }
    pthread_mutex_unlock(&spares.lock);
    if (!kept) munmap(p, bytes);
}
