// The string builder: growth points, every append's exact bytes and result, escaping twins,
// building, clearing, the element test and printing.
#include <math.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "test_support.h"

namespace {

QOR_ARENA_ON_FOR_WHOLE_RUN();

QorString* s(const char* text) { return qor_string_from_cstr(text); }

// The builder's content by len, NULs included.
std::string content(const QorStringBuilder* sb) {
    return std::string(sb->data, static_cast<size_t>(sb->len));
}

// The builder is well formed: data[len] == 0 and len < cap.
#define EXPECT_CONTENT(sb, want)                \
    do {                                        \
        EXPECT_EQ(content(sb), (want));         \
        EXPECT_EQ((sb)->data[(sb)->len], '\0'); \
        EXPECT_LT((sb)->len, (sb)->cap);        \
    } while (0)

}  // namespace

TEST(StringBuilderCreate, InitialCapacities) {
    QorStringBuilder* a = qor_sb_new();
    EXPECT_EQ(a->cap, 1024);
    EXPECT_CONTENT(a, "");
    QorStringBuilder* b = qor_sb_with_capacity(0);
    QorStringBuilder* c = sb_with_capacity(-5);
    QorStringBuilder* d = qor_sb_with_capacity(1);
    QorStringBuilder* e = qor_sb_with_capacity(100);
    EXPECT_EQ(b->cap, 64);
    EXPECT_EQ(c->cap, 64);
    EXPECT_EQ(d->cap, 1);
    EXPECT_EQ(e->cap, 100);
    EXPECT_CONTENT(d, "");
    for (QorStringBuilder* sb : {a, b, c, d, e}) qor_sb_free(sb);
    EXPECT_EQ(qor_sb_free(nullptr), 0);
}

// cap doubles while len + k >= cap, so there is always room for the closing NUL.
TEST(StringBuilderGrowth, DoublesAtTheExactPoint) {
    QorStringBuilder* one = qor_sb_with_capacity(1);
    EXPECT_EQ(qor_sb_push_char(one, 'x'), 1);
    EXPECT_EQ(one->cap, 2);
    EXPECT_EQ(qor_sb_push_char(one, 'y'), 2);
    EXPECT_EQ(one->cap, 4);
    EXPECT_CONTENT(one, "xy");

    std::string k1023(1023, 'a');
    QorStringBuilder* sb = qor_sb_new();
    EXPECT_EQ(sb_push_cstr(sb, k1023.c_str()), 1023);
    EXPECT_EQ(sb->cap, 1024);
    EXPECT_EQ(qor_sb_push_char(sb, 'b'), 1024);
    EXPECT_EQ(sb->cap, 2048);
    EXPECT_CONTENT(sb, k1023 + "b");

    QorStringBuilder* whole = sb_new();
    std::string k1024(1024, 'c');
    EXPECT_EQ(qor_sb_push(whole, s(k1024.c_str())), 1024);
    EXPECT_EQ(whole->cap, 2048);

    // One append larger than several doublings jumps straight to the first power that fits.
    QorStringBuilder* small = qor_sb_with_capacity(3);
    std::string k100(100, 'd');
    EXPECT_EQ(qor_sb_push(small, s(k100.c_str())), 100);
    EXPECT_EQ(small->cap, 192);
    EXPECT_CONTENT(small, k100);
    for (QorStringBuilder* b : {one, sb, whole, small}) qor_sb_free(b);
}

TEST(StringBuilderPush, MissingAndEmptyStrings) {
    QorStringBuilder* sb = qor_sb_new();
    EXPECT_EQ(qor_sb_push(sb, s("ab")), 2);
    EXPECT_EQ(qor_sb_push(sb, nullptr), 0);
    QorString no_data{nullptr, 5, 5};
    EXPECT_EQ(qor_sb_push(sb, &no_data), 0);
    EXPECT_EQ(qor_sb_push(sb, s("")), 2);
    EXPECT_EQ(sb_push_cstr(sb, nullptr), 0);
    EXPECT_EQ(sb_push_cstr(sb, ""), 2);
    EXPECT_EQ(qor_sb_push(sb, qor_string_new("c\0d", 3)), 5);
    EXPECT_CONTENT(sb, std::string("abc\0d", 5));
    EXPECT_EQ(qor_sb_push(nullptr, s("x")), 0);
    EXPECT_EQ(sb_push_cstr(nullptr, "x"), 0);
    qor_sb_free(sb);
}

