// The word counter's peers: the same program as examples/word_count.c in plain C++ (read the
// file, split it on whitespace into views, count, sort the distinct words, print "count word"
// lines), built once with absl::flat_hash_map and once with std::unordered_map.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#ifdef PEER_ABSL
#include "absl/container/flat_hash_map.h"
using Counts = absl::flat_hash_map<std::string_view, int64_t>;
#else
#include <unordered_map>
using Counts = std::unordered_map<std::string_view, int64_t>;
#endif

namespace {

bool read_file(const char* path, std::string& out) {
    FILE* f = fopen(path, "rb");
    if (f == nullptr) return false;
    fseek(f, 0, SEEK_END);
    long size = ftell(f);
    fseek(f, 0, SEEK_SET);
    out.resize(static_cast<size_t>(size));
    size_t got = fread(out.data(), 1, out.size(), f);
    out.resize(got);
    fclose(f);
    return true;
}

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::vector<std::string_view> split_whitespace(std::string_view text) {
    std::vector<std::string_view> words;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && is_space(text[i])) i++;
        size_t start = i;
        while (i < text.size() && !is_space(text[i])) i++;
        if (i > start) words.push_back(text.substr(start, i - start));
    }
    return words;
}

}  // namespace

int main(int argc, char** argv) {
    std::string text;
    if (argc != 2 || !read_file(argv[1], text)) {
        fprintf(stderr, "usage: word_count_peer FILE\n");
        return 2;
    }
    std::vector<std::string_view> words = split_whitespace(text);
    Counts counts;
    for (std::string_view w : words) counts[w]++;

    std::vector<std::string_view> keys;
    keys.reserve(counts.size());
    for (const auto& entry : counts) keys.push_back(entry.first);
    std::sort(keys.begin(), keys.end());
    for (std::string_view k : keys) {
        printf("%ld %.*s\n", static_cast<long>(counts[k]), static_cast<int>(k.size()), k.data());
    }
    return 0;
}
