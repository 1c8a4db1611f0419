// Integer map against std::unordered_map<int64_t, int64_t>: a fresh map per iteration, 100,000
// distinct keys inserted, then every key looked up. Both run in one program, one call per
// operation on each side.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "qor_runtime.h"

namespace {

constexpr int64_t kKeys = 100000;

// Distinct keys spread over the whole 64-bit range: an odd multiplier is a bijection.
std::vector<int64_t> make_keys() {
    std::vector<int64_t> keys;
    for (int64_t i = 0; i < kKeys; i++) {
        keys.push_back(static_cast<int64_t>(static_cast<uint64_t>(i) * 0x9e3779b97f4a7c15ULL));
    }
    return keys;
}

using PeerMap = std::unordered_map<int64_t, int64_t>;

__attribute__((noinline)) void peer_insert(PeerMap& m, int64_t key, int64_t value) {
    m[key] = value;
}

__attribute__((noinline)) int64_t peer_get(const PeerMap& m, int64_t key) {
    auto it = m.find(key);
    return it == m.end() ? INT64_MIN : it->second;
}

void BM_QorHashmapInsertLookup(benchmark::State& state) {
    std::vector<int64_t> keys = make_keys();
    for (auto _ : state) {
        QorIntMap* m = hashmap_new();
        for (int64_t i = 0; i < kKeys; i++) hashmap_insert(m, keys[i], i);
        int64_t sum = 0;
        for (int64_t i = 0; i < kKeys; i++) sum += hashmap_get(m, keys[i]);
        benchmark::DoNotOptimize(sum);
        hashmap_free(m);
    }
    state.SetItemsProcessed(state.iterations() * kKeys);
}

void BM_StdUnorderedMapInsertLookup(benchmark::State& state) {
    std::vector<int64_t> keys = make_keys();
    for (auto _ : state) {
        PeerMap m;
        for (int64_t i = 0; i < kKeys; i++) peer_insert(m, keys[i], i);
        int64_t sum = 0;
        for (int64_t i = 0; i < kKeys; i++) sum += peer_get(m, keys[i]);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kKeys);
}

}  // namespace

BENCHMARK(BM_QorHashmapInsertLookup)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StdUnorderedMapInsertLookup)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
