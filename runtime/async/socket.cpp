// The socket helpers behind the blocking and the event-driven sockets: the one place the
// runtime makes a socket descriptor (a new socket or an accepted connection), and the blocking
// calls on one. Every socket descriptor is close-on-exec from the moment it exists, so no child
// process inherits a listener or a connection; every blocking call goes on after a signal.
#include <arpa/inet.h>
#include <errno.h>
#include <netdb.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "async/socket_internal.h"

namespace net = qor::net;

QorSocket* net::new_socket_record(int type) {
    auto* s = static_cast<QorSocket*>(calloc(1, sizeof(QorSocket)));
    if (s == nullptr) return nullptr;
    s->fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (s->fd < 0) {
        free(s);
        return nullptr;
    }
    return s;
}

void net::free_socket_record(QorSocket* s) {
    if (s == nullptr) return;
    if (s->fd >= 0) close(s->fd);
    s->fd = -1;
    free(s->host);
    free(s);
}

void net::write_text(const QorSocket* s, const char* text) {
    if (s == nullptr || text == nullptr || !s->open) return;
    send_all(s->fd, text, strlen(text));
}

bool net::resolve_ipv4(const char* host, int socktype, int64_t port, sockaddr_in* out) {
    memset(out, 0, sizeof(*out));
    out->sin_family = AF_INET;
    out->sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, host, &out->sin_addr) == 1) return true;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = socktype;
    addrinfo* found = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &found) != 0 || found == nullptr) return false;
    out->sin_addr = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return true;
}

bool net::wait_ready(int fd, short events) {
    pollfd p{fd, events, 0};
    for (;;) {
        int r = poll(&p, 1, -1);
        if (r > 0) return true;
        if (r < 0 && errno != EINTR) return false;
    }
}

int net::accept_connection(int listener, sockaddr_in* peer) {
    for (;;) {
        socklen_t len = sizeof(sockaddr_in);
        int fd = accept4(listener, reinterpret_cast<sockaddr*>(peer), &len, SOCK_CLOEXEC);
        if (fd >= 0) return fd;
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
        if (!wait_ready(listener, POLLIN)) return -1;
    }
}

// A connect interrupted by a signal goes on in the kernel, so its outcome is awaited
// (writability, then the pending error) rather than reported as a failure.
bool net::connect_blocking(int fd, const sockaddr_in& addr) {
    if (connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) == 0) return true;
    if (errno != EINTR) return false;
    if (!wait_ready(fd, POLLOUT)) return false;
    int err = 0;
    socklen_t len = sizeof(err);
    return getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
}

ssize_t net::recv_blocking(int fd, char* buffer, size_t n, sockaddr_in* from) {
    for (;;) {
        socklen_t from_len = sizeof(sockaddr_in);
        ssize_t r = recvfrom(fd, buffer, n, 0, reinterpret_cast<sockaddr*>(from),
                             from == nullptr ? nullptr : &from_len);
        if (r >= 0) return r;
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
        if (!wait_ready(fd, POLLIN)) return -1;
    }
}

ssize_t net::recv_once(int fd, char* buffer, size_t n) {
    for (;;) {
        ssize_t r = recv(fd, buffer, n, 0);
        if (r >= 0 || errno != EINTR) return r;
    }
}

bool net::send_all(int fd, const char* text, size_t n) {
    while (n > 0) {
        ssize_t sent = send(fd, text, n, MSG_NOSIGNAL);
        if (sent > 0) {
            text += sent;
            n -= static_cast<size_t>(sent);
        } else if (sent < 0 && errno == EINTR) {
            continue;
        } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!wait_ready(fd, POLLOUT)) return false;
        } else {
            return false;
        }
    }
    return true;
}

ssize_t net::send_datagram(int fd, const char* text, size_t n, const sockaddr_in& to) {
    for (;;) {
        ssize_t sent = sendto(fd, text, n, 0, reinterpret_cast<const sockaddr*>(&to), sizeof(to));
        if (sent >= 0 || errno != EINTR) return sent;
    }
}
