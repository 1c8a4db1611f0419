// Opening paths close-on-exec, and reads and writes that survive signals. Invariant: every
// descriptor that open_path returns has FD_CLOEXEC set from the moment it exists.
#include "system/descriptors.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <time.h>
#include <unistd.h>

int qor::open_path(const char* path, int flags, mode_t mode) {
    for (;;) {
        int fd = open(path, flags | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EINTR) return fd;
    }
}

ssize_t qor::read_retry(int fd, void* buffer, size_t n) {
    for (;;) {
        ssize_t r = read(fd, buffer, n);
        if (r >= 0 || errno != EINTR) return r;
    }
}

ssize_t qor::read_full(int fd, void* buffer, size_t n) {
    size_t got = 0;
    while (got < n) {
        ssize_t r = read_retry(fd, static_cast<char*>(buffer) + got, n - got);
        if (r < 0) return -1;
        if (r == 0) break;
        got += static_cast<size_t>(r);
    }
    return static_cast<ssize_t>(got);
}

namespace {

// Waits until fd takes bytes again; false when even the wait fails.
bool wait_writable(int fd) {
    pollfd p{fd, POLLOUT, 0};
    return poll(&p, 1, -1) >= 0 || errno == EINTR;
}

// Drops the first n bytes from the pieces, and any empty pieces that then lead.
void skip_written(struct iovec*& pieces, int& count, size_t n) {
    while (count > 0 && n >= pieces->iov_len) {
        n -= pieces->iov_len;
        pieces++;
        count--;
    }
    if (count == 0) return;
    pieces->iov_base = static_cast<char*>(pieces->iov_base) + n;
    pieces->iov_len -= n;
}

}  // namespace

size_t qor::write_gather(int fd, struct iovec* pieces, int count) {
    size_t total = 0;
    skip_written(pieces, count, 0);
    while (count > 0) {
        ssize_t w = writev(fd, pieces, count);
        if (w < 0 && errno == EINTR) continue;
        if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && wait_writable(fd)) continue;
        if (w <= 0) break;  // an error, or a device that takes nothing
        total += static_cast<size_t>(w);
        skip_written(pieces, count, static_cast<size_t>(w));
    }
    return total;
}

bool qor::write_all(int fd, const void* buffer, size_t n) {
    iovec piece{const_cast<void*>(buffer), n};
    return write_gather(fd, &piece, 1) == n;
}

bool qor::close_fd(int fd) { return close(fd) == 0 || errno == EINTR; }

namespace {

sigset_t sigpipe_only() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    return set;
}

bool sigpipe_pending() {
    sigset_t pending;
    return sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
}

}  // namespace

qor::QuietPipeWrites::QuietPipeWrites() {
    sigset_t pipe_only = sigpipe_only();
    pthread_sigmask(SIG_BLOCK, &pipe_only, &saved_mask_);
    pending_before_ = sigpipe_pending();
}

// The SIGPIPE a broken write raised is directed at this thread, where it is blocked, so it
// waits here to be taken; a zero timeout never waits when there is none.
qor::QuietPipeWrites::~QuietPipeWrites() {
    if (broke_pipe_ && !pending_before_) {
        sigset_t pipe_only = sigpipe_only();
        const timespec no_wait{0, 0};
        while (sigtimedwait(&pipe_only, nullptr, &no_wait) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &saved_mask_, nullptr);
}

bool qor::QuietPipeWrites::write_all(int fd, const void* buffer, size_t n) {
    if (qor::write_all(fd, buffer, n)) return true;
    if (errno == EPIPE) broke_pipe_ = true;
    return false;
}
