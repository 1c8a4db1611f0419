// Numbers, booleans and characters turned into text, and text read back into numbers.
// Every text made here is a byte buffer from qor_alloc taken first, holding the text and a NUL,
// then a record whose len = cap = the bytes before the first NUL. Fixed-size buffers are
// larger than their text; the bytes after the NUL mean nothing.
#include <stdlib.h>

#include <charconv>
#include <system_error>

#include "core/internal.h"
#include "text/number_format.h"

namespace numfmt = qor::numfmt;

namespace {

// A new record over a buffer of size bytes (a text's fixed buffer size), from the one string
// maker: buffer first, then record.
QorString* fixed_buffer(size_t size) {
    return qor::make_string_uninit(static_cast<int64_t>(size) - 1);
}

// Ends the text at n (which must be the first NUL): len = cap = n.
QorString* ended(QorString* s, size_t n) {
    s->data[n] = '\0';
    s->len = static_cast<int64_t>(n);
    s->cap = static_cast<int64_t>(n);
    return s;
}

// Digits of v (read as unsigned) in base, in a buffer of exactly their length and a NUL.
QorString* unsigned_digits_exact(int64_t v, int base) {
    char local[numfmt::kBinaryDigitsMax];
    size_t n = numfmt::write_unsigned(local, sizeof local, static_cast<uint64_t>(v), base);
    return qor::make_string(local, static_cast<int64_t>(n));
}

// strtod's white space in the C locale: space and tab to carriage return.
bool is_strtod_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The plain decimal forms ([+-]digits[.digits][e[+-]digits], or starting with '.') are read
// with from_chars, which rounds exactly as strtod does; anything else, or a value out of
// range, is left to strtod. text[len] must be the NUL that ends the record's bytes, which also
// stops every scan here. The sign is taken without branching on it: numbers of both signs are
// common and come in no order.
double parse_decimal_or_strtod(const char* text, int64_t len) {
    const char* p = text;
    while (is_strtod_space(*p)) p++;
    const char* start = p + (*p == '+' ? 1 : 0);
    const char* digits = p + (*p == '+' || *p == '-' ? 1 : 0);
    char c = *digits;
    bool plain = ((c >= '0' && c <= '9') || c == '.') &&
                 !(c == '0' && (digits[1] == 'x' || digits[1] == 'X'));
    if (plain) {
        double value = 0;
        if (std::from_chars(start, text + len, value).ec == std::errc()) return value;
    }
    return strtod(text, nullptr);
}

}  // namespace

// "%ld" in a 21-byte buffer.
extern "C" QOR_API QorString* qor_int_to_string(int64_t v) {
    QorString* s = fixed_buffer(numfmt::kDecimalMax + 1);
    return ended(s, numfmt::write_decimal(s->data, v));
}

// "%lx" of the bit pattern: -1 gives sixteen 'f'.
extern "C" QOR_API QorString* qor_int_to_hex(int64_t v) { return unsigned_digits_exact(v, 16); }

// Sign and magnitude, in a 20-byte buffer: "-0x8000000000000000" for INT64_MIN.
extern "C" QOR_API QorString* qor_to_hex(int64_t v) {
    constexpr size_t kSize = 3 + numfmt::kHexDigitsMax + 1;
    QorString* s = fixed_buffer(kSize);
    return ended(s, numfmt::write_signed_with_prefix(s->data, kSize, v, 16, 'x'));
}

// Sign and magnitude, in a 26-byte buffer: "-0o1000000000000000000000" for INT64_MIN.
extern "C" QOR_API QorString* qor_to_octal(int64_t v) {
    constexpr size_t kSize = 3 + numfmt::kOctalDigitsMax + 1;
    QorString* s = fixed_buffer(kSize);
    return ended(s, numfmt::write_signed_with_prefix(s->data, kSize, v, 8, 'o'));
}

// Binary digits of the bit pattern; negatives give 64 digits.
extern "C" QOR_API QorString* qor_int_to_bin(int64_t v) { return unsigned_digits_exact(v, 2); }

// "0b" and the binary digits of the bit pattern, in a 67-byte buffer whatever the value.
extern "C" QOR_API QorString* qor_to_binary(int64_t v) {
    constexpr size_t kSize = 2 + numfmt::kBinaryDigitsMax + 1;
    QorString* s = fixed_buffer(kSize);
    s->data[0] = '0';
    s->data[1] = 'b';
    size_t digits = numfmt::write_unsigned(s->data + 2, kSize - 2, static_cast<uint64_t>(v), 2);
    return ended(s, 2 + digits);
}

