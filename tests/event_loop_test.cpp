// The event loop: slot assignment and reuse, the 1024-slot limit, dispatch masks, hang-ups,
// stop, and callbacks that change registrations while the loop dispatches.
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <random>
#include <vector>

#include "test_support.h"

namespace {

// Every callback call seen by a test: (user data, descriptor, mask).
struct Call {
    void* user_data;
    int64_t fd;
    int32_t mask;
};
std::vector<Call> g_calls;

void record(void* user_data, int64_t fd, int32_t mask) { g_calls.push_back({user_data, fd, mask}); }
void record_other(void* user_data, int64_t fd, int32_t mask) { record(user_data, fd, mask); }

struct Pipe {
    int fds[2] = {-1, -1};
    Pipe() { EXPECT_EQ(pipe(fds), 0); }
    ~Pipe() {
        for (int fd : fds)
            if (fd >= 0) close(fd);
    }
    int r() const { return fds[0]; }
    int w() const { return fds[1]; }
};

struct Loop {
    QorEventLoop* loop = qor_event_loop_create();
    Loop() { EXPECT_NE(loop, nullptr); }
    ~Loop() { qor_event_loop_destroy(loop); }
};

// Raises the soft descriptor limit so that a test may hold more than 1024 descriptors.
void raise_fd_limit() {
    rlimit lim{};
    getrlimit(RLIMIT_NOFILE, &lim);
    lim.rlim_cur = lim.rlim_max;
    setrlimit(RLIMIT_NOFILE, &lim);
}

}  // namespace

TEST(EventLoop, SameDescriptorTwiceUsesOneSlotAndChangesInterest) {
    Loop l;
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    int marker = 0;
    EXPECT_EQ(qor_event_loop_register(l.loop, sv[0], 1, record, nullptr), 0);
    EXPECT_EQ(qor_event_loop_register(l.loop, sv[0], 2, record_other, &marker), 0);
    EXPECT_EQ(l.loop->slot_count, 1);
    EXPECT_EQ(l.loop->slots[0].interest, 2);
    // The kernel sees the new interest: the idle socket is writable, not readable.
    g_calls.clear();
    EXPECT_EQ(qor_event_loop_run_once(l.loop, 0), 1);
    ASSERT_EQ(g_calls.size(), 1u);
    EXPECT_EQ(g_calls[0].user_data, &marker);
    EXPECT_EQ(g_calls[0].fd, sv[0]);
    EXPECT_EQ(g_calls[0].mask, 2);
    close(sv[0]);
    close(sv[1]);
}

TEST(EventLoop, UnregisterEmptiesASlotThatTheNextRegistrationReuses) {
    Loop l;
    Pipe a, b, c, d;
    EXPECT_EQ(qor_event_loop_register(l.loop, a.r(), 1, record, nullptr), 0);
    EXPECT_EQ(qor_event_loop_register(l.loop, b.r(), 1, record, nullptr), 0);
    EXPECT_EQ(qor_event_loop_register(l.loop, c.r(), 1, record, nullptr), 0);
    EXPECT_EQ(qor_event_loop_unregister(l.loop, b.r()), 0);
    EXPECT_EQ(qor_event_loop_unregister(l.loop, b.r()), -1);
    EXPECT_EQ(l.loop->slots[1].active, 0);
    EXPECT_EQ(qor_event_loop_register(l.loop, d.r(), 1, record, nullptr), 0);
    EXPECT_EQ(l.loop->slots[1].fd, d.r());
    EXPECT_EQ(l.loop->slots[1].active, 1);
    EXPECT_EQ(l.loop->slot_count, 3);
    // Emptying every slot keeps the high-water mark.
    for (int fd : {a.r(), c.r(), d.r()}) EXPECT_EQ(qor_event_loop_unregister(l.loop, fd), 0);
    EXPECT_EQ(l.loop->slot_count, 3);
    EXPECT_EQ(qor_event_loop_unregister(nullptr, a.r()), -1);
}