// Bytes [max(start, 0), min(end, len)); start >= end is refused before clamping.
TEST(StringBuilderPush, RangeClampsAndRefuses) {
    QorString* hello = s("hello");
    QorStringBuilder* sb = qor_sb_new();
    EXPECT_EQ(qor_sb_push_range(sb, hello, -3, 2), 2);
    EXPECT_EQ(sb_push_range(sb, hello, 3, 100), 4);
    EXPECT_EQ(qor_sb_push_range(sb, hello, 4, 2), 0);
    EXPECT_EQ(qor_sb_push_range(sb, hello, 2, 2), 0);
    EXPECT_EQ(qor_sb_push_range(sb, hello, 5, 7), 4);
    EXPECT_EQ(qor_sb_push_range(sb, hello, 9, 12), 4);
    EXPECT_EQ(qor_sb_push_range(sb, nullptr, 0, 1), 0);
    EXPECT_EQ(qor_sb_push_range(nullptr, hello, 0, 1), 0);
    QorString no_data{nullptr, 5, 5};
    EXPECT_EQ(qor_sb_push_range(sb, &no_data, 0, 1), 0);
    EXPECT_CONTENT(sb, "helo");
    qor_sb_free(sb);
}

// Numbers read exactly as the number-text conversions write them.
TEST(StringBuilderNumbers, SameTextsAsTheConversions) {
    QorStringBuilder* sb = qor_sb_new();
    const int64_t ints[] = {0, -42, 7, INT64_MIN, INT64_MAX, 1000000000000};
    for (int64_t v : ints) {
        qor_sb_clear(sb);
        sb_push_int(sb, v);
        EXPECT_EQ(content(sb), text_of(qor_int_to_string(v)));
    }
    const double doubles[] = {0.1, 1e9, -0.0, 2.0 / 3.0, 1e-5, HUGE_VAL, -HUGE_VAL, nan("")};
    for (double x : doubles) {
        qor_sb_clear(sb);
        qor_sb_push_f64(sb, x);
        EXPECT_EQ(content(sb), text_of(qor_f64_to_string(x)));
    }
    qor_sb_clear(sb);
    EXPECT_EQ(qor_sb_push_int(sb, INT64_MIN), 20);
    EXPECT_EQ(qor_sb_push_f64(sb, 1e9), 25);
    EXPECT_CONTENT(sb, "-92233720368547758081e+09");
    EXPECT_EQ(qor_sb_push_int(nullptr, 1), 0);
    EXPECT_EQ(qor_sb_push_f64(nullptr, 1.0), 0);
    qor_sb_free(sb);
}

// Unlike qor_to_hex and qor_bool_to_string: no sign, and all 64 bits decide the truth.
TEST(StringBuilderNumbers, HexWithoutSignAndWholeWordBool) {
    QorStringBuilder* sb = qor_sb_new();
    qor_sb_push_hex(sb, 255);
    qor_sb_push_char(sb, ' ');
    qor_sb_push_hex(sb, 0);
    qor_sb_push_char(sb, ' ');
    qor_sb_push_hex(sb, -1);
    qor_sb_push_char(sb, ' ');
    qor_sb_push_hex(sb, INT64_MIN);
    EXPECT_CONTENT(sb, "0xff 0x0 0xffffffffffffffff 0x8000000000000000");
    qor_sb_clear(sb);
    qor_sb_push_bool(sb, 2);
    qor_sb_push_bool(sb, 256);
    qor_sb_push_bool(sb, INT64_MIN);
    EXPECT_EQ(qor_sb_push_bool(sb, 0), 17);
    EXPECT_CONTENT(sb, "truetruetruefalse");
    EXPECT_EQ(qor_sb_push_hex(nullptr, 1), 0);
    EXPECT_EQ(qor_sb_push_bool(nullptr, 1), 0);
    qor_sb_free(sb);
}

// The twins escape differently; NUL and high bytes pass through both.
TEST(StringBuilderEscaped, PrefixedAndPlainTables) {
    QorString* in = qor_string_new("\"a\\\t\n\r\0\xe9", 8);
    QorStringBuilder* full = qor_sb_new();
    EXPECT_EQ(qor_sb_push_escaped(full, in), 13);
    EXPECT_CONTENT(full, std::string("\\\"a\\\\\\t\\n\\r\0\xe9", 13));
    QorStringBuilder* plain = qor_sb_new();
    EXPECT_EQ(sb_push_escaped(plain, in), 10);
    EXPECT_CONTENT(plain, std::string("\\\"a\\\\\t\n\r\0\xe9", 10));

    EXPECT_EQ(qor_sb_push_escaped(full, s("")), 13);
    EXPECT_EQ(sb_push_escaped(plain, s("")), 10);
    EXPECT_EQ(qor_sb_push_escaped(full, nullptr), 0);
    EXPECT_EQ(sb_push_escaped(nullptr, in), 0);
    QorString no_data{nullptr, 3, 3};
    EXPECT_EQ(qor_sb_push_escaped(full, &no_data), 0);
    EXPECT_EQ(sb_push_escaped(plain, &no_data), 0);
    qor_sb_free(full);
    qor_sb_free(plain);
}

