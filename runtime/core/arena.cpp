// The per-thread arena behind qor_alloc, and its control operations.
// Invariants: the list runs from g_arena_head through next to g_arena_current (whose next is
// null); used <= size and used is a multiple of 8; g_arena_total_allocated is the sum of the
// sizes of the listed blocks. Only g_arena_enabled is shared between threads.
// A thread that ends with every block empty (it reset or rewound to nothing) gives its blocks
// back then; one that ends with values in its arena keeps them for whoever reads them later.
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>

#include "core/internal.h"

static_assert(sizeof(QorArenaBlock) == 32);
static_assert(offsetof(QorArenaBlock, data) == 0);
static_assert(offsetof(QorArenaBlock, used) == 8);
static_assert(offsetof(QorArenaBlock, size) == 16);
static_assert(offsetof(QorArenaBlock, next) == 24);

extern "C" {
QOR_API int32_t g_arena_enabled = 0;
}

// Initial-exec TLS keeps the allocation fast path free of __tls_get_addr calls even inside the
// shared library.
#define QOR_TLS static thread_local __attribute__((tls_model("initial-exec")))

QOR_TLS QorArenaBlock* g_arena_head = nullptr;
// Not static: the string maker's inlined fast path (core/internal.h) bumps it too.
__thread QorArenaBlock* g_arena_current QOR_INITIAL_EXEC = nullptr;
QOR_TLS uint64_t g_arena_total_allocated = 0;
QOR_TLS QorArenaBlock* g_arena_save_block = nullptr;
QOR_TLS uint64_t g_arena_save_used = 0;
QOR_TLS uint64_t g_arena_save_total = 0;
QOR_TLS uint64_t g_arena_max_size = 0;

namespace {

constexpr uint64_t kBlockSize = 8388608;
constexpr uint64_t kOversizeSlack = 64;
constexpr uint64_t kSmallStart = uint64_t{2} << 20;
constexpr uint64_t kDefaultLimit = 4294967296ULL;

}  // namespace

// So "1.5G" is 15 GiB and "2GB" is 2 bytes.
uint64_t qor::parse_arena_limit(const char* value) {
    if (value == nullptr || value[0] == '\0') return kDefaultLimit;
    uint64_t acc = 0;
    size_t n = 0;
    for (; value[n] != '\0'; n++) {
        char c = value[n];
        if (c >= '0' && c <= '9') {
            acc = qor::bytes_for(acc, 10, static_cast<uint64_t>(c - '0'));  // saturates
        }
    }
    char last = value[n - 1];
    if (last == 'G' || last == 'g') acc = qor::bytes_for(acc, uint64_t{1} << 30);
    if (last == 'M' || last == 'm') acc = qor::bytes_for(acc, uint64_t{1} << 20);
    return acc == 0 ? kDefaultLimit : acc;
}

namespace {

[[noreturn]] void limit_exceeded() {
    fprintf(stderr, "[qor] FATAL: arena memory limit exceeded (%zu MB / %zu MB max)\n",
            static_cast<size_t>(g_arena_total_allocated >> 20),
            static_cast<size_t>(g_arena_max_size >> 20));
    static const char kHint[] =
        "[qor] Set QOR_ARENA_MAX_SIZE environment variable to increase (e.g. 8G)\n";
    fwrite(kHint, 1, sizeof kHint - 1, stderr);
    qor::fatal_exit();
}

// Blocks are big blocks: mapped directly and kept for the next block when freed, so a thread
// that ends or resets hands its touched pages to the next one. Only the pages a thread writes
// cost memory. Huge pages save faults and TLB misses where the arena is filled, so every block
// asks for them except the first kSmallStart bytes of a thread's first block: a thread that
// makes a few strings costs a few 4 KiB pages, not a 2 MiB one, and a thread that writes past
// them is filling its arena. The main thread's arena is the program's own workspace and asks
// from its first byte.
void* block_buffer(uint64_t size, bool first) {
    auto* p = static_cast<char*>(qor::big_alloc(size, false, qor::Touch::kSparse));
    if (p == nullptr) return nullptr;
    uint64_t small = first && getpid() != gettid() ? kSmallStart : 0;
    qor::hint_dense(p + small, size - small);
    return p;
}

void free_block_buffer(QorArenaBlock* b) { qor::big_free(b->data, b->size); }

void free_chain(QorArenaBlock* b) {
    while (b != nullptr) {
        QorArenaBlock* next = b->next;
        free_block_buffer(b);
        free(b);
        b = next;
    }
}

void forget_all_blocks() {
    free_chain(g_arena_head);
    g_arena_head = nullptr;
    g_arena_current = nullptr;
    g_arena_total_allocated = 0;
    g_arena_save_block = nullptr;
}

// Thread-exit destructor of a thread that made arena blocks: they go back when nothing in them
// can be live, that is when every block is empty.
void release_if_empty(void*) {
    for (const QorArenaBlock* b = g_arena_head; b != nullptr; b = b->next) {
        if (b->used != 0) return;
    }
    forget_all_blocks();
}

pthread_key_t g_thread_exit_key;
pthread_once_t g_thread_exit_once = PTHREAD_ONCE_INIT;
bool g_thread_exit_ready = false;

void make_thread_exit_key() {
    g_thread_exit_ready = pthread_key_create(&g_thread_exit_key, release_if_empty) == 0;
}

// Arms the calling thread's exit destructor; the value only needs to be non-null.
void watch_thread_exit() {
    pthread_once(&g_thread_exit_once, make_thread_exit_key);
    if (g_thread_exit_ready) pthread_setspecific(g_thread_exit_key, &g_arena_head);
}

// The slow path: a new block at the tail of the list. n is already rounded.
__attribute__((noinline)) void* alloc_new_block(uint64_t n) {
    if (g_arena_max_size == 0)
        g_arena_max_size = qor::parse_arena_limit(getenv("QOR_ARENA_MAX_SIZE"));
    if (n > UINT64_MAX - kOversizeSlack || g_arena_total_allocated > g_arena_max_size ||
        n > g_arena_max_size - g_arena_total_allocated) {
        limit_exceeded();
    }
    uint64_t size = n <= kBlockSize ? kBlockSize : n + kOversizeSlack;
    // A heap that cannot give a whole block may still give the request alone: that memory is
    // not tracked by the arena and never released by it.
    auto* block = static_cast<QorArenaBlock*>(malloc(sizeof(QorArenaBlock)));
    if (block == nullptr) return qor::xmalloc(n);
    block->data = static_cast<char*>(block_buffer(size, g_arena_head == nullptr));
    if (block->data == nullptr) {
        free(block);
        return qor::xmalloc(n);
    }
    block->used = n;
    block->size = size;
    block->next = nullptr;
    g_arena_total_allocated += size;
    if (g_arena_current != nullptr) {
        g_arena_current->next = block;
    } else {
        g_arena_head = block;
        watch_thread_exit();
    }
    g_arena_current = block;
    return block->data;
}

}  // namespace

