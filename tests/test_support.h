// Small helpers shared by the test programs: text expectations and scratch directories.
#ifndef QOR_TEST_SUPPORT_H
#define QOR_TEST_SUPPORT_H

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <unistd.h>

#include <string>
#include <string_view>

#include "qor_runtime.h"

// The record's bytes as a std::string (by len, NULs included).
inline std::string text_of(const QorString* s) {
    if (s == nullptr || s->data == nullptr) return std::string();
    return std::string(s->data, static_cast<size_t>(s->len));
}

// s is a well-formed record (data NUL-terminated at len, cap == len) holding exactly want.
#define EXPECT_TEXT(s, want)                                            \
    do {                                                                \
        const QorString* qor_s_ = (s);                                  \
        ASSERT_NE(qor_s_, nullptr);                                     \
        ASSERT_NE(qor_s_->data, nullptr);                               \
        EXPECT_EQ(std::string_view(qor_s_->data, qor_s_->len), (want)); \
        EXPECT_EQ(qor_s_->data[qor_s_->len], '\0');                     \
        EXPECT_EQ(qor_s_->cap, qor_s_->len);                            \
    } while (0)

// s is a fresh empty string: a record with a readable 1-byte NUL buffer, len 0, cap 0.
#define EXPECT_FRESH_EMPTY(s) EXPECT_TEXT((s), std::string_view())

// Runs the whole test body with the arena switched off and restores the flag afterwards.
struct ArenaOff {
    int32_t saved = g_arena_enabled;
    ArenaOff() { qor_arena_mode(0); }
    ~ArenaOff() { qor_arena_mode(saved); }
};

// Runtime-made values come from the main thread's arena for the whole program and are released
// at the end, as a compiled program releases them; the heap then keeps only what tests free.
class ArenaForRun : public testing::Environment {
  public:
    void SetUp() override { qor_arena_mode(1); }
    void TearDown() override { qor_arena_destroy(); }
};
#define QOR_ARENA_ON_FOR_WHOLE_RUN()                                        \
    [[maybe_unused]] static testing::Environment* const qor_arena_for_run = \
        testing::AddGlobalTestEnvironment(new ArenaForRun)

// Runs body with stream (stdout or stderr) sent to a scratch file; returns what was written.
template <typename F>
std::string captured(FILE* stream, F body) {
    fflush(stream);
    int fd = fileno(stream);
    int saved = dup(fd);
    FILE* scratch = tmpfile();
    dup2(fileno(scratch), fd);
    body();
    fflush(stream);
    dup2(saved, fd);
    close(saved);
    std::string out;
    rewind(scratch);
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, scratch)) > 0) out.append(buffer, n);
    fclose(scratch);
    return out;
}

template <typename F>
std::string out_of(F body) {
    return captured(stdout, body);
}

template <typename F>
std::string err_of(F body) {
    return captured(stderr, body);
}

// Bounds a test whose reads block: the process is ended by SIGALRM if it runs for 30 s.
struct Watchdog {
    Watchdog() { alarm(30); }
    ~Watchdog() { alarm(0); }
};

// While alive, SIGUSR1 runs a handler that does nothing and does not restart system calls, so
// a blocking call in a thread that gets the signal fails with EINTR. The old action comes back
// at the end.
class InterruptingSignal {
  public:
    InterruptingSignal() {
        struct sigaction quiet {};
        quiet.sa_handler = [](int) {};
        sigemptyset(&quiet.sa_mask);
        sigaction(SIGUSR1, &quiet, &saved_);
    }
    ~InterruptingSignal() { sigaction(SIGUSR1, &saved_, nullptr); }
    InterruptingSignal(const InterruptingSignal&) = delete;
    InterruptingSignal& operator=(const InterruptingSignal&) = delete;

  private:
    struct sigaction saved_ {};
};

#endif  // QOR_TEST_SUPPORT_H
