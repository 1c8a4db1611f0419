// Raw memory: byte order, byte truncation and zero extension, unaligned words, zeroed blocks,
// and boxes that live on the heap outside the arena.
#include <stdlib.h>

#include "test_support.h"

TEST(RawMemory, BytesAreTruncatedOnStoreAndZeroExtendedOnLoad) {
    unsigned char cell[2] = {0, 0};
    qor_store_u8(cell, 0x1FF);
    EXPECT_EQ(cell[0], 255);
    EXPECT_EQ(qor_load_u8(cell), 255);
    store_u8(cell + 1, -2);
    EXPECT_EQ(load_u8(cell + 1), 254);
    EXPECT_EQ(qor_load_u8(cell), 255);  // the neighbour is untouched
}

TEST(RawMemory, WordsAreLittleEndianAtAnyAlignment) {
    unsigned char buf[16] = {};
    qor_store_i64(buf + 3, 0x0102030405060708);
    for (int i = 0; i < 8; i++) EXPECT_EQ(qor_load_u8(buf + 3 + i), 8 - i) << i;
    EXPECT_EQ(qor_load_u8(buf + 2), 0);
    EXPECT_EQ(qor_load_u8(buf + 11), 0);
    EXPECT_EQ(qor_load_i64(buf + 3), 0x0102030405060708);
    store_i64(buf + 5, -1);
    EXPECT_EQ(load_i64(buf + 5), -1);
    EXPECT_EQ(qor_load_i64(buf + 3), static_cast<int64_t>(0xFFFFFFFFFFFF0708ULL));
}

TEST(RawMemory, CallocGivesZeroedWordsOrNull) {
    void* block = qor_calloc(4, 8);
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 4; i++) EXPECT_EQ(qor_load_i64(static_cast<int64_t*>(block) + i), 0);
    free(block);
    EXPECT_EQ(qor_calloc(UINT64_MAX, 2), nullptr);  // the product overflows
}

// A box is ordinary heap memory: an arena reset leaves it intact and free() accepts it.
TEST(RawMemory, BoxSurvivesArenaReset) {
    int32_t saved = g_arena_enabled;
    qor_arena_mode(1);
    int64_t* box = qor_box_new_i64(-5);
    ASSERT_NE(box, nullptr);
    for (int i = 0; i < 64; i++) qor_string_from_cstr("arena filler");
    qor_arena_reset();
    for (int i = 0; i < 64; i++) qor_string_from_cstr("arena filler again");
    EXPECT_EQ(qor_load_i64(box), -5);
    qor_store_i64(box, 9);
    EXPECT_EQ(*box, 9);
    qor_arena_mode(saved);
    free(box);
}
