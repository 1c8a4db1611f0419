// Futures, tasks and executors: awaited values, completion counts, pending tasks, the
// zero-time-out step of the default loop, and spawning from several threads.
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

#include "test_support.h"

TEST(Future, AwaitReturnsTheValue) {
    EXPECT_EQ(__future_await(5), 5);
    EXPECT_EQ(future_await(0), 0);
    EXPECT_EQ(future_await(INT64_MIN), INT64_MIN);
}

TEST(Task, NewTasksAreCompletedAndNullIsNeutral) {
    QorTask* t = qor_task_new(42);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(qor_task_is_completed(t), 1);
    EXPECT_EQ(qor_task_get_result(t), 42);
    EXPECT_EQ(t->state, 2);
    EXPECT_EQ(t->next, nullptr);
    EXPECT_EQ(qor_task_is_completed(nullptr), 1);
    EXPECT_EQ(qor_task_get_result(nullptr), 0);
    qor_task_free(t);
    qor_task_free(nullptr);
}

// Spawned tasks count when added completed; a run completes pending ones (state 0) once and
// leaves other states alone.
TEST(Executor, CountsCompletedTasks) {
    QorExecutor* ex = qor_executor_new();
    ASSERT_NE(ex, nullptr);
    qor_executor_spawn(ex, qor_task_new(1));
    qor_executor_spawn(ex, qor_task_new(2));
    EXPECT_EQ(qor_executor_completed_count(ex), 2);
    QorTask* pending = qor_task_new(3);
    pending->state = 0;
    QorTask* other = qor_task_new(4);
    other->state = 7;
    qor_executor_spawn(ex, pending);
    qor_executor_spawn(ex, other);
    qor_executor_spawn(ex, nullptr);
    qor_executor_spawn(nullptr, nullptr);
    EXPECT_EQ(qor_executor_completed_count(ex), 2);
    qor_executor_run(ex);
    EXPECT_EQ(qor_task_is_completed(pending), 1);
    EXPECT_EQ(other->state, 7);
    EXPECT_EQ(qor_executor_completed_count(ex), 3);
    qor_executor_run(ex);
    EXPECT_EQ(qor_executor_completed_count(ex), 3);
    EXPECT_EQ(qor_executor_block_on(ex, 99), 99);
    EXPECT_EQ(qor_executor_completed_count(ex), 4);
    qor_executor_run(nullptr);
    EXPECT_EQ(qor_executor_block_on(nullptr, 11), 11);
    EXPECT_EQ(qor_executor_completed_count(nullptr), 0);
    qor_executor_free(ex);
    qor_executor_free(nullptr);
}

namespace {
int g_ready_calls = 0;
void count_ready(void*, int64_t, int32_t) { g_ready_calls++; }
}  // namespace

// Run, block-on and qor_block_on each give the default loop one step that does not wait.
TEST(Executor, StepsTheDefaultLoopWithoutWaiting) {
    qor_event_loop_destroy(g_event_loop);
    EXPECT_EQ(qor_block_on(7), 7);
    ASSERT_NE(g_event_loop, nullptr);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(qor_event_loop_register(g_event_loop, fds[0], 1, count_ready, nullptr), 0);
    QorExecutor* ex = qor_executor_new();
    g_ready_calls = 0;
    qor_executor_run(ex);  // nothing ready: returns at once
    EXPECT_EQ(g_ready_calls, 0);
    ASSERT_EQ(write(fds[1], "x", 1), 1);
    qor_executor_run(ex);
    EXPECT_EQ(g_ready_calls, 1);
    qor_executor_block_on(ex, 1);
    EXPECT_EQ(g_ready_calls, 2);
    qor_block_on(1);
    EXPECT_EQ(g_ready_calls, 3);
    qor_event_loop_unregister(g_event_loop, fds[0]);
    close(fds[0]);
    close(fds[1]);
    qor_executor_free(ex);
}

// Spawning and running on several threads while another thread reads the count and a task's
// state without the mutex (ThreadSanitizer checks that those reads are not races).
TEST(Executor, SpawnFromSeveralThreadsCountsEveryTask) {
    QorExecutor* ex = qor_executor_new();
    QorTask* watched = qor_task_new(-1);
    watched->state = 0;
    qor_executor_spawn(ex, watched);
    std::atomic<bool> spawning{true};
    std::thread watcher([&] {
        int64_t last = 0;
        bool saw_completion = false;
        while (spawning.load() || !saw_completion) {
            int64_t now = qor_executor_completed_count(ex);
            EXPECT_GE(now, last);
            last = now;
            saw_completion = saw_completion || qor_task_is_completed(watched) == 1;
        }
        EXPECT_EQ(qor_task_get_result(watched), -1);
    });
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++) {
        threads.emplace_back([ex, t] {
            for (int i = 0; i < 500; i++) {
                QorTask* task = qor_task_new(i);
                if (i % 2 == 0) task->state = 0;
                qor_executor_spawn(ex, task);
                if (t == 0 && i % 50 == 0) qor_executor_block_on(ex, i);
            }
        });
    }
    for (auto& th : threads) th.join();
    qor_executor_run(ex);
    spawning = false;
    watcher.join();
    EXPECT_EQ(qor_executor_completed_count(ex), 1 + 2000 + 10);
    qor_executor_free(ex);
}
