// Futures, tasks and the executor. A future is an already-complete 64-bit value; a task holds
// a result and a state; an executor keeps a growing list of tasks under one mutex and, each
// time it runs, steps the default event loop once without waiting.
// Invariants: a task in an executor's list belongs to it and is freed only by
// qor_executor_free (or by the end of qor_block_on); completed counts each task once, when it
// is added in state 2 or when a run turns it from 0 to 2. The mutex is never held while the
// event loop runs callbacks. A task's state and the completed count are read without the mutex
// (by the accessors, from any thread), so every access to them is atomic.
#include <pthread.h>
#include <stdlib.h>

#include <cstddef>

#include "core/internal.h"

// The executor record: the list, its two counters, and the mutex that guards all four.
struct QorExecutor {
    QorTask* head;
    QorTask* tail;
    int64_t spawned;
    int64_t completed;
    pthread_mutex_t mutex;
};

static_assert(sizeof(QorTask) == 24);
static_assert(offsetof(QorTask, value) == 0);
static_assert(offsetof(QorTask, state) == 8);
static_assert(offsetof(QorTask, next) == 16);
static_assert(sizeof(QorExecutor) == 32 + sizeof(pthread_mutex_t));
static_assert(offsetof(QorExecutor, head) == 0);
static_assert(offsetof(QorExecutor, tail) == 8);
static_assert(offsetof(QorExecutor, spawned) == 16);
static_assert(offsetof(QorExecutor, completed) == 24);
static_assert(offsetof(QorExecutor, mutex) == 32);

namespace {

constexpr int32_t kPending = 0;
constexpr int32_t kCompleted = 2;

// The task's state, as the accessors and the executors see it.
int32_t state_of(const QorTask* task) { return __atomic_load_n(&task->state, __ATOMIC_ACQUIRE); }

// Adds one to the completed count; the caller holds the mutex, readers may not.
void count_completed(QorExecutor* ex) {
    __atomic_store_n(&ex->completed, ex->completed + 1, __ATOMIC_RELEASE);
}

// Appends task at the tail and counts it; the caller holds the mutex.
void append_locked(QorExecutor* ex, QorTask* task) {
    task->next = nullptr;
    if (ex->tail == nullptr) {
        ex->head = task;
    } else {
        ex->tail->next = task;
    }
    ex->tail = task;
    ex->spawned++;
    if (state_of(task) == kCompleted) count_completed(ex);
}

// One zero-time-out step of the default loop, creating it on first need; skipped if it
// cannot be created.
void poll_default_loop() {
    QorEventLoop* loop = qor_get_event_loop();
    if (loop != nullptr) qor_event_loop_run_once(loop, 0);
}

// Turns every pending task into a completed one; other states are left alone.
void complete_pending(QorExecutor* ex) {
    pthread_mutex_lock(&ex->mutex);
    for (QorTask* t = ex->head; t != nullptr; t = t->next) {
        if (state_of(t) == kPending) {
            __atomic_store_n(&t->state, kCompleted, __ATOMIC_RELEASE);
            count_completed(ex);
        }
    }
    pthread_mutex_unlock(&ex->mutex);
}

}  // namespace

extern "C" QOR_API int64_t __future_await(int64_t value) { return value; }
QOR_PLAIN_ALIAS(future_await, __future_await);

extern "C" QOR_API QorTask* qor_task_new(int64_t value) {
    auto* task = static_cast<QorTask*>(malloc(sizeof(QorTask)));
    if (task == nullptr) return nullptr;
    task->value = value;
    task->state = kCompleted;
    task->next = nullptr;
    return task;
}

// The value is set once, when the task is made, so it needs no lock.
extern "C" QOR_API int64_t qor_task_get_result(const QorTask* task) {
    return task == nullptr ? 0 : task->value;
}

// Without the executor's mutex: an atomic read of a state that a run may be changing.
extern "C" QOR_API int64_t qor_task_is_completed(const QorTask* task) {
    return task == nullptr || state_of(task) == kCompleted;
}

// Only for tasks never handed to an executor.
extern "C" QOR_API void qor_task_free(QorTask* task) { free(task); }

extern "C" QOR_API QorExecutor* qor_executor_new(void) {
    auto* ex = static_cast<QorExecutor*>(calloc(1, sizeof(QorExecutor)));
    if (ex == nullptr) return nullptr;
    if (pthread_mutex_init(&ex->mutex, nullptr) != 0) {
        free(ex);
        return nullptr;
    }
    return ex;
}

extern "C" QOR_API void qor_executor_spawn(QorExecutor* executor, QorTask* task) {
    if (executor == nullptr || task == nullptr) return;
    pthread_mutex_lock(&executor->mutex);
    append_locked(executor, task);
    pthread_mutex_unlock(&executor->mutex);
}

extern "C" QOR_API void qor_executor_run(QorExecutor* executor) {
    if (executor == nullptr) return;
    poll_default_loop();
    complete_pending(executor);
}

// Falls back to returning value when its task cannot be allocated.
extern "C" QOR_API int64_t qor_executor_block_on(QorExecutor* executor, int64_t value) {
    if (executor == nullptr) return value;
    QorTask* task = qor_task_new(value);
    if (task != nullptr) {
        pthread_mutex_lock(&executor->mutex);
        append_locked(executor, task);
        pthread_mutex_unlock(&executor->mutex);
    }
    poll_default_loop();
    complete_pending(executor);
    return value;  // the task's value, which nothing changes after it was made
}

// Without the executor's mutex: an atomic read of a count that other threads may be raising.
extern "C" QOR_API int64_t qor_executor_completed_count(const QorExecutor* executor) {
    if (executor == nullptr) return 0;
    return __atomic_load_n(&executor->completed, __ATOMIC_ACQUIRE);
}

extern "C" QOR_API void qor_executor_free(QorExecutor* executor) {
    if (executor == nullptr) return;
    QorTask* t = executor->head;
    while (t != nullptr) {
        QorTask* next = t->next;
        free(t);
        t = next;
    }
    pthread_mutex_destroy(&executor->mutex);
    free(executor);
}

extern "C" QOR_API int64_t qor_block_on(int64_t value) {
    qor_get_event_loop();
    QorExecutor* ex = qor_executor_new();
    if (ex == nullptr) return value;
    int64_t result = qor_executor_block_on(ex, value);
    qor_executor_free(ex);
    return result;
}
