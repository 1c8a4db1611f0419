// Event-driven TCP client sockets: a non-blocking connect completed by the default event loop,
// and a read that steps that loop until its data arrives, so that other registered work goes
// on meanwhile. The socket is the ordinary socket record, closed with qor_async_socket_close.
// Invariants: a wait record is freed exactly once, the connect record by its callback (or by
// the socket's close while the connect is pending) and the read record by the read (or, when a
// callback fails into a foreign-call frame while the read waits, by the read's cleanup hook); a
// socket's descriptor is registered on the default loop only while its connection is pending or a
// read on it is waiting.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "async/socket_internal.h"

namespace net = qor::net;

namespace {

constexpr int32_t kReadWaitMs = 100;

// One pending connection: its socket and whether the outcome is known.
struct ConnectWait {
    QorSocket* socket;
    int32_t done;
};

// One waiting read: the socket, the buffer the data lands in, and the receive's result.
struct ReadWait {
    QorSocket* socket;
    char* buffer;
    int32_t buffer_size;
    int32_t received;
    int32_t done;
};

// Marks a failed connection: descriptor closed, fd -1, open 0.
void fail_connection(QorSocket* s) {
    if (s->fd >= 0) close(s->fd);
    s->fd = -1;
    s->open = 0;
}

// The outcome of a pending connect. Error or hang-up fails it; writability settles it by the
// socket's pending error; readable alone changes nothing and keeps the registration.
void on_connect_ready(void* user_data, int64_t fd, int32_t events) {
    auto* wait = static_cast<ConnectWait*>(user_data);
    if (wait->done) return;
    if ((events & (QOR_EVENT_ERROR | QOR_EVENT_WRITABLE)) == 0) return;
    // Unregister before closing, so that the number cannot be reused by another thread's
    // descriptor in between.
    qor_event_loop_unregister(g_event_loop, fd);
    QorSocket* s = wait->socket;
    if (events & QOR_EVENT_ERROR) {
        fail_connection(s);
    } else {
        int err = 0;
        socklen_t len = sizeof(err);
        if (getsockopt(s->fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) {
            fail_connection(s);
        } else {
            s->open = 1;
        }
    }
    wait->done = 1;
    free(wait);
}

// One receive once the socket is readable or failed. A readiness that no longer holds (the
// data was taken meanwhile) keeps waiting rather than reading as a closed peer.
void on_recv_ready(void* user_data, int64_t fd, int32_t events) {
    auto* wait = static_cast<ReadWait*>(user_data);
    if ((events & (QOR_EVENT_READABLE | QOR_EVENT_ERROR)) == 0 || wait->done) return;
    ssize_t n = net::recv_once(static_cast<int>(fd), wait->buffer,
                               static_cast<size_t>(wait->buffer_size - 1));
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    wait->received = static_cast<int32_t>(n);
    if (n > 0) wait->buffer[n] = '\0';
    wait->done = 1;
    qor_event_loop_unregister(g_event_loop, fd);
}

// A read in progress: what its cleanup needs, kept apart from the socket, which a callback may
// close while the read waits.
struct PendingRead {
    QorEventLoop* loop;
    int fd;
    ReadWait* wait;
    QorUnwindHook hook;
};

// Removes the read's registration if the loop still exists and still holds it for this read;
// a registration a callback has since given to other work is left alone.
void drop_read_registration(const PendingRead* read) {
    QorEventLoop* loop = read->loop;
    if (g_event_loop != loop || read->wait->done) return;
    for (int32_t i = 0; i < loop->slot_count; i++) {
        const QorEventSlot& s = loop->slots[i];
        if (s.active && s.fd == read->fd) {
            if (s.callback == on_recv_ready && s.user_data == read->wait) {
                qor_event_loop_unregister(loop, read->fd);
            }
            return;
        }
    }
}

// Run when a callback fails into a foreign-call frame while the read waits: the registration
// goes, so later data stays on the socket, and the wait record and its buffer are freed.
void abandon_read(void* arg) {
    auto* read = static_cast<PendingRead*>(arg);
    drop_read_registration(read);
    free(read->wait->buffer);
    free(read->wait);
}

// Steps loop until wait is done; false when the loop can no longer deliver it (stopped,
// destroyed by a callback, or its wait failing for a reason other than a signal).
bool step_until_done(QorEventLoop* loop, const ReadWait* wait) {
    while (!wait->done) {
        int32_t r = qor_event_loop_run_once(loop, kReadWaitMs);
        if (wait->done) return true;
        if (g_event_loop != loop) return false;
        if (loop->stopped || (r < 0 && errno != EINTR)) return false;
    }
    return true;
}

}  // namespace

// A socket closed while its connect is still pending has a registration on the default loop
// whose record points at it: both go now, so the loop never calls back into a freed socket and
// the wait record is not lost. A pending socket is one not yet open with a live descriptor.
void net::forget_pending_connect(const QorSocket* s) {
    QorEventLoop* loop = g_event_loop;
    if (loop == nullptr || s->open || s->fd < 0) return;
    for (int32_t i = 0; i < loop->slot_count; i++) {
        const QorEventSlot& slot = loop->slots[i];
        if (!slot.active || slot.fd != s->fd) continue;
        auto* wait = static_cast<ConnectWait*>(slot.user_data);
        if (slot.callback != on_connect_ready || wait->socket != s) return;
        qor_event_loop_unregister(loop, s->fd);
        free(wait);
        return;
    }
}

// Returns at once; the connection completes while something steps the default loop
// (an executor run, a block-on, a waiting qor_nb_socket_read, or a direct run_once).
extern "C" QOR_API QorSocket* qor_nb_socket_connect(const char* host, int64_t port) {
    if (host == nullptr) return nullptr;
    QorSocket* s = net::new_socket_record(SOCK_STREAM);
    if (s == nullptr) return nullptr;
    int flags = fcntl(s->fd, F_GETFL);
    if (flags >= 0) fcntl(s->fd, F_SETFL, flags | O_NONBLOCK);
    sockaddr_in addr;
    if (!net::resolve_ipv4(host, SOCK_STREAM, port, &addr) || (s->host = strdup(host)) == nullptr) {
        net::free_socket_record(s);
        return nullptr;
    }
    s->port = static_cast<int32_t>(port);
    s->open = 0;
    if (connect(s->fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) == 0) {
        s->open = 1;
        return s;
    }
    // A connect interrupted by a signal goes on in the kernel just like one in progress.
    if (errno != EINPROGRESS && errno != EINTR) {
        net::free_socket_record(s);
        return nullptr;
    }
    // A connection that nothing would ever complete is reported now rather than left pending.
    auto* wait = static_cast<ConnectWait*>(malloc(sizeof(ConnectWait)));
    QorEventLoop* loop = wait == nullptr ? nullptr : qor_get_event_loop();
    if (loop == nullptr) {
        free(wait);
        net::free_socket_record(s);
        return nullptr;
    }
    wait->socket = s;
    wait->done = 0;
    if (qor_event_loop_register(loop, s->fd, QOR_EVENT_WRITABLE, on_connect_ready, wait) != 0) {
        qor_event_loop_unregister(loop, s->fd);
        free(wait);
        net::free_socket_record(s);
        return nullptr;
    }
    return s;
}

// Null at once for a socket not connected (yet), and when the default loop cannot deliver the
// data: missing, stopped, full, or refusing the descriptor.
extern "C" QOR_API char* qor_nb_socket_read(QorSocket* socket) {
    if (socket == nullptr || !socket->open) return nullptr;
    auto* wait = static_cast<ReadWait*>(calloc(1, sizeof(ReadWait)));
    if (wait == nullptr) return nullptr;
    wait->buffer = static_cast<char*>(malloc(net::kRecvBuffer));
    if (wait->buffer == nullptr) {
        free(wait);
        return nullptr;
    }
    wait->socket = socket;
    wait->buffer_size = net::kRecvBuffer;
    QorEventLoop* loop = qor_get_event_loop();
    bool delivered = false;
    if (loop != nullptr && !loop->stopped) {
        PendingRead read{loop, socket->fd, wait, {}};
        if (qor_event_loop_register(loop, read.fd, QOR_EVENT_READABLE, on_recv_ready, wait) == 0) {
            qor_unwind_push(&read.hook, abandon_read, &read);
            delivered = step_until_done(loop, wait);
            qor_unwind_pop(&read.hook);
        }
        // Gives back a slot left filled by a refused or abandoned wait; a loop destroyed
        // meanwhile took its slots with it.
        if (!delivered) drop_read_registration(&read);
    }
    char* data = wait->buffer;
    if (!delivered || wait->received <= 0) {
        free(data);
        data = nullptr;
    }
    free(wait);
    return data;
}

extern "C" QOR_API void qor_nb_socket_write(QorSocket* socket, const char* text) {
    net::write_text(socket, text);
}
