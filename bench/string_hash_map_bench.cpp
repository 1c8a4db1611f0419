// The string hash map against absl::flat_hash_map and std::unordered_map with std::string keys:
// inserting then looking up 100,000 distinct keys, with lookups through separate records of equal
// bytes, so the map must hash and compare bytes rather than match pointers; and lookups of absent
// keys in a map of 1,000 live keys after a million insert/remove cycles, against the same lookups
// in a fresh map. Each side calls through one non-inlined function per operation. Names:
// BM_<Work>_ours and BM_<Work>_peer_<peer>; the fresh table is BM_<Work>_fresh.
#include <benchmark/benchmark.h>

#include <string>
#include <unordered_map>
#include <vector>

#include "absl/container/flat_hash_map.h"
#include "qor_runtime.h"

namespace {

constexpr int kKeys = 100000;
constexpr int kLive = 1000;
constexpr int kChurnCycles = 1000000;
constexpr int kProbes = 10000;

std::vector<std::string> key_texts(int n, const char* prefix) {
    std::vector<std::string> out;
    out.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; i++) out.push_back(prefix + std::to_string(i * 7919) + ":name");
    return out;
}

std::vector<QorString*> key_records(const std::vector<std::string>& texts) {
    std::vector<QorString*> out;
    out.reserve(texts.size());
    for (const std::string& t : texts) {
        out.push_back(qor_string_new(t.data(), static_cast<int64_t>(t.size())));
    }
    return out;
}

__attribute__((noinline)) void qor_put(QorStrHashMap* m, QorString* k, int64_t v) {
    qor_str_hashmap_insert(m, k, v);
}
__attribute__((noinline)) int64_t qor_find(QorStrHashMap* m, const QorString* k) {
    return qor_str_hashmap_get(m, k);
}

template <typename Map>
__attribute__((noinline)) void peer_put(Map& m, const std::string& k, int64_t v) {
    m[k] = v;
}
template <typename Map>
__attribute__((noinline)) int64_t peer_find(const Map& m, const std::string& k) {
    auto it = m.find(k);
    return it == m.end() ? 0 : it->second;
}

void BM_StrHashMapInsertThenGet_ours(benchmark::State& state) {
    std::vector<std::string> texts = key_texts(kKeys, "user:");
    std::vector<QorString*> keys = key_records(texts);
    std::vector<QorString*> probes = key_records(texts);
    for (auto _ : state) {
        QorStrHashMap* m = qor_str_hashmap_new();
        for (int i = 0; i < kKeys; i++) qor_put(m, keys[i], i);
        int64_t sum = 0;
        for (int i = 0; i < kKeys; i++) sum += qor_find(m, probes[i]);
        benchmark::DoNotOptimize(sum);
        qor_str_hashmap_free(m);
    }
    state.SetItemsProcessed(state.iterations() * kKeys);
}

template <typename Map>
void BM_StrHashMapInsertThenGet_peer(benchmark::State& state) {
    std::vector<std::string> keys = key_texts(kKeys, "user:");
    std::vector<std::string> probes = key_texts(kKeys, "user:");
    for (auto _ : state) {
        Map m;
        for (int i = 0; i < kKeys; i++) peer_put(m, keys[i], i);
        int64_t sum = 0;
        for (int i = 0; i < kKeys; i++) sum += peer_find(m, probes[i]);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kKeys);
}

// Absent-key lookups in a map of kLive keys, after `cycles` insert/remove cycles that keep kLive
// keys live. Every cycle's key is a record of its own, as a program reading words would have.
void absent_lookups(benchmark::State& state, int cycles) {
    std::vector<QorString*> keys = key_records(key_texts(kLive + cycles, "churn:"));
    std::vector<QorString*> absent = key_records(key_texts(kProbes, "absent:"));
    QorStrHashMap* m = qor_str_hashmap_new();
    for (int i = 0; i < kLive; i++) qor_str_hashmap_insert(m, keys[i], i);
    for (int i = kLive; i < kLive + cycles; i++) {
        qor_str_hashmap_insert(m, keys[i], i);
        qor_str_hashmap_remove(m, keys[i - kLive]);
    }
    for (auto _ : state) {
        int64_t found = 0;
        for (QorString* k : absent) found += qor_str_hashmap_contains(m, k);
        benchmark::DoNotOptimize(found);
    }
    state.SetItemsProcessed(state.iterations() * kProbes);
    qor_str_hashmap_free(m);
}

void BM_StrHashMapChurnAbsentLookup_ours(benchmark::State& state) {
    absent_lookups(state, kChurnCycles);
}
void BM_StrHashMapChurnAbsentLookup_fresh(benchmark::State& state) { absent_lookups(state, 0); }

}  // namespace

BENCHMARK(BM_StrHashMapInsertThenGet_ours)
    ->Name("BM_StrHashMapInsertThenGet_ours")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StrHashMapInsertThenGet_peer<absl::flat_hash_map<std::string, int64_t>>)
    ->Name("BM_StrHashMapInsertThenGet_peer_absl")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StrHashMapInsertThenGet_peer<std::unordered_map<std::string, int64_t>>)
    ->Name("BM_StrHashMapInsertThenGet_peer_std")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StrHashMapChurnAbsentLookup_ours)
    ->Name("BM_StrHashMapChurnAbsentLookup_ours")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StrHashMapChurnAbsentLookup_fresh)
    ->Name("BM_StrHashMapChurnAbsentLookup_fresh")
    ->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
