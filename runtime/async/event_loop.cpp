// The event loop: a single-threaded, level-triggered epoll loop with a fixed table of 1024
// registration slots, stepped one wait at a time by qor_event_loop_run_once, and the
// process-wide default loop g_event_loop.
// Invariants: at most one active slot per descriptor; a new registration takes the first
// inactive slot below slot_count, else slot_count (which then grows by one and never shrinks).
// Behind the public record sits a private index (descriptor -> slot, and a bitmap of active
// slots) that is kept equal to the table by register and unregister, so that registration
// never scans the table, and a registration number per slot.
// Each epoll event carries its slot and that slot's registration number, so dispatch reaches
// the slot without a lookup and drops an event whose registration has since been removed or
// replaced, even when the descriptor number came back under a new registration in the same
// batch: a registration never receives an event meant for an earlier one.
#include <errno.h>
#include <stdlib.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <cstddef>

#include "core/internal.h"

static_assert(sizeof(QorEventSlot) == 40);
static_assert(offsetof(QorEventSlot, fd) == 0);
static_assert(offsetof(QorEventSlot, interest) == 8);
static_assert(offsetof(QorEventSlot, callback) == 16);
static_assert(offsetof(QorEventSlot, user_data) == 24);
static_assert(offsetof(QorEventSlot, active) == 32);
constexpr size_t kTableBytes = sizeof(QorEventSlot) * QOR_EVENT_LOOP_SLOTS;
static_assert(sizeof(QorEventLoop) == kTableBytes + 16);
static_assert(offsetof(QorEventLoop, slots) == 0);
static_assert(offsetof(QorEventLoop, slot_count) == kTableBytes);
static_assert(offsetof(QorEventLoop, stopped) == kTableBytes + 4);
static_assert(offsetof(QorEventLoop, epoll_fd) == kTableBytes + 8);

extern "C" {
QOR_API QorEventLoop* g_event_loop = nullptr;
}

