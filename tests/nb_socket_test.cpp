// Event-driven client sockets over 127.0.0.1: connects completed by later steps of the
// default loop, refused connects, reads that wait by stepping the loop (and let other work
// finish meanwhile), reads the loop cannot deliver, whole writes on non-blocking descriptors,
// and a thousand connections echoed through one default loop without leaking a descriptor.
#include <dirent.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string take(char* buffer) {
    if (buffer == nullptr) return "<null>";
    std::string text(buffer);
    free(buffer);
    return text;
}

// Steps the default loop until done() holds or five seconds pass; returns done().
bool step_until(const std::function<bool()>& done) {
    auto deadline = Clock::now() + std::chrono::seconds(5);
    while (!done() && Clock::now() < deadline) qor_event_loop_run_once(qor_get_event_loop(), 10);
    return done();
}

bool has_registration(int fd) {
    QorEventLoop* loop = g_event_loop;
    if (loop == nullptr) return false;
    for (int32_t i = 0; i < loop->slot_count; i++) {
        if (loop->slots[i].active && loop->slots[i].fd == fd) return true;
    }
    return false;
}

int count_open_fds() {
    int n = 0;
    DIR* d = opendir("/proc/self/fd");
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] != '.') n++;
    }
    closedir(d);
    return n;
}

void raise_fd_limit() {
    rlimit lim{};
    getrlimit(RLIMIT_NOFILE, &lim);
    lim.rlim_cur = lim.rlim_max;
    setrlimit(RLIMIT_NOFILE, &lim);
}

// A port where nothing listens (any more).
int64_t closed_port() {
    QorSocket* l = qor_async_socket_listen(0);
    int64_t port = qor_async_socket_port(l);
    qor_async_socket_close(l);
    return port;
}

}  // namespace

TEST(NbSocket, ConnectCompletesInALaterStepThenReadsWhatThePeerSent) {
    Watchdog watchdog;
    QorSocket* listener = qor_async_socket_listen(0);
    ASSERT_NE(listener, nullptr);
    QorSocket* s = qor_nb_socket_connect("127.0.0.1", qor_async_socket_port(listener));
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(qor_async_socket_host(s), "127.0.0.1");
    if (s->open == 0) {
        // Pending: a read gives up at once, and the registration waits for writability.
        auto start = Clock::now();
        EXPECT_EQ(qor_nb_socket_read(s), nullptr);
        EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(50));
        EXPECT_TRUE(has_registration(s->fd));
    }
    QorSocket* server = qor_async_socket_accept(listener);
    ASSERT_NE(server, nullptr);
    QorExecutor* ex = qor_executor_new();
    auto deadline = Clock::now() + std::chrono::seconds(5);
    while (s->open == 0 && Clock::now() < deadline) qor_executor_run(ex);
    qor_executor_free(ex);
    ASSERT_EQ(s->open, 1);
    EXPECT_FALSE(has_registration(s->fd));
    qor_async_socket_write(server, "abc");
    char* data = qor_nb_socket_read(s);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(strlen(data), 3u);
    EXPECT_EQ(take(data), "abc");
    EXPECT_FALSE(has_registration(s->fd));
    qor_async_socket_close(server);
    EXPECT_EQ(qor_nb_socket_read(s), nullptr);
    qor_async_socket_close(s);
    qor_async_socket_close(listener);
}

// A close while the connect is pending takes its registration along (the loop would otherwise
// call back into the freed socket), and the wait record too (the leak checker sees it).
TEST(NbSocket, ClosingAPendingConnectLeavesNoRegistration) {
    Watchdog watchdog;
    QorSocket* listener = qor_async_socket_listen(0);
    ASSERT_NE(listener, nullptr);
    int pending = 0;
    for (int i = 0; i < 200; i++) {
        QorSocket* s = qor_nb_socket_connect("127.0.0.1", qor_async_socket_port(listener));
        ASSERT_NE(s, nullptr);
        int fd = static_cast<int>(s->fd);
        pending += s->open == 0;
        qor_async_socket_close(s);
        EXPECT_FALSE(has_registration(fd)) << "connect " << i;
        QorSocket* server = qor_async_socket_accept(listener);
        qor_async_socket_close(server);
    }
    EXPECT_GT(pending, 0);
    EXPECT_EQ(qor_event_loop_run_once(qor_get_event_loop(), 0), 0);
    qor_async_socket_close(listener);
}

