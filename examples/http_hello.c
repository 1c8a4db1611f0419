/* An HTTP/1.1 keep-alive server that answers every request with a 13-byte "Hello, World!",
 * written as a compiled qor program would write it: every service comes from the runtime's
 * exported functions (sockets, the event loop, strings, console), driven by one thread.
 *
 * Usage: http_hello [port]   (port 0 or none: the system chooses)
 * Prints "listening on PORT" once the listener is registered, then serves until killed.
 * A request ends at its first empty line; requests may span reads or share one. */
#include <stdint.h>
#include <stdlib.h>

#include "qor_runtime.h"

static const char kResponse[] =
    "HTTP/1.1 200 OK\r\n"
    "Content-Type: text/plain\r\n"
    "Content-Length: 13\r\n"
    "\r\n"
    "Hello, World!";

/* One accepted connection: its socket and how much of the "\r\n\r\n" that ends a request
 * the bytes so far have matched (0 to 3). */
typedef struct Connection {
    QorSocket* socket;
    int64_t matched;
} Connection;

static QorEventLoop* g_loop;
static QorSocket* g_listener;

static void close_connection(Connection* c, int64_t fd) {
    qor_event_loop_unregister(g_loop, fd);
    qor_async_socket_close(c->socket);
    free(c);
}

/* Reads what arrived and answers each request it completes; a closed or failed peer ends the
 * connection. */
static void on_request_bytes(void* user_data, int64_t fd, int32_t events) {
    (void)events;
    Connection* c = user_data;
    char* data = qor_async_socket_read(c->socket);
    if (data == NULL) {
        close_connection(c, fd);
        return;
    }
    static const char kEnd[] = "\r\n\r\n";
    int64_t matched = c->matched;
    for (const char* p = data; *p != '\0'; p++) {
        if (*p == kEnd[matched]) {
            matched++;
        } else {
            matched = *p == '\r' ? 1 : 0;
        }
        if (matched == 4) {
            qor_async_socket_write(c->socket, kResponse);
            matched = 0;
        }
    }
    c->matched = matched;
    free(data);
}

/* The listener is readable: one connection is waiting, so accepting does not block. */
static void on_connection(void* user_data, int64_t fd, int32_t events) {
    (void)user_data;
    (void)fd;
    (void)events;
    QorSocket* socket = qor_async_socket_accept(g_listener);
    if (socket == NULL) return;
    Connection* c = qor_calloc(1, sizeof *c);
    if (c == NULL) {
        qor_async_socket_close(socket);
        return;
    }
    c->socket = socket;
    if (qor_event_loop_register(g_loop, socket->fd, QOR_EVENT_READABLE, on_request_bytes, c) != 0) {
        qor_async_socket_close(socket);
        free(c);
    }
}

int main(int argc, char** argv) {
    qor_init_runtime(argc, argv);
    int64_t port = qor_arg_count() > 1 ? qor_parse_int(qor_get_arg(1)) : 0;
    g_listener = qor_async_socket_listen(port);
    g_loop = qor_get_event_loop();
    if (g_listener == NULL || g_loop == NULL ||
        qor_event_loop_register(g_loop, g_listener->fd, QOR_EVENT_READABLE, on_connection, NULL) !=
            0) {
        qor_puts_cstr("http_hello: cannot listen");
        return 1;
    }
    QorString* line = qor_string_concat3(qor_string_from_cstr("listening on "),
                                         qor_int_to_string(qor_async_socket_port(g_listener)),
                                         qor_string_from_cstr("\n"));
    qor_write_stdout(line);
    for (;;) qor_event_loop_run_once(g_loop, -1);
}
