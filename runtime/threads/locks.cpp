// Value-carrying mutexes and read-write locks, reusable barriers and condition variables, each a
// heap record around one platform object with default attributes.
// A lock's value is read only while the lock is held and written only just before the lock is
// released, so locking hands the value out and unlocking hands the new one back. Every
// operation takes at most the one lock inside its own record; condvar wait uses the lock its
// caller already holds. Null handles give the neutral result without blocking.
#include <stdlib.h>

#include <cstddef>

#include "core/internal.h"

static_assert(offsetof(QorMutex, mutex) == 0);
static_assert(offsetof(QorMutex, value) == sizeof(pthread_mutex_t));
static_assert(sizeof(QorMutex) == sizeof(pthread_mutex_t) + 8);

// Strict C includers see the lock as opaque storage of this size; both views must agree.
static_assert(sizeof(pthread_rwlock_t) == __SIZEOF_PTHREAD_RWLOCK_T);
static_assert(alignof(pthread_rwlock_t) == alignof(long));
static_assert(offsetof(QorRwLock, lock) == 0);
static_assert(offsetof(QorRwLock, value) == sizeof(pthread_rwlock_t));
static_assert(sizeof(QorRwLock) == sizeof(pthread_rwlock_t) + 8);

static_assert(offsetof(QorBarrier, mutex) == 0);
static_assert(offsetof(QorBarrier, cond) == sizeof(pthread_mutex_t));
static_assert(offsetof(QorBarrier, parties) == sizeof(pthread_mutex_t) + sizeof(pthread_cond_t));
static_assert(offsetof(QorBarrier, arrived) == offsetof(QorBarrier, parties) + 8);
static_assert(offsetof(QorBarrier, generation) == offsetof(QorBarrier, parties) + 16);
static_assert(sizeof(QorBarrier) == offsetof(QorBarrier, parties) + 24);

static_assert(offsetof(QorCondvar, cond) == 0);
static_assert(sizeof(QorCondvar) == sizeof(pthread_cond_t));

// ---- mutex -------------------------------------------------------------------------------------

extern "C" QOR_API QorMutex* qor_mutex_new(int64_t value) {
    auto* m = static_cast<QorMutex*>(malloc(sizeof(QorMutex)));
    if (m == nullptr) return nullptr;
    pthread_mutex_init(&m->mutex, nullptr);
    m->value = value;
    return m;
}

extern "C" QOR_API int64_t qor_mutex_lock(QorMutex* m) {
    if (m == nullptr) return 0;
    pthread_mutex_lock(&m->mutex);
    return m->value;
}

extern "C" QOR_API void qor_mutex_unlock(QorMutex* m, int64_t value) {
    if (m == nullptr) return;
    m->value = value;
    pthread_mutex_unlock(&m->mutex);
}

// A busy mutex and one taken while holding 0 both give 0; keep a non-zero value to tell them
// apart.
extern "C" QOR_API int64_t qor_mutex_try_lock(QorMutex* m) {
    if (m == nullptr) return 0;
    if (pthread_mutex_trylock(&m->mutex) != 0) return 0;
    return m->value;
}

extern "C" QOR_API void qor_mutex_free(QorMutex* m) {
    if (m == nullptr) return;
    pthread_mutex_destroy(&m->mutex);
    free(m);
}

// ---- read-write lock ---------------------------------------------------------------------------

extern "C" QOR_API QorRwLock* qor_rwlock_new(int64_t value) {
    auto* l = static_cast<QorRwLock*>(malloc(sizeof(QorRwLock)));
    if (l == nullptr) return nullptr;
    pthread_rwlock_init(&l->lock, nullptr);
    l->value = value;
    return l;
}

extern "C" QOR_API int64_t qor_rwlock_read(QorRwLock* l) {
    if (l == nullptr) return 0;
    pthread_rwlock_rdlock(&l->lock);
    return l->value;
}

extern "C" QOR_API void qor_rwlock_read_unlock(QorRwLock* l) {
    if (l == nullptr) return;
    pthread_rwlock_unlock(&l->lock);
}

