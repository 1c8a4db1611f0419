// The number formats shared by the number-text conversions and the string builder, so that a
// number appended to a builder reads exactly as the same number turned into a string.
// Every writer fills a caller buffer of at least the stated size, writes no NUL and returns
// the number of bytes written; none of the texts can hold a NUL byte.
#ifndef QOR_TEXT_NUMBER_FORMAT_H
#define QOR_TEXT_NUMBER_FORMAT_H

#include <stdint.h>

#include <charconv>
#include <cstddef>

namespace qor::numfmt {

// Longest texts: "-9223372036854775808"; 16 hexadecimal, 22 octal and 64 binary digits;
// "%.9g" never exceeds 16 characters ("-1.23456789e-308"), 32 leaves room to spare.
constexpr size_t kDecimalMax = 20;
constexpr size_t kHexDigitsMax = 16;
constexpr size_t kOctalDigitsMax = 22;
constexpr size_t kBinaryDigitsMax = 64;
constexpr size_t kGeneralMax = 32;

namespace detail {

// "00" to "99": two digits per table lookup.
constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

constexpr uint64_t kPowersOf10[20] = {1ULL,
                                      10ULL,
                                      100ULL,
                                      1000ULL,
                                      10000ULL,
                                      100000ULL,
                                      1000000ULL,
                                      10000000ULL,
                                      100000000ULL,
                                      1000000000ULL,
                                      10000000000ULL,
                                      100000000000ULL,
                                      1000000000000ULL,
                                      10000000000000ULL,
                                      100000000000000ULL,
                                      1000000000000000ULL,
                                      10000000000000000ULL,
                                      100000000000000000ULL,
                                      1000000000000000000ULL,
                                      10000000000000000000ULL};

// The number of decimal digits of u >= 1: log2 scaled by 1233/4096 (just under log10(2))
// gives the count or one less, and one comparison decides.
inline size_t decimal_digits(uint64_t u) {
    auto bits = static_cast<unsigned>(64 - __builtin_clzll(u));
    unsigned t = (bits * 1233) >> 12;
    return t + (u >= kPowersOf10[t] ? 1 : 0);
}

}  // namespace detail

// "%ld": a minus sign for negatives, no leading zeros, INT64_MIN in full. The digit count is
// known first, so the digits are written in place from the last, two at a time.
inline size_t write_decimal(char* out, int64_t v) {
    auto u = static_cast<uint64_t>(v);
    char* p = out;
    if (v < 0) {
        *p++ = '-';
        u = 0 - u;
    }
    if (u < 10) {
        *p = static_cast<char>('0' + u);
        return static_cast<size_t>(p + 1 - out);
    }
    size_t n = detail::decimal_digits(u);
    char* end = p + n;
    while (u >= 100) {
        const char* pair = detail::kDigitPairs + 2 * (u % 100);
        u /= 100;
        *--end = pair[1];
        *--end = pair[0];
    }
    if (u >= 10) {
        *--end = detail::kDigitPairs[2 * u + 1];
        *--end = detail::kDigitPairs[2 * u];
    } else {
        *--end = static_cast<char>('0' + u);
    }
    return static_cast<size_t>(p + n - out);
}

// Digits of v in base 16 (lower case), 8 or 2, most significant first, no leading zeros;
// 0 gives "0". The same bytes as "%lx" and "%lo". room is the buffer's size from out and must
// hold the digits of the largest value in that base.
inline size_t write_unsigned(char* out, size_t room, uint64_t v, int base) {
    return static_cast<size_t>(std::to_chars(out, out + room, v, base).ptr - out);
}

// "0x%lx" of v for v >= 0, "-0x%lx" of -v for v < 0 (likewise "0o"/"-0o" for base 8). The
// magnitude is negated as unsigned, so INT64_MIN reads as 2^63.
inline size_t write_signed_with_prefix(char* out, size_t room, int64_t v, int base, char letter) {
    char* p = out;
    uint64_t magnitude = static_cast<uint64_t>(v);
    if (v < 0) {
        *p++ = '-';
        magnitude = 0 - magnitude;
    }
    *p++ = '0';
    *p++ = letter;
    auto used = static_cast<size_t>(p - out);
    return used + write_unsigned(p, room - used, magnitude, base);
}

// "%.9g": at most 9 significant digits, exponent form below 1e-4 and from 1e9, "inf", "-inf",
// "nan", "-nan". to_chars' general form with precision 9 writes exactly printf's text, without
// printf's format parsing. out must hold kGeneralMax bytes.
inline size_t write_general(char* out, double x) {
    return static_cast<size_t>(
        std::to_chars(out, out + kGeneralMax, x, std::chars_format::general, 9).ptr - out);
}

}  // namespace qor::numfmt

#endif  // QOR_TEXT_NUMBER_FORMAT_H
