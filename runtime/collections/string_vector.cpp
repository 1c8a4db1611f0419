// The process-wide pool of string vectors and the operations that fill new ones: splitting text
// by a separator, into words and into lines. (A string hash map's key listings, which also fill
// new string vectors, live beside the map in string_hash_map.cpp.)
// A string vector is named by its handle, its index in the pool, so the pool may move when it
// grows. Handles are issued in increasing order and never reused: freeing a vector empties it but
// keeps its handle valid, and the pool never shrinks. Vectors hold borrowed string pointers;
// the pieces made by splitting come from qor_alloc, the pool and pointer arrays from the heap.
// Nothing here is locked: callers on several threads serialise every use of the pool.
#include <emmintrin.h>
#include <stdlib.h>

#include <cstddef>

#include "core/internal.h"
#include "text/byte_scan.h"

// One string vector: capacity pointers at items (null while capacity is 0), len of them in use.
struct QorStrVec {
    QorString** items;
    int64_t len;
    int64_t capacity;
};

static_assert(sizeof(QorStrVec) == 24);
static_assert(offsetof(QorStrVec, items) == 0);
static_assert(offsetof(QorStrVec, len) == 8);
static_assert(offsetof(QorStrVec, capacity) == 16);

// The pool: g_svec_pool_cap records, of which handles 0 .. g_svec_pool_len - 1 are issued.
extern "C" {
QOR_INTERNAL QorStrVec* g_svec_pool = nullptr;
QOR_INTERNAL int64_t g_svec_pool_len = 0;
QOR_INTERNAL int64_t g_svec_pool_cap = 0;
}

namespace {

constexpr int64_t kFirstPoolCap = 16;
constexpr int64_t kFirstItemsCap = 8;

// The record behind a handle, or null when the handle was never issued.
QorStrVec* lookup(int64_t handle) {
    if (handle < 0 || handle >= g_svec_pool_len) return nullptr;
    return &g_svec_pool[handle];
}

// Issues the next handle over a zeroed record, growing the pool to 16 records and then by
// doubling; -1, with the pool untouched, when it cannot grow.
int64_t issue_handle() {
    if (g_svec_pool_len >= g_svec_pool_cap) {
        int64_t cap = g_svec_pool_cap == 0 ? kFirstPoolCap : g_svec_pool_cap * 2;
        void* grown = realloc(g_svec_pool, static_cast<size_t>(cap) * sizeof(QorStrVec));
        if (grown == nullptr) return -1;
        g_svec_pool = static_cast<QorStrVec*>(grown);
        g_svec_pool_cap = cap;
    }
    g_svec_pool[g_svec_pool_len] = QorStrVec{nullptr, 0, 0};
    return g_svec_pool_len++;
}

// Appends s, growing items to 8 pointers and then by doubling; false, with the vector
// unchanged, when the array cannot grow.
int64_t next_capacity(const QorStrVec* v) {
    return v->capacity == 0 ? kFirstItemsCap : v->capacity * 2;
}

bool append(QorStrVec* v, QorString* s) {
    if (v->len >= v->capacity) {
        int64_t cap = next_capacity(v);
        void* grown = realloc(v->items, static_cast<size_t>(cap) * sizeof(QorString*));
        if (grown == nullptr) return false;
        v->items = static_cast<QorString**>(grown);
        v->capacity = cap;
    }
    v->items[v->len++] = s;
    return true;
}

// Appends for the operations that fill a new vector and have no failure result of their own:
// a pointer array that cannot grow stops the process rather than leave a piece out.
void append_or_stop(QorStrVec* v, QorString* s) {
    if (append(v, s)) return;
    qor::out_of_memory(qor::bytes_for(static_cast<uint64_t>(next_capacity(v)), sizeof(QorString*)));
}

}  // namespace

void qor::svec_append_or_stop(int64_t handle, QorString* s) {
    QorStrVec* v = lookup(handle);
    if (v != nullptr) append_or_stop(v, s);
}

