// Files read whole and overwritten in place, TCP and UDP sockets on 127.0.0.1 with
// system-chosen ports, whole writes, and blocking calls that survive signals.
#include <arpa/inet.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace {

// A scratch directory removed with its files at the end of the test.
struct ScratchDir {
    std::string path;
    ScratchDir() {
        char tmpl[] = "/tmp/qor_async_io_XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~ScratchDir() { system(("rm -rf " + path).c_str()); }
    std::string file(const char* name) const { return path + "/" + name; }
};

// Takes a malloc'd buffer returned by the runtime, frees it, and gives its text.
std::string take(char* buffer) {
    if (buffer == nullptr) return "<null>";
    std::string text(buffer);
    free(buffer);
    return text;
}

std::string read_file(const std::string& path) {
    QorAsyncFile* f = qor_async_file_open(path.c_str());
    std::string text = take(qor_async_file_read(f));
    qor_async_file_close(f);
    return text;
}

// A connected pair: a client from qor_async_socket_connect and the accepted server end.
struct TcpPair {
    QorSocket* listener = qor_async_socket_listen(0);
    QorSocket* client = nullptr;
    QorSocket* server = nullptr;
    TcpPair() {
        EXPECT_NE(listener, nullptr);
        client = qor_async_socket_connect("127.0.0.1", qor_async_socket_port(listener));
        EXPECT_NE(client, nullptr);
        server = qor_async_socket_accept(listener);
        EXPECT_NE(server, nullptr);
    }
    ~TcpPair() {
        qor_async_socket_close(client);
        qor_async_socket_close(server);
        qor_async_socket_close(listener);
    }
};

}  // namespace

// A missing file is created empty; existing content is read whole from the start every time
// and overwritten in place without truncation.
TEST(AsyncFile, CreatesReadsAndOverwritesInPlace) {
    ScratchDir dir;
    std::string path = dir.file("a.txt");
    QorAsyncFile* f = qor_async_file_open(path.c_str());
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->open, 1);
    EXPECT_STREQ(f->path, path.c_str());
    EXPECT_EQ(take(qor_async_file_read(f)), "");
    qor_async_file_write(f, "hello");
    qor_nb_file_write(f, "hi");
    EXPECT_EQ(take(qor_async_file_read(f)), "hillo");
    EXPECT_EQ(take(qor_nb_file_read(f)), "hillo");
    qor_async_file_close(f);
    // Reopened with "r+": the content is kept.
    EXPECT_EQ(read_file(path), "hillo");
}

