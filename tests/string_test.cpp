// The string record's core operations: construction, access, comparison, hashing, slicing,
// concatenation, release and the foreign hand-over.
#include <thread>

#include "core/internal.h"
#include "test_support.h"

namespace {
QorString* s(const char* text) { return qor_string_from_cstr(text); }
QorString null_data{nullptr, 0, 0};
}  // namespace

TEST(StringMake, CopiesBytesIncludingNuls) {
    QorString* a = qor_string_new("a\0b\0", 4);
    EXPECT_TEXT(a, std::string_view("a\0b\0", 4));
    EXPECT_EQ(qor_string_len(a), 4);
    EXPECT_TEXT(qor_string_new(nullptr, 0), "");
    EXPECT_TEXT(s("hello"), "hello");
    EXPECT_FRESH_EMPTY(qor_string_from_cstr(nullptr));
    // A negative length must not put the closing NUL before the buffer.
    EXPECT_FRESH_EMPTY(qor_string_new("abc", -1));
    EXPECT_FRESH_EMPTY(qor_string_new("abc", INT64_MIN));
    EXPECT_FRESH_EMPTY(qor_string_new(nullptr, 3));
    // Every call makes a new record over a new buffer.
    QorString* e1 = qor::fresh_empty_string();
    QorString* e2 = qor::fresh_empty_string();
    EXPECT_NE(e1, e2);
    EXPECT_NE(e1->data, e2->data);
}

TEST(StringMake, BufferComesBeforeTheRecordInTheArena) {
    qor_arena_mode(1);
    std::thread([] {
        QorString* r = qor_string_new("sixteen bytes!!!", 16);
        EXPECT_EQ(reinterpret_cast<char*>(r), r->data + 24);  // 17 bytes rounded to 24
        qor_arena_destroy();
    }).join();
    qor_arena_mode(0);
}

TEST(StringAccess, LengthsAndBytes) {
    EXPECT_EQ(qor_string_len(nullptr), 0);
    QorString odd{nullptr, 5, 5};
    EXPECT_EQ(qor_string_len(&odd), 5);  // only the pointer is checked
    EXPECT_EQ(qor_string_is_empty(nullptr), 1);
    EXPECT_EQ(qor_string_is_empty(s("")), 1);
    EXPECT_EQ(qor_string_is_empty(s("x")), 0);
    EXPECT_EQ(qor_string_as_cstr(nullptr), nullptr);
    QorString* abc = s("abc");
    EXPECT_EQ(qor_string_as_cstr(abc), abc->data);
    EXPECT_EQ(str_data(abc), abc->data);
    EXPECT_EQ(qor_str_data(abc->data), abc->data);
    EXPECT_EQ(qor_str_len("four"), 4);
    EXPECT_EQ(qor_string_char_at(abc, 0), 97);
    EXPECT_EQ(qor_string_char_at(abc, 3), 0);
    EXPECT_EQ(qor_string_char_at(abc, -1), 0);
    EXPECT_EQ(qor_string_char_at(nullptr, 0), 0);
    EXPECT_EQ(qor_string_char_at(&odd, 0), 0);
    EXPECT_EQ(qor_str_byte_at(s("\xE9"), 0), 233);
    EXPECT_EQ(char_at(abc, 1), 98);
    EXPECT_EQ(byte_at(abc, 2), 99);
    EXPECT_EQ(len(abc), 3);
}

TEST(StringAccess, CharAtStrGivesOneByteOrEmpty) {
    QorString* t = qor_string_new("a\0b", 3);
    EXPECT_TEXT(qor_str_char_at_str(t, 0), "a");
    EXPECT_FRESH_EMPTY(qor_str_char_at_str(t, 1));
    EXPECT_TEXT(qor_str_char_at_str(t, 2), "b");
    EXPECT_FRESH_EMPTY(qor_str_char_at_str(t, 3));
    EXPECT_FRESH_EMPTY(qor_str_char_at_str(nullptr, 0));
}

