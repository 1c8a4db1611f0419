// Failures without an open frame write their exact standard-error bytes and exit with 1;
// with a frame they write nothing and come back with the frame's message.
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include "test_support.h"

using testing::Eq;
using testing::ExitedWithCode;

TEST(PanicDeathTest, PanicWritesItsMessage) {
    EXPECT_EXIT(qor_panic(qor_string_from_cstr("boom")), ExitedWithCode(1), Eq("panic: boom\n"));
}

TEST(PanicDeathTest, MissingMessageReadsPanic) {
    EXPECT_EXIT(qor_panic(nullptr), ExitedWithCode(1), Eq("panic: panic\n"));
    static QorString null_data{nullptr, 3, 3};
    EXPECT_EXIT(qor_panic(&null_data), ExitedWithCode(1), Eq("panic: panic\n"));
}

TEST(PanicDeathTest, MessageStopsAtTheFirstNul) {
    EXPECT_EXIT(qor_panic(qor_string_new("ab\0cd", 5)), ExitedWithCode(1), Eq("panic: ab\n"));
}

TEST(PanicDeathTest, BoundsMessage) {
    EXPECT_EXIT(qor_panic_bounds(5, 3), ExitedWithCode(1),
                Eq("panic: array index 5 out of bounds [0, 3)\n"));
    EXPECT_EXIT(qor_panic_bounds(-1, 0), ExitedWithCode(1),
                Eq("panic: array index -1 out of bounds [0, 0)\n"));
    EXPECT_EXIT(qor_panic_bounds(INT64_MIN, INT64_MIN), ExitedWithCode(1),
                Eq("panic: array index -9223372036854775808 out of bounds "
                   "[0, -9223372036854775808)\n"));
}

TEST(PanicDeathTest, AssertionAndDivision) {
    EXPECT_EXIT(qor_assert(0), ExitedWithCode(1), Eq("Assertion failed!\n"));
    EXPECT_EXIT(qor_panic_divzero(), ExitedWithCode(1), Eq("panic: division by zero\n"));
}

TEST(Panic, AssertionLooksOnlyAtTheLow32Bits) {
    qor_assert(1);
    qor_assert(-7);
    auto cond = static_cast<int64_t>(1) << 32;  // low 32 bits are zero
    EXPECT_EXIT(qor_assert(static_cast<int32_t>(cond)), ExitedWithCode(1),
                Eq("Assertion failed!\n"));
}

// The exit path is the normal one: output buffered before the panic still reaches stdout.
TEST(PanicDeathTest, BufferedOutputIsFlushedBeforeTheExit) {
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    fflush(stdout);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        dup2(out[1], 1);
        close(out[0]);
        int null_fd = open("/dev/null", O_WRONLY);
        dup2(null_fd, 2);
        fputs("unflushed", stdout);  // stdout is a pipe now: fully buffered
        qor_panic(qor_string_from_cstr("x"));
    }
    close(out[1]);
    char buffer[64] = {0};
    ssize_t n = read(out[0], buffer, sizeof buffer - 1);
    close(out[0]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(std::string(buffer, n > 0 ? n : 0), "unflushed");
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
}

namespace {

// Opens a frame, runs fail inside it and returns the frame's message ("" if nothing raised).
template <typename F>
std::string raised_by(F fail) {
    std::string message = "<not raised>";
    if (qor_ffi_begin() == 0) {
        fail();
        qor_ffi_end();
        return message;
    }
    EXPECT_EQ(qor_ffi_has_error(), 1);
    message = qor_ffi_error_message();
    qor_ffi_end();
    return message;
}

}  // namespace

TEST(Panic, FrameMessagesDropTheStandardErrorDecoration) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(raised_by([] { qor_panic(qor_string_from_cstr("boom")); }), "boom");
    EXPECT_EQ(raised_by([] { qor_panic(nullptr); }), "panic");
    EXPECT_EQ(raised_by([] { qor_assert(0); }), "assertion failed");
    EXPECT_EQ(raised_by([] { qor_panic_divzero(); }), "division by zero");
    EXPECT_EQ(raised_by([] { qor_panic_bounds(5, 3); }), "array index 5 out of bounds [0, 3)");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

// QOR_BACKTRACE adds the failing thread's stack after the usual message of a stop that ends the
// process, with the exported runtime functions named; a failure raised into a frame adds nothing.
TEST(PanicDeathTest, BacktraceOnRequest) {
    void* so = dlopen(QOR_SHARED_LIB_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(so, nullptr) << dlerror();
    auto panic = reinterpret_cast<void (*)(const QorString*)>(dlsym(so, "qor_panic"));
    auto check = reinterpret_cast<void (*)(int32_t)>(dlsym(so, "qor_assert"));
    ASSERT_TRUE(panic && check);
    static QorString boom{const_cast<char*>("boom"), 4, 4};
    const std::string trace = "\\[qor\\] backtrace of the failing thread:\n";
    EXPECT_EXIT(
        {
            setenv("QOR_BACKTRACE", "1", 1);
            panic(&boom);
        },
        ExitedWithCode(1), testing::ContainsRegex("^panic: boom\n" + trace + ".*\\(qor_panic\\+"));
    EXPECT_EXIT(
        {
            setenv("QOR_BACKTRACE", "1", 1);
            check(0);
        },
        ExitedWithCode(1),
        testing::ContainsRegex("^Assertion failed!\n" + trace + ".*\\(qor_assert\\+"));

    setenv("QOR_BACKTRACE", "1", 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(raised_by([] { qor_panic(qor_string_from_cstr("caught")); }), "caught");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    unsetenv("QOR_BACKTRACE");
    // Left loaded: unloading would orphan the emergency exception pool that the library's
    // private C++ runtime allocates at load, which leak checking reports.
}
