// Making a 16-byte string with the arena on, against the same two allocations and copy through
// std::pmr::monotonic_buffer_resource (the peer) and through malloc (for reference). Naming:
// BM_QorStringNew and BM_PeerStringNew are the pair measured in the same run. Each side is one
// out-of-line call.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <string.h>

#include <memory_resource>

#include "qor_runtime.h"

namespace {

const char kBytes[] = "sixteen bytes!!!";
constexpr int64_t kLen = 16;
constexpr int kBatch = 100000;  // strings made between two arena rewinds

struct PmrString {
    char* data;
    int64_t len;
    int64_t cap;
};

__attribute__((noinline)) PmrString* pmr_string_new(std::pmr::memory_resource* r, const char* bytes,
                                                    int64_t n) {
    auto* data = static_cast<char*>(r->allocate(static_cast<size_t>(n) + 1, 8));
    memcpy(data, bytes, static_cast<size_t>(n));
    data[n] = '\0';
    auto* s = static_cast<PmrString*>(r->allocate(sizeof(PmrString), 8));
    s->data = data;
    s->len = n;
    s->cap = n;
    return s;
}

__attribute__((noinline)) PmrString* malloc_string_new(const char* bytes, int64_t n) {
    auto* data = static_cast<char*>(malloc(static_cast<size_t>(n) + 1));
    memcpy(data, bytes, static_cast<size_t>(n));
    data[n] = '\0';
    auto* s = static_cast<PmrString*>(malloc(sizeof(PmrString)));
    s->data = data;
    s->len = n;
    s->cap = n;
    return s;
}

void BM_QorStringNew(benchmark::State& state) {
    qor_arena_mode(1);
    int made = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(qor_string_new(kBytes, kLen));
        if (++made == kBatch) {
            state.PauseTiming();
            qor_arena_reset();
            made = 0;
            state.ResumeTiming();
        }
    }
    qor_arena_destroy();
}
BENCHMARK(BM_QorStringNew);

void BM_PeerStringNew(benchmark::State& state) {
    auto* upstream = std::pmr::new_delete_resource();
    auto* pool = new std::pmr::monotonic_buffer_resource(8 << 20, upstream);
    int made = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(pmr_string_new(pool, kBytes, kLen));
        if (++made == kBatch) {
            state.PauseTiming();
            pool->release();
            made = 0;
            state.ResumeTiming();
        }
    }
    delete pool;
}
BENCHMARK(BM_PeerStringNew);

void BM_MallocStringNew(benchmark::State& state) {
    static PmrString* made[kBatch];
    int n = 0;
    for (auto _ : state) {
        made[n] = malloc_string_new(kBytes, kLen);
        if (++n == kBatch) {
            state.PauseTiming();
            for (int i = 0; i < n; i++) {
                free(made[i]->data);
                free(made[i]);
            }
            n = 0;
            state.ResumeTiming();
        }
    }
    for (int i = 0; i < n; i++) {
        free(made[i]->data);
        free(made[i]);
    }
}
BENCHMARK(BM_MallocStringNew);

}  // namespace

BENCHMARK_MAIN();
