// TCP echo over loopback: the event-driven client sockets (non-blocking connect, reads that
// step the default loop) against their peer, the same exchange written directly on a blocking
// socket with send and recv. One echo server thread per connection serves both.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "qor_runtime.h"

namespace {

constexpr size_t kMessage = 4000;

// Accepts connections on listener for ever, echoing each on its own thread.
void serve(int listener) {
    for (;;) {
        int fd = accept(listener, nullptr, nullptr);
        if (fd < 0) return;
        std::thread([fd] {
            char buf[65536];
            for (;;) {
                ssize_t n = recv(fd, buf, sizeof(buf), 0);
                if (n <= 0) break;
                for (ssize_t off = 0; off < n;) {
                    ssize_t w = send(fd, buf + off, static_cast<size_t>(n - off), MSG_NOSIGNAL);
                    if (w <= 0) break;
                    off += w;
                }
            }
            close(fd);
        }).detach();
    }
}

int start_server() {
    static int port = 0;
    if (port != 0) return port;
    int l = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(addr);
    if (bind(l, reinterpret_cast<sockaddr*>(&addr), len) != 0 || listen(l, 16) != 0) abort();
    getsockname(l, reinterpret_cast<sockaddr*>(&addr), &len);
    port = ntohs(addr.sin_port);
    std::thread(serve, l).detach();
    return port;
}

const std::string& message() {
    static const std::string text(kMessage, 'q');
    return text;
}

__attribute__((noinline)) size_t nb_exchange(QorSocket* s, const char* text, size_t n) {
    qor_nb_socket_write(s, text);
    size_t got = 0;
    while (got < n) {
        char* chunk = qor_nb_socket_read(s);
        if (chunk == nullptr) break;
        got += strlen(chunk);
        free(chunk);
    }
    return got;
}

__attribute__((noinline)) size_t raw_exchange(int fd, const char* text, size_t n) {
    for (size_t off = 0; off < n;) {
        ssize_t w = send(fd, text + off, n - off, 0);
        if (w <= 0) return 0;
        off += static_cast<size_t>(w);
    }
    char buf[4096];
    size_t got = 0;
    while (got < n) {
        ssize_t r = recv(fd, buf, sizeof(buf) - 1, 0);
        if (r <= 0) break;
        got += static_cast<size_t>(r);
    }
    return got;
}

void BM_EchoEventDriven(benchmark::State& state) {
    int port = start_server();
    QorSocket* s = qor_nb_socket_connect("127.0.0.1", port);
    while (s != nullptr && s->open == 0 && s->fd >= 0) {
        qor_event_loop_run_once(qor_get_event_loop(), 10);
    }
    if (s == nullptr || s->open != 1) {
        state.SkipWithError("connect failed");
        return;
    }
    const std::string& text = message();
    for (auto _ : state) {
        if (nb_exchange(s, text.c_str(), text.size()) != text.size()) {
            state.SkipWithError("short echo");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
    qor_async_socket_close(s);
}

void BM_EchoBlockingPeer(benchmark::State& state) {
    int port = start_server();
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        state.SkipWithError("connect failed");
        return;
    }
    const std::string& text = message();
    for (auto _ : state) {
        if (raw_exchange(fd, text.c_str(), text.size()) != text.size()) {
            state.SkipWithError("short echo");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
    close(fd);
}

}  // namespace

BENCHMARK(BM_EchoEventDriven)->UseRealTime();
BENCHMARK(BM_EchoBlockingPeer)->UseRealTime();
BENCHMARK_MAIN();
