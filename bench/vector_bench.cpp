// Vectors against std::vector<int64_t>: one million pushes into a fresh vector, and a stable
// sort of 100,000 random values (peer std::stable_sort). Each side pays one out-of-line call
// per operation: the runtime through its exported functions, the peer through non-inlined
// wrappers. The push figures depend on the allocator as much as on the push: realloc can grow
// a large block in place or by remapping its pages, while the peer copies into a new buffer
// at every growth, which with glibc's default settings may be freshly mapped and fault in.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "qor_runtime.h"

namespace {

constexpr int64_t kPushes = 1000000;
constexpr int64_t kSortSize = 100000;

__attribute__((noinline)) void peer_push(std::vector<int64_t>& v, int64_t value) {
    v.push_back(value);
}

__attribute__((noinline)) void peer_sort(std::vector<int64_t>& v) {
    std::stable_sort(v.begin(), v.end());
}

// Values spread over the whole signed range, the same for both sides.
std::vector<int64_t> random_values(int64_t n) {
    std::vector<int64_t> out;
    uint64_t state = 0x9e3779b97f4a7c15ULL;
    for (int64_t i = 0; i < n; i++) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        out.push_back(static_cast<int64_t>(state));
    }
    return out;
}

void BM_QorVecPush(benchmark::State& state) {
    for (auto _ : state) {
        QorVec* v = qor_vec_new();
        for (int64_t i = 0; i < kPushes; i++) qor_vec_push(v, i);
        benchmark::DoNotOptimize(v->items);
        qor_vec_free(v);
    }
    state.SetItemsProcessed(state.iterations() * kPushes);
}

void BM_PeerVectorPushBack(benchmark::State& state) {
    for (auto _ : state) {
        std::vector<int64_t> v;
        for (int64_t i = 0; i < kPushes; i++) peer_push(v, i);
        benchmark::DoNotOptimize(v.data());
    }
    state.SetItemsProcessed(state.iterations() * kPushes);
}

void BM_QorVecSort(benchmark::State& state) {
    std::vector<int64_t> input = random_values(kSortSize);
    QorVec* v = qor_vec_with_capacity(kSortSize);
    for (auto _ : state) {
        state.PauseTiming();
        memcpy(v->items, input.data(), input.size() * sizeof(int64_t));
        v->len = kSortSize;
        state.ResumeTiming();
        qor_vec_sort(v);
        benchmark::DoNotOptimize(v->items);
    }
    qor_vec_free(v);
    state.SetItemsProcessed(state.iterations() * kSortSize);
}

void BM_PeerStableSort(benchmark::State& state) {
    std::vector<int64_t> input = random_values(kSortSize);
    std::vector<int64_t> v(input.size());
    for (auto _ : state) {
        state.PauseTiming();
        std::copy(input.begin(), input.end(), v.begin());
        state.ResumeTiming();
        peer_sort(v);
        benchmark::DoNotOptimize(v.data());
    }
    state.SetItemsProcessed(state.iterations() * kSortSize);
}

}  // namespace

BENCHMARK(BM_QorVecPush)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PeerVectorPushBack)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QorVecSort)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PeerStableSort)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
