// The string builder against std::string: 1,000 mixed pieces (short strings, integers,
// characters, booleans) appended to a new builder, then built into a string, against the same
// pieces appended to a std::string (integers through std::to_chars) that starts with the
// builder's 1024 bytes. A second pair appends 1,000 doubles ("%.9g", which is std::to_chars'
// general form with precision 9), a third escapes 16 KiB of text with quotes, backslashes and
// line ends in it. Naming: every BM_Qor<Op> has a BM_Peer<Op>, measured in the same run.
// The runtime's appends are exported calls; the peer's go through non-inlined wrappers. Built
// strings go to the arena, reset every iteration.
#include <benchmark/benchmark.h>

#include <charconv>
#include <cstdint>
#include <string>
#include <vector>

#include "qor_runtime.h"

namespace {

constexpr int kPieces = 1000;

struct Piece {
    int kind;  // 0 string, 1 integer, 2 character, 3 boolean
    int64_t value;
};

const char* const kWords[] = {"alpha", "be", "gamma-ray", ", ", "x", "delta=", "\"quoted\""};
constexpr int kWordCount = sizeof kWords / sizeof kWords[0];

__attribute__((noinline)) void peer_append_str(std::string& out, const std::string& s) {
    out.append(s);
}

__attribute__((noinline)) void peer_append_int(std::string& out, int64_t v) {
    char buffer[24];
    char* end = std::to_chars(buffer, buffer + sizeof buffer, v).ptr;
    out.append(buffer, static_cast<size_t>(end - buffer));
}

__attribute__((noinline)) void peer_append_char(std::string& out, int64_t c) {
    out.push_back(static_cast<char>(c));
}

__attribute__((noinline)) void peer_append_bool(std::string& out, int64_t b) {
    if (b != 0) {
        out.append("true", 4);
    } else {
        out.append("false", 5);
    }
}

__attribute__((noinline)) void peer_append_g9(std::string& out, double x) {
    char buffer[32];
    char* end = std::to_chars(buffer, buffer + sizeof buffer, x, std::chars_format::general, 9).ptr;
    out.append(buffer, static_cast<size_t>(end - buffer));
}

// The prefixed escaping table: tab, line feed and carriage return as letters, a backslash
// before '"' and '\'.
__attribute__((noinline)) void peer_append_escaped(std::string& out, const std::string& s) {
    for (char c : s) {
        switch (c) {
            case '\t':
                out.append("\\t", 2);
                break;
            case '\n':
                out.append("\\n", 2);
                break;
            case '\r':
                out.append("\\r", 2);
                break;
            case '"':
            case '\\':
                out.push_back('\\');
                out.push_back(c);
                break;
            default:
                out.push_back(c);
        }
    }
}

constexpr int64_t kEscapedSize = 16 << 10;

// Prose-like text: words of letters, with a quote, a backslash or a line end now and then.
std::string text_to_escape() {
    std::string out;
    uint64_t state = 0x2545f4914f6cdd1dULL;
    const char specials[] = {'"', '\\', '\n', '\t', ' ', ' ', ' ', ' '};
    while (static_cast<int64_t>(out.size()) < kEscapedSize) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        out.push_back(state % 7 == 0 ? specials[(state >> 8) % 8]
                                     : static_cast<char>('a' + (state >> 16) % 26));
    }
    return out;
}

std::vector<Piece> mixed_pieces() {
    std::vector<Piece> out;
    uint64_t state = 0x9e3779b97f4a7c15ULL;
    for (int i = 0; i < kPieces; i++) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        int kind = static_cast<int>(state % 4);
        int64_t value = static_cast<int64_t>(state >> 4);
        if (kind == 0) value = static_cast<int64_t>(state % kWordCount);
        if (kind == 1 && i % 2 == 0) value %= 100000;
        if (kind == 2) value = 'a' + static_cast<int64_t>(state % 26);
        if (kind == 3) value = static_cast<int64_t>(state & 1);
        out.push_back(Piece{kind, value});
    }
    return out;
}

