// The string record and its core operations: construction, access, comparison, hashing,
// slicing, concatenation, release and the hand-over to foreign code.
// Every string made here is two qor_alloc blocks, the byte buffer first, with data[len] == 0
// and cap == len; no operation changes a record once made.
#include <stdlib.h>

#include <algorithm>
#include <cstddef>

#include "core/internal.h"

static_assert(sizeof(QorString) == 24);
static_assert(offsetof(QorString, data) == 0);
static_assert(offsetof(QorString, len) == 8);
static_assert(offsetof(QorString, cap) == 16);

namespace {

QorString* fill_record(QorString* s, char* data, int64_t len, int64_t cap) {
    s->data = data;
    s->len = len;
    s->cap = cap;
    return s;
}

}  // namespace

QorString* qor::make_record(char* data, int64_t len, int64_t cap) {
    return fill_record(static_cast<QorString*>(qor_alloc(sizeof(QorString))), data, len, cap);
}

// A negative length would put the closing NUL before the buffer; it reads as 0.
QorString* qor::make_string_uninit(int64_t n) {
    if (n < 0) n = 0;
    uint64_t buffer_size = static_cast<uint64_t>(n) + 1;
    uint64_t rounded = (buffer_size + 7) & ~uint64_t{7};
    if (char* both = arena_bump_pair(rounded, sizeof(QorString))) {
        both[n] = '\0';
        return fill_record(reinterpret_cast<QorString*>(both + rounded), both, n, n);
    }
    auto* data = static_cast<char*>(qor_alloc(buffer_size));
    data[n] = '\0';
    return make_record(data, n, n);
}

namespace {

// memcpy for the short texts most strings are, without a library call: two overlapping
// fixed-size moves cover any length from 1 to 16.
inline void copy_short_or_long(char* dst, const char* src, int64_t n) {
    if (n >= 8 && n <= 16) {
        uint64_t head, tail;
        memcpy(&head, src, 8);
        memcpy(&tail, src + n - 8, 8);
        memcpy(dst, &head, 8);
        memcpy(dst + n - 8, &tail, 8);
    } else if (n >= 4 && n < 8) {
        uint32_t head, tail;
        memcpy(&head, src, 4);
        memcpy(&tail, src + n - 4, 4);
        memcpy(dst, &head, 4);
        memcpy(dst + n - 4, &tail, 4);
    } else if (n > 0 && n < 4) {
        dst[0] = src[0];
        dst[n / 2] = src[n / 2];
        dst[n - 1] = src[n - 1];
    } else if (n > 16) {
        memcpy(dst, src, static_cast<size_t>(n));
    }
}

}  // namespace

QorString* qor::make_string(const char* bytes, int64_t n) {
    QorString* s = make_string_uninit(n);
    copy_short_or_long(s->data, bytes, s->len);
    return s;
}

QorString* qor::fresh_empty_string() { return make_string_uninit(0); }

using qor::is_missing;

// A negative n, or NULL bytes with nothing to copy from, gives the fresh empty string.
extern "C" QOR_API QorString* qor_string_new(const char* bytes, int64_t n) {
    if (bytes == nullptr) return qor::fresh_empty_string();
    return qor::make_string(bytes, n);
}

extern "C" QOR_API QorString* qor_string_from_cstr(const char* text) {
    if (text == nullptr) return qor::fresh_empty_string();
    return qor::make_string(text, static_cast<int64_t>(strlen(text)));
}

// A record with null data still reports its len.
extern "C" QOR_API int64_t qor_string_len(const QorString* s) { return s == nullptr ? 0 : s->len; }

extern "C" QOR_API int64_t qor_string_is_empty(const QorString* s) {
    return s == nullptr || s->len == 0;
}

extern "C" QOR_API const char* qor_string_as_cstr(const QorString* s) {
    return s == nullptr ? nullptr : s->data;
}

extern "C" QOR_API int64_t qor_string_char_at(const QorString* s, int64_t i) {
    if (is_missing(s) || i < 0 || i >= s->len) return 0;
    return static_cast<unsigned char>(s->data[i]);
}

// The byte qor_string_char_at gives, as a one-byte string; empty when that byte is 0.
extern "C" QOR_API QorString* qor_str_char_at_str(const QorString* s, int64_t i) {
    char byte = static_cast<char>(qor_string_char_at(s, i));
    QorString* r = qor::make_string_uninit(1);
    r->data[0] = byte;
    if (byte == '\0') {
        r->len = 0;
        r->cap = 0;
    }
    return r;
}

extern "C" QOR_API int64_t qor_string_eq(const QorString* a, const QorString* b) {
    if (a == b) return 1;
    if (a == nullptr || b == nullptr) return 0;
    if (a->len != b->len) return 0;
    if (a->len <= 0) return 1;
    return memcmp(a->data, b->data, static_cast<size_t>(a->len)) == 0;
}

extern "C" QOR_API int64_t qor_string_cmp(const QorString* a, const QorString* b) {
    if (a == b) return 0;
    if (is_missing(a)) return is_missing(b) ? 0 : -1;
    if (is_missing(b)) return 1;
    int64_t common = std::min(a->len, b->len);
    if (common > 0) {
        int c = memcmp(a->data, b->data, static_cast<size_t>(common));
        if (c != 0) return c < 0 ? -1 : 1;
    }
    if (a->len == b->len) return 0;
    return a->len < b->len ? -1 : 1;
}

extern "C" QOR_API int64_t qor_string_hash(const QorString* s) {
    if (is_missing(s)) return 0;
    return static_cast<int64_t>(qor::fnv1a(s->data, s->len));
}