extern "C" QOR_API int64_t qor_rwlock_write(QorRwLock* l) {
    if (l == nullptr) return 0;
    pthread_rwlock_wrlock(&l->lock);
    return l->value;
}

extern "C" QOR_API void qor_rwlock_write_unlock(QorRwLock* l, int64_t value) {
    if (l == nullptr) return;
    l->value = value;
    pthread_rwlock_unlock(&l->lock);
}

// Unlike the mutex's try, a refusal is -1, so a lock may carry 0.
extern "C" QOR_API int64_t qor_rwlock_try_read(QorRwLock* l) {
    if (l == nullptr) return -1;
    if (pthread_rwlock_tryrdlock(&l->lock) != 0) return -1;
    return l->value;
}

extern "C" QOR_API int64_t qor_rwlock_try_write(QorRwLock* l) {
    if (l == nullptr) return -1;
    if (pthread_rwlock_trywrlock(&l->lock) != 0) return -1;
    return l->value;
}

extern "C" QOR_API void qor_rwlock_free(QorRwLock* l) {
    if (l == nullptr) return;
    pthread_rwlock_destroy(&l->lock);
    free(l);
}

// ---- barrier -----------------------------------------------------------------------------------

extern "C" QOR_API QorBarrier* qor_barrier_new(int64_t parties) {
    if (parties < 1) return nullptr;
    auto* b = static_cast<QorBarrier*>(malloc(sizeof(QorBarrier)));
    if (b == nullptr) return nullptr;
    pthread_mutex_init(&b->mutex, nullptr);
    pthread_cond_init(&b->cond, nullptr);
    b->parties = parties;
    b->arrived = 0;
    b->generation = 0;
    return b;
}

// The last arrival resets arrived and advances generation before it wakes the others, and the
// others wait for the generation to move rather than for arrived to fill, so a thread that
// races into the next cycle cannot hold back the ones still leaving this one.
extern "C" QOR_API int64_t qor_barrier_wait(QorBarrier* b) {
    if (b == nullptr) return 0;
    pthread_mutex_lock(&b->mutex);
    int64_t generation = b->generation;
    if (++b->arrived == b->parties) {
        b->arrived = 0;
        b->generation++;
        pthread_cond_broadcast(&b->cond);
        pthread_mutex_unlock(&b->mutex);
        return 1;
    }
    while (b->generation == generation) pthread_cond_wait(&b->cond, &b->mutex);
    pthread_mutex_unlock(&b->mutex);
    return 0;
}

extern "C" QOR_API void qor_barrier_free(QorBarrier* b) {
    if (b == nullptr) return;
    pthread_cond_destroy(&b->cond);
    pthread_mutex_destroy(&b->mutex);
    free(b);
}

// ---- condition variable ------------------------------------------------------------------------

extern "C" QOR_API QorCondvar* qor_condvar_new(void) {
    auto* c = static_cast<QorCondvar*>(malloc(sizeof(QorCondvar)));
    if (c == nullptr) return nullptr;
    pthread_cond_init(&c->cond, nullptr);
    return c;
}

// Exactly one platform wait: a wake-up may be spurious, so the caller re-checks its condition.
extern "C" QOR_API int64_t qor_condvar_wait(QorCondvar* c, QorMutex* m) {
    if (c == nullptr || m == nullptr) return 0;
    pthread_cond_wait(&c->cond, &m->mutex);
    return m->value;
}

extern "C" QOR_API void qor_condvar_notify_one(QorCondvar* c) {
    if (c == nullptr) return;
    pthread_cond_signal(&c->cond);
}

extern "C" QOR_API void qor_condvar_notify_all(QorCondvar* c) {
    if (c == nullptr) return;
    pthread_cond_broadcast(&c->cond);
}

extern "C" QOR_API void qor_condvar_free(QorCondvar* c) {
    if (c == nullptr) return;
    pthread_cond_destroy(&c->cond);
    free(c);
}
