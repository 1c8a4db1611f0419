// Drives the core string operations with arbitrary bytes and bounds, checking the invariants
// every made record keeps: data NUL-terminated at len, cap == len, results within their input.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "qor_runtime.h"

namespace {

void check(const QorString* s) {
    if (s == nullptr || s->data == nullptr || s->len < 0 || s->cap != s->len ||
        s->data[s->len] != '\0') {
        abort();
    }
}

int64_t take(const uint8_t*& p, size_t& n) {
    int64_t v = 0;
    size_t k = n < 8 ? n : 8;
    memcpy(&v, p, k);
    p += k;
    n -= k;
    return v % 64 - 8;  // mostly small, sometimes negative
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uint8_t* p = data;
    size_t n = size;
    int64_t a = take(p, n);
    int64_t b = take(p, n);
    QorString* s = qor_string_new(reinterpret_cast<const char*>(p), static_cast<int64_t>(n));
    QorString* half = qor_string_new(reinterpret_cast<const char*>(p), static_cast<int64_t>(n / 2));
    check(s);
    QorString* parts[] = {qor_string_slice(s, a, b), qor_string_substr(s, a, b),
                          qor_string_concat(s, half), qor_string_concat3(half, nullptr, s),
                          qor_str_char_at_str(s, a)};
    for (QorString* r : parts) {
        check(r);
        if (r->len > s->len + half->len) abort();
    }
    if (qor_string_cmp(s, half) != -qor_string_cmp(half, s)) abort();
    if (qor_string_eq(s, half) != (qor_string_cmp(s, half) == 0)) abort();
    for (QorString* r : parts) qor_string_free(r);
    qor_string_free(s);
    qor_string_free(half);
    return 0;
}
