// Integer map against absl::flat_hash_map<int64_t, int64_t> and std::unordered_map: a fresh map
// per iteration, 100,000 distinct keys inserted, then every key looked up; and lookups of absent
// keys in a map of 1,000 live keys after a million insert/remove cycles, against the same
// lookups in a fresh map. All run in one program, one non-inlined call per operation on each
// side. Names: BM_<Work>_ours and BM_<Work>_peer_<peer>; the fresh table is BM_<Work>_fresh.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "absl/container/flat_hash_map.h"
#include "qor_runtime.h"

namespace {

constexpr int64_t kKeys = 100000;
constexpr int64_t kLive = 1000;
constexpr int64_t kChurnCycles = 1000000;
constexpr int64_t kProbes = 100000;

// Distinct keys spread over the whole 64-bit range: an odd multiplier is a bijection.
std::vector<int64_t> make_keys() {
    std::vector<int64_t> keys;
    for (int64_t i = 0; i < kKeys; i++) {
        keys.push_back(static_cast<int64_t>(static_cast<uint64_t>(i) * 0x9e3779b97f4a7c15ULL));
    }
    return keys;
}

template <typename Map>
__attribute__((noinline)) void peer_insert(Map& m, int64_t key, int64_t value) {
    m[key] = value;
}

template <typename Map>
__attribute__((noinline)) int64_t peer_get(const Map& m, int64_t key) {
    auto it = m.find(key);
    return it == m.end() ? INT64_MIN : it->second;
}

void BM_IntMapInsertLookup_ours(benchmark::State& state) {
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

template <typename Map>
void BM_IntMapInsertLookup_peer(benchmark::State& state) {
    std::vector<int64_t> keys = make_keys();
    for (auto _ : state) {
        Map m;
        for (int64_t i = 0; i < kKeys; i++) peer_insert(m, keys[i], i);
        int64_t sum = 0;
        for (int64_t i = 0; i < kKeys; i++) sum += peer_get(m, keys[i]);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kKeys);
}

// Absent-key lookups in a map of kLive keys, after kChurnCycles insert/remove cycles that keep
// kLive keys live (or none, for the fresh table).
void absent_lookups(benchmark::State& state, int64_t cycles) {
    QorIntMap* m = hashmap_new();
    for (int64_t k = 0; k < kLive; k++) hashmap_insert(m, k, k);
    for (int64_t k = kLive; k < kLive + cycles; k++) {
        hashmap_insert(m, k, k);
        hashmap_remove(m, k - kLive);
    }
    for (auto _ : state) {
        int64_t found = 0;
        for (int64_t k = 1; k <= kProbes; k++) found += hashmap_contains(m, -k);
        benchmark::DoNotOptimize(found);
    }
    state.SetItemsProcessed(state.iterations() * kProbes);
    hashmap_free(m);
}

void BM_IntMapChurnAbsentLookup_ours(benchmark::State& state) {
    absent_lookups(state, kChurnCycles);
}
void BM_IntMapChurnAbsentLookup_fresh(benchmark::State& state) { absent_lookups(state, 0); }

}  // namespace

BENCHMARK(BM_IntMapInsertLookup_ours)
    ->Name("BM_IntMapInsertLookup_ours")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IntMapInsertLookup_peer<absl::flat_hash_map<int64_t, int64_t>>)
    ->Name("BM_IntMapInsertLookup_peer_absl")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IntMapInsertLookup_peer<std::unordered_map<int64_t, int64_t>>)
    ->Name("BM_IntMapInsertLookup_peer_std")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IntMapChurnAbsentLookup_ours)
    ->Name("BM_IntMapChurnAbsentLookup_ours")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_IntMapChurnAbsentLookup_fresh)
    ->Name("BM_IntMapChurnAbsentLookup_fresh")
    ->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
