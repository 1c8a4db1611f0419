// Searching and transforming strings: occurrence positions, identity returns, exact bytes of
// new strings (NUL bytes included), splitting and joining.
#include <stdint.h>

#include <string>
#include <string_view>
#include <vector>

#include "test_support.h"

using namespace std::string_view_literals;

namespace {

QOR_ARENA_ON_FOR_WHOLE_RUN();

QorString* str(std::string_view text) {
    return qor_string_new(text.data(), static_cast<int64_t>(text.size()));
}

// A record whose data is NULL: reads as empty everywhere.
QorString g_null_data = {nullptr, 0, 0};

// An assembled result holds every byte written in its buffer, but its len (and cap) stop at
// the first NUL byte.
void expect_cut_at_nul(const QorString* r, std::string_view buffer) {
    ASSERT_NE(r, nullptr);
    size_t visible = buffer.find('\0');
    if (visible == std::string_view::npos) visible = buffer.size();
    EXPECT_EQ(r->len, static_cast<int64_t>(visible));
    EXPECT_EQ(r->cap, r->len);
    EXPECT_EQ(std::string_view(r->data, buffer.size()), buffer);
    EXPECT_EQ(r->data[buffer.size()], '\0');
}

std::vector<std::string> pieces_of(const QorVec* v) {
    std::vector<std::string> out;
    for (int64_t i = 0; i < v->len; i++)
        out.push_back(text_of(reinterpret_cast<QorString*>(v->items[i])));
    return out;
}

QorVec* vec_of_strings(std::vector<QorString*> parts) {
    QorVec* v = qor_vec_new();
    for (QorString* p : parts) qor_vec_push(v, reinterpret_cast<int64_t>(p));
    return v;
}

using Pieces = std::vector<std::string>;

}  // namespace

// Prefix and suffix tests: empty affixes match, longer ones and NULL never do.
TEST(StringAffix, EmptyMatchesLongerAndNullDoNot) {
    QorString* abc = str("abc");
    EXPECT_EQ(qor_string_starts_with(abc, str("")), 1);
    EXPECT_EQ(qor_string_starts_with(abc, str("ab")), 1);
    EXPECT_EQ(qor_string_starts_with(abc, str("b")), 0);
    EXPECT_EQ(qor_string_starts_with(str("ab"), abc), 0);
    EXPECT_EQ(qor_string_ends_with(str("bc"), abc), 0);
    EXPECT_EQ(qor_string_ends_with(abc, abc), 1);
    EXPECT_EQ(qor_string_ends_with(abc, str("c")), 1);
    EXPECT_EQ(qor_string_ends_with(abc, str("")), 1);
    EXPECT_EQ(qor_string_starts_with(nullptr, str("")), 0);
    EXPECT_EQ(qor_string_ends_with(abc, nullptr), 0);
    EXPECT_EQ(qor_string_starts_with(&g_null_data, &g_null_data), 1);
    EXPECT_EQ(qor_string_starts_with(str("a\0b"sv), str("a\0"sv)), 1);
    EXPECT_EQ(qor_string_starts_with(str("a\0b"sv), str("a\0c"sv)), 0);
}