TEST(NbSocket, ConnectToAClosedPortEndsFailed) {
    Watchdog watchdog;
    QorSocket* s = qor_nb_socket_connect("127.0.0.1", closed_port());
    if (s != nullptr) {
        int fd = s->fd;
        EXPECT_TRUE(step_until([&] { return s->fd == -1; }));
        EXPECT_EQ(s->open, 0);
        EXPECT_FALSE(has_registration(fd));
        EXPECT_EQ(qor_nb_socket_read(s), nullptr);
        qor_async_socket_close(s);
    }
}

TEST(NbSocket, BadInputIsNeutral) {
    Watchdog watchdog;
    EXPECT_EQ(qor_nb_socket_connect(nullptr, 80), nullptr);
    EXPECT_EQ(qor_nb_socket_connect("no-such-host.invalid", 80), nullptr);
    EXPECT_EQ(qor_nb_socket_read(nullptr), nullptr);
    qor_nb_socket_write(nullptr, "x");
}

// The second connection's outcome is delivered by the loop steps of the first socket's read.
TEST(NbSocket, WaitingReadLetsAnotherConnectionComplete) {
    Watchdog watchdog;
    QorSocket* listener = qor_async_socket_listen(0);
    ASSERT_NE(listener, nullptr);
    int64_t port = qor_async_socket_port(listener);
    QorSocket* a = qor_nb_socket_connect("127.0.0.1", port);
    ASSERT_NE(a, nullptr);
    QorSocket* server_a = qor_async_socket_accept(listener);
    ASSERT_TRUE(step_until([&] { return a->open == 1; }));
    QorSocket* b = qor_nb_socket_connect("127.0.0.1", port);
    ASSERT_NE(b, nullptr);
    bool was_pending = b->open == 0;
    // The peer answers a only once b's handshake is through.
    std::thread peer([&] {
        QorSocket* server_b = qor_async_socket_accept(listener);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        qor_async_socket_write(server_a, "late");
        qor_async_socket_close(server_b);
    });
    EXPECT_EQ(take(qor_nb_socket_read(a)), "late");
    peer.join();
    if (was_pending) {
        EXPECT_EQ(b->open, 1);
    }
    EXPECT_FALSE(has_registration(b->fd));
    qor_async_socket_close(a);
    qor_async_socket_close(b);
    qor_async_socket_close(server_a);
    qor_async_socket_close(listener);
}