TEST(EventLoop, RefusesOnlyWhenAll1024SlotsAreActive) {
    raise_fd_limit();
    Loop l;
    Pipe p;
    std::vector<int> fds;
    for (int i = 0; i < QOR_EVENT_LOOP_SLOTS + 2; i++) {
        int fd = dup(p.r());
        ASSERT_GE(fd, 0) << "descriptor limit too low";
        fds.push_back(fd);
    }
    for (int i = 0; i < QOR_EVENT_LOOP_SLOTS; i++) {
        ASSERT_EQ(qor_event_loop_register(l.loop, fds[i], 1, record, nullptr), 0) << i;
    }
    EXPECT_EQ(l.loop->slot_count, QOR_EVENT_LOOP_SLOTS);
    EXPECT_EQ(qor_event_loop_register(l.loop, fds[1024], 1, record, nullptr), -1);
    // Changing an existing registration still works on a full table.
    EXPECT_EQ(qor_event_loop_register(l.loop, fds[7], 2, record, nullptr), 0);
    EXPECT_EQ(l.loop->slots[7].interest, 2);
    // Emptied slots are reusable for ever, lowest first.
    EXPECT_EQ(qor_event_loop_unregister(l.loop, fds[900]), 0);
    EXPECT_EQ(qor_event_loop_unregister(l.loop, fds[500]), 0);
    EXPECT_EQ(qor_event_loop_register(l.loop, fds[1024], 1, record, nullptr), 0);
    EXPECT_EQ(l.loop->slots[500].fd, fds[1024]);
    EXPECT_EQ(qor_event_loop_register(l.loop, fds[1025], 1, record, nullptr), 0);
    EXPECT_EQ(l.loop->slots[900].fd, fds[1025]);
    EXPECT_EQ(qor_event_loop_register(l.loop, fds[500], 1, record, nullptr), -1);
    EXPECT_EQ(l.loop->slot_count, QOR_EVENT_LOOP_SLOTS);
    for (int fd : fds) close(fd);
}