// First and last occurrence, including the empty needle's positions and NULL operands.
TEST(StringFind, FirstAndLastOccurrence) {
    QorString* s = str("abcabc");
    EXPECT_EQ(qor_string_index_of(s, str("bc")), 1);
    EXPECT_EQ(qor_string_last_index_of(s, str("bc")), 4);
    EXPECT_EQ(qor_string_index_of(s, str("abc")), 0);
    EXPECT_EQ(qor_string_last_index_of(s, str("abc")), 3);
    EXPECT_EQ(qor_string_last_index_of(s, str("c")), 5);
    EXPECT_EQ(qor_string_last_index_of(s, str("a")), 3);
    EXPECT_EQ(qor_string_index_of(s, str("cb")), -1);
    EXPECT_EQ(qor_string_last_index_of(s, str("cb")), -1);
    EXPECT_EQ(qor_string_last_index_of(s, str("abca")), 0);
    EXPECT_EQ(qor_string_index_of(str("abc"), str("")), 0);
    EXPECT_EQ(qor_string_last_index_of(str("abc"), str("")), 3);
    EXPECT_EQ(qor_string_index_of(str("ab"), str("abc")), -1);
    EXPECT_EQ(qor_string_last_index_of(str("ab"), str("abc")), -1);
    EXPECT_EQ(qor_string_index_of(nullptr, str("")), -1);
    EXPECT_EQ(qor_string_last_index_of(s, nullptr), -1);
    EXPECT_EQ(qor_string_contains(str(""), str("")), 1);
    EXPECT_EQ(qor_string_contains(nullptr, str("")), 0);
    EXPECT_EQ(qor_string_contains(s, str("ca")), 1);
    EXPECT_EQ(qor_string_contains(s, str("cc")), 0);
    EXPECT_EQ(qor_string_index_of(&g_null_data, str("")), 0);
    EXPECT_EQ(qor_string_index_of(&g_null_data, str("a")), -1);
    // NUL bytes are ordinary bytes, on both sides of the search.
    QorString* bin = str("x\0y\0z"sv);
    EXPECT_EQ(qor_string_index_of(bin, str("\0"sv)), 1);
    EXPECT_EQ(qor_string_last_index_of(bin, str("\0"sv)), 3);
    EXPECT_EQ(qor_string_index_of(bin, str("\0z"sv)), 3);
}

// Counting is non-overlapping from the left; an empty needle counts nothing.
TEST(StringCount, NonOverlappingFromLeft) {
    EXPECT_EQ(qor_string_count(str("aaaa"), str("aa")), 2);
    EXPECT_EQ(qor_string_count(str("aaa"), str("aa")), 1);
    EXPECT_EQ(qor_string_count(str("abcabca"), str("a")), 3);
    EXPECT_EQ(qor_string_count(str("abc"), str("")), 0);
    EXPECT_EQ(qor_string_count(nullptr, str("a")), 0);
    EXPECT_EQ(qor_string_count(str("a"), str("ab")), 0);
}

// Long texts drive the block-wise search: matches straddling its steps, runs where every byte
// matches, long gaps between rare matches, and more matches than replace keeps in place. Every
// result must agree with comparing the needle at every start.
TEST(StringScan, LongTextsAgreeWithComparingEveryStart) {
    std::string random_ab;
    std::string rare = std::string(5000, 'x');
    for (uint32_t i = 0, state = 7; i < 3000; i++) {
        state = state * 1103515245 + 12345;
        random_ab.push_back((state >> 16) % 3 == 0 ? 'b' : 'a');
        if (i % 211 == 0) rare.replace(i + (state >> 20) % 100, 2, "ab");
    }
    const std::string texts[] = {std::string(2000, 'a'), random_ab, rare};
    for (const std::string& text : texts) {
        for (std::string_view needle : {"a"sv, "ab"sv, "aab"sv, "abaab"sv, "b"sv}) {
            std::vector<size_t> found;  // non-overlapping, from the left
            int64_t last = -1;          // any start
            for (size_t p = 0; p + needle.size() <= text.size(); p++) {
                if (text.compare(p, needle.size(), needle) != 0) continue;
                last = static_cast<int64_t>(p);
                if (found.empty() || p >= found.back() + needle.size()) found.push_back(p);
            }
            std::string replaced;
            size_t cur = 0;
            for (size_t p : found) {
                replaced += text.substr(cur, p - cur) + "<>";
                cur = p + needle.size();
            }
            replaced += text.substr(cur);
            SCOPED_TRACE(std::string(needle) + " in " + text.substr(0, 20));
            QorString* s = str(text);
            QorString* n = str(needle);
            EXPECT_EQ(qor_string_count(s, n), static_cast<int64_t>(found.size()));
            EXPECT_EQ(qor_string_index_of(s, n), found.empty() ? -1 : int64_t(found[0]));
            EXPECT_EQ(qor_string_last_index_of(s, n), last);
            EXPECT_TEXT(qor_string_replace(s, n, str("<>")), replaced);
        }
    }
}

