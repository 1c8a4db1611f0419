// Threads hand back exactly one result through join, start with their own empty runtime state,
// and shared cells count their holders exactly under concurrent clones and drops.
#include <stdint.h>

#include <atomic>
#include <vector>

#include "test_support.h"

#if defined(__SANITIZE_ADDRESS__)
#define QOR_TEST_LSAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QOR_TEST_LSAN 1
#endif
#endif
#ifdef QOR_TEST_LSAN
#include <sanitizer/lsan_interface.h>
#endif

namespace {

// A spawned thread's arena is never released, by design; keep the leak checker from reporting
// the blocks that a test thread leaves behind.
struct LeaksAllowed {
#ifdef QOR_TEST_LSAN
    LeaksAllowed() { __lsan_disable(); }
    ~LeaksAllowed() { __lsan_enable(); }
#else
    LeaksAllowed() {}
    ~LeaksAllowed() {}
#endif
};

// Restores the process-wide arena flag when a test switched it.
struct ArenaOn {
    int32_t saved = g_arena_enabled;
    ArenaOn() { qor_arena_mode(1); }
    ~ArenaOn() { qor_arena_mode(saved); }
};

int64_t twice(int64_t x) { return 2 * x; }

QorThread* as_handle(int64_t v) { return reinterpret_cast<QorThread*>(static_cast<intptr_t>(v)); }

}  // namespace

TEST(Join, SmallHandlesComeBackUnchangedWithoutWaiting) {
    EXPECT_EQ(qor_join(nullptr), 0);
    EXPECT_EQ(qor_join(as_handle(42)), 42);
    EXPECT_EQ(qor_join(as_handle(-7)), -7);
    EXPECT_EQ(qor_join(as_handle(0xFFFF)), 0xFFFF);
    EXPECT_EQ(qor_join(as_handle(INT64_MIN)), INT64_MIN);
}

TEST(Spawn, JoinReturnsTheFunctionsResult) {
    QorThread* t = qor_spawn(twice, 21);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->arg, 21);
    EXPECT_EQ(qor_join(t), 42);

    QorThread* none = qor_spawn(nullptr, 99);
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(qor_join(none), 0);
}

// Each thread gets its own argument and hands back its own result, whatever order they end in.
TEST(Spawn, ManyThreadsKeepTheirOwnArgumentAndResult) {
    constexpr int kThreads = 16;
    QorThread* threads[kThreads];
    for (int i = 0; i < kThreads; i++) {
        threads[i] = qor_spawn([](int64_t x) { return x * x + 1; }, i);
        ASSERT_NE(threads[i], nullptr);
    }
    for (int i = 0; i < kThreads; i++) EXPECT_EQ(qor_join(threads[i]), int64_t{i} * i + 1);
}

// The new thread sees no arguments, no arena blocks and no foreign-call error, even though the
// spawning thread has all three.
TEST(Spawn, NewThreadStartsWithEmptyRuntimeState) {
    static char prog[] = "prog";
    static char first[] = "first";
    static char* argv[] = {prog, first, nullptr};
    ArenaOn arena;  // before init, which also switches the arena on
    qor_init_runtime(2, argv);
    ASSERT_EQ(qor_arg_count(), 2);
    qor_string_from_cstr("make sure this thread has an arena block");
    ASSERT_GT(qor_arena_usage(), 0);

    QorThread* t = qor_spawn(
        [](int64_t) -> int64_t {
            LeaksAllowed leaks;
            int64_t ok = qor_arg_count() == 0;
            ok &= qor_arena_usage() == 0;
            ok &= qor_ffi_has_error() == 0;
            QorString* arg = qor_get_arg(0);
            ok &= arg != nullptr && arg->len == 0 && arg->data[0] == '\0';
            return ok;
        },
        0);
    EXPECT_EQ(qor_join(t), 1);
    qor_arena_reset();
}

// Text the thread made in its own arena outlives the thread and is handed back as the result.
TEST(Spawn, ArenaTextMadeInAThreadStaysReadableAfterJoin) {
    ArenaOn arena;
    QorThread* t = qor_spawn(
        [](int64_t n) -> int64_t {
            LeaksAllowed leaks;
            QorString* s = qor_string_from_cstr("made in a thread");
            EXPECT_GT(qor_arena_usage(), 0);
            return n + reinterpret_cast<intptr_t>(s);
        },
        0);
    auto* s = reinterpret_cast<QorString*>(static_cast<intptr_t>(qor_join(t)));
    EXPECT_TEXT(s, "made in a thread");
}

TEST(Arc, CountsHoldersAndNullIsNeutral) {
    QorArc* a = qor_arc_new(77);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(qor_arc_strong_count(a), 1);
    EXPECT_EQ(qor_arc_clone(a), a);
    EXPECT_EQ(qor_arc_clone(a), a);
    EXPECT_EQ(qor_arc_strong_count(a), 3);
    EXPECT_EQ(qor_arc_get(a), 77);
    qor_arc_drop(a);
    EXPECT_EQ(qor_arc_strong_count(a), 2);
    qor_arc_drop(a);
    EXPECT_EQ(qor_arc_strong_count(a), 1);
    EXPECT_EQ(qor_arc_get(a), 77);
    qor_arc_drop(a);  // frees the cell; the sanitizer build catches a leak or a double free

    EXPECT_EQ(qor_arc_clone(nullptr), nullptr);
    EXPECT_EQ(qor_arc_get(nullptr), 0);
    EXPECT_EQ(qor_arc_strong_count(nullptr), 0);
    qor_arc_drop(nullptr);
}

// Concurrent clones and drops lose no update: the count ends where it started, and the last
// drop (by whichever thread) frees the cell exactly once.
TEST(Arc, ConcurrentClonesAndDropsBalance) {
    static QorArc* cell;
    cell = qor_arc_new(5);
    constexpr int kThreads = 4;
    constexpr int64_t kRounds = 5000;
    QorThread* threads[kThreads];
    for (auto& t : threads) {
        qor_arc_clone(cell);
        t = qor_spawn(
            [](int64_t rounds) -> int64_t {
                int64_t sum = 0;
                for (int64_t i = 0; i < rounds; i++) {
                    sum += qor_arc_get(qor_arc_clone(cell));
                    qor_arc_drop(cell);
                }
                qor_arc_drop(cell);  // this thread's own holder
                return sum;
            },
            kRounds);
    }
    for (auto* t : threads) EXPECT_EQ(qor_join(t), 5 * kRounds);
    EXPECT_EQ(qor_arc_strong_count(cell), 1);
    qor_arc_drop(cell);
}