TEST(EventLoop, RunOnceCallsReadyDescriptorsWithTheirMask) {
    Loop l;
    Pipe p;
    int marker = 0;
    ASSERT_EQ(qor_event_loop_register(l.loop, p.r(), 1, record, &marker), 0);
    g_calls.clear();
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(qor_event_loop_run_once(l.loop, 0), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
    ASSERT_EQ(write(p.w(), "x", 1), 1);
    EXPECT_EQ(qor_event_loop_run_once(l.loop, 1000), 1);
    ASSERT_EQ(g_calls.size(), 1u);
    EXPECT_EQ(g_calls[0].user_data, &marker);
    EXPECT_EQ(g_calls[0].fd, p.r());
    EXPECT_EQ(g_calls[0].mask, 1);
    // Level-triggered: still readable, so called again.
    EXPECT_EQ(qor_event_loop_run_once(l.loop, 0), 1);
    EXPECT_EQ(qor_event_loop_run_once(nullptr, 0), 0);
}

TEST(EventLoop, HangUpIsReportedWithBit4) {
    Loop l;
    Pipe p;
    ASSERT_EQ(write(p.w(), "x", 1), 1);
    close(p.fds[1]);
    p.fds[1] = -1;
    ASSERT_EQ(qor_event_loop_register(l.loop, p.r(), 1, record, nullptr), 0);
    g_calls.clear();
    EXPECT_EQ(qor_event_loop_run_once(l.loop, 1000), 1);
    ASSERT_EQ(g_calls.size(), 1u);
    EXPECT_EQ(g_calls[0].mask, 1 | 4);
    char c;
    ASSERT_EQ(read(p.r(), &c, 1), 1);
    EXPECT_EQ(qor_event_loop_run_once(l.loop, 1000), 1);
    EXPECT_TRUE(g_calls.back().mask & 4);
}

TEST(EventLoop, StopIsFinalAndNullArgumentsAreRefused) {
    Loop l;
    Pipe p;
    EXPECT_EQ(qor_event_loop_register(l.loop, p.r(), 1, nullptr, nullptr), -1);
    EXPECT_EQ(qor_event_loop_register(nullptr, p.r(), 1, record, nullptr), -1);
    EXPECT_EQ(l.loop->slot_count, 0);
    EXPECT_EQ(l.loop->slots[0].active, 0);
    EXPECT_EQ(qor_event_loop_is_stopped(l.loop), 0);
    EXPECT_EQ(qor_event_loop_is_stopped(nullptr), 1);
    qor_event_loop_stop(l.loop);
    qor_event_loop_stop(nullptr);
    EXPECT_EQ(qor_event_loop_is_stopped(l.loop), 1);
    // Returns at once although the time-out is unlimited and a descriptor is ready.
    ASSERT_EQ(qor_event_loop_register(l.loop, p.w(), 2, record, nullptr), 0);
    EXPECT_EQ(qor_event_loop_run_once(l.loop, -1), 0);
}

namespace {
Pipe* g_pair[2];
QorEventLoop* g_dispatch_loop;
Pipe* g_late;

// Unregisters the other pipe and registers the late one, from inside the dispatch.
void unregister_the_other(void* user_data, int64_t fd, int32_t mask) {
    record(user_data, fd, mask);
    int other = fd == g_pair[0]->r() ? g_pair[1]->r() : g_pair[0]->r();
    EXPECT_EQ(qor_event_loop_unregister(g_dispatch_loop, other), 0);
    EXPECT_EQ(qor_event_loop_unregister(g_dispatch_loop, fd), 0);
    EXPECT_EQ(qor_event_loop_register(g_dispatch_loop, g_late->r(), 1, record, g_late), 0);
}
}  // namespace

TEST(EventLoop, CallbacksMayChangeRegistrationsDuringDispatch) {
    Loop l;
    Pipe a, b, late;
    g_pair[0] = &a;
    g_pair[1] = &b;
    g_late = &late;
    g_dispatch_loop = l.loop;
    ASSERT_EQ(qor_event_loop_register(l.loop, a.r(), 1, unregister_the_other, nullptr), 0);
    ASSERT_EQ(qor_event_loop_register(l.loop, b.r(), 1, unregister_the_other, nullptr), 0);
    ASSERT_EQ(write(a.w(), "x", 1), 1);
    ASSERT_EQ(write(b.w(), "x", 1), 1);
    ASSERT_EQ(write(late.w(), "x", 1), 1);
    g_calls.clear();
    // Both pipes are ready in one batch; the first callback removes the second's slot.
    EXPECT_EQ(qor_event_loop_run_once(l.loop, 1000), 1);
    EXPECT_EQ(g_calls.size(), 1u);
    // The descriptor registered during dispatch took the first emptied slot.
    EXPECT_EQ(l.loop->slots[0].fd, late.r());
    EXPECT_EQ(qor_event_loop_run_once(l.loop, 1000), 1);
    EXPECT_EQ(g_calls.back().user_data, &late);
}

namespace {
bool g_reuse_number;  // whether the callback closes the other descriptor or unregisters it

// Ends the other pipe's registration, either by putting a quiet descriptor under its number
// (closing it, unregistered) or by unregistering it, then registers that number again. The
// batch still holds the old registration's event.
void replace_the_other(void* user_data, int64_t fd, int32_t mask) {
    record(user_data, fd, mask);
    int other = fd == g_pair[0]->r() ? g_pair[1]->r() : g_pair[0]->r();
    if (g_reuse_number) {
        EXPECT_EQ(dup2(g_late->r(), other), other);
    } else {
        EXPECT_EQ(qor_event_loop_unregister(g_dispatch_loop, other), 0);
    }
    EXPECT_EQ(qor_event_loop_register(g_dispatch_loop, other, 1, record_other, g_late), 0);
    EXPECT_EQ(qor_event_loop_unregister(g_dispatch_loop, fd), 0);
}
}  // namespace

// An event already taken from the kernel never reaches a registration made after the one it
// was meant for, whether the descriptor number was reused or merely registered again.
TEST(EventLoop, EventsOfARemovedRegistrationNeverReachItsSuccessor) {
    for (bool reuse : {true, false}) {
        Loop l;
        Pipe a, b, quiet;
        g_pair[0] = &a;
        g_pair[1] = &b;
        g_late = &quiet;
        g_dispatch_loop = l.loop;
        g_reuse_number = reuse;
        ASSERT_EQ(qor_event_loop_register(l.loop, a.r(), 1, replace_the_other, nullptr), 0);
        ASSERT_EQ(qor_event_loop_register(l.loop, b.r(), 1, replace_the_other, nullptr), 0);
        ASSERT_EQ(write(a.w(), "x", 1), 1);
        ASSERT_EQ(write(b.w(), "x", 1), 1);
        g_calls.clear();
        EXPECT_EQ(qor_event_loop_run_once(l.loop, 1000), 1) << reuse;
        ASSERT_EQ(g_calls.size(), 1u) << reuse;
        EXPECT_EQ(g_calls[0].user_data, nullptr);
    }
}

namespace {
void destroy_the_loop(void* user_data, int64_t fd, int32_t mask) {
    record(user_data, fd, mask);
    qor_event_loop_destroy(g_dispatch_loop);
}
}  // namespace

// A callback may destroy the loop that calls it: the rest of the batch is not dispatched and
// the record outlives the dispatch (AddressSanitizer catches a loop freed under its feet).
TEST(EventLoop, ACallbackMayDestroyItsLoop) {
    Pipe a, b;
    g_dispatch_loop = qor_event_loop_create();
    ASSERT_EQ(qor_event_loop_register(g_dispatch_loop, a.r(), 1, destroy_the_loop, nullptr), 0);
    ASSERT_EQ(qor_event_loop_register(g_dispatch_loop, b.r(), 1, destroy_the_loop, nullptr), 0);
    ASSERT_EQ(write(a.w(), "x", 1), 1);
    ASSERT_EQ(write(b.w(), "x", 1), 1);
    g_calls.clear();
    EXPECT_EQ(qor_event_loop_run_once(g_dispatch_loop, 1000), 1);
    EXPECT_EQ(g_calls.size(), 1u);
}

namespace {
void expect_own_descriptor(void* user_data, int64_t fd, int32_t) {
    EXPECT_EQ(reinterpret_cast<intptr_t>(user_data), fd);
    g_calls.push_back({user_data, fd, 0});
}
}  // namespace

// Random registration churn keeps the table exactly where first-free-slot assignment puts
// each descriptor, and dispatch reaches the callback of the right descriptor.
TEST(EventLoop, ChurnKeepsSlotsAndDispatchConsistent) {
    raise_fd_limit();
    Loop l;
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    std::vector<int> fds;
    for (int i = 0; i < 300; i++) fds.push_back(dup(sv[0]));
    std::vector<int64_t> model;  // slot -> descriptor, -1 when empty
    std::map<int64_t, size_t> where;
    std::mt19937 rng(12345);
    for (int step = 0; step < 4000; step++) {
        int fd = fds[rng() % fds.size()];
        auto* tag = reinterpret_cast<void*>(static_cast<intptr_t>(fd));
        if (where.count(fd) != 0 && rng() % 2 == 0) {
            ASSERT_EQ(qor_event_loop_unregister(l.loop, fd), 0);
            model[where[fd]] = -1;
            where.erase(fd);
        } else {
            ASSERT_EQ(qor_event_loop_register(l.loop, fd, 2, expect_own_descriptor, tag), 0);
            if (where.count(fd) == 0) {
                size_t slot = 0;
                while (slot < model.size() && model[slot] != -1) slot++;
                if (slot == model.size()) model.push_back(-1);
                model[slot] = fd;
                where[fd] = slot;
            }
        }
    }
    ASSERT_EQ(l.loop->slot_count, static_cast<int32_t>(model.size()));
    for (size_t i = 0; i < model.size(); i++) {
        EXPECT_EQ(l.loop->slots[i].active, model[i] != -1 ? 1 : 0) << i;
        if (model[i] != -1) {
            EXPECT_EQ(l.loop->slots[i].fd, model[i]) << i;
        }
    }
    g_calls.clear();
    std::map<int64_t, int> seen;
    for (int round = 0; round < 100 && seen.size() < where.size(); round++) {
        qor_event_loop_run_once(l.loop, 0);
        for (const Call& c : g_calls) seen[c.fd]++;
        g_calls.clear();
    }
    EXPECT_EQ(seen.size(), where.size());
    for (auto& [fd, n] : seen) EXPECT_EQ(where.count(fd), 1u) << fd;
    for (int fd : fds) close(fd);
    close(sv[0]);
    close(sv[1]);
}

TEST(EventLoop, DefaultLoopIsKeptUntilDestroyed) {
    QorEventLoop* first = qor_get_event_loop();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(qor_get_event_loop(), first);
    EXPECT_EQ(g_event_loop, first);
    qor_event_loop_destroy(first);
    EXPECT_EQ(g_event_loop, nullptr);
    QorEventLoop* second = qor_get_event_loop();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(qor_event_loop_is_stopped(second), 0);
    EXPECT_EQ(second->slot_count, 0);
    qor_event_loop_destroy(nullptr);
}
