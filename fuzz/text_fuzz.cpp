// Drives the text families with arbitrary bytes: splitting and joining give the text back,
// number text parses back to the same number, and the string-vector splitters, the builder's
// escaping and the registry lookup never read or write outside their inputs.
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    qor_arena_mode(1);
    const char* bytes = reinterpret_cast<const char*>(data);
    size_t sep_len = data[0] % 4;
    if (sep_len + 1 > size) return 0;
    QorString* sep = qor_string_new(bytes + 1, static_cast<int64_t>(sep_len));
    QorString* text = qor_string_new(bytes + 1 + sep_len, static_cast<int64_t>(size - 1 - sep_len));

    // Split then join by the same separator gives the bytes back (len stops at a NUL).
    QorVec* pieces = qor_string_split(text, sep);
    QorString* joined = qor_string_join(pieces, sep);
    check(joined);
    if (memcmp(joined->data, text->data, static_cast<size_t>(text->len)) != 0) abort();
    qor_vec_free(pieces);

    int64_t handles[] = {qor_str_split(text, sep), qor_str_split_whitespace(text),
                         qor_str_lines(text)};
    for (int64_t h : handles) {
        for (int64_t i = 0; i < qor_svec_len(h); i++) check(qor_svec_get(h, i));
        check(qor_svec_join(h, sep));
        qor_svec_free(h);
    }

    int64_t n = 0;
    memcpy(&n, data, size < 8 ? size : 8);
    if (qor_parse_int(qor_int_to_string(n)) != n) abort();
    qor_parse_int(text);
    qor_parse_f64(text);
    double d = 0;
    memcpy(&d, data, size < 8 ? size : 8);
    check(qor_f64_to_string(d));

    QorStringBuilder* sb = qor_sb_new();
    qor_sb_push_escaped(sb, text);
    check(qor_sb_build(sb));
    qor_sb_free(sb);

    check(reg_cached_lookup(text, sep, data[0] % 3));

    qor_arena_reset();
    return 0;
}
