// Locks hand their value out on lock and take it back on unlock with no lost update under
// contention; tries report busy locks with their own neutral results; barriers release exactly
// one completing thread per cycle; condition variables wake waiters that hold a runtime mutex.
#include <atomic>
#include <thread>
#include <vector>

#include "test_support.h"

TEST(Mutex, HandsTheValueOutAndBack) {
    QorMutex* m = qor_mutex_new(7);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(qor_mutex_lock(m), 7);
    qor_mutex_unlock(m, 9);
    EXPECT_EQ(qor_mutex_lock(m), 9);
    qor_mutex_unlock(m, 0);
    EXPECT_EQ(qor_mutex_try_lock(m), 0);  // taken, but holding 0: looks like busy
    qor_mutex_unlock(m, 11);
    EXPECT_EQ(qor_mutex_try_lock(m), 11);
    qor_mutex_unlock(m, 11);
    qor_mutex_free(m);
}

TEST(Mutex, NullHandleIsNeutral) {
    EXPECT_EQ(qor_mutex_lock(nullptr), 0);
    EXPECT_EQ(qor_mutex_try_lock(nullptr), 0);
    qor_mutex_unlock(nullptr, 5);
    qor_mutex_free(nullptr);
}

TEST(Mutex, TryLockOnAMutexHeldElsewhereIsZero) {
    QorMutex* m = qor_mutex_new(3);
    ASSERT_EQ(qor_mutex_lock(m), 3);
    int64_t seen = -1;
    std::thread([&] { seen = qor_mutex_try_lock(m); }).join();
    EXPECT_EQ(seen, 0);
    qor_mutex_unlock(m, 4);
    std::thread([&] {
        seen = qor_mutex_try_lock(m);
        qor_mutex_unlock(m, seen + 1);
    }).join();
    EXPECT_EQ(seen, 4);
    EXPECT_EQ(qor_mutex_lock(m), 5);
    qor_mutex_unlock(m, 5);
    qor_mutex_free(m);
}

