// String vectors: the pool's handles and the memory it keeps, element access, joining, sorting,
// and the three splitters with their exact pieces.
#include <string>
#include <vector>

#include "collections/string_vector_pool.h"
#include "test_support.h"

namespace {

using Pieces = std::vector<std::string>;

QorString* S(const char* text) { return qor_string_from_cstr(text); }
QorString* B(std::string_view bytes) {
    return qor_string_new(bytes.data(), static_cast<int64_t>(bytes.size()));
}

// The texts of a string vector's elements; every element must be a well-formed fresh record.
Pieces pieces_of(int64_t handle) {
    Pieces out;
    for (int64_t i = 0; i < qor_svec_len(handle); i++) {
        QorString* s = qor_svec_get(handle, i);
        EXPECT_NE(s, nullptr);
        if (s == nullptr) continue;
        EXPECT_EQ(s->data[s->len], '\0');
        EXPECT_EQ(s->cap, s->len);
        out.push_back(text_of(s));
    }
    return out;
}

int64_t svec_of(std::initializer_list<const char*> texts) {
    int64_t h = qor_svec_new();
    for (const char* t : texts) qor_svec_push(h, t == nullptr ? nullptr : S(t));
    return h;
}

// The capacity of a vector's pointer array; 0 once its chunk is released.
int64_t capacity_of(int64_t handle) {
    const QorStrVec* v = qor::svec::find_record(handle);
    return v == nullptr ? 0 : v->capacity;
}

}  // namespace

// Run in a child process, whose pool is untouched. Handles count up from 0 and are never
// reused, while the chunks held follow the vectors in use: after 20,000 split-and-free cycles
// only the four kept vectors' chunks, the newest one and at most one idle one are held. The kept
// vectors' chunks (16, 32, 48 and 64) share a home slot in the 16-slot directory, so releasing
// the second one moves the later two back along the probe run; they must still be found, and a
// freed handle reads as empty and takes pushes again.
TEST(StrVecPoolDeathTest, MemoryFollowsLiveVectorsNotHandlesIssued) {
    auto check = [] {
        qor_arena_mode(1);
        QorString* text = qor_string_from_cstr("one two three");
        std::vector<int64_t> kept;
        bool ok = qor_svec_new() == 0;
        qor_arena_save();
        for (int64_t want = 1; want < 20000; want++) {
            int64_t h = qor_str_split_whitespace(text);
            ok = ok && h == want && qor_svec_len(h) == 3;
            if (h % 4096 == 0) {
                kept.push_back(h);
                qor_arena_save();  // past the kept pieces
                continue;
            }
            qor_svec_free(h);
            qor_arena_restore();
        }
        ok = ok && kept.size() == 4 && g_svec_chunk_count <= 6 && g_svec_dir_cap == 16;
        qor_svec_free(kept[1]);
        qor_svec_free(kept[0]);  // takes the idle place, so chunk 32 is released
        ok = ok && g_svec_chunk_count <= 5 && qor_svec_len(kept[1]) == 0;
        for (int64_t h : {kept[2], kept[3]}) {
            ok = ok && qor_svec_len(h) == 3 && text_of(qor_svec_get(h, 2)) == "three";
        }
        ok = ok && qor_svec_push(kept[1], text) == 0 && qor_svec_get(kept[1], 0) == text;
        ok = ok && qor_svec_len(kept[3]) == 3 && qor_svec_new() == 20000;
        exit(ok ? 0 : 1);
    };
    EXPECT_EXIT(check(), testing::ExitedWithCode(0), "");
}

TEST(StrVecPool, InvalidHandlesGiveNeutralResults) {
    int64_t unissued = g_svec_pool_len + 5;
    QorString* a = S("a");
    for (int64_t h : {int64_t{-1}, unissued}) {
        EXPECT_EQ(qor_svec_push(h, a), -1);
        EXPECT_EQ(qor_svec_len(h), 0);
        EXPECT_EQ(qor_svec_get(h, 0), nullptr);
        EXPECT_EQ(qor_svec_free(h), 0);
        EXPECT_EQ(qor_svec_clear(h), 0);
        EXPECT_FRESH_EMPTY(qor_svec_join(h, S(",")));
        EXPECT_EQ(qor_svec_index_of(h, a), -1);
        EXPECT_EQ(qor_svec_contains(h, a), 0);
        EXPECT_EQ(qor_svec_sort(h), 0);
        EXPECT_EQ(qor_svec_remove(h, 0), 0);
    }
    // Nothing above issued the handle.
    EXPECT_EQ(qor_svec_len(unissued), 0);
    EXPECT_LT(g_svec_pool_len, unissued);
}