// Replace rewrites leftmost non-overlapping matches and returns its input when nothing changes.
TEST(StringReplace, RewritesMatchesOrReturnsInput) {
    EXPECT_TEXT(qor_string_replace(str("aaaa"), str("aa"), str("b")), "bb");
    EXPECT_TEXT(qor_string_replace(str("aaa"), str("aa"), str("b")), "ba");
    EXPECT_TEXT(qor_string_replace(str("a.b.c"), str("."), str("")), "abc");
    EXPECT_TEXT(qor_string_replace(str("x"), str("x"), str("")), "");
    EXPECT_TEXT(qor_string_replace(str("-a-"), str("-"), str("<=>")), "<=>a<=>");
    expect_cut_at_nul(qor_string_replace(str("a\0b\0"sv), str("\0"sv), str("\0\0"sv)),
                      "a\0\0b\0\0"sv);

    QorString* s = str("abc");
    EXPECT_EQ(qor_string_replace(s, str("x"), str("y")), s);
    EXPECT_EQ(qor_string_replace(s, str(""), str("y")), s);
    EXPECT_EQ(qor_string_replace(s, str("abcd"), str("y")), s);
    EXPECT_EQ(qor_string_replace(s, nullptr, str("y")), s);
    EXPECT_EQ(qor_string_replace(s, str("a"), nullptr), s);
    EXPECT_EQ(qor_string_replace(nullptr, str("a"), str("b")), nullptr);
    EXPECT_TEXT(qor_string_replace(s, str("b"), &g_null_data), "ac");
}

// Trim removes exactly tab, LF, CR and space; trim always copies, the one-sided trims return
// their input when there is nothing to remove.
TEST(StringTrim, WhitespaceSetAndIdentity) {
    EXPECT_TEXT(qor_string_trim(str("  a b \t\n")), "a b");
    EXPECT_TEXT(qor_string_trim(str("\t \r\n")), "");
    EXPECT_TEXT(qor_string_trim(str("\va\f")), "\va\f");
    EXPECT_TEXT(qor_string_trim(str(" \0 "sv)), "\0"sv);
    QorString* plain = str("abc");
    QorString* copy = qor_string_trim(plain);
    EXPECT_NE(copy, plain);
    EXPECT_TEXT(copy, "abc");
    QorString* empty = str("");
    EXPECT_EQ(qor_string_trim(empty), empty);
    EXPECT_EQ(qor_string_trim(nullptr), nullptr);
    QorString negative = {plain->data, -1, -1};
    EXPECT_FRESH_EMPTY(qor_string_trim(&negative));

    QorString* right_space = str("abc ");
    EXPECT_EQ(qor_string_trim_left(right_space), right_space);
    QorString* left_space = str(" abc");
    EXPECT_EQ(qor_string_trim_right(left_space), left_space);
    EXPECT_TEXT(qor_string_trim_left(str(" \t\r\nabc ")), "abc ");
    EXPECT_TEXT(qor_string_trim_right(str(" abc \t\r\n")), " abc");
    EXPECT_TEXT(qor_string_trim_left(str("   ")), "");
    EXPECT_TEXT(qor_string_trim_right(str("   ")), "");
    EXPECT_EQ(qor_string_trim_left(empty), empty);
    EXPECT_EQ(qor_string_trim_right(&negative), &negative);
    EXPECT_EQ(qor_string_trim_left(nullptr), nullptr);
    EXPECT_EQ(qor_string_trim_right(nullptr), nullptr);
}

// Case changes touch only ASCII letters, reverse works on bytes; empty input comes back as is.
TEST(StringCaseAndReverse, BytewiseAndIdentityOnEmpty) {
    EXPECT_TEXT(qor_string_to_upper(str("h\xc3\xa9llo [az]@`{")), "H\xc3\xa9LLO [AZ]@`{");
    EXPECT_TEXT(qor_string_to_lower(str("H\xc3\x89LLO [AZ]@`{")), "h\xc3\x89llo [az]@`{");
    expect_cut_at_nul(qor_string_to_upper(str("a\0b"sv)), "A\0B"sv);
    EXPECT_TEXT(qor_string_reverse(str("abc")), "cba");
    EXPECT_TEXT(qor_string_reverse(str("\xc3\xa9")), "\xa9\xc3");
    expect_cut_at_nul(qor_string_reverse(str("ab\0"sv)), "\0ba"sv);
    QorString* empty = str("");
    EXPECT_EQ(qor_string_to_upper(empty), empty);
    EXPECT_EQ(qor_string_to_lower(empty), empty);
    EXPECT_EQ(qor_string_reverse(empty), empty);
    EXPECT_EQ(qor_string_to_upper(nullptr), nullptr);
    EXPECT_EQ(qor_string_to_lower(nullptr), nullptr);
    EXPECT_EQ(qor_string_reverse(nullptr), nullptr);
    QorString* upper = str("ABC");
    EXPECT_NE(qor_string_to_upper(upper), upper);
}

