// Command capture against its peer: popen and fread into a buffer allocated once outside the
// timed loop. Both capture the same command at several output sizes, so the per-byte cost shows
// whether capture stays linear as the output grows. Both are called through non-inlined
// functions.
#include <benchmark/benchmark.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "qor_runtime.h"

namespace {

std::string emit(int64_t n) { return "head -c " + std::to_string(n) + " /dev/zero"; }

__attribute__((noinline)) QorString* qor_side(const QorString* command) {
    return qor_system_capture(command);
}

__attribute__((noinline)) size_t popen_side(const char* command, char* buffer, size_t n) {
    FILE* pipe = popen(command, "r");
    if (pipe == nullptr) return 0;
    size_t got = fread(buffer, 1, n, pipe);
    pclose(pipe);
    return got;
}

void BM_QorSystemCapture(benchmark::State& state) {
    qor_arena_mode(0);
    int64_t n = state.range(0);
    QorString* command = qor_string_from_cstr(emit(n).c_str());
    for (auto _ : state) {
        QorString* s = qor_side(command);
        if (s->len != n) state.SkipWithError("short capture");
        benchmark::DoNotOptimize(s->data);
        qor_string_free(s);
    }
    qor_string_free(command);
    state.SetBytesProcessed(state.iterations() * n);
}

void BM_PopenFread(benchmark::State& state) {
    int64_t n = state.range(0);
    std::string command = emit(n);
    std::vector<char> buffer(static_cast<size_t>(n) + 1, 1);
    for (auto _ : state) {
        size_t got = popen_side(command.c_str(), buffer.data(), static_cast<size_t>(n));
        if (got != static_cast<size_t>(n)) state.SkipWithError("short capture");
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetBytesProcessed(state.iterations() * n);
}

BENCHMARK(BM_QorSystemCapture)
    ->Arg(1 << 20)
    ->Arg(8 << 20)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_PopenFread)->Arg(1 << 20)->Arg(8 << 20)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
