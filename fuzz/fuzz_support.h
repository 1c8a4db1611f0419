// Helpers shared by the fuzz targets: reading typed values off the input, and checking that a
// runtime string is well formed and holds the bytes a model gives. A mismatch aborts, which
// libFuzzer reports with the input that caused it.
#ifndef QOR_FUZZ_SUPPORT_H
#define QOR_FUZZ_SUPPORT_H

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <string_view>

#include "qor_runtime.h"

namespace fuzz {

// Consumes the input front to back; reads past the end give zero bytes.
struct Input {
    const uint8_t* p;
    size_t n;

    template <typename T>
    T take() {
        T v{};
        size_t k = n < sizeof v ? n : sizeof v;
        memcpy(&v, p, k);
        p += k;
        n -= k;
        return v;
    }
    // Up to max bytes, the count chosen by the next input byte.
    std::string bytes(size_t max) {
        size_t k = take<uint8_t>() % (max + 1);
        if (k > n) k = n;
        std::string out(reinterpret_cast<const char*>(p), k);
        p += k;
        n -= k;
        return out;
    }
    std::string bytes_all() {
        std::string out(reinterpret_cast<const char*>(p), n);
        p += n;
        n = 0;
        return out;
    }
};

[[noreturn]] inline void fail(const char* what) {
    fprintf(stderr, "model mismatch: %s\n", what);
    abort();
}

inline void check(bool ok, const char* what) {
    if (!ok) fail(what);
}

// s is a record with data NUL-terminated at len and cap == len.
inline void check_record(const QorString* s, const char* what) {
    check(s != nullptr && s->data != nullptr && s->len >= 0 && s->cap == s->len &&
              s->data[s->len] == '\0',
          what);
}

// s is a well-formed record holding exactly want.
inline void check_text(const QorString* s, std::string_view want, const char* what) {
    check_record(s, what);
    check(std::string_view(s->data, static_cast<size_t>(s->len)) == want, what);
}

inline QorString* make(std::string_view bytes) {
    return qor_string_new(bytes.data(), static_cast<int64_t>(bytes.size()));
}

}  // namespace fuzz

#endif  // QOR_FUZZ_SUPPORT_H
