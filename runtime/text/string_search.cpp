// Searching inside strings and deriving new strings from them: prefix and suffix tests,
// first, last and counted occurrences, trimming, replacing, case changes, repeating,
// reversing, padding, splitting into a vector and joining a vector back into one string.
// Matching is byte-exact; whitespace is exactly tab, line feed, carriage return and space, and
// case changes touch only ASCII letters.
// Invariants: a transformation that changes nothing returns its input record itself where its
// contract says so (compiled code relies on that identity). Pieces cut out of the input (trim,
// split) keep their exact byte count; results assembled byte by byte (replace, case changes,
// repeat, reverse, pad, join) take len == cap == the bytes before the first NUL of the
// assembled buffer, which still holds every byte written.
// A record with NULL data reads as empty, so no operation dereferences it.
#ifndef _GNU_SOURCE
#define _GNU_SOURCE 1  // memmem, memrchr
#endif
#include <string.h>

#include <algorithm>
#include <string_view>

#include "core/internal.h"

using qor::is_missing;

namespace {

// The readable bytes of a record: none for NULL, NULL data or a negative len.
std::string_view bytes_of(const QorString* s) {
    if (s == nullptr || s->data == nullptr || s->len <= 0) return {};
    return {s->data, static_cast<size_t>(s->len)};
}

bool is_space(char c) { return c == '\t' || c == '\n' || c == '\r' || c == ' '; }

// Index of the first occurrence of a non-empty needle in hay at or after from, or -1.
int64_t find_from(std::string_view hay, std::string_view needle, size_t from) {
    if (from > hay.size() || needle.size() > hay.size() - from) return -1;
    const void* at = memmem(hay.data() + from, hay.size() - from, needle.data(), needle.size());
    return at == nullptr ? -1 : static_cast<const char*>(at) - hay.data();
}

// Index of the last occurrence of a non-empty needle in hay, or -1: candidates are found
// from the right by their first byte, then compared whole.
int64_t find_last(std::string_view hay, std::string_view needle) {
    if (needle.size() > hay.size()) return -1;
    size_t span = hay.size() - needle.size() + 1;  // candidate starts are [0, span)
    while (span > 0) {
        const void* at = memrchr(hay.data(), needle[0], span);
        if (at == nullptr) return -1;
        size_t p = static_cast<size_t>(static_cast<const char*>(at) - hay.data());
        if (memcmp(hay.data() + p, needle.data(), needle.size()) == 0)
            return static_cast<int64_t>(p);
        span = p;
    }
    return -1;
}

// Non-overlapping occurrences of a non-empty needle, scanning from the left.
int64_t count_occurrences(std::string_view hay, std::string_view needle) {
    int64_t n = 0;
    for (int64_t p = find_from(hay, needle, 0); p >= 0;
         p = find_from(hay, needle, static_cast<size_t>(p) + needle.size())) {
        n++;
    }
    return n;
}

// Finishes an assembled result: its len (and cap) stop at the first NUL byte written.
QorString* assembled(QorString* r) {
    auto n = static_cast<int64_t>(strnlen(r->data, static_cast<size_t>(r->len)));
    r->len = n;
    r->cap = n;
    return r;
}

// Appends the bytes of part at out and returns the position after them.
char* put(char* out, std::string_view part) {
    if (!part.empty()) memcpy(out, part.data(), part.size());
    return out + part.size();
}

// A new string of the bytes of s with every byte passed through map.
template <typename Map>
QorString* mapped_copy(std::string_view s, Map map) {
    QorString* r = qor::make_string_uninit(static_cast<int64_t>(s.size()));
    for (size_t i = 0; i < s.size(); i++) r->data[i] = map(s[i]);
    return assembled(r);
}

// Pads s to width bytes with fill on the left or the right; s itself when it is already at
// least width long.
QorString* pad(QorString* s, int64_t width, char fill, bool left) {
    if (s == nullptr) return nullptr;
    if (s->len >= width) return s;
    std::string_view text = bytes_of(s);
    int64_t fill_count = width - static_cast<int64_t>(text.size());
    QorString* r = qor::make_string_uninit(width);
    char* out = r->data;
    if (!left) out = put(out, text);
    memset(out, static_cast<unsigned char>(fill), static_cast<size_t>(fill_count));
    if (left) put(out + fill_count, text);
    return assembled(r);
}

// The fill byte of the string-taking pad family: the first byte of fill, or a space.
char fill_byte(const QorString* fill) {
    std::string_view f = bytes_of(fill);
    return f.empty() ? ' ' : f[0];
}

}  // namespace

// ---- Search ------------------------------------------------------------------------------

extern "C" QOR_API int64_t qor_string_starts_with(const QorString* s, const QorString* prefix) {
    if (s == nullptr || prefix == nullptr) return 0;
    return bytes_of(s).starts_with(bytes_of(prefix));
}

