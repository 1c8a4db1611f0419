// Socket helpers shared by the blocking sockets and the event-driven client sockets, defined in
// socket.cpp: the socket record's life, IPv4 address resolution, and system calls that survive
// signals and non-blocking descriptors. Every socket descriptor the runtime holds comes from
// new_socket_record or accept_connection, both close-on-exec. Nothing here is exported.
#ifndef QOR_ASYNC_SOCKET_INTERNAL_H
#define QOR_ASYNC_SOCKET_INTERNAL_H

#include <netinet/in.h>
#include <sys/types.h>

#include "core/internal.h"

namespace qor::net {

// Size of every receive buffer; one receive fills at most kRecvBuffer - 1 bytes and a NUL.
constexpr int32_t kRecvBuffer = 4096;

// A zero-filled socket record holding a new close-on-exec IPv4 socket of type (SOCK_STREAM,
// SOCK_DGRAM), or null when either cannot be made (nothing is left behind).
QOR_INTERNAL QorSocket* new_socket_record(int type);

// Closes fd if it is open, frees the host copy and the record. Null does nothing.
QOR_INTERNAL void free_socket_record(QorSocket* s);

// Sends text up to its NUL on an open socket (send_all); nothing for a null or closed socket or
// a null text. The write of the blocking and the event-driven sockets alike.
QOR_INTERNAL void write_text(const QorSocket* s, const char* text);

// Unregisters the pending connect of s from the default loop and frees its wait record; nothing
// when s has none. Defined with the event-driven sockets; the socket close calls it before the
// descriptor goes.
QOR_INTERNAL void forget_pending_connect(const QorSocket* s);

// Fills out with host (dotted IPv4 first, else the first IPv4 result of name resolution for
// socktype) and the low 16 bits of port. False when the host cannot be resolved.
QOR_INTERNAL bool resolve_ipv4(const char* host, int socktype, int64_t port, sockaddr_in* out);

// Waits until fd reports one of events (POLLIN, POLLOUT), retrying on signals; false on error.
QOR_INTERNAL bool wait_ready(int fd, short events);

// A new close-on-exec descriptor for the next connection on listener, waiting for one (also on
// a non-blocking listener) and retrying after signals; peer gets its address. -1 on error.
QOR_INTERNAL int accept_connection(int listener, sockaddr_in* peer);

// Connects the blocking socket fd to addr; false when the connection failed.
QOR_INTERNAL bool connect_blocking(int fd, const sockaddr_in& addr);

// recvfrom retried on EINTR, and on a non-blocking descriptor first waited for with poll, so
// that a result <= 0 always means a closed peer or a real error. from may be null.
QOR_INTERNAL ssize_t recv_blocking(int fd, char* buffer, size_t n, sockaddr_in* from);

// recv retried on EINTR only: on a non-blocking descriptor -1 with EAGAIN means no data yet.
QOR_INTERNAL ssize_t recv_once(int fd, char* buffer, size_t n);

// Sends all n bytes: partial sends continue, signals retry, and a non-blocking socket is waited
// on until it has room. False at a real error such as a peer that went away; MSG_NOSIGNAL keeps
// that case from raising SIGPIPE and ending the process.
QOR_INTERNAL bool send_all(int fd, const char* text, size_t n);

// One datagram of n bytes to to, retried after signals: bytes sent, or -1.
QOR_INTERNAL ssize_t send_datagram(int fd, const char* text, size_t n, const sockaddr_in& to);

}  // namespace qor::net

#endif  // QOR_ASYNC_SOCKET_INTERNAL_H