// Repeat gives k copies; no copies, a NULL string or a byte count past INT64_MAX give the
// fresh empty string.
TEST(StringRepeat, CopiesOrFreshEmpty) {
    EXPECT_TEXT(qor_string_repeat(str("ab"), 3), "ababab");
    EXPECT_TEXT(qor_string_repeat(str("x"), 1), "x");
    expect_cut_at_nul(qor_string_repeat(str("a\0"sv), 2), "a\0a\0"sv);
    std::string many;
    for (int i = 0; i < 1001; i++) many += "abc";
    EXPECT_TEXT(qor_string_repeat(str("abc"), 1001), many);
    EXPECT_FRESH_EMPTY(qor_string_repeat(str("ab"), 0));
    EXPECT_FRESH_EMPTY(qor_string_repeat(str("ab"), -2));
    EXPECT_FRESH_EMPTY(qor_string_repeat(str(""), 5));
    EXPECT_FRESH_EMPTY(qor_string_repeat(nullptr, 5));
    EXPECT_FRESH_EMPTY(qor_string_repeat(str("ab"), INT64_MAX / 2 + 1));
    EXPECT_FRESH_EMPTY(qor_string_repeat(str("abc"), INT64_MAX));
}

// Both pad families place width - len fill bytes on their side; s itself when long enough.
TEST(StringPad, FillSideFillByteAndIdentity) {
    EXPECT_TEXT(qor_string_pad_left(str("7"), 3, '0'), "007");
    EXPECT_TEXT(qor_string_pad_right(str("ab"), 4, '.'), "ab..");
    EXPECT_TEXT(qor_string_pad_left(str("7"), 3, 0x100 + '*'), "**7");
    expect_cut_at_nul(qor_string_pad_right(str("7"), 3, 0), "7\0\0"sv);
    EXPECT_TEXT(qor_string_pad_left(str(""), 2, '-'), "--");
    QorString* s = str("abcd");
    EXPECT_EQ(qor_string_pad_left(s, 2, ' '), s);
    EXPECT_EQ(qor_string_pad_right(s, 4, ' '), s);
    EXPECT_EQ(qor_string_pad_left(s, 0, ' '), s);
    EXPECT_EQ(qor_string_pad_right(s, -9, ' '), s);
    EXPECT_EQ(qor_string_pad_left(nullptr, 5, ' '), nullptr);

    EXPECT_TEXT(qor_str_pad_left(str("7"), 3, nullptr), "  7");
    EXPECT_TEXT(qor_str_pad_left(str("7"), 3, str("0x")), "007");
    EXPECT_TEXT(qor_str_pad_left(str("7"), 3, str("")), "  7");
    EXPECT_TEXT(qor_str_pad_right(str("7"), 3, str("ab")), "7aa");
    EXPECT_TEXT(qor_str_pad_right(str("7"), 2, &g_null_data), "7 ");
    EXPECT_EQ(qor_str_pad_right(s, 3, str("x")), s);
    EXPECT_EQ(qor_str_pad_left(nullptr, 3, str("x")), nullptr);
}

