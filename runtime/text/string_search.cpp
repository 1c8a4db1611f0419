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
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string_view>

#include "core/internal.h"
#include "text/byte_scan.h"

using qor::is_missing;
namespace text = qor::text;

namespace {

// The readable bytes of a record: none for NULL, NULL data or a negative len.
std::string_view bytes_of(const QorString* s) {
    if (s == nullptr || s->data == nullptr || s->len <= 0) return {};
    return {s->data, static_cast<size_t>(s->len)};
}

bool is_space(char c) { return c == '\t' || c == '\n' || c == '\r' || c == ' '; }

// Calls on_match(p) for every non-overlapping occurrence of a non-empty needle, from the left.
template <typename OnMatch>
void each_match(std::string_view hay, std::string_view needle, OnMatch on_match) {
    text::scan_matches(hay.data(), hay.size(), needle.data(), needle.size(), 0,
                       [&on_match](size_t p) {
                           on_match(p);
                           return true;
                       });
}

// The match positions a counting pass finds, kept so that the copying pass need not search
// again: the first kLocal in place, then in a heap array that doubles. Keeping stops (complete
// turns false) when the text is too long for 32-bit positions or the array cannot grow; the
// copying pass then searches on from the last kept match. Plain malloc, not qor_alloc: the
// array is scratch, released before the operation returns.
struct MatchList {
    static constexpr size_t kLocal = 512;
    uint32_t local[kLocal];
    uint32_t* heap;
    size_t kept;
    size_t cap;
    bool complete;

    explicit MatchList(size_t text_size)
        : heap(nullptr), kept(0), cap(kLocal), complete(text_size <= UINT32_MAX) {}
    const uint32_t* items() const { return heap != nullptr ? heap : local; }
    void add(size_t p) {
        if (!complete) return;
        if (kept == cap && !grow()) return;
        (heap != nullptr ? heap : local)[kept++] = static_cast<uint32_t>(p);
    }
    bool grow() {
        auto* bigger = static_cast<uint32_t*>(realloc(heap, 2 * cap * sizeof(uint32_t)));
        if (bigger == nullptr) {
            complete = false;
            return false;
        }
        if (heap == nullptr) memcpy(bigger, local, kept * sizeof(uint32_t));
        heap = bigger;
        cap *= 2;
        return true;
    }
    void release() { free(heap); }
};

// Finishes an assembled result: its len (and cap) stop at the first NUL byte written.
QorString* assembled(QorString* r) {
    auto n = static_cast<int64_t>(strnlen(r->data, static_cast<size_t>(r->len)));
    r->len = n;
    r->cap = n;
    return r;
}

// Text assembled from parts whose length stops at its first NUL, found while the parts are
// copied: a long part is scanned as it is copied (after the short parts before it), so every
// byte is read once.
class JoinedText {
  public:
    explicit JoinedText(char* start) : start_(start), out_(start), unscanned_(start) {}

    void put(std::string_view part) {
        bool fused = part.size() >= kFusedCopy && nul_ == nullptr;
        if (fused) scan_to(out_);
        if (fused && nul_ == nullptr) {
            size_t at = text::copy_until_nul(out_, part.data(), part.size());
            if (at < part.size()) nul_ = out_ + at;
            unscanned_ = out_ + part.size();
        } else {
            text::copy_bytes(out_, part.data(), part.size());
        }
        out_ += part.size();
    }

    // Sets r's len and cap to the bytes before the first NUL.
    QorString* finish(QorString* r) {
        scan_to(out_);
        int64_t n = (nul_ == nullptr ? out_ : nul_) - start_;
        r->len = n;
        r->cap = n;
        return r;
    }

  private:
    static constexpr size_t kFusedCopy = 256;

    void scan_to(const char* end) {
        if (nul_ != nullptr || end == unscanned_) return;
        auto* p =
            static_cast<const char*>(memchr(unscanned_, 0, static_cast<size_t>(end - unscanned_)));
        if (p != nullptr) nul_ = p;
        unscanned_ = end;
    }

