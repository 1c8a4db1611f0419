// The registry cache: parsing of key=value;key=value texts, the three slots, rebuilding only for
// a different text, and cached strings that outlive the arena and later rebuilds.
#include <thread>

#include "test_support.h"

namespace {

QorString* S(const char* text) { return qor_string_from_cstr(text); }

QorString* lookup(const char* text, const char* key, int64_t slot) {
    return reg_cached_lookup(S(text), key == nullptr ? nullptr : S(key), slot);
}

// Fills the calling thread's arena with other bytes, over whatever a reset released.
void overwrite_arena() {
    for (int i = 0; i < 1000; i++) qor_string_from_cstr("xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx");
}

}  // namespace

TEST(RegistryCache, ParsesPairsAndLaterPairsWin) {
    EXPECT_TEXT(lookup("a=1;b=22", "b", 0), "22");
    EXPECT_TEXT(lookup("a=1;b=22", "a", 0), "1");
    EXPECT_FRESH_EMPTY(lookup("a=1;b=22", "c", 0));
    EXPECT_FRESH_EMPTY(lookup("a=1;b=22", nullptr, 0));
    EXPECT_TEXT(lookup("a=1;a=2", "a", 0), "2");
    EXPECT_TEXT(lookup("x;y=5", "x;y", 0), "5");
    EXPECT_FRESH_EMPTY(lookup("x;y=5", "y", 0));
    EXPECT_TEXT(lookup("a=1;;b=2", ";b", 0), "2");
    EXPECT_TEXT(lookup("=v", "", 0), "v");
    EXPECT_TEXT(lookup("a=b=c;d", "a", 0), "b=c");
    EXPECT_FRESH_EMPTY(lookup("abc", "abc", 0));
    EXPECT_TEXT(lookup("k=1;tail", "k", 0), "1");
    EXPECT_FRESH_EMPTY(lookup("k=1;tail", "tail", 0));
}

// An empty value is its own cached record, so repeated lookups give the same pointer, unlike the
// fresh empty string of a missing key.
TEST(RegistryCache, StoredEmptyValueIsItsOwnRecord) {
    QorString* first = lookup("k=", "k", 1);
    EXPECT_TEXT(first, "");
    EXPECT_EQ(lookup("k=", "k", 1), first);
    QorString* missing = lookup("k=", "z", 1);
    EXPECT_FRESH_EMPTY(missing);
    EXPECT_NE(lookup("k=", "z", 1), missing);
}

TEST(RegistryCache, BadRequestsGiveFreshEmptyAndTouchNoSlot) {
    QorString* kept = lookup("a=1;b=22", "a", 2);
    EXPECT_FRESH_EMPTY(lookup("a=5", "a", 3));
    EXPECT_FRESH_EMPTY(lookup("a=5", "a", -1));
    EXPECT_FRESH_EMPTY(lookup("", "a", 2));
    EXPECT_FRESH_EMPTY(reg_cached_lookup(nullptr, S("a"), 2));
    QorString no_data{nullptr, 3, 3};
    EXPECT_FRESH_EMPTY(reg_cached_lookup(&no_data, S("a"), 2));
    EXPECT_EQ(lookup("a=1;b=22", "a", 2), kept);
}

TEST(RegistryCache, SlotsAreSeparate) {
    QorString* in0 = lookup("a=1;b=22", "a", 0);
    EXPECT_TEXT(lookup("a=7", "a", 1), "7");
    EXPECT_TEXT(lookup("a=1;b=22", "a", 1), "1");
    EXPECT_NE(lookup("a=1;b=22", "a", 1), in0);
    EXPECT_EQ(lookup("a=1;b=22", "a", 0), in0);
}

// A slot answers only from the very text it was built from: an equal text in another record is
// served from the cache, a different text of the same length rebuilds it.
TEST(RegistryCache, SameLengthDifferentTextRebuilds) {
    QorString* a1 = lookup("a=1;b=2", "a", 0);
    EXPECT_TEXT(a1, "1");
    EXPECT_EQ(lookup("a=1;b=2", "a", 0), a1);
    EXPECT_TEXT(lookup("a=9;b=8", "a", 0), "9");
    EXPECT_TEXT(lookup("a=1;b=3", "b", 0), "3");
    EXPECT_TEXT(lookup("a=9;b=88", "a", 0), "9");
    // A value handed out before a rebuild stays readable.
    EXPECT_TEXT(a1, "1");
}

// Cached strings live on the heap: arena resets, rewinds and the end of the building thread
// leave them intact.
TEST(RegistryCache, CachedValuesOutliveTheArenaAndTheThread) {
    int32_t saved = g_arena_enabled;
    qor_arena_mode(1);
    qor_arena_save();
    QorString* v = lookup("key=value-in-arena-test", "key", 1);
    qor_arena_restore();
    qor_arena_reset();
    overwrite_arena();
    EXPECT_TEXT(v, "value-in-arena-test");
    EXPECT_EQ(lookup("key=value-in-arena-test", "key", 1), v);

    QorString* from_thread = nullptr;
    std::thread([&] {
        from_thread = lookup("t=made-in-thread", "t", 2);
        qor_arena_reset();
        overwrite_arena();
    }).join();
    qor_arena_mode(saved);
    EXPECT_TEXT(from_thread, "made-in-thread");
    EXPECT_EQ(lookup("t=made-in-thread", "t", 2), from_thread);
}