TEST(StringCompare, Equality) {
    EXPECT_EQ(qor_string_eq(nullptr, nullptr), 1);
    EXPECT_EQ(qor_string_eq(nullptr, s("")), 0);
    EXPECT_EQ(qor_string_eq(s(""), nullptr), 0);
    EXPECT_EQ(qor_string_eq(s("ab"), s("ab")), 1);
    EXPECT_EQ(qor_string_eq(s("ab"), s("ac")), 0);
    EXPECT_EQ(qor_string_eq(s("ab"), s("abc")), 0);
    EXPECT_EQ(qor_string_eq(&null_data, s("")), 1);
    EXPECT_EQ(qor_string_eq(qor_string_new("a\0b", 3), qor_string_new("a\0c", 3)), 0);
}

TEST(StringCompare, OrderingIsExactlyMinusOneZeroOne) {
    EXPECT_EQ(qor_string_cmp(s("ab"), s("abc")), -1);
    EXPECT_EQ(qor_string_cmp(s("b"), s("abc")), 1);
    EXPECT_EQ(qor_string_cmp(s("abc"), s("abc")), 0);
    EXPECT_EQ(qor_string_cmp(nullptr, s("")), -1);
    EXPECT_EQ(qor_string_cmp(s(""), nullptr), 1);
    EXPECT_EQ(qor_string_cmp(nullptr, nullptr), 0);
    EXPECT_EQ(qor_string_cmp(nullptr, &null_data), 0);
    EXPECT_EQ(qor_string_cmp(s("\x80"), s("z")), 1);
    EXPECT_EQ(qor_string_cmp(s("a"), s("z")), -1);  // never the raw difference
    EXPECT_EQ(qor_string_cmp(qor_string_new("a\0", 2), s("a")), 1);
}

TEST(StringHash, Fnv1a) {
    EXPECT_EQ(qor_string_hash(nullptr), 0);
    EXPECT_EQ(qor_string_hash(&null_data), 0);
    EXPECT_EQ(qor_string_hash(s("")), -3750763034362895579);
    EXPECT_EQ(static_cast<uint64_t>(qor_string_hash(s("a"))), 0xaf63dc4c8601ec8cULL);
    EXPECT_EQ(static_cast<uint64_t>(qor_string_hash(s("foobar"))), 0x85944171f73967e8ULL);
    EXPECT_NE(qor_string_hash(qor_string_new("a\0b", 3)), qor_string_hash(s("a")));
}

TEST(StringSlice, ClampsEndAndRejectsBadStart) {
    QorString* h = s("hello");
    EXPECT_TEXT(qor_string_slice(h, 1, 3), "el");
    EXPECT_TEXT(qor_string_slice(h, 2, 100), "llo");
    EXPECT_TEXT(qor_string_slice(h, 5, 9), "");
    EXPECT_FRESH_EMPTY(qor_string_slice(h, 6, 9));
    EXPECT_FRESH_EMPTY(qor_string_slice(h, 3, 2));
    EXPECT_FRESH_EMPTY(qor_string_slice(h, -1, 2));
    EXPECT_FRESH_EMPTY(qor_string_slice(nullptr, 0, 1));
    EXPECT_FRESH_EMPTY(qor_string_slice(&null_data, 0, 0));
    EXPECT_TEXT(slice(h, 0, 5), "hello");
    EXPECT_NE(qor_string_slice(h, 0, 5), h);
}

