// The per-thread arena: bump addresses, block sizes, the limit, save/restore, reset, destroy.
// Each scenario runs on a fresh thread so that it starts with an empty arena of its own.
#include <stdlib.h>

#include <thread>

#include "core/internal.h"
#include "test_support.h"

namespace {

constexpr int64_t kBlock = 8388608;

// Runs body on a new thread with the arena switched on, then switches it off again.
template <typename F>
void on_fresh_thread(F body) {
    qor_arena_mode(1);
    std::thread t([&] {
        body();
        qor_arena_destroy();
    });
    t.join();
    qor_arena_mode(0);
}

char* at(void* p) { return static_cast<char*>(p); }

}  // namespace

TEST(Arena, RoundsRequestsToEightBytes) {
    on_fresh_thread([] {
        char* p = at(qor_alloc(1));
        EXPECT_EQ(at(qor_alloc(8)), p + 8);
        EXPECT_EQ(at(qor_alloc(9)), p + 16);
        EXPECT_EQ(at(qor_alloc(0)), p + 32);
        EXPECT_EQ(at(qor_alloc(1)), p + 32);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 8, 0u);
    });
}

TEST(Arena, StandardAndOversizeBlocks) {
    on_fresh_thread([] {
        EXPECT_EQ(qor_arena_usage(), 0);
        qor_alloc(1);
        EXPECT_EQ(qor_arena_usage(), kBlock);
        qor_alloc(kBlock);  // exactly a standard block: does not fit the rest, gets a new one
        EXPECT_EQ(qor_arena_usage(), 2 * kBlock);
        qor_alloc(kBlock + 1);  // rounded to 8388616, plus 64
        EXPECT_EQ(qor_arena_usage(), 2 * kBlock + 8388680);
    });
}

TEST(Arena, ParsesTheLimitVariable) {
    using qor::parse_arena_limit;
    EXPECT_EQ(parse_arena_limit("8G"), 8589934592ULL);
    EXPECT_EQ(parse_arena_limit("512m"), 536870912ULL);
    EXPECT_EQ(parse_arena_limit("100"), 100u);
    EXPECT_EQ(parse_arena_limit("1.5G"), 15ULL << 30);
    EXPECT_EQ(parse_arena_limit("2GB"), 2u);
    EXPECT_EQ(parse_arena_limit("64K"), 64u);
    EXPECT_EQ(parse_arena_limit("0"), 4294967296ULL);
    EXPECT_EQ(parse_arena_limit("abc"), 4294967296ULL);
    EXPECT_EQ(parse_arena_limit(""), 4294967296ULL);
    EXPECT_EQ(parse_arena_limit(nullptr), 4294967296ULL);
    // Digits or a multiplier past 2^64 saturate instead of wrapping to a small limit.
    EXPECT_EQ(parse_arena_limit("99999999999999999999999"), UINT64_MAX);
    EXPECT_EQ(parse_arena_limit("18446744073709551616"), UINT64_MAX);
    EXPECT_EQ(parse_arena_limit("99999999999999G"), UINT64_MAX);
}

TEST(Arena, RestoreRewindsToTheSavePoint) {
    on_fresh_thread([] {
        qor_alloc(16);
        qor_arena_save();
        char* a = at(qor_alloc(100));
        qor_alloc(20 << 20);
        EXPECT_EQ(qor_arena_usage(), kBlock + (20 << 20) + 64);
        qor_arena_restore();
        EXPECT_EQ(qor_arena_usage(), kBlock);
        EXPECT_EQ(at(qor_alloc(100)), a);
        qor_arena_restore();  // the save point stays set
        EXPECT_EQ(at(qor_alloc(100)), a);
    });
}

TEST(Arena, RestoreWithoutUsableSavePointChangesNothing) {
    on_fresh_thread([] {
        qor_arena_restore();  // never saved
        qor_arena_save();     // saved before any block
        char* p = at(qor_alloc(8));
        qor_arena_restore();
        EXPECT_EQ(at(qor_alloc(8)), p + 8);
    });
}

TEST(Arena, ResetKeepsOnlyTheEmptiedHead) {
    on_fresh_thread([] {
        char* first = at(qor_alloc(8));
        qor_alloc(kBlock);
        qor_alloc(kBlock);
        EXPECT_EQ(qor_arena_usage(), 3 * kBlock);
        qor_arena_reset();
        EXPECT_EQ(qor_arena_usage(), kBlock);
        EXPECT_EQ(at(qor_alloc(8)), first);
    });
}

TEST(Arena, ResetAndDestroyForgetSavePointsInReleasedBlocks) {
    on_fresh_thread([] {
        qor_alloc(8);
        qor_alloc(kBlock);  // second block
        qor_arena_save();
        qor_arena_reset();  // releases the saved block
        char* p = at(qor_alloc(8));
        qor_arena_restore();  // must not touch the freed block
        EXPECT_EQ(at(qor_alloc(8)), p + 8);
        EXPECT_EQ(qor_arena_usage(), kBlock);

        qor_arena_save();
        qor_arena_destroy();
        qor_arena_mode(1);
        qor_arena_restore();  // the destroyed save point is gone
        EXPECT_EQ(qor_arena_usage(), 0);
    });
}