// Every increment goes through lock (read) and unlock (write back): a lost update shows as a
// short total.
TEST(Mutex, ConcurrentIncrementsLoseNoUpdate) {
    constexpr int kThreads = 8;
    constexpr int kRounds = 2000;
    QorMutex* m = qor_mutex_new(0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; t++) {
        threads.emplace_back([m] {
            for (int i = 0; i < kRounds; i++) qor_mutex_unlock(m, qor_mutex_lock(m) + 1);
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(qor_mutex_lock(m), kThreads * kRounds);
    qor_mutex_unlock(m, 0);
    qor_mutex_free(m);
}

TEST(RwLock, HandsTheValueOutAndBackAndNullIsNeutral) {
    QorRwLock* l = qor_rwlock_new(10);
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(qor_rwlock_read(l), 10);
    EXPECT_EQ(qor_rwlock_try_read(l), 10);  // shared access is granted twice
    qor_rwlock_read_unlock(l);
    qor_rwlock_read_unlock(l);
    EXPECT_EQ(qor_rwlock_write(l), 10);
    qor_rwlock_write_unlock(l, 0);
    EXPECT_EQ(qor_rwlock_try_write(l), 0);  // a granted try can carry 0, unlike the mutex's
    qor_rwlock_write_unlock(l, 12);
    EXPECT_EQ(qor_rwlock_read(l), 12);
    qor_rwlock_read_unlock(l);
    qor_rwlock_free(l);

    EXPECT_EQ(qor_rwlock_read(nullptr), 0);
    EXPECT_EQ(qor_rwlock_write(nullptr), 0);
    EXPECT_EQ(qor_rwlock_try_read(nullptr), -1);
    EXPECT_EQ(qor_rwlock_try_write(nullptr), -1);
    qor_rwlock_read_unlock(nullptr);
    qor_rwlock_write_unlock(nullptr, 1);
    qor_rwlock_free(nullptr);
}

TEST(RwLock, TriesAgainstAHolderOnAnotherThread) {
    QorRwLock* l = qor_rwlock_new(8);
    int64_t try_write = 0;
    int64_t try_read = 0;

    ASSERT_EQ(qor_rwlock_read(l), 8);
    std::thread([&] {
        try_write = qor_rwlock_try_write(l);
        try_read = qor_rwlock_try_read(l);
        if (try_read != -1) qor_rwlock_read_unlock(l);
    }).join();
    EXPECT_EQ(try_write, -1);
    EXPECT_EQ(try_read, 8);
    qor_rwlock_read_unlock(l);

    ASSERT_EQ(qor_rwlock_write(l), 8);
    std::thread([&] {
        try_write = qor_rwlock_try_write(l);
        try_read = qor_rwlock_try_read(l);
    }).join();
    EXPECT_EQ(try_write, -1);
    EXPECT_EQ(try_read, -1);
    qor_rwlock_write_unlock(l, 9);
    qor_rwlock_free(l);
}

TEST(RwLock, WritersUnderReadersLoseNoUpdate) {
    QorRwLock* l = qor_rwlock_new(0);
    std::vector<std::thread> threads;
    std::atomic<bool> torn{false};
    for (int t = 0; t < 4; t++) {
        threads.emplace_back([l, &torn] {
            for (int i = 0; i < 1000; i++) {
                qor_rwlock_write_unlock(l, qor_rwlock_write(l) + 1);
                int64_t v = qor_rwlock_read(l);
                if (v < 1 || v > 4000) torn = true;
                qor_rwlock_read_unlock(l);
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_FALSE(torn);
    EXPECT_EQ(qor_rwlock_read(l), 4000);
    qor_rwlock_read_unlock(l);
    qor_rwlock_free(l);
}

TEST(Barrier, RejectsNoPartiesAndOnePartyNeverBlocks) {
    EXPECT_EQ(qor_barrier_new(0), nullptr);
    EXPECT_EQ(qor_barrier_new(-1), nullptr);
    EXPECT_EQ(qor_barrier_wait(nullptr), 0);
    qor_barrier_free(nullptr);

    QorBarrier* b = qor_barrier_new(1);
    ASSERT_NE(b, nullptr);
    for (int i = 0; i < 3; i++) EXPECT_EQ(qor_barrier_wait(b), 1);
    EXPECT_EQ(b->generation, 3);
    EXPECT_EQ(b->arrived, 0);
    qor_barrier_free(b);
}

// Over many consecutive cycles: nobody leaves a cycle before every party has arrived, and each
// cycle returns 1 to exactly one thread.
TEST(Barrier, ManyCyclesEachReleaseOnceWithExactlyOneCompleter) {
    constexpr int kParties = 4;
    constexpr int kCycles = 300;
    QorBarrier* b = qor_barrier_new(kParties);
    std::vector<std::atomic<int>> arrived(kCycles);
    std::vector<std::atomic<int>> completers(kCycles);
    std::atomic<bool> left_early{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kParties; t++) {
        threads.emplace_back([&] {
            for (int c = 0; c < kCycles; c++) {
                arrived[c].fetch_add(1);
                completers[c].fetch_add(static_cast<int>(qor_barrier_wait(b)));
                if (arrived[c].load() != kParties) left_early = true;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_FALSE(left_early);
    int bad_cycles = 0;
    for (auto& c : completers) bad_cycles += c.load() != 1;
    EXPECT_EQ(bad_cycles, 0);
    EXPECT_EQ(b->generation, kCycles);
    qor_barrier_free(b);
}

TEST(Condvar, NullHandlesReturnAtOnce) {
    QorCondvar* c = qor_condvar_new();
    QorMutex* m = qor_mutex_new(6);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(qor_condvar_wait(c, nullptr), 0);
    EXPECT_EQ(qor_condvar_wait(nullptr, m), 0);
    qor_condvar_notify_one(nullptr);
    qor_condvar_notify_all(nullptr);
    qor_condvar_free(nullptr);
    qor_condvar_free(c);
    qor_mutex_free(m);
}

// Waiters re-check the mutex's value around each single wait; the value they get back is the
// one the notifier stored on unlock.
TEST(Condvar, WaitReturnsTheValueStoredBeforeTheNotify) {
    QorCondvar* c = qor_condvar_new();
    QorMutex* m = qor_mutex_new(0);
    constexpr int kWaiters = 3;
    std::vector<int64_t> seen(kWaiters, -1);
    std::vector<std::thread> waiters;
    for (int i = 0; i < kWaiters; i++) {
        waiters.emplace_back([&, i] {
            int64_t v = qor_mutex_lock(m);
            while (v == 0) v = qor_condvar_wait(c, m);
            seen[i] = v;
            qor_mutex_unlock(m, v);
        });
    }
    qor_mutex_lock(m);
    qor_mutex_unlock(m, 5);
    qor_condvar_notify_all(c);
    for (auto& t : waiters) t.join();
    for (int64_t v : seen) EXPECT_EQ(v, 5);

    // notify_one hands a value to a single waiter.
    qor_mutex_lock(m);
    qor_mutex_unlock(m, 0);
    int64_t got = -1;
    std::thread one([&] {
        int64_t v = qor_mutex_lock(m);
        while (v == 0) v = qor_condvar_wait(c, m);
        got = v;
        qor_mutex_unlock(m, v);
    });
    qor_mutex_lock(m);
    qor_mutex_unlock(m, 8);
    qor_condvar_notify_one(c);
    one.join();
    EXPECT_EQ(got, 8);
    qor_condvar_free(c);
    qor_mutex_free(m);
}