TEST(StringSlice, SubstrCountsFromStart) {
    QorString* h = s("hello");
    EXPECT_TEXT(qor_string_substr(h, 1, 3), "ell");
    EXPECT_TEXT(qor_string_substr(h, 3, 10), "lo");
    EXPECT_TEXT(qor_string_substr(h, 3, INT64_MAX), "lo");  // no overflow past len
    EXPECT_TEXT(qor_string_substr(h, 5, 1), "");
    EXPECT_FRESH_EMPTY(qor_string_substr(h, 0, -1));
    EXPECT_FRESH_EMPTY(qor_string_substr(h, 6, 1));
    EXPECT_FRESH_EMPTY(qor_string_substr(h, -1, 1));
    EXPECT_FRESH_EMPTY(qor_string_substr(nullptr, 0, 1));
}

TEST(StringConcat, TwoWayNeedsBothOperands) {
    EXPECT_TEXT(qor_string_concat(s("ab"), s("cd")), "abcd");
    EXPECT_FRESH_EMPTY(qor_string_concat(nullptr, s("x")));
    EXPECT_FRESH_EMPTY(qor_string_concat(s("x"), &null_data));
    EXPECT_TEXT(qor_string_concat(qor_string_new("a\0", 2), s("b")), std::string_view("a\0b", 3));
}

TEST(StringConcat, WiderFormsSkipMissingOperands) {
    EXPECT_TEXT(qor_string_concat3(nullptr, s("x"), s("y")), "xy");
    EXPECT_TEXT(qor_string_concat3(nullptr, nullptr, nullptr), "");
    EXPECT_TEXT(qor_string_concat5(s("1"), s("2"), &null_data, s("4"), s("5")), "1245");
    EXPECT_TEXT(qor_string_concat7(s("a"), s("b"), s("c"), s("d"), s("e"), s("f"), s("g")),
                "abcdefg");
    QorString negative{const_cast<char*>("xyz"), -3, -3};  // malformed: adds no bytes
    EXPECT_TEXT(qor_string_concat3(s("a"), &negative, s("b")), "ab");
    EXPECT_TEXT(qor_string_concat(&negative, s("b")), "b");
    // Lengths whose sum passes INT64_MAX (malformed) give the fresh empty string, not a
    // wrapped size.
    QorString huge{const_cast<char*>("h"), INT64_MAX / 2 + 1, 0};
    EXPECT_FRESH_EMPTY(qor_string_concat(&huge, &huge));
    EXPECT_FRESH_EMPTY(qor_string_concat3(&huge, s("x"), &huge));
    QorString* only = s("solo");
    QorString* r = qor_string_concat3(only, nullptr, nullptr);
    EXPECT_NE(r, only);
    EXPECT_NE(r->data, only->data);
}

TEST(StringFree, FreesOnlyWhileTheArenaIsOff) {
    {
        ArenaOff off;
        EXPECT_EQ(qor_string_free(s("heap")), 0);  // ASan checks the two frees
        EXPECT_EQ(qor_string_free(nullptr), 0);
        EXPECT_EQ(free_string(s("heap")), 0);
    }
    qor_arena_mode(1);
    std::thread([] {
        QorString* a = s("arena");
        EXPECT_EQ(qor_string_free(a), 0);
        EXPECT_TEXT(a, "arena");
        qor_arena_destroy();
    }).join();
    qor_arena_mode(0);
}

TEST(StringForeign, HandOverUsesTheHeap) {
    qor_arena_mode(1);
    QorString* f = qor_ffi_cstr_to_string("from C");
    qor_arena_mode(0);
    EXPECT_TEXT(f, "from C");
    EXPECT_EQ(qor_ffi_string_len(f), 6);
    EXPECT_STREQ(qor_ffi_string_data(f), "from C");
    qor_ffi_free_string(f);  // malloc'd even though the arena was on
    QorString* e = qor_ffi_cstr_to_string(nullptr);
    EXPECT_TEXT(e, "");
    qor_ffi_free_string(e);
    qor_ffi_free_string(nullptr);
    EXPECT_STREQ(qor_ffi_string_data(nullptr), "");
    EXPECT_STREQ(qor_ffi_string_data(&null_data), "");
    EXPECT_EQ(qor_ffi_string_len(nullptr), 0);
}
