// Opening paths close-on-exec, and reads and writes that survive signals. Invariant: every
// descriptor that open_path returns has FD_CLOEXEC set from the moment it exists.
#include "system/descriptors.h"

#include <errno.h>
#include <fcntl.h>
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

bool qor::write_all(int fd, const void* buffer, size_t n) {
    const char* p = static_cast<const char*>(buffer);
    while (n > 0) {
        ssize_t w = write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;  // an error, or a device that takes nothing
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

bool qor::close_fd(int fd) { return close(fd) == 0 || errno == EINTR; }
