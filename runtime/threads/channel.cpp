// Bounded channels: a ring of 64-bit values behind one mutex and two condition variables.
// Invariants, under the mutex: 0 <= count <= capacity, and the count values sit in the slots
// from read_pos forward to write_pos, both indices advancing modulo capacity. closed goes from
// 0 to 1 once and never back; after it no value is stored, but values already held are still
// handed out in order. Channels, rings and handles are never freed.
// Timed waits measure their deadline on the monotonic clock, so setting the wall clock neither
// stretches nor cuts them.
#include <errno.h>
#include <stdlib.h>
#include <time.h>

#include <atomic>
#include <cstddef>

#include "core/internal.h"

static_assert(offsetof(QorChannel, buffer) == 0);
static_assert(offsetof(QorChannel, capacity) == 8);
static_assert(offsetof(QorChannel, write_pos) == 16);
static_assert(offsetof(QorChannel, read_pos) == 24);
static_assert(offsetof(QorChannel, count) == 32);
static_assert(offsetof(QorChannel, senders) == 40);
static_assert(offsetof(QorChannel, closed) == 48);
static_assert(offsetof(QorChannel, mutex) == 56);
static_assert(offsetof(QorChannel, not_empty) == 56 + sizeof(pthread_mutex_t));
static_assert(offsetof(QorChannel, not_full) ==
              56 + sizeof(pthread_mutex_t) + sizeof(pthread_cond_t));
static_assert(sizeof(QorChannel) == 56 + sizeof(pthread_mutex_t) + 2 * sizeof(pthread_cond_t));

static_assert(offsetof(QorChannelHandle, channel) == 0);
static_assert(sizeof(QorChannelHandle) == 8);

namespace {

constexpr int64_t kNanosPerSecond = 1000000000;

// is_full down to take_if_any run with the channel's mutex held.

bool is_full(const QorChannel* ch) { return ch->count == ch->capacity; }

// Only called when count < capacity, so capacity is at least 1 here.
void store(QorChannel* ch, int64_t value) {
    ch->buffer[ch->write_pos] = value;
    if (++ch->write_pos == ch->capacity) ch->write_pos = 0;
    ch->count++;
    pthread_cond_signal(&ch->not_empty);
}

// Only called when count > 0.
int64_t take(QorChannel* ch) {
    int64_t value = ch->buffer[ch->read_pos];
    if (++ch->read_pos == ch->capacity) ch->read_pos = 0;
    ch->count--;
    pthread_cond_signal(&ch->not_full);
    return value;
}

// Stores value if there is room and the channel is open; 1 if stored.
int64_t store_if_room(QorChannel* ch, int64_t value) {
    if (is_full(ch) || ch->closed) return 0;
    store(ch, value);
    return 1;
}

// Takes the next value into *out if one is held, open or closed; 1 if taken.
int64_t take_if_any(QorChannel* ch, int64_t* out) {
    if (ch->count == 0) return 0;
    *out = take(ch);
    return 1;
}

// The monotonic instant ms milliseconds from now (ms >= 0).
timespec deadline_after(int64_t ms) {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    t.tv_sec += static_cast<time_t>(ms / 1000);
    t.tv_nsec += static_cast<long>((ms % 1000) * 1000000);
    if (t.tv_nsec >= kNanosPerSecond) {
        t.tv_sec += 1;
        t.tv_nsec -= kNanosPerSecond;
    }
    return t;
}

// Waits on cond while blocked() holds and the channel is open; ms < 0 waits without limit.
// With ms 0 this is one wait on an instant already passed.
template <typename Blocked>
void wait_with_limit(QorChannel* ch, pthread_cond_t* cond, int64_t ms, Blocked blocked) {
    if (ms < 0) {
        while (blocked() && !ch->closed) pthread_cond_wait(cond, &ch->mutex);
        return;
    }
    timespec deadline = deadline_after(ms);
    while (blocked() && !ch->closed) {
        if (pthread_cond_timedwait(cond, &ch->mutex, &deadline) == ETIMEDOUT) return;
    }
}

// The one path of every waiting send: waits for room (see wait_with_limit), then stores unless
// closed. 1 if stored.
int64_t send_within(QorChannel* ch, int64_t value, int64_t ms) {
    pthread_mutex_lock(&ch->mutex);
    wait_with_limit(ch, &ch->not_full, ms, [ch] { return is_full(ch); });
    int64_t stored = store_if_room(ch, value);
    pthread_mutex_unlock(&ch->mutex);
    return stored;
}

// The one path of every waiting receive: waits for a value or the close, then takes one if
// any is held. 1 if taken.
int64_t recv_within(QorChannel* ch, int64_t ms, int64_t* out) {
    pthread_mutex_lock(&ch->mutex);
    wait_with_limit(ch, &ch->not_empty, ms, [ch] { return ch->count == 0; });
    int64_t got = take_if_any(ch, out);
    pthread_mutex_unlock(&ch->mutex);
    return got;
}

// Condition variables of a channel wait against the monotonic clock.
void init_monotonic_cond(pthread_cond_t* cond) {
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    pthread_cond_init(cond, &attr);
    pthread_condattr_destroy(&attr);
}

QorChannelHandle* new_handle(QorChannel* ch) {
    auto* h = static_cast<QorChannelHandle*>(malloc(sizeof(QorChannelHandle)));
    if (h != nullptr) h->channel = ch;
    return h;
}

// Allocates the record, its ring and both handles, or nothing at all.
QorChannelHandle* make_channel(int64_t capacity, QorChannelHandle** sender) {
    if (capacity < 0) capacity = 0;
    if (static_cast<uint64_t>(capacity) > SIZE_MAX / sizeof(int64_t)) return nullptr;
    // One slot at least, so that a ring of capacity 0 is still a real allocation.
    size_t slots = capacity == 0 ? 1 : static_cast<size_t>(capacity);
    auto* ch = static_cast<QorChannel*>(malloc(sizeof(QorChannel)));
    auto* buffer = static_cast<int64_t*>(malloc(slots * sizeof(int64_t)));
    QorChannelHandle* send_handle = new_handle(ch);
    QorChannelHandle* recv_handle = new_handle(ch);
    if (ch == nullptr || buffer == nullptr || send_handle == nullptr || recv_handle == nullptr) {
        free(ch);
        free(buffer);
        free(send_handle);
        free(recv_handle);
        return nullptr;
    }
    ch->buffer = buffer;
    ch->capacity = capacity;
    ch->write_pos = 0;
    ch->read_pos = 0;
    ch->count = 0;
    ch->senders = 1;
    ch->closed = 0;
    pthread_mutex_init(&ch->mutex, nullptr);
    init_monotonic_cond(&ch->not_empty);
    init_monotonic_cond(&ch->not_full);
    *sender = send_handle;
    return recv_handle;
}

}  // namespace