// A file that may only be read opens with "r"; writes to it change nothing.
TEST(AsyncFile, ReadOnlyFileOpensAndIgnoresWrites) {
    ScratchDir dir;
    chmod(dir.path.c_str(), 0755);
    std::string path = dir.file("ro.txt");
    FILE* seed = fopen(path.c_str(), "w");
    fputs("fixed", seed);
    fclose(seed);
    chmod(path.c_str(), 0444);
    // The checks run in a child that cannot override file permissions.
    pid_t pid = fork();
    if (pid == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
        QorAsyncFile* f = qor_async_file_open(path.c_str());
        if (f == nullptr) _exit(3);
        qor_async_file_write(f, "XX");
        std::string text = take(qor_async_file_read(f));
        qor_async_file_close(f);
        _exit(text == "fixed" ? 0 : 4);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(read_file(path), "fixed");
}

// A path that cannot seek (a FIFO) opens read-write; a write still delivers its text.
TEST(AsyncFile, WriteReachesAStreamThatCannotSeek) {
    ScratchDir dir;
    std::string path = dir.file("fifo");
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    QorAsyncFile* f = qor_async_file_open(path.c_str());  // "r+" on a FIFO does not block
    ASSERT_NE(f, nullptr);
    int reader = open(path.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    qor_async_file_write(f, "hi");
    char got[8] = {0};
    EXPECT_EQ(read(reader, got, sizeof(got)), 2);
    EXPECT_STREQ(got, "hi");
    close(reader);
    qor_async_file_close(f);
}

// A write that waits for room in a full FIFO and is interrupted by a signal (no SA_RESTART)
// goes on where it stopped: the reader gets every byte once.
TEST(AsyncFile, WriteSurvivesSignalsWhileWaitingForRoom) {
    Watchdog watchdog;
    ScratchDir dir;
    std::string path = dir.file("fifo");
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    QorAsyncFile* f = qor_async_file_open(path.c_str());
    ASSERT_NE(f, nullptr);
    int reader = open(path.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    InterruptingSignal interrupting;
    std::string text(1 << 20, 'w');
    std::atomic<bool> done{false};
    std::thread writer([&] {
        qor_async_file_write(f, text.c_str());
        done = true;
    });
    // The pipe fills at once; each signal then finds the writer waiting for room.
    for (int i = 0; i < 5; i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        pthread_kill(writer.native_handle(), SIGUSR1);
    }
    std::string got;
    char buffer[65536];
    for (;;) {
        ssize_t n = read(reader, buffer, sizeof buffer);
        if (n > 0) {
            got.append(buffer, static_cast<size_t>(n));
        } else if (done) {
            break;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    writer.join();
    EXPECT_EQ(got.size(), text.size());
    close(reader);
    qor_async_file_close(f);
}

TEST(AsyncFile, NullHandlesAreNeutral) {
    EXPECT_EQ(qor_async_file_open(nullptr), nullptr);
    EXPECT_EQ(qor_async_file_read(nullptr), nullptr);
    qor_async_file_write(nullptr, "x");
    qor_async_file_close(nullptr);
    ScratchDir dir;
    QorAsyncFile* f = qor_async_file_open(dir.file("n").c_str());
    qor_async_file_write(f, nullptr);
    EXPECT_EQ(take(qor_async_file_read(f)), "");
    qor_async_file_close(f);
    EXPECT_EQ(qor_async_file_open((dir.path + "/missing/x").c_str()), nullptr);
}

TEST(AsyncSocket, ConnectAcceptExchangeAndClose) {
    Watchdog watchdog;
    TcpPair p;
    ASSERT_NE(p.server, nullptr);
    EXPECT_STREQ(qor_async_socket_host(p.listener), "0.0.0.0");
    EXPECT_GT(qor_async_socket_port(p.listener), 0);
    EXPECT_STREQ(qor_async_socket_host(p.client), "127.0.0.1");
    EXPECT_EQ(qor_async_socket_port(p.client), qor_async_socket_port(p.listener));
    // The accepted socket names the peer: the client's own address and port.
    sockaddr_in local{};
    socklen_t len = sizeof(local);
    getsockname(p.client->fd, reinterpret_cast<sockaddr*>(&local), &len);
    EXPECT_STREQ(qor_async_socket_host(p.server), "127.0.0.1");
    EXPECT_EQ(qor_async_socket_port(p.server), ntohs(local.sin_port));
    qor_async_socket_write(p.client, "ping");
    EXPECT_EQ(take(qor_async_socket_read(p.server)), "ping");
    qor_async_socket_write(p.server, "pong");
    EXPECT_EQ(take(qor_async_socket_read(p.client)), "pong");
    qor_async_socket_close(p.client);
    p.client = nullptr;
    EXPECT_EQ(qor_async_socket_read(p.server), nullptr);
}

TEST(AsyncSocket, HostNamesResolveAndBadInputIsNeutral) {
    Watchdog watchdog;
    QorSocket* listener = qor_async_socket_listen(0);
    ASSERT_NE(listener, nullptr);
    QorSocket* c = qor_async_socket_connect("localhost", qor_async_socket_port(listener));
    ASSERT_NE(c, nullptr);
    EXPECT_STREQ(qor_async_socket_host(c), "localhost");
    qor_async_socket_close(c);
    EXPECT_EQ(qor_async_socket_connect(nullptr, 80), nullptr);
    EXPECT_EQ(qor_async_socket_host(nullptr), nullptr);
    EXPECT_EQ(qor_async_socket_port(nullptr), 0);
    EXPECT_EQ(qor_async_socket_accept(nullptr), nullptr);
    EXPECT_EQ(qor_async_socket_read(nullptr), nullptr);
    qor_async_socket_write(nullptr, "x");
    qor_async_socket_close(nullptr);
    // A port with no listener refuses the connection.
    int64_t port = qor_async_socket_port(listener);
    qor_async_socket_close(listener);
    EXPECT_EQ(qor_async_socket_connect("127.0.0.1", port), nullptr);
    // A second listener on a port in use fails.
    QorSocket* a = qor_async_socket_listen(0);
    EXPECT_EQ(qor_async_socket_listen(qor_async_socket_port(a)), nullptr);
    qor_async_socket_close(a);
}

// One write hands over every byte of a text far larger than the socket buffers.
TEST(AsyncSocket, MegabyteWriteArrivesComplete) {
    Watchdog watchdog;
    TcpPair p;
    std::string big(1 << 20, 'x');
    for (size_t i = 0; i < big.size(); i++) big[i] = static_cast<char>('a' + i % 26);
    std::thread writer([&] { qor_async_socket_write(p.client, big.c_str()); });
    std::string got;
    while (got.size() < big.size()) {
        char* chunk = qor_async_socket_read(p.server);
        if (chunk == nullptr) break;
        got += take(chunk);
    }
    writer.join();
    EXPECT_EQ(got.size(), big.size());
    EXPECT_TRUE(got == big);
}

// Writing to a peer that went away neither kills the process nor blocks.
TEST(AsyncSocket, WriteToAClosedPeerIsHarmless) {
    Watchdog watchdog;
    TcpPair p;
    qor_async_socket_close(p.server);
    p.server = nullptr;
    std::string chunk(65536, 'z');
    for (int i = 0; i < 20; i++) qor_async_socket_write(p.client, chunk.c_str());
    SUCCEED();
}

// Signals arriving while accept and read block are not reported as failures or closed peers.
TEST(AsyncSocket, BlockingCallsSurviveSignals) {
    Watchdog watchdog;
    InterruptingSignal interrupting;
    QorSocket* listener = qor_async_socket_listen(0);
    ASSERT_NE(listener, nullptr);
    std::atomic<int> stage{0};
    std::string got;
    QorSocket* accepted = nullptr;
    std::thread blocked([&] {
        accepted = qor_async_socket_accept(listener);
        stage = 1;
        got = take(qor_async_socket_read(accepted));
        stage = 2;
    });
    pthread_t handle = blocked.native_handle();
    auto pester = [&](int until) {
        for (int i = 0; i < 10 && stage < until; i++) {
            pthread_kill(handle, SIGUSR1);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    };
    pester(1);
    QorSocket* client = qor_async_socket_connect("127.0.0.1", qor_async_socket_port(listener));
    while (stage < 1) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    pester(2);
    qor_async_socket_write(client, "late");
    blocked.join();
    EXPECT_NE(accepted, nullptr);
    EXPECT_EQ(got, "late");
    qor_async_socket_close(client);
    qor_async_socket_close(accepted);
    qor_async_socket_close(listener);
}

// Every descriptor the runtime holds is close-on-exec: a shell started afterwards lists none of
// them among its own open descriptors.
TEST(AsyncSocket, NoDescriptorReachesAChildProcess) {
    Watchdog watchdog;
    ScratchDir dir;
    TcpPair tcp;
    ASSERT_NE(tcp.server, nullptr);
    QorSocket* udp = qor_async_udp_bind(0);
    ASSERT_NE(udp, nullptr);
    QorSocket* pending = qor_nb_socket_connect("127.0.0.1", qor_async_socket_port(tcp.listener));
    ASSERT_NE(pending, nullptr);
    QorAsyncFile* file = qor_async_file_open(dir.file("held").c_str());
    ASSERT_NE(file, nullptr);
    QorEventLoop* loop = qor_event_loop_create();
    ASSERT_NE(loop, nullptr);
    std::vector<int> ours = {tcp.listener->fd, tcp.client->fd,
                             tcp.server->fd,   udp->fd,
                             pending->fd,      fileno(static_cast<FILE*>(file->stream)),
                             loop->epoll_fd,   qor_get_event_loop()->epoll_fd};
    // "; true" keeps the shell from replacing itself by ls, so $$ is the shell's own table.
    QorString* command = qor_string_from_cstr("ls /proc/$$/fd; true");
    std::string listing = text_of(qor_exec_output(command, nullptr));
    std::set<int> inherited;
    std::istringstream words(listing);
    for (std::string word; words >> word;) inherited.insert(atoi(word.c_str()));
    EXPECT_TRUE(inherited.count(1)) << listing;  // the listing itself went through the pipe
    for (int fd : ours) EXPECT_EQ(inherited.count(fd), 0u) << "descriptor " << fd;
    qor_event_loop_destroy(loop);
    qor_async_file_close(file);
    qor_async_socket_close(pending);
    qor_async_socket_close(udp);
}

TEST(AsyncUdp, DatagramsCarryTheirSender) {
    Watchdog watchdog;
    QorSocket* a = qor_async_udp_bind(0);
    QorSocket* b = qor_async_udp_bind(0);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_STREQ(qor_async_socket_host(a), "0.0.0.0");
    EXPECT_GT(qor_async_socket_port(a), 0);
    EXPECT_EQ(qor_async_udp_sendto(a, "127.0.0.1", qor_async_socket_port(b), "hello"), 5);
    QorUdpPacket* packet = qor_async_udp_recvfrom(b);
    ASSERT_NE(packet, nullptr);
    EXPECT_EQ(qor_udp_packet_len(packet), 5);
    EXPECT_STREQ(qor_udp_packet_payload(packet), "hello");
    EXPECT_STREQ(qor_udp_packet_host(packet), "127.0.0.1");
    EXPECT_EQ(qor_udp_packet_port(packet), qor_async_socket_port(a));
    qor_udp_packet_free(packet);
    EXPECT_EQ(qor_async_udp_sendto(b, "localhost", qor_async_socket_port(a), "back"), 4);
    EXPECT_EQ(take(qor_async_udp_recv(a)), "back");
    // An empty datagram reads as nothing.
    EXPECT_EQ(qor_async_udp_sendto(a, "127.0.0.1", qor_async_socket_port(b), ""), 0);
    EXPECT_EQ(qor_async_udp_recv(b), nullptr);
    qor_async_udp_close(a);
    qor_async_udp_close(b);
}

TEST(AsyncUdp, NullHandlesAreNeutral) {
    Watchdog watchdog;
    QorSocket* a = qor_async_udp_bind(0);
    EXPECT_EQ(qor_async_udp_sendto(a, "127.0.0.1", 9, nullptr), -1);
    EXPECT_EQ(qor_async_udp_sendto(a, nullptr, 9, "x"), -1);
    EXPECT_EQ(qor_async_udp_sendto(nullptr, "127.0.0.1", 9, "x"), -1);
    EXPECT_EQ(qor_async_udp_recv(nullptr), nullptr);
    EXPECT_EQ(qor_async_udp_recvfrom(nullptr), nullptr);
    EXPECT_EQ(qor_udp_packet_payload(nullptr), nullptr);
    EXPECT_EQ(qor_udp_packet_host(nullptr), nullptr);
    EXPECT_EQ(qor_udp_packet_port(nullptr), 0);
    EXPECT_EQ(qor_udp_packet_len(nullptr), 0);
    qor_udp_packet_free(nullptr);
    qor_async_udp_close(nullptr);
    a->open = 0;
    EXPECT_EQ(qor_async_udp_sendto(a, "127.0.0.1", 9, "x"), -1);
    EXPECT_EQ(qor_async_udp_recv(a), nullptr);
    qor_async_udp_close(a);
}
