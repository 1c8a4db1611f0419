// Opening paths and moving bytes through descriptors: the one place the runtime opens a path
// and the one read and write loop on a descriptor. Every descriptor opened here is
// close-on-exec, so no child started by qor_system or a capture inherits it, and no open, read
// or write reports a signal as a failure or as end of input.
// Nothing here is exported.
#ifndef QOR_SYSTEM_DESCRIPTORS_H
#define QOR_SYSTEM_DESCRIPTORS_H

#include <signal.h>
#include <stddef.h>
#include <sys/types.h>
#include <sys/uio.h>

#include "core/internal.h"

namespace qor {

// open(2) of path with flags and O_CLOEXEC, retried while a signal interrupts it (an open of
// a FIFO waits for the other end unless flags hold O_NONBLOCK); -1 on failure.
QOR_INTERNAL int open_path(const char* path, int flags, mode_t mode);

// read(2) retried while a signal interrupts it: bytes read, 0 at end of input, -1 on error.
QOR_INTERNAL ssize_t read_retry(int fd, void* buffer, size_t n);

// Reads until n bytes are in or input ends, retrying after signals: the number of bytes read
// (less than n only at end of input), or -1 when a read failed.
QOR_INTERNAL ssize_t read_full(int fd, void* buffer, size_t n);

// Writes the count pieces in order as if they were one buffer, continuing partial writes,
// retrying after signals and waiting while a non-blocking descriptor is full. Returns the
// bytes written: the whole length, or less at the first real error (errno tells which).
// The pieces are used up as they are written.
QOR_INTERNAL size_t write_gather(int fd, struct iovec* pieces, int count);

// write_gather of one buffer; false at the first real error.
QOR_INTERNAL bool write_all(int fd, const void* buffer, size_t n);

// Closes fd; false when the close reports an error. A close interrupted by a signal has still
// released the descriptor on this platform, so it counts as done and is never repeated.
QOR_INTERNAL bool close_fd(int fd);

// Writes that may meet a pipe whose reader has left fail with EPIPE instead of raising
// SIGPIPE. While one of these lives, SIGPIPE is blocked in the calling thread; a SIGPIPE that
// its writes raised is taken back before the old mask returns, one that was pending already
// stays pending. The process's own SIGPIPE disposition is never touched.
class QuietPipeWrites {
  public:
    QuietPipeWrites();
    ~QuietPipeWrites();
    QuietPipeWrites(const QuietPipeWrites&) = delete;
    QuietPipeWrites& operator=(const QuietPipeWrites&) = delete;

    // write_all, noting a write that met a closed pipe.
    bool write_all(int fd, const void* buffer, size_t n);

  private:
    sigset_t saved_mask_;
    bool pending_before_ = false;
    bool broke_pipe_ = false;
};

}  // namespace qor

#endif  // QOR_SYSTEM_DESCRIPTORS_H
