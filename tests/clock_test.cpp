// Clock, sleep, the per-thread random generator, exit and the black box.
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>

#include <atomic>
#include <thread>

#include "test_support.h"

using testing::ExitedWithCode;

namespace {

constexpr int64_t kSeedOneSequence[] = {1082269761, 1152992998833853505, 1954144627577988649,
                                        8454651795147161637};

void expect_seed_one_sequence() {
    for (int64_t want : kSeedOneSequence) EXPECT_EQ(qor_random_i64(), want);
}

void ignore_signal(int) {}

}  // namespace

// The third value comes from a state with bit 63 set: it is returned with that bit cleared,
// and the fourth shows the state kept all 64 bits.
TEST(ClockRandom, SeededSequenceIsXorshiftWithTopBitCleared) {
    qor_random_seed(1);
    expect_seed_one_sequence();
    qor_random_seed(0);
    expect_seed_one_sequence();
    qor_random_seed(UINT64_MAX);
    for (int i = 0; i < 1000; i++) ASSERT_GE(qor_random_i64(), 0);
}

// A new thread starts unseeded (it does not continue its parent's sequence), and seeding in one
// thread leaves the other's sequence alone.
TEST(ClockRandom, StateIsPerThread) {
    qor_random_seed(1);
    EXPECT_EQ(qor_random_i64(), kSeedOneSequence[0]);
    int64_t unseeded_first = 0;
    int64_t unseeded_second = 0;
    std::thread([&] { unseeded_first = qor_random_i64(); }).join();
    qor_sleep_ms(1);
    std::thread([&] { unseeded_second = qor_random_i64(); }).join();
    EXPECT_NE(unseeded_first, kSeedOneSequence[1]);
    EXPECT_NE(unseeded_first, unseeded_second);
    std::thread([] {
        qor_random_seed(1);
        expect_seed_one_sequence();
    }).join();
    EXPECT_EQ(qor_random_i64(), kSeedOneSequence[1]);
}

TEST(ClockTime, MillisecondsFollowNanosecondsAndNeverDecrease) {
    int64_t before = qor_time_ns();
    int64_t ms = qor_time_ms();
    int64_t after = time_ns();
    EXPECT_LE(before / 1000000, ms);
    EXPECT_LE(ms, after / 1000000);
    int64_t last_ns = now_ns();
    int64_t last_ms = now_ms();
    for (int i = 0; i < 10000; i++) {
        int64_t ns = qor_time_ns();
        int64_t m = time_ms();
        ASSERT_GE(ns, last_ns);
        ASSERT_GE(m, last_ms);
        last_ns = ns;
        last_ms = m;
    }
}

TEST(ClockSleep, DurationsAndNegativeValues) {
    int64_t start = qor_time_ns();
    EXPECT_EQ(sleep_ms(0), 0);
    EXPECT_EQ(qor_sleep_ms(0), 0);
    EXPECT_EQ(qor_sleep_ms(-5), 0);
    EXPECT_EQ(sleep_ms(INT32_MIN), 0);
    EXPECT_LT(qor_time_ns() - start, 250000000);  // generous: a loaded machine stalls too
    start = qor_time_ns();
    EXPECT_EQ(qor_sleep_ms(10), 0);
    EXPECT_GE(qor_time_ns() - start, 10000000);
    start = qor_time_ns();
    EXPECT_EQ(sleep_ms(3), 0);
    EXPECT_GE(qor_time_ns() - start, 3000000);
}

// 4294968 ms times 1000 would wrap to 704 microseconds in 32 bits; the sleep must really last,
// and a signal that cuts it short is reported as -1.
TEST(ClockSleep, LongSleepDoesNotWrapAndReportsInterruption) {
    struct sigaction action = {};
    struct sigaction old = {};
    action.sa_handler = ignore_signal;
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(sigaction(SIGUSR1, &action, &old), 0);
    std::atomic<int32_t> result{1};
    std::atomic<bool> done{false};
    std::thread sleeper([&] {
        result.store(qor_sleep_ms(4294968));
        done.store(true);
    });
    qor_sleep_ms(50);
    EXPECT_FALSE(done.load());
    for (int i = 0; i < 200 && !done.load(); i++) {
        pthread_kill(sleeper.native_handle(), SIGUSR1);
        qor_sleep_ms(10);
    }
    sleeper.join();
    EXPECT_EQ(result.load(), -1);
    sigaction(SIGUSR1, &old, nullptr);
}

// Each call returns its own argument, even with other threads writing the sink.
TEST(ClockBlackBox, ReturnsItsArgument) {
    EXPECT_EQ(qor_black_box(123), 123);
    EXPECT_EQ(qor_black_box_sink, 123);
    std::atomic<int> wrong{0};
    auto hammer = [&](int64_t base) {
        for (int64_t i = 0; i < 20000; i++) {
            if (qor_black_box(base + i) != base + i) wrong.fetch_add(1);
        }
    };
    std::thread a(hammer, 0);
    std::thread b(hammer, int64_t{1} << 40);
    a.join();
    b.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST(ClockExitDeathTest, ExitRunsHandlersAndFlushesStdio) {
    EXPECT_EXIT(
        {
            atexit([] { fputs(" handler", stderr); });
            setvbuf(stderr, nullptr, _IOFBF, 4096);
            fputs("buffered", stderr);
            qor_exit(3);
        },
        ExitedWithCode(3), testing::Eq("buffered handler"));
    EXPECT_EXIT(qor_exit(0), ExitedWithCode(0), testing::Eq(""));
}
