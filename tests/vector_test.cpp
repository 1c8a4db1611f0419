// Integer vectors: growth points, clamping, neutral answers, ordering and copies.
#include <stdint.h>

#include <algorithm>
#include <initializer_list>
#include <utility>
#include <vector>

#include "test_support.h"

namespace {

QorVec* vec_of(std::initializer_list<int64_t> values) {
    QorVec* v = qor_vec_new();
    for (int64_t x : values) qor_vec_push(v, x);
    return v;
}

std::vector<int64_t> items_of(const QorVec* v) {
    return std::vector<int64_t>(v->items, v->items + v->len);
}

using Items = std::vector<int64_t>;

}  // namespace

// Capacity starts at 8 (or 1 for small requests) and doubles exactly when a full vector grows.
TEST(VecGrowth, DoublesAtEachFullPush) {
    QorVec* v = qor_vec_new();
    EXPECT_EQ(qor_vec_cap(v), 8);
    EXPECT_EQ(qor_vec_len(v), 0);
    for (int64_t i = 0; i < 8; i++) qor_vec_push(v, i);
    EXPECT_EQ(qor_vec_cap(v), 8);
    EXPECT_EQ(qor_vec_push(v, 8), v);
    EXPECT_EQ(qor_vec_cap(v), 16);
    for (int64_t i = 9; i < 17; i++) qor_vec_push(v, i);
    EXPECT_EQ(qor_vec_cap(v), 32);
    for (int64_t i = 0; i < 17; i++) EXPECT_EQ(qor_vec_get(v, i), i);
    qor_vec_free(v);

    for (int64_t n : {0, -5, 1}) {
        QorVec* w = qor_vec_with_capacity(n);
        EXPECT_EQ(qor_vec_cap(w), 1);
        qor_vec_push(w, 1);
        EXPECT_EQ(qor_vec_cap(w), 1);
        qor_vec_push(w, 2);
        EXPECT_EQ(qor_vec_cap(w), 2);
        qor_vec_push(w, 3);
        EXPECT_EQ(qor_vec_cap(w), 4);
        EXPECT_EQ(items_of(w), (Items{1, 2, 3}));
        qor_vec_free(w);
    }
    QorVec* big = vec_with_capacity(100);
    EXPECT_EQ(vec_cap(big), 100);
    vec_free(big);
    EXPECT_EQ(qor_vec_with_capacity(INT64_MAX), nullptr);
}

// Pop, remove, clear and dedup never shrink the storage; pop and remove give 0 when nothing
// is there to take.
TEST(VecShrinkingOps, KeepCapacityAndGiveZeroWhenEmpty) {
    QorVec* v = vec_of({7, 8, 9});
    EXPECT_EQ(qor_vec_remove(v, -1), 0);
    EXPECT_EQ(qor_vec_remove(v, 3), 0);
    EXPECT_EQ(items_of(v), (Items{7, 8, 9}));
    EXPECT_EQ(qor_vec_remove(v, 0), 7);
    EXPECT_EQ(items_of(v), (Items{8, 9}));
    EXPECT_EQ(qor_vec_remove(v, 1), 9);
    EXPECT_EQ(items_of(v), (Items{8}));
    EXPECT_EQ(qor_vec_pop(v), 8);
    EXPECT_EQ(qor_vec_pop(v), 0);
    EXPECT_EQ(qor_vec_len(v), 0);
    EXPECT_EQ(qor_vec_cap(v), 8);

    for (int64_t i = 0; i < 20; i++) qor_vec_push(v, i);
    qor_vec_clear(v);
    EXPECT_EQ(qor_vec_len(v), 0);
    EXPECT_EQ(qor_vec_cap(v), 32);
    qor_vec_free(v);
}

// Insert clamps its index to [0, len] and grows a full vector exactly as push does.
TEST(VecInsert, ClampsIndexAndGrowsWhenFull) {
    QorVec* v = vec_of({1, 2});
    qor_vec_insert(v, -3, 9);
    EXPECT_EQ(items_of(v), (Items{9, 1, 2}));
    qor_vec_insert(v, 99, 8);
    EXPECT_EQ(items_of(v), (Items{9, 1, 2, 8}));
    qor_vec_insert(v, 2, 5);
    EXPECT_EQ(items_of(v), (Items{9, 1, 5, 2, 8}));
    qor_vec_free(v);

    QorVec* full = vec_of({1, 2, 3, 4, 5, 6, 7, 8});
    qor_vec_insert(full, 0, 0);
    EXPECT_EQ(qor_vec_cap(full), 16);
    EXPECT_EQ(items_of(full), (Items{0, 1, 2, 3, 4, 5, 6, 7, 8}));
    qor_vec_free(full);
}

