// What the text benchmarks share: the std::string join loop they compare joining with, and the
// sizes and match densities that replace, split and join are measured at.
#ifndef QOR_BENCH_TEXT_PEERS_H
#define QOR_BENCH_TEXT_PEERS_H

#include <benchmark/benchmark.h>

#include <string>
#include <string_view>
#include <vector>

__attribute__((noinline)) inline std::string peer_join(const std::vector<std::string>& pieces,
                                                       std::string_view sep) {
    std::string out;
    for (size_t i = 0; i < pieces.size(); i++) {
        if (i > 0) out.append(sep);
        out.append(pieces[i]);
    }
    return out;
}

// 64 KiB at every density (distance between separators: 0 none, 1024 sparse, 8 every few bytes,
// 1 every byte), then 1 MiB at one density.
inline void densities(benchmark::internal::Benchmark* b) {
    for (int64_t every : {0, 1024, 8, 1}) b->Args({64 << 10, every});
    b->Args({1 << 20, 8});
    b->Unit(benchmark::kMicrosecond);
}

#endif  // QOR_BENCH_TEXT_PEERS_H
