// Inline arrays: copies that leave their inputs alone, clamped slices, and the checked accesses
// that fail as a bounds panic, with or without a foreign-call frame.
#include <initializer_list>
#include <vector>

#include "core/internal.h"
#include "test_support.h"

namespace {

QOR_ARENA_ON_FOR_WHOLE_RUN();

QorArray* array_of(std::initializer_list<int64_t> values) {
    QorArray* a = qor_array_slice(nullptr, 0, 0);
    for (int64_t v : values) a = qor_array_push(a, v);
    return a;
}

std::vector<int64_t> elements(const QorArray* a) {
    return std::vector<int64_t>(a->items, a->items + a->len);
}

using V = std::vector<int64_t>;

// Bytes that make() took from the calling thread's arena, found from where the next arena
// allocation lands; -1 when the result does not sit right after the previous allocation.
template <typename F>
int64_t arena_bytes_taken(F make) {
    char* before = static_cast<char*>(qor_alloc(8)) + 8;
    char* made = reinterpret_cast<char*>(make());
    char* after = static_cast<char*>(qor_alloc(8));
    return made == before ? after - made : -1;
}

}  // namespace

// Every made array carries its length in both header words.
TEST(ArrayPush, CopiesIntoANewArray) {
    QorArray* empty = qor_array_slice(nullptr, 0, 0);
    QorArray* one = qor_array_push(empty, 5);
    EXPECT_EQ(one->capacity, 1);
    EXPECT_EQ(one->len, 1);
    EXPECT_EQ(one->items[0], 5);
    EXPECT_EQ(empty->len, 0);

    QorArray* two = qor_array_push(one, -7);
    EXPECT_NE(two, one);
    EXPECT_EQ(elements(two), (V{5, -7}));
    EXPECT_EQ(two->capacity, 2);
    EXPECT_EQ(elements(one), V{5});
    EXPECT_EQ(elements(qor_array_push(nullptr, 3)), V{3});
}

TEST(ArrayPop, DropsLastIntoANewArrayAndReturnsEmptyItself) {
    QorArray* a = array_of({1, 2, 3});
    QorArray* p = qor_array_pop(a);
    EXPECT_EQ(elements(p), (V{1, 2}));
    EXPECT_EQ(p->capacity, 2);
    EXPECT_EQ(elements(a), (V{1, 2, 3}));

    QorArray* nine = array_of({9});
    QorArray* none = qor_array_pop(nine);
    EXPECT_NE(none, nine);
    EXPECT_EQ(none->len, 0);
    EXPECT_EQ(none->capacity, 0);
    EXPECT_EQ(qor_array_pop(none), none);
    EXPECT_EQ(qor_array_pop(nullptr), nullptr);
}

TEST(ArrayConcat, JoinsInOrderAndReadsNullAsEmpty) {
    QorArray* e = qor_array_concat(array_of({}), array_of({}));
    EXPECT_EQ(e->len, 0);
    EXPECT_EQ(e->capacity, 0);
    QorArray* a = array_of({1, 2});
    QorArray* b = array_of({3});
    QorArray* ab = qor_array_concat(a, b);
    EXPECT_EQ(elements(ab), (V{1, 2, 3}));
    EXPECT_EQ(ab->capacity, 3);
    EXPECT_EQ(elements(qor_array_concat(b, a)), (V{3, 1, 2}));
    EXPECT_EQ(elements(qor_array_concat(nullptr, b)), V{3});
    EXPECT_EQ(elements(qor_array_concat(a, nullptr)), (V{1, 2}));
    EXPECT_EQ(elements(a), (V{1, 2}));
    // A malformed header with a negative len reads as empty rather than sizing a block.
    QorArray negative{-3, -3};
    EXPECT_EQ(elements(qor_array_concat(&negative, b)), V{3});
    EXPECT_EQ(elements(qor_array_push(&negative, 7)), V{7});
}

