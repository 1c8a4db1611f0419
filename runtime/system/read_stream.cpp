// Reading to the end of a descriptor into one growing malloc'd buffer, and reading lines and
// byte counts from stdio streams, each loop continuing after a signal interrupts a read.
// Invariant: a drained buffer always has room for its NUL (len < size).
#include "system/read_stream.h"

#include <errno.h>
#include <stdint.h>
#include <stdlib.h>

#include "system/descriptors.h"

namespace {

// Doubles the buffer behind r; false (r unchanged) when the size would overflow or realloc fails.
bool grow(qor::DrainedBytes* r) {
    if (r->size > SIZE_MAX / 2) return false;
    auto* bigger = static_cast<char*>(realloc(r->data, r->size * 2));
    if (bigger == nullptr) return false;
    r->data = bigger;
    r->size *= 2;
    qor::hint_dense(r->data, r->size);  // a large read is filled at once
    return true;
}

}  // namespace

qor::DrainedBytes qor::drain_fd(int fd, size_t first_size) {
    DrainedBytes r{nullptr, 0, first_size == 0 ? 1 : first_size, true, 0};
    r.data = static_cast<char*>(malloc(r.size));
    if (r.data == nullptr) return r;
    qor::hint_dense(r.data, r.size);
    for (;;) {
        size_t room = r.size - 1 - r.len;
        if (room == 0) {
            // The buffer is full: grow it only once another byte is known to follow.
            char next;
            ssize_t got = read_retry(fd, &next, 1);
            if (got <= 0) {
                r.complete = got == 0;
                break;
            }
            if (!grow(&r)) {
                r.complete = false;
                r.refused = r.size > SIZE_MAX / 2 ? SIZE_MAX : r.size * 2;
                break;
            }
            r.data[r.len++] = next;
            continue;
        }
        ssize_t got = read_retry(fd, r.data + r.len, room);
        if (got <= 0) {
            r.complete = got == 0;
            break;
        }
        r.len += static_cast<size_t>(got);
    }
    r.data[r.len] = '\0';
    return r;
}

bool qor::retry_after_signal(FILE* f) {
    if (!ferror(f) || errno != EINTR) return false;
    clearerr(f);
    return true;
}

size_t qor::read_line(FILE* f, char* buffer, size_t size) {
    size_t n = 0;
    bool locked = lock_stream(f);
    while (n + 1 < size) {
        int c = getc_unlocked(f);
        if (c == EOF) {
            if (retry_after_signal(f)) continue;
            break;
        }
        buffer[n++] = static_cast<char>(c);
        if (c == '\n') break;
    }
    unlock_stream(f, locked);
    buffer[n] = '\0';
    return n;
}

size_t qor::read_up_to(FILE* f, char* buffer, size_t n) {
    size_t got = 0;
    while (got < n) {
        got += fread(buffer + got, 1, n - got, f);
        if (got < n && !retry_after_signal(f)) break;
    }
    return got;
}