// Sorting is ascending by signed value and matches a reference stable sort on many shapes.
TEST(VecSort, SignedAscendingOnAllShapes) {
    QorVec* v = vec_of({3, -1, 2, -1});
    qor_vec_sort(v);
    EXPECT_EQ(items_of(v), (Items{-1, -1, 2, 3}));
    qor_vec_free(v);

    QorVec* extremes = vec_of({INT64_MAX, 1, INT64_MIN, -1, 0});
    vec_sort(extremes);
    EXPECT_EQ(items_of(extremes), (Items{INT64_MIN, -1, 0, 1, INT64_MAX}));
    qor_vec_free(extremes);

    uint64_t state = 88172645463325252ULL;
    for (int64_t n : {0, 1, 2, 17, 1000}) {
        QorVec* r = qor_vec_new();
        Items want;
        for (int64_t i = 0; i < n; i++) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            int64_t x = static_cast<int64_t>(state % 64) - 32;
            qor_vec_push(r, x);
            want.push_back(x);
        }
        qor_vec_sort(r);
        std::stable_sort(want.begin(), want.end());
        EXPECT_EQ(items_of(r), want) << "n=" << n;
        qor_vec_free(r);
    }
}

// Dedup collapses runs only, keeping the capacity.
TEST(VecDedup, CollapsesAdjacentRunsOnly) {
    QorVec* v = vec_of({1, 1, 2, 2, 2, 1});
    qor_vec_dedup(v);
    EXPECT_EQ(items_of(v), (Items{1, 2, 1}));
    EXPECT_EQ(qor_vec_cap(v), 8);
    qor_vec_free(v);
    QorVec* same = vec_of({5, 5, 5, 5});
    qor_vec_dedup(same);
    EXPECT_EQ(items_of(same), (Items{5}));
    qor_vec_free(same);
}

// Aggregates wrap on overflow and give their neutral values on an empty vector.
TEST(VecAggregates, NeutralWhenEmptyAndWrapOnOverflow) {
    QorVec* empty = qor_vec_new();
    EXPECT_EQ(qor_vec_sum(empty), 0);
    EXPECT_EQ(qor_vec_product(empty), 1);
    EXPECT_EQ(qor_vec_min(empty), INT64_MAX);
    EXPECT_EQ(qor_vec_max(empty), INT64_MIN);
    EXPECT_EQ(qor_vec_contains(empty, 0), 0);
    EXPECT_EQ(qor_vec_index_of(empty, 0), -1);
    qor_vec_free(empty);

    QorVec* v = vec_of({INT64_MAX, 2, -4});
    EXPECT_EQ(qor_vec_sum(v), INT64_MAX - 2);  // wraps past INT64_MAX and back
    EXPECT_EQ(qor_vec_product(v), 8);          // (2^63 - 1) * -8 wraps to 8
    QorVec* big = vec_of({INT64_MAX, 2});
    EXPECT_EQ(qor_vec_sum(big), INT64_MIN + 1);
    EXPECT_EQ(qor_vec_product(big), -2);
    qor_vec_free(big);
    EXPECT_EQ(qor_vec_min(v), -4);
    EXPECT_EQ(qor_vec_max(v), INT64_MAX);
    qor_vec_free(v);

    QorVec* w = vec_of({4, 7, 4});
    EXPECT_EQ(qor_vec_index_of(w, 4), 0);
    EXPECT_EQ(qor_vec_index_of(w, 7), 1);
    EXPECT_EQ(qor_vec_index_of(w, 5), -1);
    EXPECT_EQ(qor_vec_contains(w, 7), 1);
    qor_vec_free(w);
}