extern "C" void* qor_alloc(uint64_t n) {
    if (__atomic_load_n(&g_arena_enabled, __ATOMIC_RELAXED) == 0) return qor::xmalloc(n);
    if (n > UINT64_MAX - 7) limit_exceeded();
    n = (n + 7) & ~uint64_t{7};
    QorArenaBlock* b = g_arena_current;
    if (b != nullptr && n <= b->size - b->used) {
        char* p = b->data + b->used;
        b->used += n;
        return p;
    }
    return alloc_new_block(n);
}

extern "C" QOR_API int64_t qor_arena_mode(int32_t flag) {
    __atomic_store_n(&g_arena_enabled, flag, __ATOMIC_RELAXED);
    return 0;
}

// Keeps the head block, emptied; a save point inside a released block is forgotten.
extern "C" QOR_API int64_t qor_arena_reset(void) {
    if (g_arena_head == nullptr) return 0;
    for (QorArenaBlock* b = g_arena_head->next; b != nullptr; b = b->next) {
        g_arena_total_allocated -= b->size;
        if (b == g_arena_save_block) g_arena_save_block = nullptr;
    }
    free_chain(g_arena_head->next);
    g_arena_head->used = 0;
    g_arena_head->next = nullptr;
    g_arena_current = g_arena_head;
    return 0;
}

extern "C" QOR_API int64_t qor_arena_save(void) {
    g_arena_save_block = g_arena_current;
    g_arena_save_used = g_arena_current != nullptr ? g_arena_current->used : 0;
    g_arena_save_total = g_arena_total_allocated;
    return 0;
}

// The save point stays set, so the same point can be restored again.
extern "C" QOR_API int64_t qor_arena_restore(void) {
    QorArenaBlock* saved = g_arena_save_block;
    if (saved == nullptr) return 0;
    free_chain(saved->next);
    saved->next = nullptr;
    saved->used = g_arena_save_used;
    g_arena_current = saved;
    g_arena_total_allocated = g_arena_save_total;
    return 0;
}

extern "C" QOR_API int64_t qor_arena_usage(void) {
    return static_cast<int64_t>(g_arena_total_allocated);
}

// Releases every block, forgets the save point and switches the arena off process-wide.
extern "C" QOR_API int64_t qor_arena_destroy(void) {
    forget_all_blocks();
    __atomic_store_n(&g_arena_enabled, 0, __ATOMIC_RELAXED);
    return 0;
}

QOR_PLAIN_ALIAS(arena_mode, qor_arena_mode);
QOR_PLAIN_ALIAS(arena_reset, qor_arena_reset);
QOR_PLAIN_ALIAS(arena_save, qor_arena_save);
QOR_PLAIN_ALIAS(arena_restore, qor_arena_restore);
QOR_PLAIN_ALIAS(arena_usage, qor_arena_usage);
QOR_PLAIN_ALIAS(arena_destroy, qor_arena_destroy);