TEST(Arena, DestroySwitchesOffForEveryThread) {
    qor_arena_mode(1);
    qor_alloc(8);
    qor_arena_destroy();
    EXPECT_EQ(g_arena_enabled, 0);
    EXPECT_EQ(qor_arena_usage(), 0);
    void* p = qor_alloc(5);
    EXPECT_EQ(qor_arena_usage(), 0);
    free(p);  // a plain heap block
    std::thread([] { EXPECT_EQ(g_arena_enabled, 0); }).join();
}

TEST(Arena, PlainNamesShareTheOperations) {
    on_fresh_thread([] {
        qor_alloc(1);
        EXPECT_EQ(arena_usage(), kBlock);
        EXPECT_EQ(arena_save(), 0);
        EXPECT_EQ(arena_restore(), 0);
        EXPECT_EQ(arena_reset(), 0);
    });
    EXPECT_EQ(arena_mode(0), 0);
    EXPECT_EQ(arena_destroy(), 0);
}

namespace {

// VmRSS of this process in KiB.
int64_t rss_kib() {
    FILE* f = fopen("/proc/self/status", "r");
    char line[256];
    int64_t kib = -1;
    while (f != nullptr && fgets(line, sizeof line, f) != nullptr) {
        if (sscanf(line, "VmRSS: %ld", &kib) == 1) break;
    }
    if (f != nullptr) fclose(f);
    return kib;
}

// A spawned thread's work: a short string, then a reset when arg says so. The string is the
// result, so a thread that keeps its arena hands back readable text.
int64_t make_short_string(int64_t reset) {
    QorString* s = qor_string_from_cstr("hello");
    if (reset) qor_arena_reset();
    return reset ? 0 : reinterpret_cast<int64_t>(s);
}

}  // namespace

// A hundred threads that each made a short string cost a few pages each, not a block each:
// an emptied arena goes back at thread end, a kept one costs only the pages it wrote. Host
// threads are watched the same way as spawned ones.
TEST(Arena, EndedThreadsCostOnlyThePagesTheyKept) {
    struct Case {
        const char* name;
        bool reset;
        bool host;
    };
    for (Case c : {Case{"spawned, reset", true, false}, Case{"spawned, kept", false, false},
                   Case{"host, reset", true, true}, Case{"host, kept", false, true}}) {
        qor_arena_mode(1);
        int64_t before = rss_kib();
        for (int i = 0; i < 100; i++) {
            int64_t result = 0;
            if (c.host) {
                std::thread([&] { result = make_short_string(c.reset); }).join();
            } else {
                result = qor_join(qor_spawn(make_short_string, c.reset));
            }
            if (!c.reset) {
                EXPECT_EQ(text_of(reinterpret_cast<QorString*>(result)), "hello");
            }
        }
        EXPECT_LT(rss_kib() - before, 8 * 1024) << c.name;
        qor_arena_mode(0);
    }
}

using testing::ExitedWithCode;

static void allocate_under_limit(const char* limit, uint64_t step) {
    setenv("QOR_ARENA_MAX_SIZE", limit, 1);
    qor_arena_mode(1);
    std::thread([step] {
        for (int i = 0; i < 1000; i++) qor_alloc(step);
    }).join();
}

TEST(ArenaDeathTest, LimitEndsTheProcessWhenTheNextBlockIsNeeded) {
    EXPECT_EXIT(allocate_under_limit("1M", 1 << 20), ExitedWithCode(1),
                testing::Eq("[qor] FATAL: arena memory limit exceeded (8 MB / 1 MB max)\n"
                            "[qor] Set QOR_ARENA_MAX_SIZE environment variable to increase "
                            "(e.g. 8G)\n"));
    EXPECT_EXIT(
        {
            setenv("QOR_BACKTRACE", "1", 1);
            allocate_under_limit("1M", 1 << 20);
        },
        ExitedWithCode(1),
        testing::ContainsRegex("\\(e.g. 8G\\)\n\\[qor\\] backtrace of the failing thread:\n."));
}

TEST(ArenaDeathTest, TwoGBMeansTwoBytes) {
    EXPECT_EXIT(
        allocate_under_limit("2GB", 1), ExitedWithCode(1),
        testing::StartsWith("[qor] FATAL: arena memory limit exceeded (0 MB / 0 MB max)\n"));
}

TEST(ArenaDeathTest, RequestsPastTwoToTheSixtyFourExceedTheLimit) {
    auto huge = [](uint64_t n) {
        qor_arena_mode(1);
        std::thread([n] { qor_alloc(n); }).join();
    };
    EXPECT_EXIT(huge(UINT64_MAX), ExitedWithCode(1), testing::StartsWith("[qor] FATAL"));
    EXPECT_EXIT(huge(UINT64_MAX - 60), ExitedWithCode(1), testing::StartsWith("[qor] FATAL"));
    EXPECT_EXIT(
        {
            setenv("QOR_ARENA_MAX_SIZE", "99999999999999999999999", 1);
            huge(UINT64_MAX - 70);
        },
        ExitedWithCode(1), testing::StartsWith("[qor] FATAL"));
}

TEST(Arena, SmallLimitStillGivesTheFirstBlock) {
    setenv("QOR_ARENA_MAX_SIZE", "100", 1);
    on_fresh_thread([] {
        qor_alloc(96);  // 0 + 96 fits the limit, so a whole standard block is made
        EXPECT_EQ(qor_arena_usage(), kBlock);
    });
    unsetenv("QOR_ARENA_MAX_SIZE");
}
