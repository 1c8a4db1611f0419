// Reading input to its end, or to a line end, or to a byte count, whatever signals arrive
// meanwhile: the one reading loop behind the whole-file reader, the command capture, the
// console readers and the asynchronous file reader (qor::make_record hands a drained buffer
// out as a string). Nothing here is exported.
#ifndef QOR_SYSTEM_READ_STREAM_H
#define QOR_SYSTEM_READ_STREAM_H

#include <stddef.h>
#include <stdio.h>
#include <sys/single_threaded.h>

#include "core/internal.h"

namespace qor {

// What drain_fd collected. data[len] is NUL and size is the buffer's size (len < size).
// complete is false when a read failed or a doubling failed and reading stopped early; data
// then holds the bytes read until then, and refused is the buffer size that a failed doubling
// asked for (0 otherwise). data is null only when the first buffer could not be taken.
struct DrainedBytes {
    char* data;
    size_t len;
    size_t size;
    bool complete;
    size_t refused;
};

// Reads fd until end of input or a read error into a malloc'd buffer of first_size bytes (at
// least 1), doubling it whenever it has no room for one more byte and the NUL. A source that
// holds exactly first_size - 1 bytes therefore never grows the buffer. Short reads go on and a
// read cut short by a signal is retried, not taken as an error. The caller owns data and fd.
QOR_INTERNAL DrainedBytes drain_fd(int fd, size_t first_size);

// True, with the stream's error cleared, when its last read failed only because a signal cut
// it short; the read is then simply tried again. Any other error stays set.
QOR_INTERNAL bool retry_after_signal(FILE* f);

// One line of f into buffer, as fgets reads it: at most size - 1 bytes (size >= 1), up to and
// including the first line feed, then a NUL. Returns the number of bytes read; 0 only when
// input ended, or failed, before any byte. A signal neither ends the line early nor loses the
// bytes already taken.
QOR_INTERNAL size_t read_line(FILE* f, char* buffer, size_t size);

// Takes f's lock around a run of *_unlocked calls, so the run reads or writes as one stdio call
// would. While the process has a single thread the lock is skipped, as stdio's own calls skip
// theirs: only this thread could start another, and it is busy until unlock_stream. Returns
// whether the lock was taken, which unlock_stream needs.
// ThreadSanitizer does not see stdio's stream lock, and the console's writers read and move the
// stream's buffer pointers themselves: the lock is described to it as an acquire and a release.
#if defined(__SANITIZE_THREAD__)
#define QOR_STREAM_LOCK_ANNOTATED 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QOR_STREAM_LOCK_ANNOTATED 1
#endif
#endif
#ifdef QOR_STREAM_LOCK_ANNOTATED
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#define QOR_STREAM_ACQUIRED(f) __tsan_acquire(f)
#define QOR_STREAM_RELEASING(f) __tsan_release(f)
#else
#define QOR_STREAM_ACQUIRED(f) static_cast<void>(f)
#define QOR_STREAM_RELEASING(f) static_cast<void>(f)
#endif

inline bool lock_stream(FILE* f) {
    if (__libc_single_threaded) return false;
    flockfile(f);
    QOR_STREAM_ACQUIRED(f);
    return true;
}

inline void unlock_stream(FILE* f, bool locked) {
    if (!locked) return;
    QOR_STREAM_RELEASING(f);
    funlockfile(f);
}

// Up to n bytes of f into buffer, stopping early only at end of input or a read error (not at
// a signal). Returns the number of bytes read.
QOR_INTERNAL size_t read_up_to(FILE* f, char* buffer, size_t n);

}  // namespace qor

#endif  // QOR_SYSTEM_READ_STREAM_H