namespace {

constexpr int32_t kSlots = QOR_EVENT_LOOP_SLOTS;
constexpr int kMaxEvents = 64;

// Open-addressing table from descriptor to slot, twice the slot count so that it is at most
// half full. Linear probing; deletion shifts later entries back, so there are no tombstones.
// slot_plus_one == 0 marks an empty entry, which lets a zero-filled loop start valid.
constexpr uint32_t kIndexSize = 2 * kSlots;  // a power of two: h & (kIndexSize - 1) == h % size
constexpr int kIndexBits = 11;
static_assert(kIndexSize == 1u << kIndexBits);

struct IndexEntry {
    int64_t fd;
    int32_t slot_plus_one;
};

struct LoopImpl {
    QorEventLoop pub;  // first, so a QorEventLoop* is a LoopImpl*
    uint64_t active_bits[kSlots / 64];
    IndexEntry index[kIndexSize];
    // Raised each time a slot takes a new registration (not when one changes its interest).
    uint32_t generation[kSlots];
    // Dispatches in progress (a callback may step the loop again), and whether a callback
    // destroyed the loop meanwhile: the record is then freed when the outermost one ends.
    int32_t dispatch_depth;
    int32_t destroy_pending;
};
static_assert(offsetof(LoopImpl, pub) == 0);

LoopImpl* impl_of(QorEventLoop* loop) { return reinterpret_cast<LoopImpl*>(loop); }

uint32_t home_of(int64_t fd) {
    return static_cast<uint32_t>((static_cast<uint64_t>(fd) * 0x9e3779b97f4a7c15ULL) >>
                                 (64 - kIndexBits));
}

// The position of fd in the index, or of the empty entry where it would go.
uint32_t index_probe(const LoopImpl* impl, int64_t fd) {
    uint32_t i = home_of(fd);
    while (impl->index[i].slot_plus_one != 0 && impl->index[i].fd != fd) {
        i = (i + 1) & (kIndexSize - 1);
    }
    return i;
}

// The active slot watching fd, or -1.
int32_t find_slot(const LoopImpl* impl, int64_t fd) {
    return impl->index[index_probe(impl, fd)].slot_plus_one - 1;
}

void index_insert(LoopImpl* impl, int64_t fd, int32_t slot) {
    IndexEntry& e = impl->index[index_probe(impl, fd)];
    e.fd = fd;
    e.slot_plus_one = slot + 1;
}

// Removes fd and moves back every later entry of the probe run that may now sit nearer home.
void index_erase(LoopImpl* impl, int64_t fd) {
    uint32_t hole = index_probe(impl, fd);
    if (impl->index[hole].slot_plus_one == 0) return;
    uint32_t i = hole;
    for (;;) {
        i = (i + 1) & (kIndexSize - 1);
        if (impl->index[i].slot_plus_one == 0) break;
        uint32_t home = home_of(impl->index[i].fd);
        // The entry at i may fill the hole unless its home lies cyclically in (hole, i].
        bool home_after_hole = ((i - home) & (kIndexSize - 1)) < ((i - hole) & (kIndexSize - 1));
        if (home_after_hole) continue;
        impl->index[hole] = impl->index[i];
        hole = i;
    }
    impl->index[hole].slot_plus_one = 0;
}

// The first inactive slot below slot_count, or slot_count itself when all of those are active.
int32_t first_free_slot(const LoopImpl* impl) {
    int32_t count = impl->pub.slot_count;
    for (int32_t word = 0; word * 64 < count; word++) {
        uint64_t free_bits = ~impl->active_bits[word];
        if (free_bits != 0) {
            int32_t slot = word * 64 + __builtin_ctzll(free_bits);
            return slot < count ? slot : count;
        }
    }
    return count;
}

void set_active_bit(LoopImpl* impl, int32_t slot, bool on) {
    uint64_t bit = uint64_t{1} << (slot % 64);
    if (on) {
        impl->active_bits[slot / 64] |= bit;
    } else {
        impl->active_bits[slot / 64] &= ~bit;
    }
}

uint32_t epoll_interest(int32_t interest) {
    uint32_t events = 0;
    if (interest & QOR_EVENT_READABLE) events |= EPOLLIN;
    if (interest & QOR_EVENT_WRITABLE) events |= EPOLLOUT;
    return events;
}

// The epoll data word of slot's current registration: the slot in the low half, its
// registration number in the high half.
epoll_data_t event_tag(const LoopImpl* impl, int32_t slot) {
    epoll_data_t data;
    data.u64 = uint64_t{impl->generation[slot]} << 32 | static_cast<uint32_t>(slot);
    return data;
}

int32_t event_mask(uint32_t events) {
    int32_t mask = 0;
    if (events & EPOLLIN) mask |= QOR_EVENT_READABLE;
    if (events & EPOLLOUT) mask |= QOR_EVENT_WRITABLE;
    if (events & (EPOLLERR | EPOLLHUP)) mask |= QOR_EVENT_ERROR;
    return mask;
}

// Ends one dispatch; the last one out frees a loop that a callback destroyed.
void end_dispatch(void* arg) {
    auto* impl = static_cast<LoopImpl*>(arg);
    if (--impl->dispatch_depth == 0 && impl->destroy_pending) free(impl);
}

}  // namespace

extern "C" QOR_API QorEventLoop* qor_event_loop_create(void) {
    auto* impl = static_cast<LoopImpl*>(calloc(1, sizeof(LoopImpl)));
    if (impl == nullptr) return nullptr;
    impl->pub.epoll_fd = epoll_create1(EPOLL_CLOEXEC);
    if (impl->pub.epoll_fd < 0) {
        free(impl);
        return nullptr;
    }
    return &impl->pub;
}

// Watched descriptors stay open and user data is not touched. Destroying the default loop
// clears g_event_loop, so that the next user creates a fresh one instead of a freed record.
// A callback may destroy the loop that is calling it: the loop then stops dispatching, and
// its record is freed once the dispatch is over rather than under its feet.
extern "C" QOR_API void qor_event_loop_destroy(QorEventLoop* loop) {
    if (loop == nullptr) return;
    if (loop->epoll_fd >= 0) close(loop->epoll_fd);
    loop->epoll_fd = -1;
    if (g_event_loop == loop) g_event_loop = nullptr;
    LoopImpl* impl = impl_of(loop);
    if (impl->dispatch_depth > 0) {
        impl->destroy_pending = 1;
        loop->stopped = 1;
        return;
    }
    free(impl);
}

