// The string builder: a growable byte buffer on the process heap (malloc, realloc, free),
// untouched by the arena, that compiled code appends to and finally copies into a string.
// Invariants after every operation: data is not NULL, len < cap and data[len] == 0, so the
// content always reads as NUL-terminated text; cap is the initial capacity times a power of 2.
#include <emmintrin.h>
#include <stdlib.h>

#include <cstddef>

#include "core/internal.h"
#include "text/byte_scan.h"
#include "text/number_format.h"

static_assert(sizeof(QorStringBuilder) == 24);
static_assert(offsetof(QorStringBuilder, data) == 0);
static_assert(offsetof(QorStringBuilder, len) == 8);
static_assert(offsetof(QorStringBuilder, cap) == 16);

namespace numfmt = qor::numfmt;

namespace {

constexpr int64_t kDefaultCapacity = 1024;
constexpr int64_t kSmallCapacity = 64;

// Doubles cap while len + k >= cap, so k bytes and the closing NUL fit; reallocates only when
// cap changed. The one growth rule for every append. A cap that would pass INT64_MAX, or a
// heap that refuses, stops the process: an append never silently loses bytes.
void make_room(QorStringBuilder* sb, int64_t k) {
    int64_t cap = sb->cap;
    int64_t needed = sb->len;
    if (!qor::add_length(&needed, k)) qor::out_of_memory(UINT64_MAX);
    while (needed >= cap) {
        if (cap > INT64_MAX / 2) qor::out_of_memory(UINT64_MAX);
        cap *= 2;
    }
    if (cap == sb->cap) return;
    sb->data = static_cast<char*>(qor::xrealloc(sb->data, static_cast<uint64_t>(cap)));
    sb->cap = cap;
}

// The offset of p in the builder's buffer, or -1 when p lies outside it. The source of an
// append may be the builder itself (its record reads as a string), and growing moves the
// buffer under it, so such a source is followed by its offset rather than its address.
int64_t offset_in_buffer(const QorStringBuilder* sb, const char* p) {
    auto at = reinterpret_cast<uintptr_t>(p);
    auto base = reinterpret_cast<uintptr_t>(sb->data);
    if (at < base || at - base >= static_cast<uint64_t>(sb->cap)) return -1;
    return static_cast<int64_t>(at - base);
}

// append's path when the buffer must grow first, which may move a source lying in it.
__attribute__((noinline)) int64_t append_growing(QorStringBuilder* sb, const char* bytes,
                                                 int64_t n) {
    int64_t own = offset_in_buffer(sb, bytes);
    make_room(sb, n);
    if (own >= 0) {
        memmove(sb->data + sb->len, sb->data + own, static_cast<size_t>(n));
    } else {
        memcpy(sb->data + sb->len, bytes, static_cast<size_t>(n));
    }
    sb->len += n;
    sb->data[sb->len] = '\0';
    return sb->len;
}

// Appends n > 0 bytes and the closing NUL; returns the new len. A source inside the buffer
// lies in the content, before len, so it never overlaps the bytes written after it.
inline int64_t append(QorStringBuilder* sb, const char* bytes, int64_t n) {
    if (n >= sb->cap - sb->len) return append_growing(sb, bytes, n);
    qor::text::copy_bytes(sb->data + sb->len, bytes, static_cast<size_t>(n));
    sb->len += n;
    sb->data[sb->len] = '\0';
    return sb->len;
}

QorStringBuilder* new_builder(int64_t cap) {
    auto* sb = static_cast<QorStringBuilder*>(qor::xmalloc(sizeof(QorStringBuilder)));
    sb->data = static_cast<char*>(qor::xmalloc(static_cast<uint64_t>(cap)));
    sb->data[0] = '\0';
    sb->len = 0;
    sb->cap = cap;
    return sb;
}

// The letter that follows the backslash in the prefixed escaping append, or 0 when c passes
// through unchanged.
char escape_letter(char c) {
    switch (c) {
        case '\t':
            return 't';
        case '\n':
            return 'n';
        case '\r':
            return 'r';
        case '"':
            return '"';
        case '\\':
            return '\\';
        default:
            return '\0';
    }
}

// The number of bytes from p (at most n) before the first one the escaping table changes:
// '"' and '\', and with letters also tab, line feed and carriage return. 16 bytes per step.
size_t plain_run(const char* p, size_t n, bool letters) {
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i backslash = _mm_set1_epi8('\\');
    const __m128i tab = _mm_set1_epi8('\t');
    const __m128i line_feed = _mm_set1_epi8('\n');
    const __m128i carriage_return = _mm_set1_epi8('\r');
    size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        __m128i hit = _mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash));
        if (letters) {
            __m128i ends =
                _mm_or_si128(_mm_cmpeq_epi8(v, line_feed), _mm_cmpeq_epi8(v, carriage_return));
            hit = _mm_or_si128(hit, _mm_or_si128(_mm_cmpeq_epi8(v, tab), ends));
        }
        auto mask = static_cast<unsigned>(_mm_movemask_epi8(hit));
        if (mask != 0) return i + static_cast<size_t>(__builtin_ctz(mask));
    }
    for (; i < n; i++) {
        if (p[i] == '"' || p[i] == '\\') return i;
        if (letters && (p[i] == '\t' || p[i] == '\n' || p[i] == '\r')) return i;
    }
    return n;
}

