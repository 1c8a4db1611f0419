// Searching, counting, replacing, splitting and joining against a naive model that compares
// the needle at every start: index_of, last_index_of, count and replace on records; the
// vector splitter and joiner; the string-vector splitters (by separator, into words, into
// lines) and their join. Results must match the model byte for byte, and transformations that
// change nothing must return their input record itself.
#include <vector>

#include "fuzz_support.h"

namespace {

using Pieces = std::vector<std::string>;

// Non-overlapping starts of needle (non-empty) in text, from the left.
std::vector<size_t> matches(std::string_view text, std::string_view needle) {
    std::vector<size_t> out;
    for (size_t p = 0; p + needle.size() <= text.size();) {
        if (text.substr(p, needle.size()) == needle) {
            out.push_back(p);
            p += needle.size();
        } else {
            p++;
        }
    }
    return out;
}

int64_t last_match(std::string_view text, std::string_view needle) {
    for (size_t p = text.size() - needle.size() + 1; needle.size() <= text.size() && p-- > 0;) {
        if (text.substr(p, needle.size()) == needle) return static_cast<int64_t>(p);
    }
    return -1;
}

// The pieces between non-overlapping matches: one more than the matches.
Pieces cut(std::string_view text, std::string_view sep) {
    Pieces out;
    size_t cur = 0;
    for (size_t p : matches(text, sep)) {
        out.emplace_back(text.substr(cur, p - cur));
        cur = p + sep.size();
    }
    out.emplace_back(text.substr(cur));
    return out;
}

std::string joined(const Pieces& pieces, std::string_view sep) {
    std::string out;
    for (size_t i = 0; i < pieces.size(); i++) out += (i > 0 ? std::string(sep) : "") + pieces[i];
    return out;
}

bool is_space(char c) { return c == '\t' || c == '\n' || c == '\r' || c == ' '; }

void check_pieces(int64_t handle, const Pieces& want, const char* what) {
    fuzz::check(qor_svec_len(handle) == static_cast<int64_t>(want.size()), what);
    for (size_t i = 0; i < want.size(); i++)
        fuzz::check_text(qor_svec_get(handle, static_cast<int64_t>(i)), want[i], what);
}

void check_search(QorString* s, QorString* n, std::string_view text, std::string_view needle) {
    std::vector<size_t> found = matches(text, needle);
    int64_t first = -1;
    for (size_t p = 0; first < 0 && p + needle.size() <= text.size(); p++) {
        if (text.substr(p, needle.size()) == needle) first = static_cast<int64_t>(p);
    }
    fuzz::check(qor_string_index_of(s, n) == first, "index_of");
    fuzz::check(qor_string_contains(s, n) == (first >= 0), "contains");
    fuzz::check(qor_string_last_index_of(s, n) == last_match(text, needle), "last_index_of");
    fuzz::check(qor_string_count(s, n) == static_cast<int64_t>(found.size()), "count");
}

// Replace: the input itself when nothing matches; otherwise every byte of the model in the
// buffer, with len cut at the first NUL.
void check_replace(QorString* s, QorString* from, QorString* to, std::string_view text,
                   std::string_view old_part, std::string_view new_part) {
    QorString* r = qor_string_replace(s, from, to);
    std::vector<size_t> found;
    if (!old_part.empty()) found = matches(text, old_part);
    if (found.empty()) {
        fuzz::check(r == s, "replace identity");
        return;
    }
    std::string want;
    size_t cur = 0;
    for (size_t p : found) {
        want += std::string(text.substr(cur, p - cur)) + std::string(new_part);
        cur = p + old_part.size();
    }
    want += text.substr(cur);
    size_t visible = strnlen(want.data(), want.size());
    fuzz::check(r != s && r->len == static_cast<int64_t>(visible) && r->cap == r->len, "replace");
    fuzz::check(memcmp(r->data, want.data(), want.size()) == 0 && r->data[want.size()] == '\0',
                "replace bytes");
}

// The vector splitter keeps every piece; join gives the text back (len cut at a NUL).
void check_vector_split(QorString* s, QorString* sep, std::string_view text,
                        std::string_view separator) {
    QorVec* v = qor_string_split(s, sep);
    if (separator.empty()) {
        fuzz::check(v->len == 1 && v->items[0] == reinterpret_cast<int64_t>(s), "split whole");
    } else {
        Pieces want = cut(text, separator);
        fuzz::check(v->len == static_cast<int64_t>(want.size()), "split count");
        for (size_t i = 0; i < want.size(); i++)
            fuzz::check_text(reinterpret_cast<QorString*>(v->items[i]), want[i], "split piece");
    }
    QorString* back = qor_string_join(v, sep);
    fuzz::check(back->len == static_cast<int64_t>(strnlen(text.data(), text.size())) &&
                    memcmp(back->data, text.data(), text.size()) == 0,
                "join");
    qor_vec_free(v);
}

// The string-vector splitters: no trailing empty piece, single bytes for an empty separator.
void check_string_vectors(QorString* s, QorString* sep, std::string_view text,
                          std::string_view separator) {
    Pieces by_sep;
    if (separator.empty()) {
        for (char c : text) by_sep.emplace_back(1, c);
    } else if (!text.empty()) {
        by_sep = cut(text, separator);
        if (by_sep.back().empty()) by_sep.pop_back();  // a match at the very end
    }
    Pieces words;
    Pieces lines;
    for (size_t p = 0; p < text.size();) {
        while (p < text.size() && is_space(text[p])) p++;
        size_t start = p;
        while (p < text.size() && !is_space(text[p])) p++;
        if (p > start) words.emplace_back(text.substr(start, p - start));
    }
    for (size_t p = 0; p < text.size();) {
        size_t nl = text.find('\n', p);
        size_t stop = nl == std::string_view::npos ? text.size() : nl;
        std::string line(text.substr(p, stop - p));
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        if (nl == std::string_view::npos) break;
        p = nl + 1;
    }
    int64_t handles[] = {qor_str_split(s, sep), qor_str_split_whitespace(s), qor_str_lines(s)};
    const Pieces* wants[] = {&by_sep, &words, &lines};
    for (int i = 0; i < 3; i++) {
        check_pieces(handles[i], *wants[i], "string vector pieces");
        fuzz::check_text(qor_svec_join(handles[i], sep), joined(*wants[i], separator), "svec_join");
        qor_svec_free(handles[i]);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qor_arena_mode(1);
    fuzz::Input in{data, size};
    std::string needle = in.bytes(4);
    std::string replacement = in.bytes(4);
    std::string text = in.bytes_all();
    QorString* s = fuzz::make(text);
    QorString* n = fuzz::make(needle);
    QorString* to = fuzz::make(replacement);
    if (!needle.empty()) check_search(s, n, text, needle);
    check_replace(s, n, to, text, needle, replacement);
    check_vector_split(s, n, text, needle);
    check_string_vectors(s, n, text, needle);
    qor_arena_reset();
    return 0;
}
