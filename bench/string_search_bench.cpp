// String search and transformation. Searching: qor_string_index_of of an absent needle in
// 1 MiB against memmem (peer) over the same bytes. Replace, split and join run at 64 KiB and
// 1 MiB of comma-separated words so the bytes-per-second figures show that their cost is
// linear in the text's length. Every call crosses a non-inlined boundary on both sides.
#include <benchmark/benchmark.h>
#include <string.h>

#include <string>

#include "qor_runtime.h"

namespace {

constexpr int64_t kSearchSize = int64_t{1} << 20;

__attribute__((noinline)) const void* peer_memmem(const char* hay, size_t n, const char* needle,
                                                  size_t m) {
    return memmem(hay, n, needle, m);
}

// n bytes of lowercase letters from a fixed pseudo-random sequence.
std::string letters(int64_t n) {
    std::string out;
    uint64_t state = 0x2545f4914f6cdd1dULL;
    for (int64_t i = 0; i < n; i++) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        out.push_back(static_cast<char>('a' + state % 26));
    }
    return out;
}

// n bytes of short words, each followed by a comma.
std::string csv(int64_t n) {
    std::string out;
    const char* words[] = {"alpha,", "be,", "gamma,", "delta,", "epsilonic,", ","};
    for (int i = 0; static_cast<int64_t>(out.size()) < n; i++) out += words[i % 6];
    out.resize(static_cast<size_t>(n));
    return out;
}

// The needle shares its first letters with the text but never occurs (it ends in '!').
const char kNeedle[] = "qorrun!";

void BM_QorIndexOfAbsent(benchmark::State& state) {
    qor_arena_mode(0);
    std::string text = letters(kSearchSize);
    QorString* hay = qor_string_new(text.data(), kSearchSize);
    QorString* needle = qor_string_from_cstr(kNeedle);
    for (auto _ : state) {
        int64_t at = qor_string_index_of(hay, needle);
        if (at != -1) state.SkipWithError("needle found");
        benchmark::DoNotOptimize(at);
    }
    state.SetBytesProcessed(state.iterations() * kSearchSize);
}

void BM_PeerMemmemAbsent(benchmark::State& state) {
    std::string text = letters(kSearchSize);
    for (auto _ : state) {
        const void* at = peer_memmem(text.data(), text.size(), kNeedle, sizeof kNeedle - 1);
        if (at != nullptr) state.SkipWithError("needle found");
        benchmark::DoNotOptimize(at);
    }
    state.SetBytesProcessed(state.iterations() * kSearchSize);
}

// Results go to the arena, which is emptied after every iteration for all three operations.
void BM_QorReplace(benchmark::State& state) {
    qor_arena_mode(1);
    std::string text = csv(state.range(0));
    QorString* s = qor_string_new(text.data(), state.range(0));
    QorString* from = qor_string_from_cstr(",");
    QorString* to = qor_string_from_cstr(" ; ");
    qor_arena_save();
    for (auto _ : state) {
        QorString* r = qor_string_replace(s, from, to);
        benchmark::DoNotOptimize(r->data);
        qor_arena_restore();
    }
    qor_arena_destroy();
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_QorSplit(benchmark::State& state) {
    qor_arena_mode(1);
    std::string text = csv(state.range(0));
    QorString* s = qor_string_new(text.data(), state.range(0));
    QorString* sep = qor_string_from_cstr(",");
    qor_arena_save();
    for (auto _ : state) {
        QorVec* v = qor_string_split(s, sep);
        benchmark::DoNotOptimize(v->items);
        qor_vec_free(v);
        qor_arena_restore();
    }
    qor_arena_destroy();
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_QorJoin(benchmark::State& state) {
    qor_arena_mode(1);
    std::string text = csv(state.range(0));
    QorString* s = qor_string_new(text.data(), state.range(0));
    QorString* sep = qor_string_from_cstr(",");
    QorVec* pieces = qor_string_split(s, sep);
    qor_arena_save();
    for (auto _ : state) {
        QorString* r = qor_string_join(pieces, sep);
        benchmark::DoNotOptimize(r->data);
        qor_arena_restore();
    }
    qor_vec_free(pieces);
    qor_arena_destroy();
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

}  // namespace

BENCHMARK(BM_QorIndexOfAbsent)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PeerMemmemAbsent)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_QorReplace)->Arg(64 << 10)->Arg(1 << 20)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_QorSplit)->Arg(64 << 10)->Arg(1 << 20)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_QorJoin)->Arg(64 << 10)->Arg(1 << 20)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