TEST(ArraySlice, ClampsAndYieldsHeaderOnlyArraysForEmptyRanges) {
    QorArray* a = array_of({10, 20, 30, 40});
    QorArray* mid = qor_array_slice(a, 1, 3);
    EXPECT_EQ(elements(mid), (V{20, 30}));
    EXPECT_EQ(mid->capacity, 2);
    QorArray* all = qor_array_slice(a, -2, 99);
    EXPECT_NE(all, a);
    EXPECT_EQ(elements(all), (V{10, 20, 30, 40}));
    for (auto [start, end] : {std::pair<int64_t, int64_t>{3, 3},
                              {5, 9},
                              {3, 1},
                              {INT64_MAX, INT64_MIN},
                              {0, INT64_MIN}}) {
        QorArray* e = qor_array_slice(a, start, end);
        EXPECT_EQ(e->capacity, 0) << start << ".." << end;
        EXPECT_EQ(e->len, 0) << start << ".." << end;
    }
    EXPECT_EQ(qor_array_slice(nullptr, -5, 5)->len, 0);
    EXPECT_EQ(qor_array_len(a), 4);
    EXPECT_EQ(qor_array_len(nullptr), 0);
}

// Each constructing operation takes one arena block of exactly 16 + 8 * len bytes.
TEST(ArrayAllocation, OneArenaBlockOfHeaderAndElements) {
    QorArray* a = array_of({1, 2, 3});
    QorArray* b = array_of({4});
    EXPECT_EQ(arena_bytes_taken([&] { return qor_array_push(a, 9); }), 16 + 8 * 4);
    EXPECT_EQ(arena_bytes_taken([&] { return qor_array_pop(a); }), 16 + 8 * 2);
    EXPECT_EQ(arena_bytes_taken([&] { return qor_array_pop(b); }), 16);
    EXPECT_EQ(arena_bytes_taken([&] { return qor_array_concat(a, b); }), 16 + 8 * 4);
    EXPECT_EQ(arena_bytes_taken([&] { return qor_array_slice(a, 1, 99); }), 16 + 8 * 2);
    EXPECT_EQ(arena_bytes_taken([&] { return qor_array_slice(a, 2, 1); }), 16);
}

TEST(ArraySafeAccess, ReadsAndWritesInPlaceInsideBounds) {
    QorArray* a = array_of({10, 20, 30, 40});
    QorArray* alias = a;
    EXPECT_EQ(qor_array_get_safe(a, 0), 10);
    EXPECT_EQ(qor_array_get_safe(a, 3), 40);
    qor_array_set_safe(a, 3, -1);
    EXPECT_EQ(qor_array_get_safe(alias, 3), -1);
    EXPECT_EQ(elements(alias), (V{10, 20, 30, -1}));
}

TEST(ArraySafeAccessDeath, OutOfBoundsPanicsWithIndexAndLength) {
    QorArray* a = array_of({1, 2, 3, 4});
    EXPECT_EXIT(qor_array_get_safe(a, 4), testing::ExitedWithCode(1),
                testing::Eq("panic: array index 4 out of bounds [0, 4)\n"));
    EXPECT_EXIT(qor_array_get_safe(a, -1), testing::ExitedWithCode(1),
                testing::Eq("panic: array index -1 out of bounds [0, 4)\n"));
    EXPECT_EXIT(qor_array_set_safe(a, INT64_MIN, 0), testing::ExitedWithCode(1),
                testing::Eq("panic: array index -9223372036854775808 out of bounds [0, 4)\n"));
    EXPECT_EXIT(qor_array_get_safe(nullptr, 0), testing::ExitedWithCode(1),
                testing::Eq("panic: array index 0 out of bounds [0, 0)\n"));
}

// Inside a frame the failure comes back to qor_ffi_begin and nothing is written.
TEST(ArraySafeAccess, OutOfBoundsReturnsToOpenFrame) {
    QorArray* volatile a = array_of({1, 2, 3});
    volatile int completed = 0;
    if (qor_ffi_begin() == 0) {
        qor_array_set_safe(a, 3, 99);
        completed = 1;
    }
    qor_ffi_end();
    EXPECT_EQ(completed, 0);
    EXPECT_EQ(qor_ffi_has_error(), 1);
    EXPECT_STREQ(qor_ffi_error_message(), "array index 3 out of bounds [0, 3)");
    EXPECT_EQ(elements(a), (V{1, 2, 3}));

    if (qor_ffi_begin() == 0) {
        EXPECT_EQ(qor_array_get_safe(a, 2), 3);
        completed = 1;
    }
    qor_ffi_end();
    EXPECT_EQ(completed, 1);
    EXPECT_EQ(qor_ffi_has_error(), 0);
}
