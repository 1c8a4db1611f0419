// Thread pools (a fixed set of workers draining one first-in, first-out task queue) and scopes
// (one new thread per function, all joined at once).
// Pool invariants, under the pool's mutex: head is null exactly when tail is null, and tail's
// next is null; threads[0, thread_count) all name started workers. A worker ends only when the
// queue is empty and shutdown is set, so every task queued before then runs. No lock is held
// while a task runs or while threads are joined, so tasks may queue tasks or start scope
// threads. Task nodes come from slabs the pool owns and return to it when their task is done;
// only join gives the slabs back to the heap.
#include <limits.h>
#include <stdlib.h>

#include <cstddef>

#include "core/internal.h"

static_assert(offsetof(QorPoolTask, fn) == 0);
static_assert(offsetof(QorPoolTask, next) == 8);
static_assert(sizeof(QorPoolTask) == 16);

static_assert(offsetof(QorThreadPool, threads) == 0);
static_assert(offsetof(QorThreadPool, thread_count) == 8);
static_assert(offsetof(QorThreadPool, head) == 16);
static_assert(offsetof(QorThreadPool, tail) == 24);
static_assert(offsetof(QorThreadPool, mutex) == 32);
static_assert(offsetof(QorThreadPool, work_ready) == 32 + sizeof(pthread_mutex_t));
static_assert(offsetof(QorThreadPool, shutdown) ==
              32 + sizeof(pthread_mutex_t) + sizeof(pthread_cond_t));
static_assert(offsetof(QorThreadPool, active) == offsetof(QorThreadPool, shutdown) + 4);
static_assert(sizeof(QorThreadPool) == offsetof(QorThreadPool, shutdown) + 8);

static_assert(offsetof(QorScopeThread, thread) == 0);
static_assert(offsetof(QorScopeThread, next) == 8);
static_assert(sizeof(QorScopeThread) == 16);

static_assert(offsetof(QorScope, head) == 0);
static_assert(offsetof(QorScope, mutex) == 8);
static_assert(sizeof(QorScope) == 8 + sizeof(pthread_mutex_t));

namespace {

constexpr int32_t kDefaultWorkers = 4;

// Task nodes are carved from slabs that belong to the pool: one malloc serves many tasks, and a
// finished node goes back to the pool's spare list instead of to free. Allocating and freeing
// one node per task, on two different threads, costs more than the rest of a small task.
constexpr int kNodesPerSlab = 63;
struct TaskSlab {
    TaskSlab* next;
    QorPoolTask nodes[kNodesPerSlab];
};

// A pool as allocated: the record handed out, then the node store, guarded by the pool's
// mutex. spare links unused nodes through next; slabs lists every slab, freed only by join.
struct PoolBlock {
    QorThreadPool pool;
    QorPoolTask* spare;
    TaskSlab* slabs;
};
static_assert(offsetof(PoolBlock, pool) == 0);

PoolBlock* block_of(QorThreadPool* pool) { return reinterpret_cast<PoolBlock*>(pool); }

// With the mutex held: returns a node to the spare list.
void retire_task(PoolBlock* block, QorPoolTask* task) {
    task->next = block->spare;
    block->spare = task;
}

// With the mutex held: an unused node, or null when a new slab is needed.
QorPoolTask* take_spare(PoolBlock* block) {
    QorPoolTask* task = block->spare;
    if (task != nullptr) block->spare = task->next;
    return task;
}

// With the mutex held: adds a fresh slab, keeps all its nodes but the first and returns that.
QorPoolTask* adopt_slab(PoolBlock* block, TaskSlab* slab) {
    slab->next = block->slabs;
    block->slabs = slab;
    for (int i = kNodesPerSlab - 1; i > 0; i--) retire_task(block, &slab->nodes[i]);
    return &slab->nodes[0];
}

void request_shutdown(QorThreadPool* pool) {
    pthread_mutex_lock(&pool->mutex);
    pool->shutdown = 1;
    pthread_cond_broadcast(&pool->work_ready);
    pthread_mutex_unlock(&pool->mutex);
}

}  // namespace

// The loop of every pool worker: take the first task, run it unlocked, repeat; end once the
// queue is empty and shutdown is set. The lock taken to count a finished task is kept for
// the next look at the queue.
extern "C" void* qor_thread_pool_worker(void* arg) {
    auto* pool = static_cast<QorThreadPool*>(arg);
    pthread_mutex_lock(&pool->mutex);
    for (;;) {
        while (pool->head == nullptr) {
            if (pool->shutdown) {
                pthread_mutex_unlock(&pool->mutex);
                return nullptr;
            }
            pthread_cond_wait(&pool->work_ready, &pool->mutex);
        }
        QorPoolTask* task = pool->head;
        pool->head = task->next;
        if (pool->head == nullptr) pool->tail = nullptr;
        pool->active++;
        pthread_mutex_unlock(&pool->mutex);

        task->fn();

        pthread_mutex_lock(&pool->mutex);
        retire_task(block_of(pool), task);
        pool->active--;
    }
}