// Split keeps empty pieces (one more piece than separators) and hands back s itself for an
// empty separator.
TEST(StringSplit, PiecesBetweenSeparators) {
    QorVec* v = qor_string_split(str("a,b,,c"), str(","));
    EXPECT_EQ(pieces_of(v), (Pieces{"a", "b", "", "c"}));
    qor_vec_free(v);
    v = qor_string_split(str(",a,"), str(","));
    EXPECT_EQ(pieces_of(v), (Pieces{"", "a", ""}));
    qor_vec_free(v);
    v = qor_string_split(str(""), str(","));
    EXPECT_EQ(pieces_of(v), (Pieces{""}));
    qor_vec_free(v);
    v = qor_string_split(str("a--b---c"), str("--"));
    EXPECT_EQ(pieces_of(v), (Pieces{"a", "b", "-c"}));
    qor_vec_free(v);
    v = qor_string_split(str("a\0b\0"sv), str("\0"sv));
    EXPECT_EQ(pieces_of(v), (Pieces{"a", "b", ""}));
    qor_vec_free(v);

    QorString* s = str("abc");
    for (const QorString* sep : {str(""), static_cast<QorString*>(nullptr), &g_null_data}) {
        v = qor_string_split(s, sep);
        ASSERT_EQ(v->len, 1);
        EXPECT_EQ(reinterpret_cast<QorString*>(v->items[0]), s);
        qor_vec_free(v);
    }
    for (QorString* missing : {static_cast<QorString*>(nullptr), &g_null_data}) {
        v = qor_string_split(missing, str(","));
        EXPECT_EQ(v->len, 0);
        EXPECT_EQ(v->capacity, 8);
        qor_vec_free(v);
    }

    v = qor_string_split(str("1,2,3,4,5,6,7,8"), str(","));
    EXPECT_EQ(v->capacity, 8);
    EXPECT_TEXT(reinterpret_cast<QorString*>(v->items[7]), "8");
    qor_vec_free(v);
    v = qor_string_split(str("1,2,3,4,5,6,7,8,9"), str(","));
    EXPECT_EQ(v->len, 9);
    EXPECT_EQ(v->capacity, 16);
    EXPECT_TEXT(reinterpret_cast<QorString*>(v->items[8]), "9");
    qor_vec_free(v);
}

// Join puts sep between neighbours; missing elements add nothing but keep their separators.
TEST(StringJoin, SeparatorsBetweenNeighbours) {
    QorVec* v = vec_of_strings({str("a"), str("b"), str("c")});
    EXPECT_TEXT(qor_string_join(v, str(", ")), "a, b, c");
    EXPECT_TEXT(qor_string_join(v, nullptr), "abc");
    expect_cut_at_nul(qor_string_join(v, str("\0"sv)), "a\0b\0c"sv);
    qor_vec_free(v);
    v = vec_of_strings({str("a"), nullptr, str("b")});
    EXPECT_TEXT(qor_string_join(v, str(",")), "a,,b");
    qor_vec_free(v);
    v = vec_of_strings({nullptr, str("x"), &g_null_data});
    EXPECT_TEXT(qor_string_join(v, str("+")), "+x+");
    qor_vec_free(v);
    v = vec_of_strings({str("only")});
    EXPECT_TEXT(qor_string_join(v, str(",")), "only");
    qor_vec_free(v);

    QorVec* empty = qor_vec_new();
    EXPECT_FRESH_EMPTY(qor_string_join(empty, str(",")));
    qor_vec_free(empty);
    EXPECT_FRESH_EMPTY(qor_string_join(nullptr, str(",")));
}

// Splitting and joining by the same separator gives the original bytes back; a joined text
// holding a NUL byte keeps them all in its buffer but its len stops at the NUL.
TEST(StringSplitJoin, RoundTrip) {
    for (std::string_view text : {"a,b,,c"sv, ""sv, ",,"sv, "no separators"sv, "x,\0,y"sv}) {
        QorVec* v = qor_string_split(str(text), str(","));
        expect_cut_at_nul(qor_string_join(v, str(",")), text);
        qor_vec_free(v);
    }
    // Long pieces are searched for a NUL while they are copied, short ones afterwards: the
    // first NUL wins wherever it lies, in a long piece's blocks or tail, before or after one.
    std::string long_piece(300, 'x');
    auto with_nul = [](std::string piece, size_t at) { return piece.replace(at, 1, 1, '\0'); };
    for (const std::string& text :
         {long_piece + "," + long_piece, with_nul(long_piece, 130) + ",ab",
          with_nul(long_piece, 299) + "," + with_nul(long_piece, 5),
          std::string("a\0b,"sv) + long_piece,
          long_piece + std::string(",a\0,"sv) + with_nul(long_piece, 0),
          "ab," + with_nul(long_piece, 200)}) {
        QorVec* v = qor_string_split(str(text), str(","));
        expect_cut_at_nul(qor_string_join(v, str(",")), text);
        qor_vec_free(v);
    }
}