// A read the default loop could never deliver returns null at once instead of waiting for ever;
// a connect it could never complete fails at once and closes its socket.
TEST(NbSocket, ReadAndConnectGiveUpWhenTheLoopCannotDeliver) {
    Watchdog watchdog;
    raise_fd_limit();
    QorSocket* listener = qor_async_socket_listen(0);
    int64_t port = qor_async_socket_port(listener);
    QorSocket* s = qor_nb_socket_connect("127.0.0.1", port);
    QorSocket* server = qor_async_socket_accept(listener);
    ASSERT_TRUE(step_until([&] { return s->open == 1; }));
    qor_async_socket_write(server, "x");  // data is even ready: the loop is what is missing

    qor_event_loop_destroy(g_event_loop);
    QorEventLoop* full = qor_get_event_loop();
    int sv[2];
    ASSERT_EQ(pipe(sv), 0);
    std::vector<int> fds;
    for (int i = 0; i < QOR_EVENT_LOOP_SLOTS; i++) {
        fds.push_back(dup(sv[0]));
        ASSERT_EQ(qor_event_loop_register(
                      full, fds.back(), 0, [](void*, int64_t, int32_t) {}, nullptr),
                  0);
    }
    int before = count_open_fds();
    auto start = Clock::now();
    EXPECT_EQ(qor_nb_socket_read(s), nullptr);
    EXPECT_EQ(qor_nb_socket_connect("127.0.0.1", port), nullptr);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(100));
    EXPECT_EQ(count_open_fds(), before);
    qor_event_loop_destroy(full);
    EXPECT_EQ(g_event_loop, nullptr);
    for (int fd : fds) close(fd);

    qor_event_loop_stop(qor_get_event_loop());
    start = Clock::now();
    EXPECT_EQ(qor_nb_socket_read(s), nullptr);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(100));
    qor_event_loop_destroy(g_event_loop);
    // With a working loop again the data is still there.
    EXPECT_EQ(take(qor_nb_socket_read(s)), "x");
    close(sv[0]);
    close(sv[1]);
    qor_async_socket_close(s);
    qor_async_socket_close(server);
    qor_async_socket_close(listener);
}

namespace {
// Takes its own registration away, then fails with a panic.
void unregister_and_panic(void*, int64_t fd, int32_t) {
    qor_event_loop_unregister(g_event_loop, fd);
    static char text[] = "callback failed";
    static const QorString message = {text, sizeof text - 1, sizeof text - 1};
    qor_panic(&message);
}

// Reads s inside a foreign-call frame; true when a failure came back instead of data.
bool read_fails_into_frame(QorSocket* s) {
    volatile bool failed = true;
    if (qor_ffi_begin() == 0) {
        free(qor_nb_socket_read(s));
        failed = false;
    }
    qor_ffi_end();
    return failed;
}
}  // namespace

// A callback that fails into the host's frame while a read waits takes the read's registration
// with it, so data that arrives afterwards is still there for the next read.
TEST(NbSocket, FailingCallbackDuringAReadLeavesNoRegistration) {
    Watchdog watchdog;
    QorSocket* listener = qor_async_socket_listen(0);
    QorSocket* s = qor_nb_socket_connect("127.0.0.1", qor_async_socket_port(listener));
    QorSocket* server = qor_async_socket_accept(listener);
    ASSERT_TRUE(step_until([&] { return s->open == 1; }));
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    ASSERT_EQ(write(p[1], "x", 1), 1);
    ASSERT_EQ(qor_event_loop_register(g_event_loop, p[0], 1, unregister_and_panic, nullptr), 0);
    EXPECT_TRUE(read_fails_into_frame(s));
    EXPECT_STREQ(qor_ffi_error_message(), "callback failed");
    EXPECT_FALSE(has_registration(s->fd));
    qor_async_socket_write(server, "abc");
    for (int i = 0; i < 3; i++) qor_event_loop_run_once(g_event_loop, 20);
    char peek[4];
    ASSERT_EQ(recv(s->fd, peek, 3, MSG_PEEK | MSG_DONTWAIT), 3);
    EXPECT_EQ(take(qor_nb_socket_read(s)), "abc");
    close(p[0]);
    close(p[1]);
    qor_async_socket_close(s);
    qor_async_socket_close(server);
    qor_async_socket_close(listener);
}

// On the non-blocking descriptor a write waits for room instead of dropping what did not fit.
TEST(NbSocket, MegabyteWriteArrivesComplete) {
    Watchdog watchdog;
    QorSocket* listener = qor_async_socket_listen(0);
    QorSocket* s = qor_nb_socket_connect("127.0.0.1", qor_async_socket_port(listener));
    QorSocket* server = qor_async_socket_accept(listener);
    ASSERT_TRUE(step_until([&] { return s->open == 1; }));
    std::string big(1 << 20, 'x');
    for (size_t i = 0; i < big.size(); i++) big[i] = static_cast<char>('A' + i % 26);
    std::string got;
    std::thread reader([&] {
        while (got.size() < big.size()) {
            char* chunk = qor_async_socket_read(server);
            if (chunk == nullptr) break;
            got += take(chunk);
        }
    });
    qor_nb_socket_write(s, big.c_str());
    reader.join();
    EXPECT_EQ(got.size(), big.size());
    EXPECT_TRUE(got == big);
    qor_async_socket_close(s);
    qor_async_socket_close(server);
    qor_async_socket_close(listener);
}

