// Numbers, booleans and characters to text and back: exact bytes at every format's extremes.
#include <math.h>

#include <string>

#include "test_support.h"

namespace {

QOR_ARENA_ON_FOR_WHOLE_RUN();

QorString* s(const char* text) { return qor_string_from_cstr(text); }

QorString bytes_record(const char* data, int64_t n) {
    return QorString{const_cast<char*>(data), n, n};
}

std::string ones(int n) { return std::string(static_cast<size_t>(n), '1'); }

}  // namespace

// Decimal text under every name, with no leading zeros and INT64_MIN in full.
TEST(NumberTextDecimal, SignedDecimalAtTheExtremes) {
    EXPECT_TEXT(qor_int_to_string(0), "0");
    EXPECT_TEXT(qor_int_to_string(-42), "-42");
    EXPECT_TEXT(qor_int_to_string(1000000), "1000000");
    EXPECT_TEXT(qor_int_to_string(INT64_MIN), "-9223372036854775808");
    EXPECT_TEXT(qor_int_to_string(INT64_MAX), "9223372036854775807");
    EXPECT_TEXT(qor_fast_i2s(-7), "-7");
    EXPECT_TEXT(int_to_string(INT64_MIN), "-9223372036854775808");
}

// qor_int_to_hex reads the bit pattern; qor_to_hex prints sign and magnitude.
TEST(NumberTextHex, BitPatternAndSignMagnitude) {
    EXPECT_TEXT(qor_int_to_hex(255), "ff");
    EXPECT_TEXT(qor_int_to_hex(0), "0");
    EXPECT_TEXT(qor_int_to_hex(-1), "ffffffffffffffff");
    EXPECT_TEXT(qor_int_to_hex(INT64_MIN), "8000000000000000");
    EXPECT_TEXT(qor_int_to_hex(0xABCDEF), "abcdef");

    EXPECT_TEXT(qor_to_hex(255), "0xff");
    EXPECT_TEXT(qor_to_hex(0), "0x0");
    EXPECT_TEXT(qor_to_hex(-255), "-0xff");
    EXPECT_TEXT(qor_to_hex(-(int64_t{1} << 60)), "-0x1000000000000000");
    EXPECT_TEXT(qor_to_hex(INT64_MIN), "-0x8000000000000000");
    EXPECT_TEXT(qor_to_hex(INT64_MAX), "0x7fffffffffffffff");
}

TEST(NumberTextOctal, SignAndMagnitude) {
    EXPECT_TEXT(qor_to_octal(8), "0o10");
    EXPECT_TEXT(qor_to_octal(-8), "-0o10");
    EXPECT_TEXT(qor_to_octal(0), "0o0");
    EXPECT_TEXT(qor_to_octal(INT64_MIN), "-0o1000000000000000000000");
    EXPECT_TEXT(qor_to_octal(INT64_MAX), "0o777777777777777777777");
    EXPECT_TEXT(qor_to_octal(-1), "-0o1");
}

// Binary digits of the bit pattern: no sign, no leading zeros, 64 digits for negatives.
TEST(NumberTextBinary, DigitsOfTheBitPattern) {
    EXPECT_TEXT(qor_int_to_bin(0), "0");
    EXPECT_TEXT(qor_int_to_bin(1), "1");
    EXPECT_TEXT(qor_int_to_bin(5), "101");
    EXPECT_TEXT(qor_int_to_bin(-1), ones(64));
    EXPECT_TEXT(qor_int_to_bin(INT64_MAX), ones(63));
    EXPECT_TEXT(qor_int_to_bin(INT64_MIN), "1" + std::string(63, '0'));

    EXPECT_TEXT(qor_to_binary(0), "0b0");
    EXPECT_TEXT(qor_to_binary(5), "0b101");
    EXPECT_TEXT(qor_to_binary(-1), "0b" + ones(64));
    EXPECT_TEXT(qor_to_binary(INT64_MIN), "0b1" + std::string(63, '0'));
}

// Only the low 8 bits decide.
TEST(NumberTextBool, LowByteDecides) {
    EXPECT_TEXT(qor_bool_to_string(1), "true");
    EXPECT_TEXT(qor_bool_to_string(0), "false");
    EXPECT_TEXT(qor_bool_to_string(256), "false");
    EXPECT_TEXT(qor_bool_to_string(INT64_MIN), "false");
    EXPECT_TEXT(qor_bool_to_string(-1), "true");
    EXPECT_TEXT(qor_bool_to_string(0x180), "true");
}

