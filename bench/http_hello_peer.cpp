// The peer of examples/http_hello.c: the same HTTP/1.1 keep-alive hello server written directly
// on epoll, with nothing between the program and the kernel. Same shape as the runtime's
// server: one thread, level-triggered, at most 64 events per wait, one accept per listener
// event, one receive of at most 4095 bytes per readable event, one send per request.
//
// Usage: http_hello_peer [port]   (0 or none: the system chooses); prints "listening on PORT".
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr char kResponse[] =
    "HTTP/1.1 200 OK\r\n"
    "Content-Type: text/plain\r\n"
    "Content-Length: 13\r\n"
    "\r\n"
    "Hello, World!";
constexpr char kEnd[] = "\r\n\r\n";

// How much of the end of a request each descriptor has matched so far.
unsigned char g_matched[1 << 16];

int listen_on(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 4096) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

void serve(int epfd, int fd) {
    char buffer[4096];
    ssize_t n = recv(fd, buffer, sizeof buffer - 1, 0);
    if (n <= 0) {
        epoll_ctl(epfd, EPOLL_CTL_DEL, fd, nullptr);
        close(fd);
        return;
    }
    unsigned matched = g_matched[fd];
    for (ssize_t i = 0; i < n; i++) {
        matched = buffer[i] == kEnd[matched] ? matched + 1 : buffer[i] == '\r' ? 1 : 0;
        if (matched == 4) {
            send(fd, kResponse, sizeof kResponse - 1, MSG_NOSIGNAL);
            matched = 0;
        }
    }
    g_matched[fd] = static_cast<unsigned char>(matched);
}

}  // namespace

int main(int argc, char** argv) {
    int listener = listen_on(argc > 1 ? atoi(argv[1]) : 0);
    int epfd = epoll_create1(EPOLL_CLOEXEC);
    if (listener < 0 || epfd < 0) {
        fprintf(stderr, "http_hello_peer: cannot listen\n");
        return 1;
    }
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = listener;
    epoll_ctl(epfd, EPOLL_CTL_ADD, listener, &ev);
    sockaddr_in bound{};
    socklen_t len = sizeof bound;
    getsockname(listener, reinterpret_cast<sockaddr*>(&bound), &len);
    printf("listening on %d\n", ntohs(bound.sin_port));
    fflush(stdout);
    epoll_event events[64];
    for (;;) {
        int n = epoll_wait(epfd, events, 64, -1);
        for (int i = 0; i < n; i++) {
            int fd = events[i].data.fd;
            if (fd != listener) {
                serve(epfd, fd);
                continue;
            }
            int conn = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (conn < 0 || conn >= static_cast<int>(sizeof g_matched)) {
                if (conn >= 0) close(conn);
                continue;
            }
            g_matched[conn] = 0;
            ev.events = EPOLLIN;
            ev.data.fd = conn;
            epoll_ctl(epfd, EPOLL_CTL_ADD, conn, &ev);
        }
    }
}