// Escaping grows the buffer mid-text: room for 2 bytes per input byte (prefixed) and 1 per
// output byte (plain).
TEST(StringBuilderEscaped, GrowsWhileEscaping) {
    QorStringBuilder* full = qor_sb_with_capacity(2);
    EXPECT_EQ(qor_sb_push_escaped(full, s("\"\"\"")), 6);
    EXPECT_EQ(full->cap, 8);
    EXPECT_CONTENT(full, "\\\"\\\"\\\"");
    QorStringBuilder* plain = qor_sb_with_capacity(2);
    EXPECT_EQ(sb_push_escaped(plain, s("\\x\\")), 5);
    EXPECT_EQ(plain->cap, 8);
    EXPECT_CONTENT(plain, "\\\\x\\\\");
    qor_sb_free(full);
    qor_sb_free(plain);

    // Mixed inputs ending in unchanged runs of every length, from several starting capacities:
    // the content and the capacity must be what growing before every byte gives (two bytes of
    // room before each input byte for the prefixed table, one before each output byte for the
    // plain one).
    std::string mixed;
    for (int i = 0; i < 60; i++) mixed.push_back("ab\"\\\t\n\rxyz"[i * 7 % 10]);
    for (int64_t tail = 0; tail <= 130; tail++) {
        std::string input = mixed + std::string(static_cast<size_t>(tail), 'q');
        for (int64_t start : {1, 3, 5, 64}) {
            for (bool prefixed : {true, false}) {
                std::string want;
                int64_t cap = start;
                auto put = [&](char c, int64_t room) {
                    while (static_cast<int64_t>(want.size()) + room >= cap) cap *= 2;
                    want.push_back(c);
                };
                for (char c : input) {
                    const char* letters = prefixed ? "\t\n\r\"\\" : "\"\\";
                    const char* found = strchr(letters, c);
                    if (found == nullptr) {
                        put(c, prefixed ? 2 : 1);
                    } else if (prefixed) {
                        put('\\', 2);
                        want.push_back("tnr\"\\"[found - letters]);
                    } else {
                        put('\\', 1);
                        put(c, 1);
                    }
                }
                QorStringBuilder* sb = qor_sb_with_capacity(start);
                QorString* text = qor_string_new(input.data(), static_cast<int64_t>(input.size()));
                if (prefixed) {
                    qor_sb_push_escaped(sb, text);
                } else {
                    sb_push_escaped(sb, text);
                }
                SCOPED_TRACE(tail);
                EXPECT_CONTENT(sb, want);
                EXPECT_EQ(sb->cap, cap);
                qor_sb_free(sb);
            }
        }
    }
}

// A builder's record reads as a string, so it can be appended to itself, growth included.
TEST(StringBuilderSelfAppend, SourceSurvivesGrowth) {
    QorStringBuilder* sb = qor_sb_with_capacity(4);
    auto* self = reinterpret_cast<const QorString*>(sb);
    qor_sb_push(sb, s("abc"));
    EXPECT_EQ(qor_sb_push(sb, self), 6);
    EXPECT_CONTENT(sb, "abcabc");
    EXPECT_EQ(qor_sb_push_range(sb, self, 1, 3), 8);
    EXPECT_CONTENT(sb, "abcabcbc");
    sb_push_cstr(sb, sb->data);
    EXPECT_CONTENT(sb, "abcabcbcabcabcbc");

    QorStringBuilder* esc = qor_sb_with_capacity(4);
    qor_sb_push(esc, s("\"\\"));
    EXPECT_EQ(qor_sb_push_escaped(esc, reinterpret_cast<const QorString*>(esc)), 6);
    EXPECT_CONTENT(esc, "\"\\\\\"\\\\");
    std::string once = "\"\\\\\"\\\\";
    EXPECT_EQ(sb_push_escaped(esc, reinterpret_cast<const QorString*>(esc)), 18);
    EXPECT_CONTENT(esc, once + "\\\"\\\\\\\\\\\"\\\\\\\\");
    qor_sb_free(sb);
    qor_sb_free(esc);
}

