// Small helpers shared by the test programs: text expectations and scratch directories.
#ifndef QOR_TEST_SUPPORT_H
#define QOR_TEST_SUPPORT_H

#include <gmock/gmock.h>
#include <gtest/gtest.h>

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

#endif  // QOR_TEST_SUPPORT_H
