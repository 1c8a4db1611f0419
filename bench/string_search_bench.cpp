// Searching, replacing, splitting and joining against the std::string loops a C++ programmer
// writes for the same job. Naming: every BM_Qor<Op> has a BM_Peer<Op> with the same arguments,
// measured in the same run; the ratio of the two is the figure that counts.
// Replace, split and join take two arguments: the text's size and the match density, given as
// the distance between separators (0: none, 1024: sparse, 8: every few bytes, 1: every byte).
// The 1 MiB row at distance 8 shows that the cost per byte stays flat as the text grows.
// Every call crosses a non-inlined boundary on both sides; new strings go to the arena, which is
// rewound after every iteration.
#include <benchmark/benchmark.h>
#include <string.h>

#include <string>
#include <string_view>
#include <vector>

#include "qor_runtime.h"
#include "text_peers.h"

namespace {

constexpr int64_t kSearchSize = int64_t{1} << 20;

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

// n bytes of letters with a comma every `every` bytes (none when every is 0).
std::string with_commas(int64_t n, int64_t every) {
    std::string out = letters(n);
    if (every > 0) {
        for (int64_t i = every - 1; i < n; i += every) out[static_cast<size_t>(i)] = ',';
    }
    return out;
}

QorString* qor_text(const std::string& s) {
    return qor_string_new(s.data(), static_cast<int64_t>(s.size()));
}

// ---- Peers ---------------------------------------------------------------------------------

__attribute__((noinline)) const void* peer_memmem(std::string_view hay, std::string_view needle) {
    return memmem(hay.data(), hay.size(), needle.data(), needle.size());
}

__attribute__((noinline)) size_t peer_rfind(std::string_view hay, std::string_view needle) {
    return hay.rfind(needle);
}

__attribute__((noinline)) int64_t peer_count(std::string_view hay, std::string_view needle) {
    int64_t n = 0;
    for (size_t at = hay.find(needle); at != std::string_view::npos;
         at = hay.find(needle, at + needle.size())) {
        n++;
    }
    return n;
}

__attribute__((noinline)) std::string peer_replace(std::string_view s, std::string_view from,
                                                   std::string_view to) {
    std::string out;
    size_t pos = 0;
    for (size_t at = s.find(from); at != std::string_view::npos; at = s.find(from, pos)) {
        out.append(s.substr(pos, at - pos));
        out.append(to);
        pos = at + from.size();
    }
    out.append(s.substr(pos));
    return out;
}

__attribute__((noinline)) void peer_split(std::string_view s, std::string_view sep,
                                          std::vector<std::string>& out) {
    size_t pos = 0;
    for (size_t at = s.find(sep); at != std::string_view::npos; at = s.find(sep, pos)) {
        out.emplace_back(s.substr(pos, at - pos));
        pos = at + sep.size();
    }
    out.emplace_back(s.substr(pos));
}

// ---- Searching -----------------------------------------------------------------------------

// The needle shares its first letters with the text but never occurs (it ends in '!').
const char kNeedle[] = "qorrun!";

void BM_QorIndexOfAbsent(benchmark::State& state) {
    qor_arena_mode(1);
    std::string text = letters(kSearchSize);
    QorString* hay = qor_text(text);
    QorString* needle = qor_string_from_cstr(kNeedle);
    for (auto _ : state) {
        int64_t at = qor_string_index_of(hay, needle);
        if (at != -1) state.SkipWithError("needle found");
        benchmark::DoNotOptimize(at);
    }
    qor_arena_destroy();
    state.SetBytesProcessed(state.iterations() * kSearchSize);
}

void BM_PeerIndexOfAbsent(benchmark::State& state) {
    std::string text = letters(kSearchSize);
    for (auto _ : state) {
        const void* at = peer_memmem(text, kNeedle);
        if (at != nullptr) state.SkipWithError("needle found");
        benchmark::DoNotOptimize(at);
    }
    state.SetBytesProcessed(state.iterations() * kSearchSize);
}

void BM_QorLastIndexOfAbsent(benchmark::State& state) {
    qor_arena_mode(1);
    std::string text = letters(kSearchSize);
    QorString* hay = qor_text(text);
    QorString* needle = qor_string_from_cstr(kNeedle);
    for (auto _ : state) {
        int64_t at = qor_string_last_index_of(hay, needle);
        if (at != -1) state.SkipWithError("needle found");
        benchmark::DoNotOptimize(at);
    }
    qor_arena_destroy();
    state.SetBytesProcessed(state.iterations() * kSearchSize);
}

void BM_PeerLastIndexOfAbsent(benchmark::State& state) {
    std::string text = letters(kSearchSize);
    for (auto _ : state) {
        size_t at = peer_rfind(text, kNeedle);
        if (at != std::string_view::npos) state.SkipWithError("needle found");
        benchmark::DoNotOptimize(at);
    }
    state.SetBytesProcessed(state.iterations() * kSearchSize);
}

// Non-overlapping occurrences of "," at the given density.
void BM_QorCount(benchmark::State& state) {
    qor_arena_mode(1);
    std::string text = with_commas(state.range(0), state.range(1));
    QorString* hay = qor_text(text);
    QorString* needle = qor_string_from_cstr(",");
    for (auto _ : state) benchmark::DoNotOptimize(qor_string_count(hay, needle));
    qor_arena_destroy();
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_PeerCount(benchmark::State& state) {
    std::string text = with_commas(state.range(0), state.range(1));
    for (auto _ : state) benchmark::DoNotOptimize(peer_count(text, ","));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

// ---- Replace, split, join ------------------------------------------------------------------

// Each comma becomes " ; ", so the result grows with the density.
void BM_QorReplace(benchmark::State& state) {
    qor_arena_mode(1);
    std::string text = with_commas(state.range(0), state.range(1));
    QorString* s = qor_text(text);
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

void BM_PeerReplace(benchmark::State& state) {
    std::string text = with_commas(state.range(0), state.range(1));
    for (auto _ : state) {
        std::string r = peer_replace(text, ",", " ; ");
        benchmark::DoNotOptimize(r.data());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_QorSplit(benchmark::State& state) {
    qor_arena_mode(1);
    std::string text = with_commas(state.range(0), state.range(1));
    QorString* s = qor_text(text);
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

void BM_PeerSplit(benchmark::State& state) {
    std::string text = with_commas(state.range(0), state.range(1));
    for (auto _ : state) {
        std::vector<std::string> pieces;
        peer_split(text, ",", pieces);
        benchmark::DoNotOptimize(pieces.data());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

// Joins the pieces that splitting the same text gives, with the same separator.
void BM_QorJoin(benchmark::State& state) {
    qor_arena_mode(1);
    std::string text = with_commas(state.range(0), state.range(1));
    QorString* s = qor_text(text);
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

void BM_PeerJoin(benchmark::State& state) {
    std::string text = with_commas(state.range(0), state.range(1));
    std::vector<std::string> pieces;
    peer_split(text, ",", pieces);
    for (auto _ : state) {
        std::string r = peer_join(pieces, ",");
        benchmark::DoNotOptimize(r.data());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

}  // namespace

BENCHMARK(BM_QorIndexOfAbsent)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PeerIndexOfAbsent)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_QorLastIndexOfAbsent)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PeerLastIndexOfAbsent)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_QorCount)->Apply(densities);
BENCHMARK(BM_PeerCount)->Apply(densities);
BENCHMARK(BM_QorReplace)->Apply(densities);
BENCHMARK(BM_PeerReplace)->Apply(densities);
BENCHMARK(BM_QorSplit)->Apply(densities);
BENCHMARK(BM_PeerSplit)->Apply(densities);
BENCHMARK(BM_QorJoin)->Apply(densities);
BENCHMARK(BM_PeerJoin)->Apply(densities);

BENCHMARK_MAIN();
