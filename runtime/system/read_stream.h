// Draining a stdio stream to its end into one growing malloc'd buffer (qor::make_record hands
// such a buffer out as a string): the one reading loop behind the whole-file reader and the command
// capture. Defined in files.cpp; nothing here is exported.
#ifndef QOR_SYSTEM_READ_STREAM_H
#define QOR_SYSTEM_READ_STREAM_H

#include <stddef.h>
#include <stdio.h>

#include "core/internal.h"

namespace qor {

// What drain_stream collected. data[len] is NUL and size is the buffer's size (len < size).
// complete is false when a read failed or a doubling failed and reading stopped early; data
// then holds the bytes read until then. data is null only when the first buffer could not be taken.
struct DrainedBytes {
    char* data;
    size_t len;
    size_t size;
    bool complete;
};

// Reads f until end of file or a read error into a malloc'd buffer of first_size bytes (at
// least 1), doubling it whenever it has no room for one more byte and the NUL. A stream that
// holds exactly first_size - 1 bytes therefore never grows the buffer. A read cut short by a
// signal is retried, not taken as an error. The caller owns data and closes f.
QOR_INTERNAL DrainedBytes drain_stream(FILE* f, size_t first_size);

}  // namespace qor

#endif  // QOR_SYSTEM_READ_STREAM_H