// Workers that cannot be started are left out: thread_count is the number actually running,
// and a pool none of whose workers started is not made at all.
extern "C" QOR_API QorThreadPool* qor_thread_pool_new(int64_t workers) {
    if (workers <= 0) workers = kDefaultWorkers;
    if (workers > INT32_MAX) return nullptr;
    auto* block = static_cast<PoolBlock*>(malloc(sizeof(PoolBlock)));
    if (block == nullptr) return nullptr;
    block->spare = nullptr;
    block->slabs = nullptr;
    QorThreadPool* pool = &block->pool;
    pool->threads =
        static_cast<pthread_t*>(malloc(static_cast<size_t>(workers) * sizeof(pthread_t)));
    if (pool->threads == nullptr) {
        free(block_of(pool));
        return nullptr;
    }
    pool->thread_count = 0;
    pool->head = nullptr;
    pool->tail = nullptr;
    pool->shutdown = 0;
    pool->active = 0;
    pthread_mutex_init(&pool->mutex, nullptr);
    pthread_cond_init(&pool->work_ready, nullptr);

    int32_t started = 0;
    while (started < workers &&
           pthread_create(&pool->threads[started], nullptr, qor_thread_pool_worker, pool) == 0) {
        started++;
    }
    if (started == 0) {
        pthread_cond_destroy(&pool->work_ready);
        pthread_mutex_destroy(&pool->mutex);
        free(pool->threads);
        free(block_of(pool));
        return nullptr;
    }
    pool->thread_count = started;
    return pool;
}

// Does not look at shutdown: a task queued after the workers ended is freed unrun by join.
extern "C" QOR_API void qor_thread_pool_execute(QorThreadPool* pool, QorTaskFn fn) {
    if (pool == nullptr || fn == nullptr) return;
    PoolBlock* block = block_of(pool);
    pthread_mutex_lock(&pool->mutex);
    QorPoolTask* task = take_spare(block);
    if (task == nullptr) {
        // Allocate outside the lock; other threads may queue meanwhile.
        pthread_mutex_unlock(&pool->mutex);
        auto* slab = static_cast<TaskSlab*>(malloc(sizeof(TaskSlab)));
        if (slab == nullptr) return;
        pthread_mutex_lock(&pool->mutex);
        task = adopt_slab(block, slab);
    }
    task->fn = fn;
    task->next = nullptr;
    if (pool->tail == nullptr) {
        pool->head = task;
    } else {
        pool->tail->next = task;
    }
    pool->tail = task;
    pthread_cond_signal(&pool->work_ready);
    pthread_mutex_unlock(&pool->mutex);
}

extern "C" QOR_API void qor_thread_pool_shutdown(QorThreadPool* pool) {
    if (pool == nullptr) return;
    request_shutdown(pool);
}

extern "C" QOR_API void qor_thread_pool_join(QorThreadPool* pool) {
    if (pool == nullptr) return;
    request_shutdown(pool);
    for (int32_t i = 0; i < pool->thread_count; i++) pthread_join(pool->threads[i], nullptr);
    // Queued, spare and finished nodes all live in the slabs.
    TaskSlab* slab = block_of(pool)->slabs;
    while (slab != nullptr) {
        TaskSlab* next = slab->next;
        free(slab);
        slab = next;
    }
    pthread_cond_destroy(&pool->work_ready);
    pthread_mutex_destroy(&pool->mutex);
    free(pool->threads);
    free(block_of(pool));
}

// The body of every scope thread: cell is a malloc'd word holding the function.
extern "C" void* qor_scope_thread_func(void* cell) {
    QorTaskFn fn = *static_cast<QorTaskFn*>(cell);
    fn();
    free(cell);
    return nullptr;
}

extern "C" QOR_API QorScope* qor_scope_new(void) {
    auto* scope = static_cast<QorScope*>(malloc(sizeof(QorScope)));
    if (scope == nullptr) return nullptr;
    scope->head = nullptr;
    pthread_mutex_init(&scope->mutex, nullptr);
    return scope;
}

// Allocation and thread-start failures drop fn silently.
extern "C" QOR_API void qor_scope_spawn(QorScope* scope, QorTaskFn fn) {
    if (scope == nullptr || fn == nullptr) return;
    auto* cell = static_cast<QorTaskFn*>(malloc(sizeof(QorTaskFn)));
    if (cell == nullptr) return;
    *cell = fn;
    auto* node = static_cast<QorScopeThread*>(malloc(sizeof(QorScopeThread)));
    if (node == nullptr) {
        free(cell);
        return;
    }
    if (pthread_create(&node->thread, nullptr, qor_scope_thread_func, cell) != 0) {
        free(cell);
        free(node);
        return;
    }
    pthread_mutex_lock(&scope->mutex);
    node->next = scope->head;
    scope->head = node;
    pthread_mutex_unlock(&scope->mutex);
}

// Joins most recently started first. Threads of the scope may start further scope threads
// while being joined, so the list is taken again until it stays empty: every thread started
// through the scope has ended when this returns.
extern "C" QOR_API void qor_scope_wait(QorScope* scope) {
    if (scope == nullptr) return;
    for (;;) {
        pthread_mutex_lock(&scope->mutex);
        QorScopeThread* node = scope->head;
        scope->head = nullptr;
        pthread_mutex_unlock(&scope->mutex);
        if (node == nullptr) break;
        while (node != nullptr) {
            QorScopeThread* next = node->next;
            pthread_join(node->thread, nullptr);
            free(node);
            node = next;
        }
    }
    pthread_mutex_destroy(&scope->mutex);
    free(scope);
}
