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

// "%ld": a minus sign for negatives, no leading zeros, INT64_MIN in full.
inline size_t write_decimal(char* out, int64_t v) {
    return static_cast<size_t>(std::to_chars(out, out + kDecimalMax, v).ptr - out);
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