namespace {

// Appends a new qor_alloc copy of n bytes to the vector behind handle. Looks the record up
// again for every piece: nothing else may grow the pool meanwhile, but the handle is the one
// stable name for it.
void append_piece(int64_t handle, const char* bytes, int64_t n) {
    append_or_stop(lookup(handle), qor::make_string(bytes, n));
}

// Element order for sorting: null first, then unsigned bytes, then the shorter string. Only
// the sign of the result matters, so lengths are compared rather than subtracted.
int qorstring_cmp(const void* pa, const void* pb) {
    const QorString* a = *static_cast<QorString* const*>(pa);
    const QorString* b = *static_cast<QorString* const*>(pb);
    if (a == nullptr || b == nullptr) return (a != nullptr) - (b != nullptr);
    int64_t common = a->len < b->len ? a->len : b->len;
    if (common > 0 && a->data != nullptr && b->data != nullptr) {
        int c = memcmp(a->data, b->data, static_cast<size_t>(common));
        if (c != 0) return c;
    }
    return (a->len > b->len) - (a->len < b->len);
}

void sort_items(QorStrVec* v) {
    if (v->len >= 2)
        qsort(v->items, static_cast<size_t>(v->len), sizeof(QorString*), qorstring_cmp);
}

// An element matches when it is present and holds exactly the bytes of s.
bool same_bytes(const QorString* element, const QorString* s) {
    if (qor::is_missing(element) || element->len != s->len) return false;
    return s->len <= 0 || memcmp(element->data, s->data, static_cast<size_t>(s->len)) == 0;
}

bool is_space(char c) { return c == '\t' || c == '\n' || c == '\r' || c == ' '; }

// Bit k is set when the byte at p + k is tab, line feed, carriage return or space (k < 64).
uint64_t space_mask(const char* p) {
    const __m128i tab = _mm_set1_epi8('\t');
    const __m128i line_feed = _mm_set1_epi8('\n');
    const __m128i carriage_return = _mm_set1_epi8('\r');
    const __m128i blank = _mm_set1_epi8(' ');
    uint64_t mask = 0;
    for (size_t k = 0; k < 4; k++) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
        __m128i hit = _mm_or_si128(
            _mm_or_si128(_mm_cmpeq_epi8(v, tab), _mm_cmpeq_epi8(v, line_feed)),
            _mm_or_si128(_mm_cmpeq_epi8(v, carriage_return), _mm_cmpeq_epi8(v, blank)));
        mask |= static_cast<uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(hit))) << (16 * k);
    }
    return mask;
}

}  // namespace

extern "C" QOR_API int64_t qor_svec_new(void) { return issue_handle(); }

extern "C" QOR_API int64_t qor_svec_push(int64_t handle, QorString* s) {
    QorStrVec* v = lookup(handle);
    if (v == nullptr) return -1;
    return append(v, s) ? 0 : -1;
}

extern "C" QOR_API int64_t qor_svec_len(int64_t handle) {
    QorStrVec* v = lookup(handle);
    return v == nullptr ? 0 : v->len;
}

extern "C" QOR_API QorString* qor_svec_get(int64_t handle, int64_t index) {
    QorStrVec* v = lookup(handle);
    if (v == nullptr || index < 0 || index >= v->len) return nullptr;
    return v->items[index];
}

// Releases the pointer array only; the handle stays valid and the next push starts over.
extern "C" QOR_API int64_t qor_svec_free(int64_t handle) {
    QorStrVec* v = lookup(handle);
    if (v == nullptr) return 0;
    free(v->items);
    *v = QorStrVec{nullptr, 0, 0};
    return 0;
}

extern "C" QOR_API int64_t qor_svec_clear(int64_t handle) {
    QorStrVec* v = lookup(handle);
    if (v != nullptr) v->len = 0;
    return 0;
}

// A null element adds nothing but keeps the separators around its position: 'a', null, 'b'
// joined by "," give "a,,b". A null separator joins the elements directly. A total past
// INT64_MAX gives the fresh empty string.
extern "C" QOR_API QorString* qor_svec_join(int64_t handle, const QorString* sep) {
    QorStrVec* v = lookup(handle);
    if (v == nullptr || v->len == 0) return qor::fresh_empty_string();
    int64_t sep_len = qor::is_missing(sep) || sep->len < 0 ? 0 : sep->len;
    int64_t total = 0;
    if (!qor::times_length(&total, sep_len, v->len - 1)) return qor::fresh_empty_string();
    for (int64_t i = 0; i < v->len; i++) {
        const QorString* e = v->items[i];
        if (qor::is_missing(e) || e->len <= 0) continue;
        if (!qor::add_length(&total, e->len)) return qor::fresh_empty_string();
    }
    QorString* r = qor::make_string_uninit(total);
    char* out = r->data;
    for (int64_t i = 0; i < v->len; i++) {
        if (i > 0) {
            qor::text::copy_bytes(out, sep_len > 0 ? sep->data : nullptr,
                                  static_cast<size_t>(sep_len));
            out += sep_len;
        }
        const QorString* e = v->items[i];
        if (qor::is_missing(e) || e->len <= 0) continue;
        qor::text::copy_bytes(out, e->data, static_cast<size_t>(e->len));
        out += e->len;
    }
    return r;
}