namespace {

// An echo server driven entirely by the default loop: the listener's callback accepts, each
// connection's callback sends back what it received and closes when its peer goes away.
struct EchoServer {
    QorSocket* listener = nullptr;
    int accepted = 0;
    int closed = 0;
};
EchoServer g_echo;

void on_echo(void* user_data, int64_t fd, int32_t) {
    auto* conn = static_cast<QorSocket*>(user_data);
    char* data = qor_async_socket_read(conn);
    if (data == nullptr) {
        qor_event_loop_unregister(g_event_loop, fd);
        qor_async_socket_close(conn);
        g_echo.closed++;
        return;
    }
    qor_async_socket_write(conn, data);
    free(data);
}

void on_accept(void*, int64_t, int32_t) {
    QorSocket* conn = qor_async_socket_accept(g_echo.listener);
    ASSERT_NE(conn, nullptr);
    ASSERT_EQ(qor_event_loop_register(g_event_loop, conn->fd, 1, on_echo, conn), 0);
    g_echo.accepted++;
}

}  // namespace

TEST(NbSocket, ThousandConnectionsEchoThroughOneLoopWithoutLeaks) {
    Watchdog watchdog;
    constexpr int kConns = 1000;
    constexpr int kBatch = 16;  // pending connects + server connections stay within 1024 slots
    raise_fd_limit();
    qor_get_event_loop();
    int fds_before = count_open_fds();
    g_echo = EchoServer{};
    g_echo.listener = qor_async_socket_listen(0);
    ASSERT_NE(g_echo.listener, nullptr);
    int64_t port = qor_async_socket_port(g_echo.listener);
    ASSERT_EQ(qor_event_loop_register(g_event_loop, g_echo.listener->fd, 1, on_accept, nullptr), 0);

    std::vector<QorSocket*> clients;
    for (int i = 0; i < kConns; i += kBatch) {
        size_t first = clients.size();
        for (int j = i; j < i + kBatch && j < kConns; j++) {
            QorSocket* c = qor_nb_socket_connect("127.0.0.1", port);
            ASSERT_NE(c, nullptr);
            clients.push_back(c);
        }
        ASSERT_TRUE(step_until([&] {
            for (size_t k = first; k < clients.size(); k++) {
                if (clients[k]->open != 1) return false;
            }
            return true;
        }));
    }
    ASSERT_TRUE(step_until([&] { return g_echo.accepted == kConns; }));

    std::vector<std::string> sent(kConns);
    for (int i = 0; i < kConns; i++) {
        sent[i] = "conn " + std::to_string(i) + ":" + std::string(100 + i % 50, 'a' + i % 26);
        qor_nb_socket_write(clients[i], sent[i].c_str());
    }
    for (int i = 0; i < kConns; i++) {
        std::string got;
        while (got.size() < sent[i].size()) {
            char* chunk = qor_nb_socket_read(clients[i]);
            ASSERT_NE(chunk, nullptr) << i;
            got += take(chunk);
        }
        ASSERT_EQ(got, sent[i]) << i;
    }

    for (QorSocket* c : clients) qor_async_socket_close(c);
    EXPECT_TRUE(step_until([&] { return g_echo.closed == kConns; }));
    EXPECT_EQ(qor_event_loop_unregister(g_event_loop, g_echo.listener->fd), 0);
    qor_async_socket_close(g_echo.listener);
    EXPECT_EQ(count_open_fds(), fds_before);
}