// Either address may be null, in which case that handle is only not stored there.
extern "C" QOR_API QorChannelHandle* qor_channel_new(int64_t capacity,
                                                     QorChannelHandle** sender_out,
                                                     QorChannelHandle** receiver_out) {
    QorChannelHandle* sender = nullptr;
    QorChannelHandle* receiver = make_channel(capacity, &sender);
    if (sender_out != nullptr) *sender_out = sender;
    if (receiver_out != nullptr) *receiver_out = receiver;
    return receiver;
}

// A value sent on a closed channel, or on one closed while the sender waited, is dropped; the
// result is 0 either way.
extern "C" QOR_API int64_t qor_channel_send(QorChannelHandle* h, int64_t value) {
    send_within(h->channel, value, -1);
    return 0;
}

extern "C" QOR_API int64_t qor_channel_recv_opt(QorChannelHandle* h, int64_t* out) {
    return recv_within(h->channel, -1, out);
}

// 0 both for a received 0 and for the end of a closed channel; qor_channel_recv_opt tells them
// apart.
extern "C" QOR_API int64_t qor_channel_recv(QorChannelHandle* h) {
    int64_t value = 0;
    recv_within(h->channel, -1, &value);
    return value;
}

extern "C" QOR_API int64_t qor_channel_try_send(QorChannelHandle* h, int64_t value) {
    QorChannel* ch = h->channel;
    pthread_mutex_lock(&ch->mutex);
    int64_t stored = store_if_room(ch, value);
    pthread_mutex_unlock(&ch->mutex);
    return stored;
}

extern "C" QOR_API int64_t qor_channel_try_recv(QorChannelHandle* h, int64_t* out) {
    QorChannel* ch = h->channel;
    pthread_mutex_lock(&ch->mutex);
    int64_t got = take_if_any(ch, out);
    pthread_mutex_unlock(&ch->mutex);
    return got;
}

extern "C" QOR_API int64_t qor_channel_send_timeout(QorChannelHandle* h, int64_t value,
                                                    int64_t ms) {
    return send_within(h->channel, value, ms);
}

extern "C" QOR_API int64_t qor_channel_recv_timeout(QorChannelHandle* h, int64_t ms, int64_t* out) {
    return recv_within(h->channel, ms, out);
}

// Wakes every blocked sender and receiver so each re-tests; closing again changes nothing.
extern "C" QOR_API int64_t qor_channel_close(QorChannelHandle* h) {
    QorChannel* ch = h->channel;
    pthread_mutex_lock(&ch->mutex);
    ch->closed = 1;
    pthread_cond_broadcast(&ch->not_empty);
    pthread_cond_broadcast(&ch->not_full);
    pthread_mutex_unlock(&ch->mutex);
    return 0;
}

extern "C" QOR_API int64_t qor_channel_is_closed(QorChannelHandle* h) {
    QorChannel* ch = h->channel;
    pthread_mutex_lock(&ch->mutex);
    int64_t closed = ch->closed;
    pthread_mutex_unlock(&ch->mutex);
    return closed;
}

// senders is counted but consulted by nothing: closing is always explicit.
extern "C" QOR_API QorChannelHandle* qor_sender_clone(QorChannelHandle* h) {
    QorChannel* ch = h->channel;
    QorChannelHandle* clone = new_handle(ch);
    if (clone == nullptr) return nullptr;
    std::atomic_ref<int64_t>(ch->senders).fetch_add(1, std::memory_order_relaxed);
    return clone;
}
