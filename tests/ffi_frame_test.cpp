// The foreign-call frame: opening, recovering, message limits, per-thread state, and callers
// that reach qor_ffi_begin through a function pointer, as a host using dlsym would.
#include <dlfcn.h>

#include <string>
#include <thread>
#include <vector>

#include "core/internal.h"
#include "test_support.h"

TEST(FfiFrame, ReportsNothingBeforeAnyFrame) {
    std::thread([] {
        EXPECT_EQ(qor_ffi_has_error(), 0);
        EXPECT_STREQ(qor_ffi_error_message(), "");
    }).join();
}

TEST(FfiFrame, CleanFrameLeavesNoError) {
    int opened = 0;
    if (qor_ffi_begin() == 0) {
        opened++;
        EXPECT_EQ(qor_string_len(qor_string_from_cstr("fine")), 4);
        qor_ffi_end();
    }
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(qor_ffi_has_error(), 0);
    EXPECT_STREQ(qor_ffi_error_message(), "");
}

// Locals modified between begin and the jump must be volatile to be read after the jump.
TEST(FfiFrame, FailureReturnsToTheCallerWithOne) {
    volatile int passes = 0;
    int32_t result = qor_ffi_begin();
    passes = passes + 1;
    if (result == 0) qor_panic(qor_string_from_cstr("boom"));
    EXPECT_EQ(result, 1);
    EXPECT_EQ(passes, 2);
    EXPECT_EQ(qor_ffi_has_error(), 1);
    EXPECT_STREQ(qor_ffi_error_message(), "boom");
    qor_ffi_end();
    // The flag and message stay readable after the frame closes, until the next begin.
    EXPECT_EQ(qor_ffi_has_error(), 1);
    EXPECT_STREQ(qor_ffi_error_message(), "boom");
    if (qor_ffi_begin() == 0) {
        EXPECT_EQ(qor_ffi_has_error(), 0);
        EXPECT_STREQ(qor_ffi_error_message(), "");
        qor_ffi_end();
    }
}

namespace {
std::vector<intptr_t> g_cleanups_run;
void note_cleanup(void* arg) { g_cleanups_run.push_back(reinterpret_cast<intptr_t>(arg)); }
}  // namespace

// A failure runs, newest first, the cleanups pushed since its frame was opened; one pushed
// before belongs to a caller the jump does not leave, and stays.
TEST(FfiFrame, FailureRunsOnlyTheCleanupsPushedInsideItsFrame) {
    QorUnwindHook outer, first, second;
    qor_unwind_push(&outer, note_cleanup, reinterpret_cast<void*>(1));
    g_cleanups_run.clear();
    if (qor_ffi_begin() == 0) {
        qor_unwind_push(&first, note_cleanup, reinterpret_cast<void*>(2));
        qor_unwind_push(&second, note_cleanup, reinterpret_cast<void*>(3));
        qor_panic_divzero();
    }
    qor_ffi_end();
    EXPECT_EQ(g_cleanups_run, (std::vector<intptr_t>{3, 2}));
    qor_unwind_pop(&outer);
    EXPECT_EQ(g_cleanups_run.size(), 2u);
}

TEST(FfiFrame, LongMessagesAreCutTo511Bytes) {
    std::string text(600, 'x');
    text[510] = 'y';
    text[511] = 'z';
    if (qor_ffi_begin() == 0) {
        qor_panic(qor_string_from_cstr(text.c_str()));
    }
    EXPECT_EQ(std::string(qor_ffi_error_message()), text.substr(0, 511));
    qor_ffi_end();
}

namespace {

// The shared library's own entry points, found at run time as a host using dlsym finds them.
struct Loaded {
    int32_t (*begin)(void);
    void (*end)(void);
    void (*panic_bounds)(int64_t, int64_t);
    int32_t (*has_error)(void);
    const char* (*message)(void);
};

// The compiler sees the begin call only through a pointer, with no returns_twice attribute.
__attribute__((noinline)) int through_pointer(const Loaded& lib, int depth) {
    volatile int seen = 0;
    if (lib.begin() == 0) {
        seen = 1;
        if (depth > 0) lib.panic_bounds(depth, 0);
    }
    int result = seen * 10 + lib.has_error();
    lib.end();
    return result;
}

}  // namespace