// An end past len is clamped; a start past len is a bad bound.
extern "C" QOR_API QorString* qor_string_slice(const QorString* s, int64_t start, int64_t end) {
    if (is_missing(s) || end < start || start < 0 || start > s->len) {
        return qor::fresh_empty_string();
    }
    return qor::make_string(s->data + start, std::min(end, s->len) - start);
}

extern "C" QOR_API QorString* qor_string_substr(const QorString* s, int64_t start, int64_t count) {
    if (is_missing(s) || start < 0 || count < 0 || start > s->len) {
        return qor::fresh_empty_string();
    }
    int64_t end = count > s->len - start ? s->len : start + count;
    return qor::make_string(s->data + start, end - start);
}

namespace {

// The bytes an operand contributes: its len, or 0 when it is missing or its len is negative
// (a malformed record must not turn into a huge or negative allocation).
int64_t byte_count(const QorString* s) { return is_missing(s) || s->len < 0 ? 0 : s->len; }

}  // namespace

// Unlike the wider concatenations, a missing operand makes the whole result empty.
extern "C" QOR_API QorString* qor_string_concat(const QorString* a, const QorString* b) {
    if (is_missing(a) || is_missing(b)) return qor::fresh_empty_string();
    int64_t len_a = byte_count(a);
    int64_t len_b = byte_count(b);
    int64_t total = len_a;
    if (!qor::add_length(&total, len_b)) return qor::fresh_empty_string();
    QorString* r = qor::make_string_uninit(total);
    memcpy(r->data, a->data, static_cast<size_t>(len_a));
    memcpy(r->data + len_a, b->data, static_cast<size_t>(len_b));
    return r;
}

namespace {

// Joins the operands in order with one buffer and one record; missing operands count as empty.
// A total past INT64_MAX (only malformed records can reach it) gives the fresh empty string.
QorString* concat_all(const QorString* const* parts, int count) {
    int64_t total = 0;
    for (int i = 0; i < count; i++) {
        if (!qor::add_length(&total, byte_count(parts[i]))) return qor::fresh_empty_string();
    }
    QorString* r = qor::make_string_uninit(total);
    char* out = r->data;
    for (int i = 0; i < count; i++) {
        int64_t n = byte_count(parts[i]);
        if (n == 0) continue;
        memcpy(out, parts[i]->data, static_cast<size_t>(n));
        out += n;
    }
    return r;
}

}  // namespace

extern "C" QOR_API QorString* qor_string_concat3(const QorString* a, const QorString* b,
                                                 const QorString* c) {
    const QorString* parts[] = {a, b, c};
    return concat_all(parts, 3);
}

extern "C" QOR_API QorString* qor_string_concat5(const QorString* a, const QorString* b,
                                                 const QorString* c, const QorString* d,
                                                 const QorString* e) {
    const QorString* parts[] = {a, b, c, d, e};
    return concat_all(parts, 5);
}

extern "C" QOR_API QorString* qor_string_concat7(const QorString* a, const QorString* b,
                                                 const QorString* c, const QorString* d,
                                                 const QorString* e, const QorString* f,
                                                 const QorString* g) {
    const QorString* parts[] = {a, b, c, d, e, f, g};
    return concat_all(parts, 7);
}

// Only heap strings made while the arena was off may come here; the flag decides.
extern "C" QOR_API int64_t qor_string_free(QorString* s) {
    if (s == nullptr || __atomic_load_n(&g_arena_enabled, __ATOMIC_RELAXED) != 0) return 0;
    free(s->data);
    free(s);
    return 0;
}

extern "C" QOR_API int64_t qor_str_len(const char* p) { return static_cast<int64_t>(strlen(p)); }

extern "C" QOR_API const char* qor_str_data(const char* p) { return p; }

QorString* qor::make_heap_string(const char* bytes, int64_t n, uint64_t* refused) {
    if (n < 0) n = 0;
    auto* data = static_cast<char*>(malloc(static_cast<size_t>(n) + 1));
    auto* s = static_cast<QorString*>(malloc(sizeof(QorString)));
    if (data == nullptr || s == nullptr) {
        if (refused != nullptr)
            *refused = data == nullptr ? static_cast<uint64_t>(n) + 1 : sizeof *s;
        free(data);
        free(s);
        return nullptr;
    }
    if (n > 0) memcpy(data, bytes, static_cast<size_t>(n));
    data[n] = '\0';
    return fill_record(s, data, n, n);
}

// Both blocks come from malloc, whatever the arena flag says.
extern "C" QOR_API QorString* qor_ffi_cstr_to_string(const char* text) {
    return qor::make_heap_string(text, text == nullptr ? 0 : static_cast<int64_t>(strlen(text)));
}

extern "C" QOR_API const char* qor_ffi_string_data(const QorString* s) {
    return is_missing(s) ? "" : s->data;
}

extern "C" QOR_API int64_t qor_ffi_string_len(const QorString* s) {
    return s == nullptr ? 0 : s->len;
}

extern "C" QOR_API void qor_ffi_free_string(QorString* s) {
    if (s == nullptr) return;
    free(s->data);
    free(s);
}

QOR_PLAIN_ALIAS(len, qor_string_len);
QOR_PLAIN_ALIAS(char_at, qor_string_char_at);
QOR_PLAIN_ALIAS(byte_at, qor_string_char_at);
QOR_PLAIN_ALIAS(qor_str_byte_at, qor_string_char_at);
QOR_PLAIN_ALIAS(slice, qor_string_slice);
QOR_PLAIN_ALIAS(free_string, qor_string_free);
QOR_PLAIN_ALIAS(str_data, qor_string_as_cstr);