extern "C" QOR_API int64_t qor_string_ends_with(const QorString* s, const QorString* suffix) {
    if (s == nullptr || suffix == nullptr) return 0;
    return bytes_of(s).ends_with(bytes_of(suffix));
}

// 0 for an empty needle, which occurs at the start of every string.
extern "C" QOR_API int64_t qor_string_index_of(const QorString* s, const QorString* needle) {
    if (s == nullptr || needle == nullptr) return -1;
    std::string_view n = bytes_of(needle);
    if (n.empty()) return 0;
    return find_from(bytes_of(s), n, 0);
}

extern "C" QOR_API int64_t qor_string_contains(const QorString* s, const QorString* needle) {
    if (s == nullptr || needle == nullptr) return 0;
    return qor_string_index_of(s, needle) >= 0;
}

// len(s) for an empty needle, which occurs at the end of every string.
extern "C" QOR_API int64_t qor_string_last_index_of(const QorString* s, const QorString* needle) {
    if (s == nullptr || needle == nullptr) return -1;
    std::string_view hay = bytes_of(s);
    std::string_view n = bytes_of(needle);
    if (n.empty()) return static_cast<int64_t>(hay.size());
    return find_last(hay, n);
}

// 'aaaa' holds two 'aa' and 'aaa' one: each match resumes the scan after itself.
extern "C" QOR_API int64_t qor_string_count(const QorString* s, const QorString* needle) {
    if (s == nullptr || needle == nullptr) return 0;
    std::string_view n = bytes_of(needle);
    if (n.empty()) return 0;
    return count_occurrences(bytes_of(s), n);
}

// ---- Trimming ----------------------------------------------------------------------------

// Always a new record (even when nothing is trimmed) except that an empty s comes back as
// itself; a negative len gives the fresh empty string.
extern "C" QOR_API QorString* qor_string_trim(QorString* s) {
    if (s == nullptr) return nullptr;
    if (s->len < 0) return qor::fresh_empty_string();
    if (s->len == 0 || s->data == nullptr) return s;
    std::string_view text = bytes_of(s);
    size_t start = 0;
    while (start < text.size() && is_space(text[start])) start++;
    size_t end = text.size();
    while (end > start && is_space(text[end - 1])) end--;
    return qor::make_string(text.data() + start, static_cast<int64_t>(end - start));
}

extern "C" QOR_API QorString* qor_string_trim_left(QorString* s) {
    std::string_view text = bytes_of(s);
    if (text.empty() || !is_space(text.front())) return s;
    size_t start = 0;
    while (start < text.size() && is_space(text[start])) start++;
    return qor::make_string(text.data() + start, static_cast<int64_t>(text.size() - start));
}

extern "C" QOR_API QorString* qor_string_trim_right(QorString* s) {
    std::string_view text = bytes_of(s);
    if (text.empty() || !is_space(text.back())) return s;
    size_t end = text.size();
    while (end > 0 && is_space(text[end - 1])) end--;
    return qor::make_string(text.data(), static_cast<int64_t>(end));
}

// ---- Replacing, case, repetition, reversal -------------------------------------------------

// Sizes the result with a counting pass, then copies once. s itself whenever nothing would
// change; the fresh empty string when the result's size does not fit in 64 bits.
extern "C" QOR_API QorString* qor_string_replace(QorString* s, const QorString* from,
                                                 const QorString* to) {
    if (s == nullptr || from == nullptr || to == nullptr) return s;
    std::string_view text = bytes_of(s);
    std::string_view old_part = bytes_of(from);
    std::string_view new_part = bytes_of(to);
    if (old_part.empty() || text.size() < old_part.size()) return s;
    int64_t n = count_occurrences(text, old_part);
    if (n == 0) return s;

    int64_t growth = 0;
    int64_t total = 0;
    int64_t delta = static_cast<int64_t>(new_part.size()) - static_cast<int64_t>(old_part.size());
    if (__builtin_mul_overflow(delta, n, &growth) ||
        __builtin_add_overflow(static_cast<int64_t>(text.size()), growth, &total)) {
        return qor::fresh_empty_string();
    }
    QorString* r = qor::make_string_uninit(total);
    char* out = r->data;
    size_t cur = 0;
    for (int64_t p = find_from(text, old_part, 0); p >= 0; p = find_from(text, old_part, cur)) {
        out = put(out, text.substr(cur, static_cast<size_t>(p) - cur));
        out = put(out, new_part);
        cur = static_cast<size_t>(p) + old_part.size();
    }
    put(out, text.substr(cur));
    return assembled(r);
}

extern "C" QOR_API QorString* qor_string_to_upper(QorString* s) {
    std::string_view text = bytes_of(s);
    if (text.empty()) return s;
    return mapped_copy(
        text, [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; });
}

