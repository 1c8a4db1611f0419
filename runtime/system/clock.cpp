// The monotonic clock, millisecond sleep, the per-thread random generator, process exit and the
// optimisation barrier. The generator state is thread-local and starts at 0 (unseeded) in every
// thread, so no call here takes a lock or affects another thread; the black-box sink is the one
// shared word, written atomically and never read back.
#include <errno.h>
#include <stdlib.h>
#include <time.h>

#include "core/internal.h"

extern "C" {
QOR_API volatile int64_t qor_black_box_sink = 0;
}

// xorshift64 state of this thread; 0 means not seeded yet. Never inherited by new threads.
static thread_local uint64_t qor_rng_state = 0;

namespace {

constexpr uint64_t kClockSeedMix = 0x5DEECE66DULL;

}  // namespace

// seconds * 10^9 + nanoseconds of CLOCK_MONOTONIC.
extern "C" QOR_API int64_t qor_time_ns(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Truncated from the same reading that qor_time_ns gives.
extern "C" QOR_API int64_t qor_time_ms(void) { return qor_time_ns() / 1000000; }

// A negative duration sleeps 0 ms. The duration goes to nanosleep as seconds and nanoseconds,
// so every value up to INT32_MAX ms is exact (no 32-bit microsecond count to wrap). Like
// usleep, a sleep cut short by a signal reports -1.
extern "C" QOR_API int32_t qor_sleep_ms(int32_t ms) {
    if (ms <= 0) return 0;
    struct timespec ts;
    ts.tv_sec = ms / 1000;
    ts.tv_nsec = static_cast<long>(ms % 1000) * 1000000;
    return nanosleep(&ts, nullptr) == 0 ? 0 : -1;
}

// The plain twin sleeps the same way but always answers 0, as a 64-bit value.
extern "C" QOR_API int64_t sleep_ms(int32_t ms) {
    qor_sleep_ms(ms);
    return 0;
}

// One xorshift64 step (13, 7, 17) of the thread's state, seeding it from the clock first if it
// is 0. The state keeps all 64 bits; the result drops bit 63 so it is never negative.
extern "C" QOR_API int64_t qor_random_i64(void) {
    uint64_t x = qor_rng_state;
    if (x == 0) x = static_cast<uint64_t>(qor_time_ns()) ^ kClockSeedMix;
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    qor_rng_state = x;
    return static_cast<int64_t>(x & 0x7FFFFFFFFFFFFFFFULL);
}

// A zero state would never advance, so 0 seeds as 1.
extern "C" QOR_API void qor_random_seed(uint64_t seed) { qor_rng_state = seed == 0 ? 1 : seed; }

// Plain exit: atexit handlers run and stdio buffers are flushed; arenas are left to the OS.
extern "C" QOR_API void qor_exit(int32_t status) { exit(status); }

// The value passes through a volatile local, so neither the store nor the returned read can be
// dropped, and each call returns its own argument even while other threads write the sink.
extern "C" QOR_API int64_t qor_black_box(int64_t value) {
    volatile int64_t kept = value;
    __atomic_store_n(&qor_black_box_sink, kept, __ATOMIC_RELAXED);
    return kept;
}

QOR_PLAIN_ALIAS(time_ns, qor_time_ns);
QOR_PLAIN_ALIAS(now_ns, qor_time_ns);
QOR_PLAIN_ALIAS(time_ms, qor_time_ms);
QOR_PLAIN_ALIAS(now_ms, qor_time_ms);