extern "C" QOR_API int64_t qor_svec_index_of(int64_t handle, const QorString* s) {
    QorStrVec* v = lookup(handle);
    if (v == nullptr || qor::is_missing(s)) return -1;
    for (int64_t i = 0; i < v->len; i++) {
        if (same_bytes(v->items[i], s)) return i;
    }
    return -1;
}

extern "C" QOR_API int64_t qor_svec_contains(int64_t handle, const QorString* s) {
    return qor_svec_index_of(handle, s) >= 0;
}

extern "C" QOR_API int64_t qor_svec_sort(int64_t handle) {
    QorStrVec* v = lookup(handle);
    if (v != nullptr) sort_items(v);
    return 0;
}

// The removed pointer is not returned; later elements shift one place left.
extern "C" QOR_API int64_t qor_svec_remove(int64_t handle, int64_t index) {
    QorStrVec* v = lookup(handle);
    if (v == nullptr || index < 0 || index >= v->len) return 0;
    memmove(&v->items[index], &v->items[index + 1],
            static_cast<size_t>(v->len - index - 1) * sizeof(QorString*));
    v->len--;
    return 1;
}

// Pieces between separators, in order. A separator at the start gives a leading empty piece,
// one at the very end gives no trailing one; a missing or empty separator splits the text into
// single bytes. Unlike the text splitter, the result is a string vector handle (-1 when the pool
// cannot grow).
extern "C" QOR_API int64_t qor_str_split(const QorString* text, const QorString* sep) {
    int64_t handle = issue_handle();
    if (handle < 0 || qor::is_missing(text) || text->len <= 0) return handle;
    const char* pos = text->data;
    const char* end = text->data + text->len;
    if (qor::is_missing(sep) || sep->len <= 0) {
        for (; pos < end; pos++) append_piece(handle, pos, 1);
        return handle;
    }
    const char* data = text->data;
    const auto n = static_cast<size_t>(text->len);
    const auto m = static_cast<size_t>(sep->len);
    size_t cur = 0;
    qor::text::scan_matches(data, n, sep->data, m, 0, [&](size_t p) {
        append_piece(handle, data + cur, static_cast<int64_t>(p - cur));
        cur = p + m;
        return true;
    });
    if (cur < n) append_piece(handle, data + cur, static_cast<int64_t>(n - cur));
    return handle;
}

// Maximal runs of bytes other than tab, line feed, carriage return and space; never empty.
// 64 bytes per step: the whitespace mask of the step gives every word start (a non-space
// after a space) and word end (a space after a non-space) at once, so the scan does not branch
// on each byte; the bytes past the last full step are read one by one.
extern "C" QOR_API int64_t qor_str_split_whitespace(const QorString* text) {
    int64_t handle = issue_handle();
    if (handle < 0 || qor::is_missing(text) || text->len <= 0) return handle;
    const char* data = text->data;
    const auto n = static_cast<size_t>(text->len);
    size_t word = 0;
    bool in_word = false;  // a word started at `word` and has not ended yet
    size_t i = 0;
    for (; i + 64 <= n; i += 64) {
        uint64_t space = space_mask(data + i);
        uint64_t before = (space << 1) | (in_word ? 0 : 1);  // bit k: byte i + k - 1 is a space
        uint64_t edges = (~space & before) | (space & ~before);
        for (; edges != 0; edges &= edges - 1) {
            size_t at = i + static_cast<size_t>(__builtin_ctzll(edges));
            if (!in_word) {
                word = at;
            } else {
                append_piece(handle, data + word, static_cast<int64_t>(at - word));
            }
            in_word = !in_word;
        }
    }
    for (; i < n; i++) {
        if (is_space(data[i]) == !in_word) continue;
        if (!in_word) {
            word = i;
        } else {
            append_piece(handle, data + word, static_cast<int64_t>(i - word));
        }
        in_word = !in_word;
    }
    if (in_word) append_piece(handle, data + word, static_cast<int64_t>(n - word));
    return handle;
}

// Lines cut at each line feed, each without one trailing carriage return; a final line feed
// adds no empty line.
extern "C" QOR_API int64_t qor_str_lines(const QorString* text) {
    int64_t handle = issue_handle();
    if (handle < 0 || qor::is_missing(text) || text->len <= 0) return handle;
    const char* pos = text->data;
    const char* end = text->data + text->len;
    while (pos < end) {
        const char* nl =
            static_cast<const char*>(memchr(pos, '\n', static_cast<size_t>(end - pos)));
        const char* stop = nl == nullptr ? end : nl;
        int64_t n = stop - pos;
        if (n > 0 && pos[n - 1] == '\r') n--;
        append_piece(handle, pos, n);
        if (nl == nullptr) break;
        pos = nl + 1;
    }
    return handle;
}