// Fails only when every one of the 1024 slots is active at once and fd is not among them, or
// when epoll refuses the descriptor; in that last case the slot stays filled and active.
extern "C" QOR_API int32_t qor_event_loop_register(QorEventLoop* loop, int64_t fd, int32_t interest,
                                                   QorEventCallback callback, void* user_data) {
    if (loop == nullptr || callback == nullptr) return -1;
    LoopImpl* impl = impl_of(loop);
    int32_t slot = find_slot(impl, fd);
    int op = EPOLL_CTL_MOD;
    if (slot < 0) {
        slot = first_free_slot(impl);
        if (slot >= kSlots) return -1;
        if (slot == loop->slot_count) loop->slot_count++;
        index_insert(impl, fd, slot);
        set_active_bit(impl, slot, true);
        impl->generation[slot]++;
        op = EPOLL_CTL_ADD;
    }
    QorEventSlot& s = loop->slots[slot];
    s.fd = fd;
    s.interest = interest;
    s.callback = callback;
    s.user_data = user_data;
    s.active = 1;
    epoll_event ev{};
    ev.events = epoll_interest(interest);
    ev.data = event_tag(impl, slot);
    if (epoll_ctl(loop->epoll_fd, op, static_cast<int>(fd), &ev) == 0) return 0;
    if (op != EPOLL_CTL_MOD || errno != ENOENT) return -1;
    // A descriptor closed while registered has left the epoll set but not the table; when its
    // number comes back, the change of that stale slot is a new registration, both for the
    // kernel and for events of the old descriptor still waiting in a batch.
    impl->generation[slot]++;
    ev.data = event_tag(impl, slot);
    return epoll_ctl(loop->epoll_fd, EPOLL_CTL_ADD, static_cast<int>(fd), &ev) == 0 ? 0 : -1;
}

extern "C" QOR_API int32_t qor_event_loop_unregister(QorEventLoop* loop, int64_t fd) {
    if (loop == nullptr) return -1;
    LoopImpl* impl = impl_of(loop);
    int32_t slot = find_slot(impl, fd);
    if (slot < 0) return -1;
    loop->slots[slot].active = 0;
    set_active_bit(impl, slot, false);
    index_erase(impl, fd);
    epoll_event ev{};
    epoll_ctl(loop->epoll_fd, EPOLL_CTL_DEL, static_cast<int>(fd), &ev);
    return 0;
}

// Each event checks its registration at the moment of dispatch, so callbacks may register and
// unregister descriptors (their own included). An event whose registration an earlier callback
// of the same batch removed is skipped, also when that callback registered the same descriptor
// number again; a callback that only changed a registration's interest keeps its events.
extern "C" QOR_API int32_t qor_event_loop_run_once(QorEventLoop* loop, int32_t timeout_ms) {
    if (loop == nullptr || loop->stopped) return 0;
    epoll_event events[kMaxEvents];
    int n = epoll_wait(loop->epoll_fd, events, kMaxEvents, timeout_ms);
    if (n <= 0) return n < 0 ? -1 : 0;
    LoopImpl* impl = impl_of(loop);
    // A callback that fails into a foreign-call frame leaves through the hook, which ends
    // the dispatch just as the normal way out does.
    impl->dispatch_depth++;
    QorUnwindHook hook;
    qor_unwind_push(&hook, end_dispatch, impl);
    int32_t called = 0;
    for (int i = 0; i < n && !impl->destroy_pending; i++) {
        auto slot = static_cast<uint32_t>(events[i].data.u64);
        auto generation = static_cast<uint32_t>(events[i].data.u64 >> 32);
        if (slot >= kSlots || impl->generation[slot] != generation) continue;
        const QorEventSlot& s = loop->slots[slot];
        if (!s.active) continue;
        s.callback(s.user_data, s.fd, event_mask(events[i].events));
        called++;
    }
    qor_unwind_pop(&hook);
    end_dispatch(impl);
    return called;
}

extern "C" QOR_API void qor_event_loop_stop(QorEventLoop* loop) {
    if (loop != nullptr) loop->stopped = 1;
}

extern "C" QOR_API int32_t qor_event_loop_is_stopped(const QorEventLoop* loop) {
    return loop == nullptr ? 1 : loop->stopped;
}

// Not synchronised: the first call must not race with another thread's.
extern "C" QOR_API QorEventLoop* qor_get_event_loop(void) {
    if (g_event_loop == nullptr) g_event_loop = qor_event_loop_create();
    return g_event_loop;
}
