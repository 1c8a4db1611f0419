// Shell commands, captured output, the environment and the working directory.
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "test_support.h"

namespace fs = std::filesystem;

namespace {

QorString* rec(const std::string& text) {
    return qor_string_new(text.data(), static_cast<int64_t>(text.size()));
}

// A command that writes exactly n bytes of 'x' on standard output.
std::string emit(int n) { return "head -c " + std::to_string(n) + " /dev/zero | tr '\\0' x"; }

// Runs the test body with the arena on, so the strings it makes need no release.
class Process : public testing::Test {
  protected:
    void SetUp() override {
        saved_arena_ = g_arena_enabled;
        qor_arena_mode(1);
    }
    void TearDown() override { qor_arena_mode(saved_arena_); }
    int32_t saved_arena_ = 0;
};

QorString kNullData{nullptr, 3, 3};

}  // namespace

TEST_F(Process, SystemReturnsTheRawWaitStatus) {
    EXPECT_EQ(qor_system(rec("true")), 0);
    EXPECT_EQ(qor_system(rec("exit 3")), 768);
    EXPECT_EQ(qor_system(rec("kill -9 $$")), 9);
    EXPECT_EQ(qor_system(nullptr), -1);
    EXPECT_EQ(qor_system(&kNullData), -1);
}

TEST_F(Process, CaptureTakesOutputByteForByte) {
    EXPECT_FRESH_EMPTY(qor_system_capture(rec("true")));
    EXPECT_TEXT(qor_system_capture(rec("printf 'a\\0b\\n\\n'")), std::string_view("a\0b\n\n", 5));
    EXPECT_TEXT(system_capture(rec("echo out; echo err >&2; exit 7")), "out\n");
    EXPECT_FRESH_EMPTY(qor_system_capture(nullptr));
    EXPECT_FRESH_EMPTY(qor_system_capture(&kNullData));
    QorString* big = qor_system_capture(rec(emit(1 << 20)));
    EXPECT_EQ(big->len, 1 << 20);
    EXPECT_EQ(text_of(big), std::string(1 << 20, 'x'));
}

// With the arena on the bytes are copied and cap == len; with it off the record keeps the
// collecting buffer, whose size doubles from 4096 only when one more byte needs room.
TEST_F(Process, CaptureBufferAroundItsFirstSize) {
    for (int n : {4095, 4096}) {
        EXPECT_TEXT(qor_system_capture(rec(emit(n))), std::string(n, 'x'));
    }
    QorString* cmd4095 = rec(emit(4095));
    QorString* cmd4096 = rec(emit(4096));
    QorString* cmd8192 = rec(emit(8192));
    ArenaOff off;
    struct Case {
        QorString* command;
        int64_t len, cap;
    };
    for (Case c :
         {Case{cmd4095, 4095, 4096}, Case{cmd4096, 4096, 8192}, Case{cmd8192, 8192, 16384}}) {
        QorString* s = qor_system_capture(c.command);
        EXPECT_EQ(s->len, c.len);
        EXPECT_EQ(s->cap, c.cap);
        EXPECT_EQ(s->data[s->len], '\0');
        EXPECT_EQ(text_of(s), std::string(c.len, 'x'));
        qor_string_free(s);
    }
}

// A signal that interrupts the wait for more output (its handler does not restart system calls)
// must not end the capture early: the output after it is still collected.
TEST_F(Process, CaptureSurvivesSignalsWhileWaiting) {
    InterruptingSignal interrupting;
    pthread_t capturer = pthread_self();
    std::thread interrupter([capturer] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        pthread_kill(capturer, SIGUSR1);
    });
    QorString* out = qor_system_capture(rec(emit(4095) + "; sleep 0.2; printf tail"));
    interrupter.join();
    EXPECT_EQ(out->len, 4099);
    EXPECT_TRUE(text_of(out) == std::string(4095, 'x') + "tail");
}

// A shell started by another thread while a capture runs inherits nothing more than one
// started alone: the capture's pipe is close-on-exec.
TEST_F(Process, CapturePipeIsNotInherited) {
    char out[] = "/tmp/qor_process_fds_XXXXXX";
    close(mkstemp(out));
    QorString* list_fds = rec(std::string("ls /proc/$$/fd > ") + out);
    auto fds_of_a_shell = [&] {
        qor_system(list_fds);
        std::ifstream in(out);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    std::string alone = fds_of_a_shell(), meanwhile;
    std::thread other([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        meanwhile = fds_of_a_shell();
    });
    EXPECT_TEXT(qor_system_capture(rec("sleep 0.3; echo done")), "done\n");
    other.join();
    remove(out);
    EXPECT_EQ(meanwhile, alone);
}

TEST_F(Process, ExecOutputJoinsArgumentsAndStandardError) {
    EXPECT_TEXT(qor_exec_output(rec("printf '[%s]'"), rec("x")), "[x]");
    EXPECT_TEXT(qor_exec_output(rec("printf '[%s]'"), rec("")), "[]");
    EXPECT_TEXT(exec_output(rec("printf '[%s]'"), nullptr), "[]");
    EXPECT_TEXT(qor_exec_output(rec("printf '[%s]'"), &kNullData), "[]");
    // No space is added when the argument is empty: "echo" then " 2>&1" directly.
    EXPECT_TEXT(qor_exec_output(rec("echo"), rec("")), "\n");
    EXPECT_TEXT(qor_exec_output(rec("sh -c 'echo err >&2'"), nullptr), "err\n");
    QorString* missing = qor_exec_output(rec("qor_no_such_command_here"), nullptr);
    EXPECT_NE(text_of(missing).find("not found"), std::string::npos);
    EXPECT_FRESH_EMPTY(qor_exec_output(nullptr, rec("x")));
    EXPECT_FRESH_EMPTY(qor_exec_output(&kNullData, rec("x")));
}

// The command and the argument are taken by len, not up to a NUL.
TEST_F(Process, ExecOutputCopiesByLength) {
    char command[] = "echo hiXXX";
    char args[] = "thereYYY";
    QorString c{command, 7, 7};
    QorString a{args, 5, 5};
    EXPECT_TEXT(qor_exec_output(&c, &a), "hi there\n");
}

TEST_F(Process, GetenvCopiesTheValue) {
    setenv("QOR_PROCESS_TEST_VAR", "some value", 1);
    EXPECT_TEXT(qor_getenv(rec("QOR_PROCESS_TEST_VAR")), "some value");
    setenv("QOR_PROCESS_TEST_VAR", "", 1);
    EXPECT_FRESH_EMPTY(qor_getenv(rec("QOR_PROCESS_TEST_VAR")));
    unsetenv("QOR_PROCESS_TEST_VAR");
    EXPECT_FRESH_EMPTY(qor_getenv(rec("QOR_PROCESS_TEST_VAR")));
    EXPECT_FRESH_EMPTY(qor_getenv(nullptr));
}

TEST_F(Process, GetcwdFollowsTheProcessAndFailsEmpty) {
    std::string home = fs::current_path().string();
    EXPECT_TEXT(qor_getcwd(), home);
    EXPECT_TEXT(current_dir(), home);

    char tmpl[] = "/tmp/qor_process_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    ASSERT_EQ(chdir(tmpl), 0);
    EXPECT_TEXT(qor_getcwd(), fs::canonical(tmpl).string());
    rmdir(tmpl);
    QorString* gone = qor_getcwd();
    ASSERT_EQ(chdir(home.c_str()), 0);
    EXPECT_FRESH_EMPTY(gone);
}