// Nine significant digits, trailing zeros dropped, exponent form below 1e-4 and from 1e9.
TEST(NumberTextDouble, GeneralFormWithNineDigits) {
    EXPECT_TEXT(qor_f64_to_string(1.0), "1");
    EXPECT_TEXT(qor_f64_to_string(0.1), "0.1");
    EXPECT_TEXT(qor_f64_to_string(2.0 / 3.0), "0.666666667");
    EXPECT_TEXT(qor_f64_to_string(1e9), "1e+09");
    EXPECT_TEXT(qor_f64_to_string(999999999.0), "999999999");
    EXPECT_TEXT(qor_f64_to_string(999999999.5), "1e+09");
    EXPECT_TEXT(qor_f64_to_string(100000000.0), "100000000");
    EXPECT_TEXT(qor_f64_to_string(123456789012.0), "1.23456789e+11");
    EXPECT_TEXT(qor_f64_to_string(1e-5), "1e-05");
    EXPECT_TEXT(qor_f64_to_string(0.0001), "0.0001");
    EXPECT_TEXT(qor_f64_to_string(-2.5), "-2.5");
    EXPECT_TEXT(qor_f64_to_string(0.0), "0");
    EXPECT_TEXT(qor_f64_to_string(-0.0), "-0");
    EXPECT_TEXT(qor_f64_to_string(1e300), "1e+300");
    EXPECT_TEXT(qor_f64_to_string(-1.7976931348623157e308), "-1.79769313e+308");
    EXPECT_TEXT(qor_f64_to_string(2.2250738585072014e-308), "2.22507386e-308");
    EXPECT_TEXT(qor_f64_to_string(4.9406564584124654e-324), "4.94065646e-324");
    EXPECT_TEXT(qor_f64_to_string(INFINITY), "inf");
    EXPECT_TEXT(qor_f64_to_string(-INFINITY), "-inf");
    EXPECT_TEXT(qor_f64_to_string(NAN), "nan");
    EXPECT_TEXT(qor_f64_to_string(copysign(NAN, -1.0)), "-nan");
}

// One byte, the low 8 bits; a 0 byte gives an empty string whose buffer still holds the NUL.
TEST(NumberTextChr, LowByteAndEmptyForNul) {
    EXPECT_TEXT(qor_chr(65), "A");
    EXPECT_TEXT(qor_chr(321), "A");
    EXPECT_TEXT(qor_chr(255), "\xff");
    EXPECT_TEXT(qor_chr(0), "");
    EXPECT_TEXT(qor_chr(256), "");
    EXPECT_TEXT(qor_chr(-191), "A");
    EXPECT_TEXT(chr(66), "B");
    EXPECT_TEXT(char_to_string(0x143), "C");
}

// qor_char_to_string encodes the low 32 bits as UTF-8 without validating them.
TEST(NumberTextUtf8, EncodesEveryLengthWithoutValidation) {
    auto utf8 = [](int64_t code) { return std::string(qor_char_to_string(code)); };
    EXPECT_EQ(utf8('A'), "A");
    EXPECT_EQ(utf8(0x7F), "\x7f");
    EXPECT_EQ(utf8(0x80), "\xc2\x80");
    EXPECT_EQ(utf8(0xE9), "\xc3\xa9");
    EXPECT_EQ(utf8(0x7FF), "\xdf\xbf");
    EXPECT_EQ(utf8(0x800), "\xe0\xa0\x80");
    EXPECT_EQ(utf8(0x20AC), "\xe2\x82\xac");
    EXPECT_EQ(utf8(0xD800), "\xed\xa0\x80");
    EXPECT_EQ(utf8(0xFFFF), "\xef\xbf\xbf");
    EXPECT_EQ(utf8(0x10000), "\xf0\x90\x80\x80");
    EXPECT_EQ(utf8(0x1F600), "\xf0\x9f\x98\x80");
    EXPECT_EQ(utf8(0x110000), "\xf4\x90\x80\x80");
    EXPECT_EQ(utf8(0x7FFFFFFF), "\xff\xbf\xbf\xbf");
    EXPECT_EQ(utf8(-1), "\xff");
    EXPECT_EQ(utf8(INT32_MIN), "");
    EXPECT_EQ(utf8(0), "");
    EXPECT_EQ(utf8((int64_t{1} << 32) | 'z'), "z");
}