extern "C" QOR_API QorString* qor_string_to_lower(QorString* s) {
    std::string_view text = bytes_of(s);
    if (text.empty()) return s;
    return mapped_copy(
        text, [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
}

// k copies back to back, filled by doubling the copied prefix. A byte count beyond INT64_MAX
// gives the fresh empty string rather than a buffer too small for the copies.
extern "C" QOR_API QorString* qor_string_repeat(const QorString* s, int64_t k) {
    if (s == nullptr || k <= 0) return qor::fresh_empty_string();
    std::string_view text = bytes_of(s);
    int64_t total = 0;
    if (__builtin_mul_overflow(static_cast<int64_t>(text.size()), k, &total)) {
        return qor::fresh_empty_string();
    }
    QorString* r = qor::make_string_uninit(total);
    if (total == 0) return r;
    put(r->data, text);
    size_t done = text.size();
    auto want = static_cast<size_t>(total);
    while (done < want) {
        size_t chunk = std::min(done, want - done);
        memcpy(r->data + done, r->data, chunk);
        done += chunk;
    }
    return assembled(r);
}

extern "C" QOR_API QorString* qor_string_reverse(QorString* s) {
    std::string_view text = bytes_of(s);
    if (text.empty()) return s;
    QorString* r = qor::make_string_uninit(static_cast<int64_t>(text.size()));
    std::reverse_copy(text.begin(), text.end(), r->data);
    return assembled(r);
}

// ---- Padding -------------------------------------------------------------------------------
// Two families that differ only in how the fill byte is given: the qor_string_ pair takes a
// character code and uses its low 8 bits; the qor_str_ pair takes a string and uses its first
// byte, or a space when that string is NULL or empty.

extern "C" QOR_API QorString* qor_string_pad_left(QorString* s, int64_t width, int64_t fill) {
    return pad(s, width, static_cast<char>(fill & 0xff), true);
}

extern "C" QOR_API QorString* qor_string_pad_right(QorString* s, int64_t width, int64_t fill) {
    return pad(s, width, static_cast<char>(fill & 0xff), false);
}

extern "C" QOR_API QorString* qor_str_pad_left(QorString* s, int64_t width, const QorString* fill) {
    return pad(s, width, fill_byte(fill), true);
}

extern "C" QOR_API QorString* qor_str_pad_right(QorString* s, int64_t width,
                                                const QorString* fill) {
    return pad(s, width, fill_byte(fill), false);
}

// ---- Splitting and joining -----------------------------------------------------------------

// The pieces of s between occurrences of sep, as new strings in a new heap vector (made and
// grown exactly as qor_vec_new and qor_vec_push do). There is always one piece more than
// separators found, so 'a,' gives 'a' and ''. An empty or missing sep gives one slot holding
// s itself, not a copy; a missing s or a negative len gives an empty vector.
extern "C" QOR_API QorVec* qor_string_split(QorString* s, const QorString* sep) {
    QorVec* pieces = qor_vec_new();
    if (is_missing(s)) return pieces;
    std::string_view separator = bytes_of(sep);
    if (separator.empty()) return qor_vec_push(pieces, reinterpret_cast<int64_t>(s));
    if (s->len < 0) return pieces;
    std::string_view text = bytes_of(s);
    size_t cur = 0;
    for (int64_t p = find_from(text, separator, 0); p >= 0; p = find_from(text, separator, cur)) {
        QorString* piece = qor::make_string(text.data() + cur, p - static_cast<int64_t>(cur));
        qor_vec_push(pieces, reinterpret_cast<int64_t>(piece));
        cur = static_cast<size_t>(p) + separator.size();
    }
    QorString* last = qor::make_string(text.data() + cur, static_cast<int64_t>(text.size() - cur));
    return qor_vec_push(pieces, reinterpret_cast<int64_t>(last));
}

// The vector's slots are read as string pointers; a missing element adds no bytes but keeps
// the separators around it ('a', NULL, 'b' joined by ',' is 'a,,b'). A NULL vector, an empty
// one, or a total size beyond 64 bits gives the fresh empty string.
extern "C" QOR_API QorString* qor_string_join(const QorVec* v, const QorString* sep) {
    if (v == nullptr || v->len <= 0) return qor::fresh_empty_string();
    auto element = [v](int64_t i) {
        // Slots of a string vector hold record pointers.
        return bytes_of(
            reinterpret_cast<const QorString*>(v->items[i]));  // NOLINT(performance-no-int-to-ptr)
    };
    std::string_view separator = bytes_of(sep);
    int64_t total = 0;
    if (__builtin_mul_overflow(static_cast<int64_t>(separator.size()), v->len - 1, &total)) {
        return qor::fresh_empty_string();
    }
    for (int64_t i = 0; i < v->len; i++) {
        if (__builtin_add_overflow(total, static_cast<int64_t>(element(i).size()), &total)) {
            return qor::fresh_empty_string();
        }
    }
    QorString* r = qor::make_string_uninit(total);
    char* out = put(r->data, element(0));
    for (int64_t i = 1; i < v->len; i++) {
        out = put(out, separator);
        out = put(out, element(i));
    }
    return assembled(r);
}