    char* start_;
    char* out_;
    const char* unscanned_;
    const char* nul_ = nullptr;
};

// Appends the bytes of part at out and returns the position after them.
char* put(char* out, std::string_view part) {
    text::copy_bytes(out, part.data(), part.size());
    return out + part.size();
}

// Appends text[cur, p) and then with at out; returns the position after them.
inline char* splice(char* out, std::string_view text, size_t cur, size_t p, std::string_view with) {
    text::copy_bytes(out, text.data() + cur, p - cur);
    out += p - cur;
    text::copy_bytes(out, with.data(), with.size());
    return out + with.size();
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
    std::string_view hay = bytes_of(s);
    return text::find_first(hay.data(), hay.size(), n.data(), n.size(), 0);
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
    return text::find_last(hay.data(), hay.size(), n.data(), n.size());
}

// 'aaaa' holds two 'aa' and 'aaa' one: each match resumes the scan after itself.
extern "C" QOR_API int64_t qor_string_count(const QorString* s, const QorString* needle) {
    if (s == nullptr || needle == nullptr) return 0;
    std::string_view n = bytes_of(needle);
    if (n.empty()) return 0;
    int64_t count = 0;
    each_match(bytes_of(s), n, [&count](size_t) { count++; });
    return count;
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

// Sizes the result with a counting pass, then copies once from the positions that pass kept.
// s itself whenever nothing would change; the fresh empty string when the result's size does
// not fit in 64 bits.
extern "C" QOR_API QorString* qor_string_replace(QorString* s, const QorString* from,
                                                 const QorString* to) {
    if (s == nullptr || from == nullptr || to == nullptr) return s;
    std::string_view text = bytes_of(s);
    std::string_view old_part = bytes_of(from);
    std::string_view new_part = bytes_of(to);
    if (old_part.empty() || text.size() < old_part.size()) return s;
    MatchList matches(text.size());
    int64_t n = 0;
    each_match(text, old_part, [&](size_t p) {
        matches.add(p);
        n++;
    });
    if (n == 0) return s;

    int64_t total = static_cast<int64_t>(text.size());
    int64_t growth = 0;
    int64_t delta = static_cast<int64_t>(new_part.size()) - static_cast<int64_t>(old_part.size());
    if (!qor::times_length(&growth, delta, n) || !qor::add_length(&total, growth)) {
        matches.release();
        return qor::fresh_empty_string();
    }
    QorString* r = qor::make_string_uninit(total);
    char* out = r->data;
    size_t cur = 0;
    const uint32_t* kept = matches.items();
    for (size_t i = 0; i < matches.kept; i++) {
        out = splice(out, text, cur, kept[i], new_part);
        cur = kept[i] + old_part.size();
    }
    matches.release();
    if (!matches.complete) {
        text::scan_matches(text.data(), text.size(), old_part.data(), old_part.size(), cur,
                           [&](size_t p) {
                               out = splice(out, text, cur, p, new_part);
                               cur = p + old_part.size();
                               return true;
                           });
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
    if (!qor::times_length(&total, static_cast<int64_t>(text.size()), k)) {
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
    each_match(text, separator, [&](size_t p) {
        QorString* piece = qor::make_string(text.data() + cur, static_cast<int64_t>(p - cur));
        qor_vec_push(pieces, reinterpret_cast<int64_t>(piece));
        cur = p + separator.size();
    });
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
    if (!qor::times_length(&total, static_cast<int64_t>(separator.size()), v->len - 1)) {
        return qor::fresh_empty_string();
    }
    for (int64_t i = 0; i < v->len; i++) {
        if (!qor::add_length(&total, static_cast<int64_t>(element(i).size()))) {
            return qor::fresh_empty_string();
        }
    }
    QorString* r = qor::make_string_uninit(total);
    JoinedText joined{r->data};
    joined.put(element(0));
    for (int64_t i = 1; i < v->len; i++) {
        joined.put(separator);
        joined.put(element(i));
    }
    return joined.finish(r);
}