// A NUL byte is content: len counts it and build copies it, while println stops before it.
TEST(StringBuilderBuild, NulBytesCountButPrintStops) {
    QorStringBuilder* sb = qor_sb_new();
    qor_sb_push_char(sb, 'a');
    EXPECT_EQ(qor_sb_push_char(sb, 0), 2);
    EXPECT_EQ(qor_sb_push_char(sb, 256 + 'b'), 3);
    EXPECT_EQ(qor_sb_len(sb), 3);
    EXPECT_TEXT(qor_sb_build(sb), std::string("a\0b", 3));
    EXPECT_EQ(out_of([&] { qor_sb_println(sb); }), "a\n");
    EXPECT_EQ(qor_sb_push_char(nullptr, 'x'), 0);
    qor_sb_free(sb);
}

// Builds are independent copies; the builder is unchanged and lives on the heap, untouched
// by arena resets.
TEST(StringBuilderBuild, IndependentCopiesAndArenaIndependence) {
    int32_t saved = g_arena_enabled;
    qor_arena_mode(1);
    QorStringBuilder* sb = qor_sb_new();
    qor_sb_push(sb, s("hello"));
    QorString* first = qor_sb_build(sb);
    QorString* second = sb_build(sb);
    EXPECT_NE(first, second);
    EXPECT_NE(first->data, second->data);
    EXPECT_TEXT(first, "hello");
    EXPECT_TEXT(second, "hello");
    qor_sb_push_char(sb, '!');
    EXPECT_TEXT(first, "hello");
    qor_arena_reset();
    EXPECT_CONTENT(sb, "hello!");
    QorString* after = qor_sb_build(sb);
    qor_sb_free(sb);
    EXPECT_TEXT(after, "hello!");
    EXPECT_FRESH_EMPTY(qor_sb_build(nullptr));
    qor_arena_mode(saved);
}

// Clearing keeps the buffer and cap; NULL is refused quietly.
TEST(StringBuilderClear, KeepsCapacity) {
    QorStringBuilder* sb = qor_sb_with_capacity(4);
    qor_sb_push(sb, s("0123456789"));
    EXPECT_EQ(sb->cap, 16);
    char* buffer = sb->data;
    EXPECT_EQ(sb_clear(sb), 0);
    EXPECT_EQ(sb->cap, 16);
    EXPECT_EQ(sb->data, buffer);
    EXPECT_CONTENT(sb, "");
    EXPECT_FRESH_EMPTY(qor_sb_build(sb));
    EXPECT_EQ(qor_sb_clear(nullptr), 0);
    EXPECT_EQ(qor_sb_len(nullptr), 0);
    qor_sb_free(sb);
}

TEST(StringBuilderContains, WholeCommaSeparatedElements) {
    QorStringBuilder* sb = qor_sb_new();
    qor_sb_push(sb, s("a,bc,d"));
    for (const char* yes : {"a", "bc", "d", "a,bc", "bc,d", "a,bc,d"}) {
        EXPECT_EQ(qor_sb_contains(sb, s(yes)), 1) << yes;
    }
    for (const char* no : {"b", "c", "c,d,", "", "a,", ",d", "a,bc,d,"}) {
        EXPECT_EQ(sb_contains(sb, s(no)), 0) << no;
    }
    EXPECT_EQ(qor_sb_contains(sb, nullptr), 0);
    EXPECT_EQ(qor_sb_contains(nullptr, s("a")), 0);
    QorString no_data{nullptr, 1, 1};
    EXPECT_EQ(qor_sb_contains(sb, &no_data), 0);

    qor_sb_clear(sb);
    qor_sb_push(sb, s("a, b"));
    EXPECT_EQ(qor_sb_contains(sb, s("b")), 0);
    EXPECT_EQ(qor_sb_contains(sb, s(" b")), 1);

    // Empty elements: an item that begins with a comma can start on an element boundary.
    qor_sb_clear(sb);
    qor_sb_push(sb, s("x,,y"));
    EXPECT_EQ(qor_sb_contains(sb, s(",y")), 1);
    EXPECT_EQ(qor_sb_contains(sb, s("y")), 1);

    qor_sb_clear(sb);
    EXPECT_EQ(qor_sb_contains(sb, s("a")), 0);
    qor_sb_free(sb);
}