// Both escaping appends: runs of unchanged bytes are copied whole, and each changed byte
// becomes a backslash and its letter (with letters) or itself. Room is made for each run and
// each changed byte as large as the per-byte rule of the table asks at its last byte (two
// bytes before each input byte with letters, one before each output byte without), so cap
// grows at the same points. s may be the builder itself: its bytes are then followed by
// their offset, since growing moves the buffer.
int64_t push_escaped(QorStringBuilder* sb, const QorString* s, bool letters) {
    if (sb == nullptr || qor::is_missing(s)) return 0;
    int64_t n = s->len;
    if (n <= 0) return sb->len;
    int64_t own = offset_in_buffer(sb, s->data);
    auto source = [sb, s, own]() { return own >= 0 ? sb->data + own : s->data; };
    int64_t i = 0;
    while (i < n) {
        auto run =
            static_cast<int64_t>(plain_run(source() + i, static_cast<size_t>(n - i), letters));
        if (run > 0) {
            make_room(sb, letters ? run + 1 : run);
            qor::text::copy_bytes(sb->data + sb->len, source() + i, static_cast<size_t>(run));
            sb->len += run;
            i += run;
            if (i == n) break;
        }
        make_room(sb, 2);
        char c = source()[i++];
        sb->data[sb->len++] = '\\';
        sb->data[sb->len++] = letters ? escape_letter(c) : c;
    }
    sb->data[sb->len] = '\0';
    return sb->len;
}

}  // namespace

extern "C" QOR_API QorStringBuilder* qor_sb_new(void) { return new_builder(kDefaultCapacity); }

extern "C" QOR_API QorStringBuilder* qor_sb_with_capacity(int64_t n) {
    return new_builder(n > 0 ? n : kSmallCapacity);
}

extern "C" QOR_API int64_t qor_sb_push(QorStringBuilder* sb, const QorString* s) {
    if (sb == nullptr || qor::is_missing(s)) return 0;
    if (s->len <= 0) return sb->len;
    return append(sb, s->data, s->len);
}

// Bytes [max(start, 0), min(end, len)) of s; start >= end is refused before clamping.
extern "C" QOR_API int64_t qor_sb_push_range(QorStringBuilder* sb, const QorString* s,
                                             int64_t start, int64_t end) {
    if (s == nullptr || start >= end || sb == nullptr || s->data == nullptr) return 0;
    int64_t from = start > 0 ? start : 0;
    int64_t to = end < s->len ? end : s->len;
    if (to <= from) return sb->len;
    return append(sb, s->data + from, to - from);
}

// The low 8 bits; a 0 byte is content too and counts in len.
extern "C" QOR_API int64_t qor_sb_push_char(QorStringBuilder* sb, int64_t code) {
    if (sb == nullptr) return 0;
    char byte = static_cast<char>(code);
    return append(sb, &byte, 1);
}

// Written in place when the longest decimal text fits without growing.
extern "C" QOR_API int64_t qor_sb_push_int(QorStringBuilder* sb, int64_t v) {
    if (sb == nullptr) return 0;
    if (static_cast<int64_t>(numfmt::kDecimalMax) < sb->cap - sb->len) {
        sb->len += static_cast<int64_t>(numfmt::write_decimal(sb->data + sb->len, v));
        sb->data[sb->len] = '\0';
        return sb->len;
    }
    char text[numfmt::kDecimalMax];
    return append(sb, text, static_cast<int64_t>(numfmt::write_decimal(text, v)));
}

extern "C" QOR_API int64_t qor_sb_push_f64(QorStringBuilder* sb, double x) {
    if (sb == nullptr) return 0;
    char text[numfmt::kGeneralMax];
    return append(sb, text, static_cast<int64_t>(numfmt::write_general(text, x)));
}

