// String map against absl::flat_hash_map<std::string, int64_t> and std::unordered_map: a fresh
// map per iteration, 100,000 distinct keys inserted, then every key looked up. All run in one
// program, one non-inlined call per operation on each side. Names: BM_<Work>_ours and
// BM_<Work>_peer_<peer>.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "absl/container/flat_hash_map.h"
#include "qor_runtime.h"

namespace {

constexpr int64_t kKeys = 100000;

std::vector<std::string> make_keys() {
    std::vector<std::string> keys;
    for (int64_t i = 0; i < kKeys; i++) keys.push_back("user:" + std::to_string(i * 7919));
    return keys;
}

template <typename PeerMap>
__attribute__((noinline)) void peer_insert(PeerMap& m, const std::string& key, int64_t value) {
    m[key] = value;
}

template <typename PeerMap>
__attribute__((noinline)) int64_t peer_get(const PeerMap& m, const std::string& key) {
    auto it = m.find(key);
    return it == m.end() ? -1 : it->second;
}

void BM_StrmapInsertLookup_ours(benchmark::State& state) {
    std::vector<std::string> texts = make_keys();
    std::vector<QorString*> keys;
    for (const std::string& t : texts) {
        keys.push_back(qor_string_new(t.data(), static_cast<int64_t>(t.size())));
    }
    for (auto _ : state) {
        QorStrMap* m = qor_strmap_new();
        for (int64_t i = 0; i < kKeys; i++) qor_strmap_insert(m, keys[i], i);
        int64_t sum = 0;
        for (int64_t i = 0; i < kKeys; i++) sum += qor_strmap_get(m, keys[i]);
        benchmark::DoNotOptimize(sum);
        qor_strmap_free(m);
    }
    state.SetItemsProcessed(state.iterations() * kKeys);
}

template <typename PeerMap>
void BM_StrmapInsertLookup_peer(benchmark::State& state) {
    std::vector<std::string> keys = make_keys();
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

BENCHMARK(BM_StrmapInsertLookup_ours)
    ->Name("BM_StrmapInsertLookup_ours")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StrmapInsertLookup_peer<absl::flat_hash_map<std::string, int64_t>>)
    ->Name("BM_StrmapInsertLookup_peer_absl")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StrmapInsertLookup_peer<std::unordered_map<std::string, int64_t>>)
    ->Name("BM_StrmapInsertLookup_peer_std")
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
