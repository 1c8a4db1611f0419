// Inserting then looking up 100,000 distinct keys: the runtime's string hash map against
// std::unordered_map with std::string keys. Lookups use separate records with equal bytes, so
// the map must hash and compare bytes rather than match pointers. Each side calls through one
// non-inlined function per operation.
#include <benchmark/benchmark.h>

#include <string>
#include <unordered_map>
#include <vector>

#include "qor_runtime.h"

namespace {

constexpr int kKeys = 100000;

std::vector<std::string> key_texts() {
    std::vector<std::string> out;
    out.reserve(kKeys);
    for (int i = 0; i < kKeys; i++) out.push_back("user:" + std::to_string(i * 7919) + ":name");
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

using StdMap = std::unordered_map<std::string, int64_t>;
__attribute__((noinline)) void std_put(StdMap& m, const std::string& k, int64_t v) { m[k] = v; }
__attribute__((noinline)) int64_t std_find(const StdMap& m, const std::string& k) {
    auto it = m.find(k);
    return it == m.end() ? 0 : it->second;
}

void BM_QorStrHashMap_InsertThenGet(benchmark::State& state) {
    std::vector<std::string> texts = key_texts();
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

void BM_StdUnorderedMap_InsertThenGet(benchmark::State& state) {
    std::vector<std::string> keys = key_texts();
    std::vector<std::string> probes = key_texts();
    for (auto _ : state) {
        StdMap m;
        for (int i = 0; i < kKeys; i++) std_put(m, keys[i], i);
        int64_t sum = 0;
        for (int i = 0; i < kKeys; i++) sum += std_find(m, probes[i]);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kKeys);
}

}  // namespace

BENCHMARK(BM_QorStrHashMap_InsertThenGet)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StdUnorderedMap_InsertThenGet)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