// Slice clamps its range; copy and slice size their new vectors to the element count.
TEST(VecCopyAndSlice, ClampAndSizeToCount) {
    QorVec* v = vec_of({10, 20, 30, 40});
    QorVec* mid = qor_vec_slice(v, 1, 3);
    EXPECT_EQ(items_of(mid), (Items{20, 30}));
    EXPECT_EQ(qor_vec_cap(mid), 2);
    QorVec* head = qor_vec_slice(v, -5, 2);
    EXPECT_EQ(items_of(head), (Items{10, 20}));
    QorVec* tail = qor_vec_slice(v, 2, 99);
    EXPECT_EQ(items_of(tail), (Items{30, 40}));
    for (auto [start, end] :
         {std::pair<int64_t, int64_t>{3, 1}, {4, 9}, {2, 2}, {INT64_MIN, INT64_MIN}}) {
        QorVec* none = qor_vec_slice(v, start, end);
        EXPECT_EQ(qor_vec_len(none), 0);
        EXPECT_EQ(qor_vec_cap(none), 8);
        qor_vec_free(none);
    }

    QorVec* copy = qor_vec_copy(v);
    EXPECT_EQ(items_of(copy), items_of(v));
    EXPECT_EQ(qor_vec_cap(copy), 4);
    qor_vec_set(copy, 0, 99);
    EXPECT_EQ(qor_vec_get(v, 0), 10);
    QorVec* empty = qor_vec_new();
    QorVec* empty_copy = qor_vec_copy(empty);
    EXPECT_EQ(qor_vec_cap(empty_copy), 8);
    for (QorVec* x : {mid, head, tail, copy, empty, empty_copy, v}) qor_vec_free(x);
}

// Extend appends in order with push's growth; a vector extended with itself doubles its
// contents even when that moves the storage.
TEST(VecExtend, AppendsInOrderIncludingSelf) {
    QorVec* a = vec_of({1, 2, 3, 4, 5});
    QorVec* b = vec_of({6, 7, 8, 9});
    qor_vec_extend(a, b);
    EXPECT_EQ(items_of(a), (Items{1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(qor_vec_cap(a), 16);
    qor_vec_free(b);

    QorVec* self = vec_of({1, 2, 3, 4, 5, 6});
    qor_vec_extend(self, self);
    EXPECT_EQ(items_of(self), (Items{1, 2, 3, 4, 5, 6, 1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(qor_vec_cap(self), 16);
    qor_vec_extend(self, self);
    EXPECT_EQ(qor_vec_len(self), 24);
    EXPECT_EQ(qor_vec_cap(self), 32);
    EXPECT_EQ(qor_vec_get(self, 23), 6);
    qor_vec_free(self);

    QorVec* tiny = qor_vec_with_capacity(0);
    qor_vec_extend(tiny, a);
    EXPECT_EQ(qor_vec_cap(tiny), 16);  // 1 doubled until the 9 elements fit
    EXPECT_EQ(items_of(tiny), items_of(a));
    qor_vec_free(tiny);
    qor_vec_free(a);
}

// Reverse, fill and swap work in place over [0, len).
TEST(VecInPlace, ReverseFillSwap) {
    QorVec* v = vec_of({1, 2, 3, 4, 5});
    qor_vec_reverse(v);
    EXPECT_EQ(items_of(v), (Items{5, 4, 3, 2, 1}));
    qor_vec_swap(v, 0, 4);
    EXPECT_EQ(items_of(v), (Items{1, 4, 3, 2, 5}));
    qor_vec_pop(v);
    qor_vec_fill(v, -7);
    EXPECT_EQ(items_of(v), (Items{-7, -7, -7, -7}));
    EXPECT_EQ(qor_vec_len(v), 4);
    qor_vec_free(v);
}

// Accesses outside [0, len) and a NULL vector never touch memory: reads give the empty
// answers and writes do nothing.
TEST(VecGuards, OutOfRangeAndNullAreHarmless) {
    QorVec* v = vec_of({1, 2});
    EXPECT_EQ(qor_vec_get(v, 2), 0);
    EXPECT_EQ(qor_vec_get(v, -1), 0);
    qor_vec_set(v, 2, 5);
    qor_vec_set(v, -1, 5);
    qor_vec_swap(v, 0, 2);
    EXPECT_EQ(items_of(v), (Items{1, 2}));
    qor_vec_free(v);

    EXPECT_EQ(qor_vec_push(nullptr, 1), nullptr);
    EXPECT_EQ(qor_vec_pop(nullptr), 0);
    EXPECT_EQ(qor_vec_len(nullptr), 0);
    EXPECT_EQ(qor_vec_min(nullptr), INT64_MAX);
    EXPECT_EQ(qor_vec_index_of(nullptr, 0), -1);
    qor_vec_insert(nullptr, 0, 1);
    qor_vec_extend(nullptr, nullptr);
    qor_vec_sort(nullptr);
    qor_vec_free(nullptr);
    QorVec* copy = qor_vec_copy(nullptr);
    EXPECT_EQ(qor_vec_cap(copy), 8);
    qor_vec_free(copy);
}
