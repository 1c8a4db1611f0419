// Pools run every task queued before their join, start tasks in queue order, and free
// themselves on join; scopes join every thread they started, including threads started by
// their own threads. Tasks take no arguments, so they report through globals.
#include <stdint.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <utility>

#include "test_support.h"

namespace {

using Clock = std::chrono::steady_clock;

void pause_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

std::atomic<int64_t> g_count{0};
void count_task() { g_count.fetch_add(1, std::memory_order_relaxed); }

// Ten tasks that write their own number into the next free slot.
constexpr int kOrdered = 10;
std::atomic<int> g_next_slot{0};
int g_order[kOrdered];
template <int I>
void ordered_task() {
    g_order[g_next_slot.fetch_add(1)] = I;
}
template <int... I>
void queue_ordered(QorThreadPool* pool, std::integer_sequence<int, I...>) {
    (qor_thread_pool_execute(pool, ordered_task<I>), ...);
}

// Waits (bounded) until the test lets it go; lets a test hold a worker busy.
std::atomic<bool> g_release{false};
std::atomic<bool> g_blocker_started{false};
void blocking_task() {
    g_blocker_started = true;
    auto start = Clock::now();
    while (!g_release && Clock::now() - start < std::chrono::seconds(5)) pause_ms(1);
    count_task();
}

// A task that queues another task on the pool it runs on.
QorThreadPool* g_pool = nullptr;
void requeueing_task() {
    pause_ms(5);
    qor_thread_pool_execute(g_pool, count_task);
    count_task();
}

}  // namespace

TEST(PoolNew, NonPositiveWorkerCountsMeanFour) {
    for (int64_t workers : {0, -3}) {
        QorThreadPool* pool = qor_thread_pool_new(workers);
        ASSERT_NE(pool, nullptr);
        EXPECT_EQ(pool->thread_count, 4);
        qor_thread_pool_join(pool);
    }
    QorThreadPool* pool = qor_thread_pool_new(2);
    ASSERT_NE(pool, nullptr);
    EXPECT_EQ(pool->thread_count, 2);
    EXPECT_EQ(pool->head, nullptr);
    EXPECT_EQ(pool->tail, nullptr);
    qor_thread_pool_join(pool);
}

TEST(PoolNull, EveryOperationIgnoresNull) {
    qor_thread_pool_execute(nullptr, count_task);
    qor_thread_pool_shutdown(nullptr);
    qor_thread_pool_join(nullptr);
    g_count = 0;
    QorThreadPool* pool = qor_thread_pool_new(1);
    qor_thread_pool_execute(pool, nullptr);
    EXPECT_EQ(pool->head, nullptr);
    qor_thread_pool_join(pool);
    EXPECT_EQ(g_count.load(), 0);
}

TEST(PoolOrder, OneWorkerRunsTasksInQueueOrder) {
    g_next_slot = 0;
    QorThreadPool* pool = qor_thread_pool_new(1);
    queue_ordered(pool, std::make_integer_sequence<int, kOrdered>());
    qor_thread_pool_join(pool);
    ASSERT_EQ(g_next_slot.load(), kOrdered);
    for (int i = 0; i < kOrdered; i++) EXPECT_EQ(g_order[i], i);
}

// Join shuts down, but workers drain the queue first, including tasks queued by running tasks.
TEST(PoolJoin, RunsEveryQueuedTask) {
    g_count = 0;
    QorThreadPool* pool = qor_thread_pool_new(2);
    for (int i = 0; i < 5000; i++) qor_thread_pool_execute(pool, count_task);
    qor_thread_pool_join(pool);
    EXPECT_EQ(g_count.load(), 5000);

    g_count = 0;
    g_pool = qor_thread_pool_new(1);
    qor_thread_pool_execute(g_pool, requeueing_task);
    qor_thread_pool_join(g_pool);
    EXPECT_EQ(g_count.load(), 2);
}

// Several threads queue at once; nothing is lost from the shared queue.
TEST(PoolJoin, ConcurrentQueueingLosesNoTask) {
    g_count = 0;
    QorThreadPool* pool = qor_thread_pool_new(3);
    std::thread queuers[3];
    for (auto& t : queuers) {
        t = std::thread([pool] {
            for (int i = 0; i < 2000; i++) qor_thread_pool_execute(pool, count_task);
        });
    }
    for (auto& t : queuers) t.join();
    qor_thread_pool_join(pool);
    EXPECT_EQ(g_count.load(), 6000);
}

// Shutdown does not wait for a busy worker; the later join still runs what is queued and frees
// the pool.
TEST(PoolShutdown, ReturnsAtOnceAndJoinStillDrains) {
    g_count = 0;
    g_release = false;
    g_blocker_started = false;
    QorThreadPool* pool = qor_thread_pool_new(1);
    qor_thread_pool_execute(pool, blocking_task);
    qor_thread_pool_execute(pool, count_task);
    auto start = Clock::now();
    while (!g_blocker_started && Clock::now() - start < std::chrono::seconds(5)) pause_ms(1);
    qor_thread_pool_shutdown(pool);
    qor_thread_pool_shutdown(pool);
    EXPECT_EQ(g_count.load(), 0);
    g_release = true;
    qor_thread_pool_join(pool);
    EXPECT_EQ(g_count.load(), 2);
}

namespace {

std::atomic<int> g_finished{0};
void slow_scope_task() {
    pause_ms(20);
    g_finished++;
}

QorScope* g_scope = nullptr;
void nested_scope_task() {
    pause_ms(10);
    qor_scope_spawn(g_scope, slow_scope_task);
    g_finished++;
}

}  // namespace

TEST(Scope, WaitJoinsEveryThread) {
    QorScope* empty = qor_scope_new();
    ASSERT_NE(empty, nullptr);
    qor_scope_wait(empty);

    g_finished = 0;
    QorScope* scope = qor_scope_new();
    for (int i = 0; i < 3; i++) qor_scope_spawn(scope, slow_scope_task);
    qor_scope_spawn(scope, nullptr);
    qor_scope_wait(scope);
    EXPECT_EQ(g_finished.load(), 3);

    qor_scope_spawn(nullptr, slow_scope_task);
    qor_scope_wait(nullptr);
}

// A scope thread that starts another thread of the same scope while the scope is being waited
// for: the wait also covers the thread started late.
TEST(Scope, WaitCoversThreadsStartedByScopeThreads) {
    g_finished = 0;
    g_scope = qor_scope_new();
    qor_scope_spawn(g_scope, nested_scope_task);
    qor_scope_spawn(g_scope, nested_scope_task);
    qor_scope_wait(g_scope);
    EXPECT_EQ(g_finished.load(), 4);
}

// Many scope threads from several spawning threads: the list is pushed under the lock, so
// every thread is joined.
TEST(Scope, ConcurrentSpawnsAreAllJoined) {
    g_count = 0;
    QorScope* scope = qor_scope_new();
    std::thread spawners[2];
    for (auto& t : spawners) {
        t = std::thread([scope] {
            for (int i = 0; i < 16; i++) qor_scope_spawn(scope, count_task);
        });
    }
    for (auto& t : spawners) t.join();
    qor_scope_wait(scope);
    EXPECT_EQ(g_count.load(), 32);
}