// "0x" and the digits of the bit pattern: no sign, -1 gives sixteen 'f'.
extern "C" QOR_API int64_t qor_sb_push_hex(QorStringBuilder* sb, int64_t v) {
    if (sb == nullptr) return 0;
    char text[2 + numfmt::kHexDigitsMax] = {'0', 'x'};
    size_t n = 2 + numfmt::write_unsigned(text + 2, sizeof text - 2, static_cast<uint64_t>(v), 16);
    return append(sb, text, static_cast<int64_t>(n));
}

// All 64 bits are tested (unlike qor_bool_to_string, which reads only the low 8).
extern "C" QOR_API int64_t qor_sb_push_bool(QorStringBuilder* sb, int64_t b) {
    if (sb == nullptr) return 0;
    return b != 0 ? append(sb, "true", 4) : append(sb, "false", 5);
}

extern "C" QOR_API int64_t sb_push_cstr(QorStringBuilder* sb, const char* text) {
    if (sb == nullptr || text == nullptr) return 0;
    auto n = static_cast<int64_t>(strlen(text));
    if (n == 0) return sb->len;
    return append(sb, text, n);
}

// The two escaping twins differ. The prefixed one writes tab, line feed and carriage return
// as \t, \n and \r and puts a backslash before '"' and '\'; it makes room for two bytes
// before each input byte. The plain one only puts a backslash before '"' and '\', and makes
// room for one byte before each output byte. Both pass every other byte through unchanged.
extern "C" QOR_API int64_t qor_sb_push_escaped(QorStringBuilder* sb, const QorString* s) {
    return push_escaped(sb, s, true);
}

extern "C" QOR_API int64_t sb_push_escaped(QorStringBuilder* sb, const QorString* s) {
    return push_escaped(sb, s, false);
}

// 0 for NULL (a NULL builder has no content).
extern "C" QOR_API int64_t qor_sb_len(const QorStringBuilder* sb) {
    return sb == nullptr ? 0 : sb->len;
}

// A copy of the content and its NUL in a new qor_alloc string (two allocations); the builder
// is not changed and the string stays valid after it changes or is freed.
extern "C" QOR_API QorString* qor_sb_build(const QorStringBuilder* sb) {
    if (sb == nullptr || sb->data == nullptr) return qor::fresh_empty_string();
    return qor::make_string(sb->data, sb->len);
}

// Keeps the buffer and cap; NULL does nothing.
extern "C" QOR_API int64_t qor_sb_clear(QorStringBuilder* sb) {
    if (sb == nullptr) return 0;
    sb->len = 0;
    sb->data[0] = '\0';
    return 0;
}

// 1 when item is one of the comma-separated elements of the content, compared byte for byte
// with no white space skipped; an item holding commas matches when it starts and ends on
// element boundaries ("a,bc" in "a,bc,d").
extern "C" QOR_API int64_t qor_sb_contains(const QorStringBuilder* sb, const QorString* item) {
    if (sb == nullptr || qor::is_missing(item) || sb->data == nullptr) return 0;
    int64_t n = sb->len;
    int64_t m = item->len;
    if (m <= 0 || n <= 0 || m > n) return 0;
    const char* content = sb->data;
    int64_t i = 0;
    for (;;) {
        if (memcmp(content + i, item->data, static_cast<size_t>(m)) == 0 &&
            (i + m == n || content[i + m] == ',')) {
            return 1;
        }
        const void* comma = memchr(content + i, ',', static_cast<size_t>(n - i));
        if (comma == nullptr) return 0;
        int64_t at = static_cast<const char*>(comma) - content;
        if (at >= n - m) return 0;
        i = at + 1;
    }
}

extern "C" QOR_API int64_t qor_sb_free(QorStringBuilder* sb) {
    if (sb == nullptr) return 0;
    free(sb->data);
    free(sb);
    return 0;
}

QOR_PLAIN_ALIAS(sb_new, qor_sb_new);
QOR_PLAIN_ALIAS(sb_with_capacity, qor_sb_with_capacity);
QOR_PLAIN_ALIAS(sb_push, qor_sb_push);
QOR_PLAIN_ALIAS(sb_push_range, qor_sb_push_range);
QOR_PLAIN_ALIAS(sb_push_char, qor_sb_push_char);
QOR_PLAIN_ALIAS(sb_push_int, qor_sb_push_int);
QOR_PLAIN_ALIAS(sb_len, qor_sb_len);
QOR_PLAIN_ALIAS(sb_build, qor_sb_build);
QOR_PLAIN_ALIAS(sb_clear, qor_sb_clear);
QOR_PLAIN_ALIAS(sb_contains, qor_sb_contains);
QOR_PLAIN_ALIAS(sb_free, qor_sb_free);