TEST(StrVec, PushGrowsPastEightAndFreeKeepsTheHandle) {
    int64_t h = qor_svec_new();
    std::vector<QorString*> pushed;
    for (int i = 0; i < 20; i++) {
        pushed.push_back(i == 3 ? nullptr : S(std::to_string(i).c_str()));
        ASSERT_EQ(qor_svec_push(h, pushed.back()), 0);
        // The pointer array starts at 8 and doubles on the ninth and seventeenth push.
        EXPECT_EQ(capacity_of(h), i < 8 ? 8 : i < 16 ? 16 : 32) << i;
    }
    ASSERT_EQ(qor_svec_len(h), 20);
    for (int i = 0; i < 20; i++) EXPECT_EQ(qor_svec_get(h, i), pushed[i]);
    EXPECT_EQ(qor_svec_get(h, -1), nullptr);
    EXPECT_EQ(qor_svec_get(h, 20), nullptr);

    qor_svec_clear(h);
    EXPECT_EQ(qor_svec_len(h), 0);
    EXPECT_EQ(qor_svec_get(h, 0), nullptr);
    qor_svec_push(h, pushed[0]);
    EXPECT_EQ(qor_svec_get(h, 0), pushed[0]);

    qor_svec_free(h);
    EXPECT_EQ(qor_svec_len(h), 0);
    EXPECT_EQ(capacity_of(h), 0);
    EXPECT_EQ(qor_svec_push(h, pushed[1]), 0);
    EXPECT_EQ(qor_svec_get(h, 0), pushed[1]);
    EXPECT_EQ(capacity_of(h), 8);
    qor_svec_free(h);
    qor_svec_free(h);
}

TEST(StrVec, RemoveShiftsLaterElementsLeft) {
    int64_t h = svec_of({"a", "b", "c"});
    EXPECT_EQ(qor_svec_remove(h, 3), 0);
    EXPECT_EQ(qor_svec_remove(h, -1), 0);
    EXPECT_EQ(qor_svec_remove(h, 0), 1);
    EXPECT_EQ(pieces_of(h), (Pieces{"b", "c"}));
    EXPECT_EQ(qor_svec_remove(h, 1), 1);
    EXPECT_EQ(pieces_of(h), Pieces{"b"});
}

TEST(StrVec, JoinKeepsSeparatorsAroundNullElements) {
    EXPECT_TEXT(qor_svec_join(svec_of({"a", "b", "c"}), S(", ")), "a, b, c");
    EXPECT_TEXT(qor_svec_join(svec_of({"a", "b", "c"}), nullptr), "abc");
    EXPECT_TEXT(qor_svec_join(svec_of({"a", nullptr, "b"}), S(",")), "a,,b");
    EXPECT_TEXT(qor_svec_join(svec_of({nullptr, "x", nullptr}), S("--")), "--x--");
    EXPECT_TEXT(qor_svec_join(svec_of({"only"}), S(",")), "only");
    EXPECT_TEXT(qor_svec_join(svec_of({"", ""}), S(",")), ",");
    EXPECT_FRESH_EMPTY(qor_svec_join(qor_svec_new(), S(",")));
    int64_t nul = qor_svec_new();
    qor_svec_push(nul, B(std::string_view("a\0b", 3)));
    qor_svec_push(nul, S("c"));
    EXPECT_TEXT(qor_svec_join(nul, B(std::string_view("\0", 1))), std::string_view("a\0b\0c", 5));
    // A total past INT64_MAX (malformed lengths) gives the fresh empty string.
    QorString huge{const_cast<char*>("h"), INT64_MAX / 2 + 1, 0};
    int64_t big = qor_svec_new();
    qor_svec_push(big, &huge);
    qor_svec_push(big, &huge);
    EXPECT_FRESH_EMPTY(qor_svec_join(big, nullptr));
}

TEST(StrVec, SortPutsNullsFirstThenBytesThenShorter) {
    int64_t h = svec_of({"c", "ba", nullptr, "b", "\xff", "", "B", nullptr});
    EXPECT_EQ(qor_svec_sort(h), 0);
    EXPECT_EQ(qor_svec_get(h, 0), nullptr);
    EXPECT_EQ(qor_svec_get(h, 1), nullptr);
    qor_svec_remove(h, 0);
    qor_svec_remove(h, 0);
    EXPECT_EQ(pieces_of(h), (Pieces{"", "B", "b", "ba", "c", "\xff"}));
    // Lengths are compared, not subtracted into 32 bits: a prefix stays first even when the
    // lengths differ by 2^32 - 1. Only the common bytes (none here) are ever read.
    QorString shorter{const_cast<char*>(""), 0, 0};
    QorString longer{const_cast<char*>(""), 0xffffffffLL, 0xffffffffLL};
    int64_t lengths = qor_svec_new();
    qor_svec_push(lengths, &longer);
    qor_svec_push(lengths, &shorter);
    qor_svec_sort(lengths);
    EXPECT_EQ(qor_svec_get(lengths, 0), &shorter);
}

TEST(StrVec, IndexOfMatchesBytesInOtherRecords) {
    int64_t h = svec_of({nullptr, "x", "", "x"});
    EXPECT_EQ(qor_svec_index_of(h, S("x")), 1);
    EXPECT_EQ(qor_svec_index_of(h, S("")), 2);
    EXPECT_EQ(qor_svec_index_of(h, S("xx")), -1);
    EXPECT_EQ(qor_svec_index_of(h, nullptr), -1);
    EXPECT_EQ(qor_svec_contains(h, S("x")), 1);
    EXPECT_EQ(qor_svec_contains(h, S("y")), 0);
    EXPECT_EQ(qor_svec_contains(h, nullptr), 0);
}

