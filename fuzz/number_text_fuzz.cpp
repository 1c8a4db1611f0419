// Number text both ways against the C library: integer texts against snprintf's "%ld", "%lx"
// and "%lo" forms, binary digits against a shift loop, "%.9g" against snprintf, and parsing
// against strtol and strtod over the same bytes, read up to the first NUL. The builder's
// number appends must give the same texts as the conversions.
#include <math.h>

#include "fuzz_support.h"

namespace {

std::string printed(const char* format, uint64_t v) {
    char buffer[80];
    int n = snprintf(buffer, sizeof buffer, format, v);
    return std::string(buffer, static_cast<size_t>(n));
}

std::string binary(uint64_t v) {
    std::string out;
    do {
        out.insert(out.begin(), static_cast<char>('0' + (v & 1)));
        v >>= 1;
    } while (v != 0);
    return out;
}

std::string general(double x) {
    char buffer[64];
    int n = snprintf(buffer, sizeof buffer, "%.9g", x);
    return std::string(buffer, static_cast<size_t>(n));
}

bool same_double(double a, double b) { return memcmp(&a, &b, sizeof a) == 0; }

// The parsers against strtol and strtod on the bytes of text up to their first NUL.
void check_parsers(std::string_view text) {
    std::string c_text(text.data(), strnlen(text.data(), text.size()));
    QorString* s = fuzz::make(text);
    fuzz::check(qor_parse_int(s) == strtol(c_text.c_str(), nullptr, 10), "parse_int");
    fuzz::check(same_double(qor_parse_f64(s), strtod(c_text.c_str(), nullptr)), "parse_f64");
}

void check_integer(int64_t v) {
    auto u = static_cast<uint64_t>(v);
    uint64_t magnitude = v < 0 ? 0 - u : u;
    fuzz::check_text(qor_int_to_string(v), printed("%ld", u), "int_to_string");
    fuzz::check_text(qor_int_to_hex(v), printed("%lx", u), "int_to_hex");
    fuzz::check_text(qor_to_hex(v), printed(v < 0 ? "-0x%lx" : "0x%lx", magnitude), "to_hex");
    fuzz::check_text(qor_to_octal(v), printed(v < 0 ? "-0o%lo" : "0o%lo", magnitude), "to_octal");
    fuzz::check_text(qor_int_to_bin(v), binary(u), "int_to_bin");
    fuzz::check_text(qor_to_binary(v), "0b" + binary(u), "to_binary");
    fuzz::check_text(qor_bool_to_string(v), (u & 0xff) != 0 ? "true" : "false", "bool_to_string");
    fuzz::check(qor_parse_int(qor_int_to_string(v)) == v, "integer round trip");

    QorStringBuilder* sb = qor_sb_with_capacity(1 + static_cast<int64_t>(u % 40));
    qor_sb_push_int(sb, v);
    qor_sb_push_hex(sb, v);
    qor_sb_push_bool(sb, v);
    std::string want = printed("%ld", u) + printed("0x%lx", u) + (v != 0 ? "true" : "false");
    fuzz::check_text(qor_sb_build(sb), want, "builder numbers");
    qor_sb_free(sb);
}

void check_double(double x) {
    fuzz::check_text(qor_f64_to_string(x), general(x), "f64_to_string");
    QorStringBuilder* sb = qor_sb_with_capacity(3);
    qor_sb_push_f64(sb, x);
    fuzz::check_text(qor_sb_build(sb), general(x), "sb_push_f64");
    qor_sb_free(sb);
    // Texts that need every digit, and every exponent, for the decimal parsing path.
    char buffer[80];
    for (const char* format : {"%.17g", "%.25e", "%a", "  +%.3f"}) {
        snprintf(buffer, sizeof buffer, format, x);
        check_parsers(buffer);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qor_arena_mode(1);
    fuzz::Input in{data, size};
    auto v = in.take<int64_t>();
    auto bits = in.take<uint64_t>();
    double x = 0;
    memcpy(&x, &bits, sizeof x);
    check_integer(v);
    check_integer(static_cast<int64_t>(bits));
    check_double(x);
    check_double(static_cast<double>(v) / 1024.0);
    check_parsers(in.bytes_all());
    qor_arena_reset();
    return 0;
}
