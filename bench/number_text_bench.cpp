// Number text both ways against the C++ formatters and parsers: qor_int_to_string and
// qor_f64_to_string (with the arena on, reset after every pass over the values) against
// std::to_chars into a stack buffer ("%.9g" is to_chars' general form with precision 9), and
// qor_parse_int and qor_parse_f64 against std::from_chars over the same texts. Naming: every
// BM_Qor<Op> has a BM_Peer<Op>, measured in the same run. Each side pays one out-of-line call
// per value: the runtime through its exported function, the peer through a non-inlined wrapper.
#include <benchmark/benchmark.h>

#include <charconv>
#include <cstdint>
#include <string>
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

__attribute__((noinline)) size_t peer_g9_to_chars(double x) {
    char buffer[32];
    char* end = std::to_chars(buffer, buffer + sizeof buffer, x, std::chars_format::general, 9).ptr;
    benchmark::DoNotOptimize(buffer);
    return static_cast<size_t>(end - buffer);
}

__attribute__((noinline)) int64_t peer_from_chars_int(const std::string& text) {
    int64_t v = 0;
    std::from_chars(text.data(), text.data() + text.size(), v);
    return v;
}

__attribute__((noinline)) double peer_from_chars_f64(const std::string& text) {
    double v = 0;
    std::from_chars(text.data(), text.data() + text.size(), v);
    return v;
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

// The texts both parsers read: each value as the runtime formats it.
template <typename T, typename Format>
std::vector<std::string> texts_of(const std::vector<T>& values, Format format) {
    std::vector<std::string> out;
    int32_t saved = g_arena_enabled;
    qor_arena_mode(0);
    for (T v : values) {
        QorString* s = format(v);
        out.emplace_back(s->data, static_cast<size_t>(s->len));
        qor_string_free(s);
    }
    qor_arena_mode(saved);
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

// Calls convert on each value in turn, cycling.
template <typename T, typename Convert>
void run_plain(benchmark::State& state, const std::vector<T>& values, Convert convert) {
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(convert(values[i]));
        if (++i == kValues) i = 0;
    }
    state.SetItemsProcessed(state.iterations());
}

// Records for the runtime's parsers, made once on the heap.
std::vector<QorString*> records_of(const std::vector<std::string>& texts) {
    std::vector<QorString*> out;
    int32_t saved = g_arena_enabled;
    qor_arena_mode(0);
    for (const std::string& t : texts)
        out.push_back(qor_string_new(t.data(), static_cast<int64_t>(t.size())));
    qor_arena_mode(saved);
    return out;
}

void BM_QorIntToString(benchmark::State& state) {
    run_with_arena(state, mixed_integers(), qor_int_to_string);
}

void BM_PeerIntToString(benchmark::State& state) {
    run_plain(state, mixed_integers(), peer_int_to_chars);
}

void BM_QorF64ToString(benchmark::State& state) {
    run_with_arena(state, mixed_doubles(), qor_f64_to_string);
}

void BM_PeerF64ToString(benchmark::State& state) {
    run_plain(state, mixed_doubles(), peer_g9_to_chars);
}

void BM_QorParseInt(benchmark::State& state) {
    std::vector<QorString*> records = records_of(texts_of(mixed_integers(), qor_int_to_string));
    run_plain(state, records, qor_parse_int);
}

void BM_PeerParseInt(benchmark::State& state) {
    std::vector<std::string> texts = texts_of(mixed_integers(), qor_int_to_string);
    run_plain(state, texts, peer_from_chars_int);
}

void BM_QorParseF64(benchmark::State& state) {
    std::vector<QorString*> records = records_of(texts_of(mixed_doubles(), qor_f64_to_string));
    run_plain(state, records, qor_parse_f64);
}

void BM_PeerParseF64(benchmark::State& state) {
    std::vector<std::string> texts = texts_of(mixed_doubles(), qor_f64_to_string);
    run_plain(state, texts, peer_from_chars_f64);
}

}  // namespace

BENCHMARK(BM_QorIntToString);
BENCHMARK(BM_PeerIntToString);
BENCHMARK(BM_QorF64ToString);
BENCHMARK(BM_PeerF64ToString);
BENCHMARK(BM_QorParseInt);
BENCHMARK(BM_PeerParseInt);
BENCHMARK(BM_QorParseF64);
BENCHMARK(BM_PeerParseF64);

BENCHMARK_MAIN();
