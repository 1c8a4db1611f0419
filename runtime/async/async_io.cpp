// Files read whole and overwritten from the start, and IPv4 TCP and UDP sockets. Despite the
// asynchronous names every operation completes on the calling thread with ordinary blocking
// calls. Texts are NUL-terminated; received data is a malloc'd NUL-terminated buffer that the
// caller owns; records are malloc'd and freed by their close or free operation.
// Invariants: every failure path closes the descriptors and frees the records the failing call
// made; a writer sends every byte of its text or stops at a real error; signals never turn a
// blocking call into a failure or a closed peer.
#include <arpa/inet.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>

#include "async/socket_internal.h"
#include "system/read_stream.h"

static_assert(sizeof(QorAsyncFile) == 24);
static_assert(offsetof(QorAsyncFile, stream) == 0);
static_assert(offsetof(QorAsyncFile, path) == 8);
static_assert(offsetof(QorAsyncFile, open) == 16);
static_assert(sizeof(QorSocket) == 24);
static_assert(offsetof(QorSocket, fd) == 0);
static_assert(offsetof(QorSocket, host) == 8);
static_assert(offsetof(QorSocket, port) == 16);
static_assert(offsetof(QorSocket, open) == 20);
static_assert(sizeof(QorUdpPacket) == 24);
static_assert(offsetof(QorUdpPacket, payload) == 0);
static_assert(offsetof(QorUdpPacket, host) == 8);
static_assert(offsetof(QorUdpPacket, port) == 16);
static_assert(offsetof(QorUdpPacket, len) == 20);

namespace net = qor::net;