// Only the low 8 bits count: 256 gives "false".
extern "C" QOR_API QorString* qor_bool_to_string(int64_t b) {
    bool truth = static_cast<uint8_t>(b) != 0;
    return truth ? qor::make_string("true", 4) : qor::make_string("false", 5);
}

// "%.9g" in a 32-byte buffer; "-0", "inf", "-inf", "nan" and "-nan" as printf writes them.
extern "C" QOR_API QorString* qor_f64_to_string(double x) {
    QorString* s = fixed_buffer(numfmt::kGeneralMax);
    return ended(s, numfmt::write_general(s->data, x));
}

// One byte, the low 8 bits of code, in a 2-byte buffer; a 0 byte gives len 0.
extern "C" QOR_API QorString* qor_chr(int64_t code) {
    QorString* s = fixed_buffer(2);
    s->data[0] = static_cast<char>(code);
    return ended(s, s->data[0] == '\0' ? 0 : 1);
}

// The low 32 bits as UTF-8 in a 5-byte qor_alloc buffer, without a record. Nothing is
// validated: every value up to 127 as a signed number (negatives too) is one byte, surrogates
// encode like other three-byte values, and values past 0x10FFFF give four bytes. 0 gives "".
extern "C" QOR_API char* qor_char_to_string(int64_t code) {
    auto c = static_cast<uint32_t>(code);
    auto* out = static_cast<unsigned char*>(qor_alloc(5));
    unsigned char* p = out;
    if (static_cast<int32_t>(c) <= 127) {
        *p++ = static_cast<unsigned char>(c);
    } else if (c <= 0x7FF) {
        *p++ = static_cast<unsigned char>(0xC0 | (c >> 6));
        *p++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
    } else if (c <= 0xFFFF) {
        *p++ = static_cast<unsigned char>(0xE0 | (c >> 12));
        *p++ = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
        *p++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
    } else {
        *p++ = static_cast<unsigned char>(0xF0 | (c >> 18));
        *p++ = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
        *p++ = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
        *p++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
    }
    *p = '\0';
    return reinterpret_cast<char*>(out);
}

// The prefixed twin reads NUL-terminated text; the plain twin below reads a string record.
extern "C" QOR_API int64_t qor_ord(const char* text) {
    if (text == nullptr) return 0;
    return static_cast<unsigned char>(text[0]);
}

extern "C" QOR_API int64_t ord(const QorString* s) {
    if (qor::is_missing(s) || s->len <= 0) return 0;
    return static_cast<unsigned char>(s->data[0]);
}

// Reads data up to its first NUL, not len bytes: base 10 only, saturating at the 64-bit ends.
// Numbers of up to 18 digits cannot overflow and are read here; longer ones go to strtol,
// which decides the saturation. The white space skipped is strtol's in the C locale.
extern "C" QOR_API int64_t qor_parse_int(const QorString* s) {
    if (qor::is_missing(s)) return 0;
    const char* p = s->data;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) p++;
    bool negative = *p == '-';
    if (*p == '-' || *p == '+') p++;
    uint64_t value = 0;
    int digits = 0;
    for (; digits < 18 && static_cast<unsigned char>(p[digits] - '0') <= 9; digits++) {
        value = value * 10 + static_cast<uint64_t>(p[digits] - '0');
    }
    if (static_cast<unsigned char>(p[digits] - '0') <= 9) return strtol(s->data, nullptr, 10);
    return negative ? -static_cast<int64_t>(value) : static_cast<int64_t>(value);
}

// Reads data up to its first NUL: decimal and hexadecimal forms, inf and nan in any case, with
// strtod's results. A record whose len does not end at its NUL is read by strtod alone.
extern "C" QOR_API double qor_parse_f64(const QorString* s) {
    if (qor::is_missing(s)) return 0.0;
    if (s->len < 0 || s->data[s->len] != '\0') return strtod(s->data, nullptr);
    return parse_decimal_or_strtod(s->data, s->len);
}

QOR_PLAIN_ALIAS(qor_fast_i2s, qor_int_to_string);
QOR_PLAIN_ALIAS(int_to_string, qor_int_to_string);
QOR_PLAIN_ALIAS(chr, qor_chr);
QOR_PLAIN_ALIAS(char_to_string, qor_chr);