// qor_ord reads NUL-terminated text, ord a record; both give the first byte unsigned.
TEST(NumberTextOrd, FirstByteUnsignedOrZero) {
    EXPECT_EQ(qor_ord(nullptr), 0);
    EXPECT_EQ(qor_ord(""), 0);
    EXPECT_EQ(qor_ord("A"), 65);
    EXPECT_EQ(qor_ord("\xc3\xa9"), 195);

    EXPECT_EQ(ord(nullptr), 0);
    QorString no_data = bytes_record(nullptr, 3);
    EXPECT_EQ(ord(&no_data), 0);
    QorString zero_len = bytes_record("abc", 0);
    EXPECT_EQ(ord(&zero_len), 0);
    EXPECT_EQ(ord(s("")), 0);
    EXPECT_EQ(ord(s("\xc3\xa9")), 195);
    EXPECT_EQ(ord(s("\xff")), 255);
}

// Base 10 only, leading white space skipped, saturating, stopping at the first NUL.
TEST(NumberTextParseInt, DecimalPrefixOfTheText) {
    EXPECT_EQ(qor_parse_int(s("  42abc")), 42);
    EXPECT_EQ(qor_parse_int(s("\t\n+7")), 7);
    EXPECT_EQ(qor_parse_int(s("-17")), -17);
    EXPECT_EQ(qor_parse_int(s("007")), 7);
    EXPECT_EQ(qor_parse_int(s("abc")), 0);
    EXPECT_EQ(qor_parse_int(s("")), 0);
    EXPECT_EQ(qor_parse_int(s("0x1F")), 0);
    EXPECT_EQ(qor_parse_int(s("-9223372036854775808")), INT64_MIN);
    EXPECT_EQ(qor_parse_int(s("99999999999999999999")), INT64_MAX);
    EXPECT_EQ(qor_parse_int(s("-99999999999999999999")), INT64_MIN);
    // Around the longest numbers that cannot overflow, and the white space and signs strtol takes.
    EXPECT_EQ(qor_parse_int(s("999999999999999999x")), 999999999999999999);
    EXPECT_EQ(qor_parse_int(s("-1000000000000000000")), -1000000000000000000);
    EXPECT_EQ(qor_parse_int(s("9223372036854775807")), INT64_MAX);
    EXPECT_EQ(qor_parse_int(s("9223372036854775808")), INT64_MAX);
    EXPECT_EQ(qor_parse_int(s("000000000000000000000042")), 42);
    EXPECT_EQ(qor_parse_int(s("\v\f\r 5")), 5);
    EXPECT_EQ(qor_parse_int(s("--5")), 0);
    EXPECT_EQ(qor_parse_int(s("- 5")), 0);
    EXPECT_EQ(qor_parse_int(qor_string_new("12\0"
                                           "34",
                                           5)),
              12);
    EXPECT_EQ(qor_parse_int(nullptr), 0);
    QorString no_data = bytes_record(nullptr, 2);
    EXPECT_EQ(qor_parse_int(&no_data), 0);
}

TEST(NumberTextParseF64, DecimalHexInfNan) {
    EXPECT_EQ(qor_parse_f64(s("3.5e2")), 350.0);
    EXPECT_EQ(qor_parse_f64(s(" -0.25x")), -0.25);
    EXPECT_EQ(qor_parse_f64(s("0x1p4")), 16.0);
    EXPECT_EQ(qor_parse_f64(s("abc")), 0.0);
    EXPECT_EQ(qor_parse_f64(s("INF")), INFINITY);
    EXPECT_EQ(qor_parse_f64(s("-Infinity")), -INFINITY);
    EXPECT_TRUE(isnan(qor_parse_f64(s("nAn"))));
    EXPECT_EQ(qor_parse_f64(s("1e400")), INFINITY);
    EXPECT_EQ(qor_parse_f64(qor_string_new("1.5\0"
                                           "9",
                                           5)),
              1.5);
    EXPECT_EQ(qor_parse_f64(nullptr), 0.0);
    QorString no_data = bytes_record(nullptr, 2);
    EXPECT_EQ(qor_parse_f64(&no_data), 0.0);
}

// With the arena off every text is two heap blocks that qor_string_free releases (checked by
// the sanitizer build).
TEST(NumberTextMemory, HeapTextsAreReleasable) {
    ArenaOff off;
    QorString* made[] = {qor_int_to_string(INT64_MIN),
                         qor_int_to_hex(-1),
                         qor_to_hex(INT64_MIN),
                         qor_to_octal(INT64_MIN),
                         qor_int_to_bin(-1),
                         qor_to_binary(-1),
                         qor_bool_to_string(0),
                         qor_f64_to_string(-1.7976931348623157e308),
                         qor_chr(0)};
    for (QorString* text : made) {
        EXPECT_EQ(text->data[text->len], '\0');
        qor_string_free(text);
    }
    char* utf8 = qor_char_to_string(0x1F600);
    EXPECT_EQ(std::string(utf8), "\xf0\x9f\x98\x80");
    free(utf8);
}