// Unlike the text splitter, a final separator adds no empty piece and an empty separator
// splits into single bytes.
TEST(StrSplit, PiecesBetweenSeparators) {
    struct Case {
        const char* text;
        const char* sep;
        Pieces want;
    };
    const Case cases[] = {
        {"a,b,c", ",", {"a", "b", "c"}},
        {"a,b,", ",", {"a", "b"}},
        {",a", ",", {"", "a"}},
        {"a,,b", ",", {"a", "", "b"}},
        {",", ",", {""}},
        {",,", ",", {"", ""}},
        {"abc", ",", {"abc"}},
        {"abc", "", {"a", "b", "c"}},
        {"abc", nullptr, {"a", "b", "c"}},
        {"ab", "abc", {"ab"}},
        {"a::b::", "::", {"a", "b"}},
        {"aaab", "aab", {"a"}},
        {"x<>y<z>", "<>", {"x", "y<z>"}},
    };
    for (const Case& c : cases) {
        int64_t h = qor_str_split(S(c.text), c.sep == nullptr ? nullptr : S(c.sep));
        ASSERT_GE(h, 0);
        EXPECT_EQ(pieces_of(h), c.want) << "'" << c.text << "' by '" << (c.sep ? c.sep : "null");
    }
    int64_t nul = qor_str_split(B(std::string_view("a\0b,c", 5)), S(","));
    EXPECT_EQ(pieces_of(nul), (Pieces{std::string("a\0b", 3), "c"}));
    // A text without a separator still yields a copy, never the input record itself.
    QorString* whole = S("abc");
    EXPECT_NE(qor_svec_get(qor_str_split(whole, S(",")), 0), whole);
}

TEST(StrSplit, EmptyOrMissingTextGivesAnEmptyVector) {
    for (QorString* text : {S(""), static_cast<QorString*>(nullptr)}) {
        int64_t h = qor_str_split(text, S(","));
        EXPECT_GE(h, 0);
        EXPECT_EQ(qor_svec_len(h), 0);
        h = qor_str_split_whitespace(text);
        EXPECT_GE(h, 0);
        EXPECT_EQ(qor_svec_len(h), 0);
        h = qor_str_lines(text);
        EXPECT_GE(h, 0);
        EXPECT_EQ(qor_svec_len(h), 0);
    }
}

TEST(StrSplit, WhitespaceIsTabLineFeedReturnAndSpaceOnly) {
    EXPECT_EQ(pieces_of(qor_str_split_whitespace(S("  a\tb\n"))), (Pieces{"a", "b"}));
    EXPECT_EQ(pieces_of(qor_str_split_whitespace(S("one\r\n two"))), (Pieces{"one", "two"}));
    EXPECT_EQ(pieces_of(qor_str_split_whitespace(S("a\vb c\fd"))), (Pieces{"a\vb", "c\fd"}));
    EXPECT_EQ(pieces_of(qor_str_split_whitespace(S(" \t\r\n "))), Pieces{});

    // Words and blank runs of many lengths, shifted across the 64-byte steps the splitter
    // reads: words that span whole steps, start or end on a step's edge, or end the text.
    std::string body;
    Pieces words;
    for (size_t len = 1; len <= 150; len += 7) {
        words.emplace_back(len, static_cast<char>('a' + len % 26));
        body += words.back() + std::string("\t\n\r  ").substr(len % 4, 1 + len % 3);
    }
    body += "end\v";  // a last word that ends the text, with a vertical tab, which is no blank
    words.emplace_back("end\v");
    for (size_t shift = 0; shift <= 65; shift++) {
        std::string text = std::string(shift, ' ') + body;
        EXPECT_EQ(pieces_of(qor_str_split_whitespace(S(text.c_str()))), words) << shift;
    }
}

TEST(StrSplit, LinesDropOneCarriageReturnAndNoFinalEmptyLine) {
    EXPECT_EQ(pieces_of(qor_str_lines(S("a\nb\n"))), (Pieces{"a", "b"}));
    EXPECT_EQ(pieces_of(qor_str_lines(S("a\r\nb"))), (Pieces{"a", "b"}));
    EXPECT_EQ(pieces_of(qor_str_lines(S("a\n\nb"))), (Pieces{"a", "", "b"}));
    EXPECT_EQ(pieces_of(qor_str_lines(S("a\r"))), Pieces{"a"});
    EXPECT_EQ(pieces_of(qor_str_lines(S("\n"))), Pieces{""});
    EXPECT_EQ(pieces_of(qor_str_lines(S("\r\r\n\r"))), (Pieces{"\r", ""}));
    EXPECT_EQ(pieces_of(qor_str_lines(S("\n\n"))), (Pieces{"", ""}));
}