TEST(FfiFrame, WorksThroughDlsym) {
    void* so = dlopen(QOR_SHARED_LIB_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(so, nullptr) << dlerror();
    Loaded lib{};
    lib.begin = reinterpret_cast<int32_t (*)(void)>(dlsym(so, "qor_ffi_begin"));
    lib.end = reinterpret_cast<void (*)(void)>(dlsym(so, "qor_ffi_end"));
    lib.panic_bounds = reinterpret_cast<void (*)(int64_t, int64_t)>(dlsym(so, "qor_panic_bounds"));
    lib.has_error = reinterpret_cast<int32_t (*)(void)>(dlsym(so, "qor_ffi_has_error"));
    lib.message = reinterpret_cast<const char* (*)(void)>(dlsym(so, "qor_ffi_error_message"));
    ASSERT_TRUE(lib.begin && lib.end && lib.panic_bounds && lib.has_error && lib.message);
    EXPECT_EQ(through_pointer(lib, 3), 11);
    EXPECT_STREQ(lib.message(), "array index 3 out of bounds [0, 0)");
    EXPECT_EQ(through_pointer(lib, 0), 10);
    // Internal helpers stay hidden.
    EXPECT_EQ(dlsym(so, "qor_alloc"), nullptr);
    EXPECT_EQ(dlsym(so, "qor_ffi_trigger"), nullptr);
    // Left loaded: unloading would orphan the emergency exception pool that the library's
    // private C++ runtime allocates at load, which leak checking reports.
}

TEST(FfiFrame, FailuresStayInTheirThread) {
    if (qor_ffi_begin() == 0) {
        // A frame opened meanwhile on another thread's stack leaves this one's opener alive.
        std::thread([] {
            if (qor_ffi_begin() == 0) qor_panic_divzero();
            qor_ffi_end();
        }).join();
        qor_panic(qor_string_from_cstr("main thread"));
    }
    qor_ffi_end();
    std::thread([] {
        if (qor_ffi_begin() == 0) qor_panic_divzero();
        EXPECT_STREQ(qor_ffi_error_message(), "division by zero");
        qor_ffi_end();
    }).join();
    EXPECT_STREQ(qor_ffi_error_message(), "main thread");
    EXPECT_EQ(qor_ffi_has_error(), 1);
}

TEST(FfiFrameDeathTest, ClosedFrameEndsTheProcessAgain) {
    if (qor_ffi_begin() == 0) qor_panic(nullptr);
    qor_ffi_end();
    EXPECT_EXIT(qor_panic(qor_string_from_cstr("late")), testing::ExitedWithCode(1),
                testing::Eq("panic: late\n"));
}

TEST(FfiFrameDeathTest, ThreadWithoutFrameEndsTheProcess) {
    auto fail_in_other_thread = [] {
        if (qor_ffi_begin() == 0) {
            std::thread([] { qor_panic(qor_string_from_cstr("other")); }).join();
        }
        qor_ffi_end();
    };
    EXPECT_EXIT(fail_in_other_thread(), testing::ExitedWithCode(1), testing::Eq("panic: other\n"));
}

namespace {

// Opens the frame and returns, so the recovery point is left in a frame that no longer exists.
__attribute__((noinline)) int32_t open_frame_and_return() {
    int32_t result = qor_ffi_begin();
    asm volatile("" ::: "memory");  // not a tail call: this function is the opener
    return result;
}

// A host that wrapped qor_ffi_begin in a helper, then fails in its own body.
__attribute__((noinline)) void fail_after_opener_returned(int how) {
    if (open_frame_and_return() != 0) return;
    switch (how) {
        case 0:
            qor_panic(qor_string_from_cstr("boom"));
            break;
        case 1:
            qor_assert(0);
            break;
        case 2:
            qor_panic_bounds(5, 3);
            break;
        default:
            qor_panic_divzero();
            break;
    }
}

}  // namespace

// A failure raised after the opener returned stops the process through the usual fatal exit
// instead of jumping into the dead frame, whichever operation raises it.
TEST(FfiFrameDeathTest, FailureAfterTheOpenerReturnedStops) {
    const std::string stop =
        "[qor] FATAL: a failure was raised into a foreign-call frame whose opening function has "
        "returned: ";
    const char* messages[] = {"boom", "assertion failed", "array index 5 out of bounds [0, 3)",
                              "division by zero"};
    for (int how = 0; how < 4; how++) {
        EXPECT_EXIT(fail_after_opener_returned(how), testing::ExitedWithCode(1),
                    testing::Eq(stop + messages[how] + "\n"))
            << messages[how];
    }
    EXPECT_EXIT(
        {
            setenv("QOR_BACKTRACE", "1", 1);
            fail_after_opener_returned(0);
        },
        testing::ExitedWithCode(1),
        testing::ContainsRegex("returned: boom\n\\[qor\\] backtrace of the failing thread:\n"));
}
