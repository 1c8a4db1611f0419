// Writes the inputs of the program comparisons, the same bytes on every run:
//   gen_inputs words FILE BYTES VOCABULARY   lines of 8 to 15 words separated by single spaces,
//                                            drawn with a heavy head from a fixed vocabulary
//   gen_inputs numbers FILE COUNT             one signed integer per line
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// xorshift64*: small, fast and the same everywhere.
struct Rng {
    uint64_t state = 0x9e3779b97f4a7c15ULL;
    uint64_t next() {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return state * 0x2545f4914f6cdd1dULL;
    }
    double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
};

std::vector<std::string> vocabulary(Rng& rng, size_t size) {
    std::vector<std::string> words;
    words.reserve(size);
    for (size_t i = 0; i < size; i++) {
        std::string w(2 + rng.next() % 10, 'a');
        for (char& c : w) c = static_cast<char>('a' + rng.next() % 26);
        words.push_back(w);
    }
    return words;
}

int write_words(FILE* out, uint64_t bytes, size_t vocab_size) {
    Rng rng;
    std::vector<std::string> words = vocabulary(rng, vocab_size);
    std::string line;
    uint64_t written = 0;
    while (written < bytes) {
        line.clear();
        int count = 8 + static_cast<int>(rng.next() % 8);
        for (int i = 0; i < count; i++) {
            double u = rng.unit();
            if (i > 0) line += ' ';
            line += words[static_cast<size_t>(u * u * u * static_cast<double>(vocab_size))];
        }
        line += '\n';
        if (fwrite(line.data(), 1, line.size(), out) != line.size()) return 1;
        written += line.size();
    }
    return 0;
}

int write_numbers(FILE* out, uint64_t count) {
    Rng rng;
    for (uint64_t i = 0; i < count; i++) {
        int64_t v = static_cast<int64_t>(rng.next() % 2000000001ULL) - 1000000000;
        if (fprintf(out, "%ld\n", static_cast<long>(v)) < 0) return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    bool words = argc == 5 && strcmp(argv[1], "words") == 0;
    bool numbers = argc == 4 && strcmp(argv[1], "numbers") == 0;
    if (!words && !numbers) {
        fprintf(stderr, "usage: gen_inputs words FILE BYTES VOCABULARY | numbers FILE COUNT\n");
        return 2;
    }
    FILE* out = fopen(argv[2], "wb");
    if (out == nullptr) {
        perror(argv[2]);
        return 1;
    }
    uint64_t amount = strtoull(argv[3], nullptr, 10);
    int failed = words ? write_words(out, amount, strtoull(argv[4], nullptr, 10))
                       : write_numbers(out, amount);
    if (fclose(out) != 0 || failed) {
        fprintf(stderr, "gen_inputs: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
