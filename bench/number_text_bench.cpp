// Number text against the standard formatters: qor_int_to_string with the arena on (reset
// every 4096 calls) against std::to_chars into a stack buffer, and qor_f64_to_string against
// snprintf "%.9g" into a stack buffer. Each side pays one out-of-line call per value: the
// runtime through its exported function, the peer through a non-inlined wrapper.
#include <benchmark/benchmark.h>
#include <stdio.h>

#include <charconv>
#include <cstdint>
#include <vector>

#include "qor_runtime.h"

namespace {

constexpr size_t kValues = 4096;

__attribute__((noinline)) size_t peer_int_to_chars(int64_t v) {
    char buffer[24];
    char* end = std::to_chars(buffer, buffer + sizeof buffer, v).ptr;
    benchmark::DoNotOptimize(buffer);
    return static_cast<size_t>(end - buffer);
}

__attribute__((noinline)) size_t peer_snprintf_g9(double x) {
    char buffer[32];
    int n = snprintf(buffer, sizeof buffer, "%.9g", x);
    benchmark::DoNotOptimize(buffer);
    return static_cast<size_t>(n);
}

// Integers of every length from 1 to 19 digits, both signs, the same for both sides.
std::vector<int64_t> mixed_integers() {
    std::vector<int64_t> out;
    uint64_t state = 0x9e3779b97f4a7c15ULL;
    for (size_t i = 0; i < kValues; i++) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        int digits = static_cast<int>(i % 19);
        int64_t v = static_cast<int64_t>(state >> (i % 64));
        int64_t limit = 1;
        for (int d = 0; d <= digits; d++) limit *= 10;
        v %= limit;
        out.push_back(v);
    }
    return out;
}

std::vector<double> mixed_doubles() {
    std::vector<double> out;
    for (int64_t v : mixed_integers()) out.push_back(static_cast<double>(v) / 1024.0);
    return out;
}

// Converts the values in turn with the arena on, resetting it after each pass over them.
template <typename T, typename Convert>
void run_with_arena(benchmark::State& state, const std::vector<T>& values, Convert convert) {
    int32_t saved = g_arena_enabled;
    qor_arena_mode(1);
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(convert(values[i]));
        if (++i == kValues) {
            i = 0;
            qor_arena_reset();
        }
    }
    qor_arena_reset();
    qor_arena_mode(saved);
    state.SetItemsProcessed(state.iterations());
}

void BM_QorIntToString(benchmark::State& state) {
    run_with_arena(state, mixed_integers(), qor_int_to_string);
}

void BM_PeerToChars(benchmark::State& state) {
    std::vector<int64_t> values = mixed_integers();
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(peer_int_to_chars(values[i]));
        if (++i == kValues) i = 0;
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_QorF64ToString(benchmark::State& state) {
    run_with_arena(state, mixed_doubles(), qor_f64_to_string);
}

void BM_PeerSnprintfG9(benchmark::State& state) {
    std::vector<double> values = mixed_doubles();
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(peer_snprintf_g9(values[i]));
        if (++i == kValues) i = 0;
    }
    state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(BM_QorIntToString);
BENCHMARK(BM_PeerToChars);
BENCHMARK(BM_QorF64ToString);
BENCHMARK(BM_PeerSnprintfG9);

BENCHMARK_MAIN();