void BM_QorBuilderMixed(benchmark::State& state) {
    std::vector<Piece> pieces = mixed_pieces();
    QorString* words[kWordCount];
    for (int i = 0; i < kWordCount; i++) words[i] = qor_string_from_cstr(kWords[i]);
    int32_t saved = g_arena_enabled;
    qor_arena_mode(1);
    for (auto _ : state) {
        QorStringBuilder* sb = qor_sb_new();
        for (const Piece& p : pieces) {
            switch (p.kind) {
                case 0:
                    qor_sb_push(sb, words[p.value]);
                    break;
                case 1:
                    qor_sb_push_int(sb, p.value);
                    break;
                case 2:
                    qor_sb_push_char(sb, p.value);
                    break;
                default:
                    qor_sb_push_bool(sb, p.value);
                    break;
            }
        }
        benchmark::DoNotOptimize(qor_sb_build(sb));
        qor_sb_free(sb);
        qor_arena_reset();
    }
    qor_arena_mode(saved);
    state.SetItemsProcessed(state.iterations() * kPieces);
}

void BM_PeerBuilderMixed(benchmark::State& state) {
    std::vector<Piece> pieces = mixed_pieces();
    std::vector<std::string> words(kWords, kWords + kWordCount);
    for (auto _ : state) {
        std::string out;
        out.reserve(1024);
        for (const Piece& p : pieces) {
            switch (p.kind) {
                case 0:
                    peer_append_str(out, words[static_cast<size_t>(p.value)]);
                    break;
                case 1:
                    peer_append_int(out, p.value);
                    break;
                case 2:
                    peer_append_char(out, p.value);
                    break;
                default:
                    peer_append_bool(out, p.value);
                    break;
            }
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * kPieces);
}

void BM_QorBuilderDoubles(benchmark::State& state) {
    std::vector<Piece> pieces = mixed_pieces();
    int32_t saved = g_arena_enabled;
    qor_arena_mode(1);
    for (auto _ : state) {
        QorStringBuilder* sb = qor_sb_new();
        for (const Piece& p : pieces) qor_sb_push_f64(sb, static_cast<double>(p.value) / 1024.0);
        benchmark::DoNotOptimize(qor_sb_build(sb));
        qor_sb_free(sb);
        qor_arena_reset();
    }
    qor_arena_mode(saved);
    state.SetItemsProcessed(state.iterations() * kPieces);
}

void BM_PeerBuilderDoubles(benchmark::State& state) {
    std::vector<Piece> pieces = mixed_pieces();
    for (auto _ : state) {
        std::string out;
        out.reserve(1024);
        for (const Piece& p : pieces) peer_append_g9(out, static_cast<double>(p.value) / 1024.0);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * kPieces);
}

void BM_QorBuilderEscaped(benchmark::State& state) {
    std::string text = text_to_escape();
    int32_t saved = g_arena_enabled;
    qor_arena_mode(1);
    QorString* s = qor_string_new(text.data(), static_cast<int64_t>(text.size()));
    qor_arena_save();
    for (auto _ : state) {
        QorStringBuilder* sb = qor_sb_new();
        qor_sb_push_escaped(sb, s);
        benchmark::DoNotOptimize(qor_sb_build(sb));
        qor_sb_free(sb);
        qor_arena_restore();
    }
    qor_arena_destroy();
    qor_arena_mode(saved);
    state.SetBytesProcessed(state.iterations() * kEscapedSize);
}

void BM_PeerBuilderEscaped(benchmark::State& state) {
    std::string text = text_to_escape();
    for (auto _ : state) {
        std::string out;
        out.reserve(1024);
        peer_append_escaped(out, text);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * kEscapedSize);
}

}  // namespace

BENCHMARK(BM_QorBuilderMixed);
BENCHMARK(BM_PeerBuilderMixed);
BENCHMARK(BM_QorBuilderDoubles);
BENCHMARK(BM_PeerBuilderDoubles);
BENCHMARK(BM_QorBuilderEscaped);
BENCHMARK(BM_PeerBuilderEscaped);

BENCHMARK_MAIN();
