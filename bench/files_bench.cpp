// Whole-file reading against its peer: one fread of the same file into a buffer that was
// allocated (and touched) once, outside the timed loop. Both read a 64 MiB file that sits in
// the page cache, and both are called through non-inlined functions.
#include <benchmark/benchmark.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "qor_runtime.h"

namespace {

constexpr size_t kFileSize = size_t{64} << 20;

std::string g_dir;
std::string g_path;

__attribute__((noinline)) QorString* qor_side(const QorString* path) { return qor_read_file(path); }

__attribute__((noinline)) size_t fread_side(const char* path, char* buffer, size_t n) {
    FILE* f = fopen(path, "rb");
    if (f == nullptr) return 0;
    size_t got = fread(buffer, 1, n, f);
    fclose(f);
    return got;
}

// The same fread into a buffer taken from malloc on every call and freed after it: what any
// reader that hands out a fresh buffer pays for new memory, shown to place the figures above.
__attribute__((noinline)) size_t fread_fresh_side(const char* path, size_t n) {
    auto* buffer = static_cast<char*>(malloc(n + 1));
    if (buffer == nullptr) return 0;
    size_t got = fread_side(path, buffer, n);
    benchmark::DoNotOptimize(buffer);
    free(buffer);
    return got;
}

void BM_QorReadFile(benchmark::State& state) {
    qor_arena_mode(0);
    QorString* path = qor_string_from_cstr(g_path.c_str());
    for (auto _ : state) {
        QorString* s = qor_side(path);
        if (s->len != static_cast<int64_t>(kFileSize)) state.SkipWithError("short read");
        benchmark::DoNotOptimize(s->data);
        qor_string_free(s);
    }
    qor_string_free(path);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kFileSize));
}

void BM_FreadPreallocated(benchmark::State& state) {
    std::vector<char> buffer(kFileSize + 1, 1);
    for (auto _ : state) {
        size_t got = fread_side(g_path.c_str(), buffer.data(), kFileSize);
        if (got != kFileSize) state.SkipWithError("short read");
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kFileSize));
}

void BM_FreadFreshMalloc(benchmark::State& state) {
    for (auto _ : state) {
        if (fread_fresh_side(g_path.c_str(), kFileSize) != kFileSize) {
            state.SkipWithError("short read");
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kFileSize));
}

BENCHMARK(BM_QorReadFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FreadPreallocated)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FreadFreshMalloc)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    char tmpl[] = "/tmp/qor_files_bench_XXXXXX";
    if (mkdtemp(tmpl) == nullptr) return 1;
    g_dir = tmpl;
    g_path = g_dir + "/data";
    {
        std::vector<char> bytes(kFileSize);
        for (size_t i = 0; i < kFileSize; i++) bytes[i] = static_cast<char>(i * 131 + 7);
        FILE* f = fopen(g_path.c_str(), "wb");
        if (f == nullptr) return 1;
        fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    unlink(g_path.c_str());
    rmdir(g_dir.c_str());
    return 0;
}
