// Splitting text into a string vector (by a separator, and into words) and joining it back,
// against a std::string_view find loop (or a byte loop for words) into a
// std::vector<std::string> and a std::string append loop. Naming: every BM_Qor<Op> has a
// BM_Peer<Op> with the same arguments, measured in the same run.
// The arguments are the text's size and the distance between separators (0: none, 1024:
// sparse, 8: every few bytes, 1: every byte); the 1 MiB row shows that the cost per byte stays
// flat as the text grows. Pieces go to the arena, rewound after every iteration; releasing the
// vector is timed on both sides.
#include <benchmark/benchmark.h>

#include <string>
#include <string_view>
#include <vector>

#include "qor_runtime.h"
#include "text_peers.h"

namespace {

// n bytes of digits with a comma every `every` bytes (none when every is 0).
std::string line_of(int64_t n, int64_t every) {
    std::string line;
    uint64_t state = 0x9e3779b97f4a7c15ULL;
    for (int64_t i = 0; i < n; i++) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        bool comma = every > 0 && i % every == every - 1;
        line.push_back(comma ? ',' : static_cast<char>('0' + state % 10));
    }
    return line;
}

__attribute__((noinline)) void peer_split(std::string_view text, std::string_view sep,
                                          std::vector<std::string>& out) {
    size_t pos = 0;
    while (pos < text.size()) {
        size_t at = text.find(sep, pos);
        if (at == std::string_view::npos) at = text.size();
        out.emplace_back(text.substr(pos, at - pos));
        pos = at + sep.size();
    }
}

__attribute__((noinline)) void peer_split_words(std::string_view text,
                                                std::vector<std::string>& out) {
    auto space = [](char c) { return c == '\t' || c == '\n' || c == '\r' || c == ' '; };
    size_t pos = 0;
    while (pos < text.size()) {
        while (pos < text.size() && space(text[pos])) pos++;
        size_t word = pos;
        while (pos < text.size() && !space(text[pos])) pos++;
        if (pos > word) out.emplace_back(text.substr(word, pos - word));
    }
}

// n bytes of prose-like text: words of 1 to 12 letters, mostly one space between them, now
// and then a line end or a run of blanks.
std::string prose(int64_t n) {
    std::string text;
    uint64_t state = 0x2545f4914f6cdd1dULL;
    while (static_cast<int64_t>(text.size()) < n) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        text.append(1 + state % 12, static_cast<char>('a' + (state >> 8) % 26));
        text += (state >> 16) % 10 == 0 ? "\n" : (state >> 16) % 10 == 1 ? "  \t" : " ";
    }
    text.resize(static_cast<size_t>(n));
    return text;
}

void BM_QorStrSplit(benchmark::State& state) {
    std::string line = line_of(state.range(0), state.range(1));
    int32_t saved = g_arena_enabled;
    qor_arena_mode(1);
    QorString* text = qor_string_new(line.data(), static_cast<int64_t>(line.size()));
    QorString* sep = qor_string_from_cstr(",");
    qor_arena_save();
    for (auto _ : state) {
        int64_t h = qor_str_split(text, sep);
        benchmark::DoNotOptimize(qor_svec_len(h));
        qor_svec_free(h);
        qor_arena_restore();
    }
    qor_arena_destroy();
    qor_arena_mode(saved);
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_PeerStrSplit(benchmark::State& state) {
    std::string line = line_of(state.range(0), state.range(1));
    for (auto _ : state) {
        std::vector<std::string> pieces;
        peer_split(line, ",", pieces);
        benchmark::DoNotOptimize(pieces.data());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_QorStrSplitWhitespace(benchmark::State& state) {
    std::string text = prose(state.range(0));
    int32_t saved = g_arena_enabled;
    qor_arena_mode(1);
    QorString* s = qor_string_new(text.data(), static_cast<int64_t>(text.size()));
    qor_arena_save();
    for (auto _ : state) {
        int64_t h = qor_str_split_whitespace(s);
        benchmark::DoNotOptimize(qor_svec_len(h));
        qor_svec_free(h);
        qor_arena_restore();
    }
    qor_arena_destroy();
    qor_arena_mode(saved);
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_PeerStrSplitWhitespace(benchmark::State& state) {
    std::string text = prose(state.range(0));
    for (auto _ : state) {
        std::vector<std::string> words;
        peer_split_words(text, words);
        benchmark::DoNotOptimize(words.data());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_QorSvecJoin(benchmark::State& state) {
    std::string line = line_of(state.range(0), state.range(1));
    int32_t saved = g_arena_enabled;
    qor_arena_mode(1);
    QorString* text = qor_string_new(line.data(), static_cast<int64_t>(line.size()));
    QorString* sep = qor_string_from_cstr(",");
    int64_t h = qor_str_split(text, sep);
    qor_arena_save();
    for (auto _ : state) {
        QorString* joined = qor_svec_join(h, sep);
        benchmark::DoNotOptimize(joined->data);
        qor_arena_restore();
    }
    qor_svec_free(h);
    qor_arena_destroy();
    qor_arena_mode(saved);
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_PeerSvecJoin(benchmark::State& state) {
    std::string line = line_of(state.range(0), state.range(1));
    std::vector<std::string> pieces;
    peer_split(line, ",", pieces);
    for (auto _ : state) {
        std::string joined = peer_join(pieces, ",");
        benchmark::DoNotOptimize(joined.data());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

}  // namespace

BENCHMARK(BM_QorStrSplit)->Apply(densities);
BENCHMARK(BM_PeerStrSplit)->Apply(densities);
BENCHMARK(BM_QorStrSplitWhitespace)->Arg(1 << 20)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PeerStrSplitWhitespace)->Arg(1 << 20)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_QorSvecJoin)->Apply(densities);
BENCHMARK(BM_PeerSvecJoin)->Apply(densities);

BENCHMARK_MAIN();
