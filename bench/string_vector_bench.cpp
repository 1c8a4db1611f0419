// Splitting one comma-separated line of 256 KiB and of 1 MiB into a string vector: the
// time per byte stays flat, so splitting is linear in the text's length. The peer splits a
// std::string_view into a std::vector<std::string>. Pieces go to the arena, which is reset
// (outside the timing) after every split.
#include <benchmark/benchmark.h>

#include <string>
#include <string_view>
#include <vector>

#include "qor_runtime.h"

namespace {

// Fields of 1 to 12 digits, comma-separated, up to n bytes.
std::string line_of(size_t n) {
    std::string line;
    line.reserve(n + 16);
    for (uint64_t i = 1; line.size() < n; i = i * 31 % 1000000007) {
        line += std::to_string(i % 1000000000000ULL);
        line += ',';
    }
    line.resize(n);
    return line;
}

__attribute__((noinline)) int64_t qor_split(const QorString* text, const QorString* sep) {
    return qor_str_split(text, sep);
}

__attribute__((noinline)) void std_split(std::string_view text, char sep,
                                         std::vector<std::string>& out) {
    size_t pos = 0;
    while (pos < text.size()) {
        size_t at = text.find(sep, pos);
        if (at == std::string_view::npos) at = text.size();
        out.emplace_back(text.substr(pos, at - pos));
        pos = at + 1;
    }
}

void BM_QorStrSplit(benchmark::State& state) {
    std::string line = line_of(static_cast<size_t>(state.range(0)));
    int32_t saved = g_arena_enabled;
    qor_arena_mode(1);
    QorString* text = qor_string_new(line.data(), static_cast<int64_t>(line.size()));
    QorString* sep = qor_string_from_cstr(",");
    qor_arena_save();
    for (auto _ : state) {
        int64_t h = qor_split(text, sep);
        benchmark::DoNotOptimize(qor_svec_len(h));
        state.PauseTiming();
        qor_svec_free(h);
        qor_arena_restore();
        state.ResumeTiming();
    }
    qor_arena_destroy();
    qor_arena_mode(saved);
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_StdSplit(benchmark::State& state) {
    std::string line = line_of(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        std::vector<std::string> pieces;
        std_split(line, ',', pieces);
        benchmark::DoNotOptimize(pieces.size());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

}  // namespace

BENCHMARK(BM_QorStrSplit)->Arg(256 << 10)->Arg(1 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StdSplit)->Arg(256 << 10)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