namespace {

constexpr int kListenBacklog = 4096;

// The peer's dotted IPv4 address as a new heap text, or null.
char* dotted_copy(const sockaddr_in& addr) {
    char text[INET_ADDRSTRLEN] = {0};
    if (inet_ntop(AF_INET, &addr.sin_addr, text, sizeof(text)) == nullptr) return nullptr;
    return strdup(text);
}

// A socket of type bound to 0.0.0.0:port with SO_REUSEADDR (listening when type is a stream),
// whose port is the one the system reports; null on failure.
QorSocket* bind_any(int type, int64_t port) {
    QorSocket* s = net::new_socket_record(type);
    if (s == nullptr) return nullptr;
    int one = 1;
    setsockopt(s->fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (bind(s->fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0 ||
        (type == SOCK_STREAM && listen(s->fd, kListenBacklog) != 0)) {
        net::free_socket_record(s);
        return nullptr;
    }
    s->host = strdup("0.0.0.0");
    if (s->host == nullptr) {
        net::free_socket_record(s);
        return nullptr;
    }
    sockaddr_in bound{};
    socklen_t len = sizeof(bound);
    bool named = getsockname(s->fd, reinterpret_cast<sockaddr*>(&bound), &len) == 0;
    s->port = named ? ntohs(bound.sin_port) : static_cast<int32_t>(port);
    s->open = 1;
    return s;
}

// A 4096-byte buffer holding one receive of at most 4095 bytes and a NUL, or null when
// nothing arrived (closed peer, empty datagram, error). received gets the byte count.
char* receive_buffer(int fd, sockaddr_in* from, int32_t* received) {
    auto* buffer = static_cast<char*>(malloc(net::kRecvBuffer));
    if (buffer == nullptr) return nullptr;
    ssize_t n = net::recv_blocking(fd, buffer, net::kRecvBuffer - 1, from);
    if (n <= 0) {
        free(buffer);
        return nullptr;
    }
    buffer[n] = '\0';
    *received = static_cast<int32_t>(n);
    return buffer;
}

}  // namespace

// ---- Files ----

extern "C" QOR_API QorAsyncFile* qor_async_file_open(const char* path) {
    if (path == nullptr) return nullptr;
    auto* file = static_cast<QorAsyncFile*>(calloc(1, sizeof(QorAsyncFile)));
    if (file == nullptr) return nullptr;
    // "e": the stream's descriptor is close-on-exec, like every descriptor the runtime opens.
    FILE* stream = fopen(path, "r+e");
    if (stream == nullptr) stream = fopen(path, "re");
    if (stream == nullptr) stream = fopen(path, "w+e");
    char* copy = stream == nullptr ? nullptr : strdup(path);
    if (copy == nullptr) {
        if (stream != nullptr) fclose(stream);
        free(file);
        return nullptr;
    }
    // Unbuffered, so that a write cut short by a signal can be resumed exactly where it
    // stopped: a buffered stream discards what a failed flush did not write.
    setvbuf(stream, nullptr, _IONBF, 0);
    file->stream = stream;
    file->path = copy;
    file->open = 1;
    return file;
}

// Every read starts at the beginning of the file; an empty file gives a buffer holding NUL.
extern "C" QOR_API char* qor_async_file_read(QorAsyncFile* file) {
    if (file == nullptr || !file->open || file->stream == nullptr) return nullptr;
    auto* stream = static_cast<FILE*>(file->stream);
    if (fseek(stream, 0, SEEK_END) != 0) return nullptr;
    long n = ftell(stream);
    if (n < 0 || fseek(stream, 0, SEEK_SET) != 0) return nullptr;
    auto* buffer = static_cast<char*>(malloc(static_cast<size_t>(n) + 1));
    if (buffer == nullptr) return nullptr;
    size_t got = qor::read_up_to(stream, buffer, static_cast<size_t>(n));
    buffer[got] = '\0';
    return buffer;
}
QOR_PLAIN_ALIAS(qor_nb_file_read, qor_async_file_read);

// Overwrites from the start and does not truncate: "hi" over "hello" leaves "hillo".
// A file opened read-only accepts no writes, silently. A stream that cannot seek (a FIFO, a
// terminal) still takes the text, where it stands, rather than dropping it, and a signal
// while it waits for room does not cut the text short.
extern "C" QOR_API void qor_async_file_write(QorAsyncFile* file, const char* text) {
    if (file == nullptr || text == nullptr || !file->open || file->stream == nullptr) return;
    auto* stream = static_cast<FILE*>(file->stream);
    fseek(stream, 0, SEEK_SET);
    size_t n = strlen(text);
    for (size_t done = 0; done < n;) {
        done += fwrite(text + done, 1, n - done, stream);
        if (done < n && !qor::retry_after_signal(stream)) break;
    }
    fflush(stream);
}
QOR_PLAIN_ALIAS(qor_nb_file_write, qor_async_file_write);

extern "C" QOR_API void qor_async_file_close(QorAsyncFile* file) {
    if (file == nullptr) return;
    if (file->stream != nullptr) fclose(static_cast<FILE*>(file->stream));
    free(file->path);
    free(file);
}

// ---- TCP ----

extern "C" QOR_API QorSocket* qor_async_socket_connect(const char* host, int64_t port) {
    if (host == nullptr) return nullptr;
    QorSocket* s = net::new_socket_record(SOCK_STREAM);
    if (s == nullptr) return nullptr;
    sockaddr_in addr;
    if (!net::resolve_ipv4(host, SOCK_STREAM, port, &addr) || !net::connect_blocking(s->fd, addr) ||
        (s->host = strdup(host)) == nullptr) {
        net::free_socket_record(s);
        return nullptr;
    }
    s->port = static_cast<int32_t>(port);
    s->open = 1;
    return s;
}

extern "C" QOR_API QorSocket* qor_async_socket_listen(int64_t port) {
    return bind_any(SOCK_STREAM, port);
}

// Blocks until a connection arrives (also on a non-blocking listener).
extern "C" QOR_API QorSocket* qor_async_socket_accept(QorSocket* listener) {
    if (listener == nullptr || !listener->open) return nullptr;
    sockaddr_in peer{};
    int fd = net::accept_connection(listener->fd, &peer);
    if (fd < 0) return nullptr;
    auto* s = static_cast<QorSocket*>(calloc(1, sizeof(QorSocket)));
    if (s == nullptr) {
        close(fd);
        return nullptr;
    }
    s->fd = fd;
    s->host = dotted_copy(peer);
    if (s->host == nullptr) {
        net::free_socket_record(s);
        return nullptr;
    }
    s->port = ntohs(peer.sin_port);
    s->open = 1;
    return s;
}

// What one receive delivered, not a whole message.
extern "C" QOR_API char* qor_async_socket_read(QorSocket* socket) {
    if (socket == nullptr || !socket->open) return nullptr;
    int32_t received = 0;
    return receive_buffer(socket->fd, nullptr, &received);
}

// Stops silently at a real error such as a peer that went away (no SIGPIPE).
extern "C" QOR_API void qor_async_socket_write(QorSocket* socket, const char* text) {
    net::write_text(socket, text);
}

// A connect still pending leaves the default loop first, so the loop never calls back into the
// freed record.
extern "C" QOR_API void qor_async_socket_close(QorSocket* socket) {
    if (socket != nullptr) net::forget_pending_connect(socket);
    net::free_socket_record(socket);
}

extern "C" QOR_API const char* qor_async_socket_host(const QorSocket* socket) {
    return socket == nullptr ? nullptr : socket->host;
}

extern "C" QOR_API int64_t qor_async_socket_port(const QorSocket* socket) {
    return socket == nullptr ? 0 : socket->port;
}

// ---- UDP ----

extern "C" QOR_API QorSocket* qor_async_udp_bind(int64_t port) {
    return bind_any(SOCK_DGRAM, port);
}

extern "C" QOR_API int64_t qor_async_udp_sendto(QorSocket* socket, const char* host, int64_t port,
                                                const char* text) {
    if (socket == nullptr || host == nullptr || text == nullptr || !socket->open) return -1;
    sockaddr_in addr;
    if (!net::resolve_ipv4(host, SOCK_DGRAM, port, &addr)) return -1;
    return net::send_datagram(socket->fd, text, strlen(text), addr);
}

// A datagram longer than 4095 bytes is cut; an empty one gives null.
extern "C" QOR_API char* qor_async_udp_recv(QorSocket* socket) {
    if (socket == nullptr || !socket->open) return nullptr;
    int32_t received = 0;
    return receive_buffer(socket->fd, nullptr, &received);
}

extern "C" QOR_API QorUdpPacket* qor_async_udp_recvfrom(QorSocket* socket) {
    if (socket == nullptr || !socket->open) return nullptr;
    sockaddr_in from{};
    int32_t received = 0;
    char* payload = receive_buffer(socket->fd, &from, &received);
    if (payload == nullptr) return nullptr;
    auto* packet = static_cast<QorUdpPacket*>(malloc(sizeof(QorUdpPacket)));
    char* host = packet == nullptr ? nullptr : dotted_copy(from);
    if (host == nullptr) {
        free(packet);
        free(payload);
        return nullptr;
    }
    packet->payload = payload;
    packet->host = host;
    packet->port = ntohs(from.sin_port);
    packet->len = received;
    return packet;
}

QOR_PLAIN_ALIAS(qor_async_udp_close, qor_async_socket_close);

extern "C" QOR_API const char* qor_udp_packet_payload(const QorUdpPacket* packet) {
    return packet == nullptr ? nullptr : packet->payload;
}

extern "C" QOR_API const char* qor_udp_packet_host(const QorUdpPacket* packet) {
    return packet == nullptr ? nullptr : packet->host;
}

extern "C" QOR_API int64_t qor_udp_packet_port(const QorUdpPacket* packet) {
    return packet == nullptr ? 0 : packet->port;
}

extern "C" QOR_API int64_t qor_udp_packet_len(const QorUdpPacket* packet) {
    return packet == nullptr ? 0 : packet->len;
}

extern "C" QOR_API void qor_udp_packet_free(QorUdpPacket* packet) {
    if (packet == nullptr) return;
    free(packet->payload);
    free(packet->host);
    free(packet);
}
