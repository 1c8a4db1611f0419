// Event-loop dispatch against its peer, a hand-written epoll_wait loop: both serve 100,000
// readiness events from 64 pipes that stay readable, each event reading one byte and writing
// it back. The difference is the loop's own cost: the slot lookup and the callback call.
#include <benchmark/benchmark.h>
#include <sys/epoll.h>
#include <unistd.h>

#include "qor_runtime.h"

namespace {

constexpr int kPipes = 64;
constexpr int64_t kEvents = 100000;

struct Pipes {
    int fds[kPipes][2];
    Pipes() {
        for (auto& p : fds) {
            if (pipe(p) != 0 || write(p[1], "x", 1) != 1) abort();
        }
    }
    ~Pipes() {
        for (auto& p : fds) {
            close(p[0]);
            close(p[1]);
        }
    }
};

// Reads the byte and puts it back, so the pipe stays readable.
void echo_byte(void* user_data, int64_t fd, int32_t) {
    char c;
    if (read(static_cast<int>(fd), &c, 1) == 1) {
        (void)!write(static_cast<int>(reinterpret_cast<intptr_t>(user_data)), &c, 1);
    }
}

__attribute__((noinline)) int32_t loop_step(QorEventLoop* loop) {
    return qor_event_loop_run_once(loop, -1);
}

// One epoll_wait and the same reads and writes, with the write end carried in the data word.
__attribute__((noinline)) int raw_step(int epfd) {
    epoll_event events[64];
    int n = epoll_wait(epfd, events, 64, -1);
    for (int i = 0; i < n; i++) {
        int fd = static_cast<int>(events[i].data.u64 & 0xffffffff);
        int writer = static_cast<int>(events[i].data.u64 >> 32);
        char c;
        if (read(fd, &c, 1) == 1) (void)!write(writer, &c, 1);
    }
    return n;
}

void BM_EventLoopDispatch(benchmark::State& state) {
    Pipes pipes;
    QorEventLoop* loop = qor_event_loop_create();
    for (auto& p : pipes.fds) {
        void* writer = reinterpret_cast<void*>(static_cast<intptr_t>(p[1]));
        qor_event_loop_register(loop, p[0], 1, echo_byte, writer);
    }
    for (auto _ : state) {
        int64_t served = 0;
        while (served < kEvents) served += loop_step(loop);
    }
    state.SetItemsProcessed(state.iterations() * kEvents);
    qor_event_loop_destroy(loop);
}

void BM_RawEpollDispatch(benchmark::State& state) {
    Pipes pipes;
    int epfd = epoll_create1(0);
    for (auto& p : pipes.fds) {
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u64 = static_cast<uint32_t>(p[0]) | (static_cast<uint64_t>(p[1]) << 32);
        epoll_ctl(epfd, EPOLL_CTL_ADD, p[0], &ev);
    }
    for (auto _ : state) {
        int64_t served = 0;
        while (served < kEvents) served += raw_step(epfd);
    }
    state.SetItemsProcessed(state.iterations() * kEvents);
    close(epfd);
}

}  // namespace

BENCHMARK(BM_EventLoopDispatch)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawEpollDispatch)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
