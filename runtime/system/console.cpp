// Console output and input through the process's buffered standard streams. The prefixed
// string printers go by the record's len; the plain ones ignore len and stop at the first NUL.
// Only qor_write_stdout flushes after writing; only the line and byte readers flush before.
// A signal that interrupts a read is never taken for end of input: every reader reads on.
// The string builder's printer lives here too, beside the other printers.
#include <stdio.h>
#include <stdio_ext.h>
#include <stdlib.h>
#include <string.h>

#include "core/internal.h"
#include "system/read_stream.h"
#include "text/number_format.h"

using qor::is_missing;

namespace {

// Writes n bytes and, when line is set, a line feed to stdout as one locked call, which is
// what printf would have written; the result is printf's: the byte count, or -1 on an error.
int64_t write_out(const char* bytes, size_t n, bool line) {
    bool locked = qor::lock_stream(stdout);
    size_t written = fwrite_unlocked(bytes, 1, n, stdout);
    bool ok = written == n && (!line || putc_unlocked('\n', stdout) != EOF);
    qor::unlock_stream(stdout, locked);
    return ok ? static_cast<int64_t>(n + line) : -1;
}

// "%ld" (and a line feed) without parsing a format.
int64_t write_decimal(int64_t value, bool line) {
    char text[qor::numfmt::kDecimalMax];
    return write_out(text, qor::numfmt::write_decimal(text, value), line);
}

// The bytes "%.*s" prints with len as its int precision: at most len, ending at a NUL; a
// precision that is negative as an int means none.
size_t printed_length(const QorString* s) {
    int precision = static_cast<int>(s->len);
    return strnlen(s->data, precision < 0 ? SIZE_MAX : static_cast<size_t>(precision));
}

// The flush before a read, so that a prompt without a line end is visible. With nothing
// pending there is nothing for fflush to do, and the check is much cheaper than the call.
void flush_pending_output() {
    if (__fpending(stdout) != 0) fflush(stdout);
}

}  // namespace

extern "C" QOR_API int64_t qor_print_i64(int64_t value) { return write_decimal(value, false); }

extern "C" QOR_API int64_t qor_println_i64(int64_t value) { return write_decimal(value, true); }

extern "C" QOR_API int64_t qor_print_f64(double value) { return printf("%.9f", value); }

extern "C" QOR_API int64_t qor_println_f64(double value) { return printf("%.9f\n", value); }

extern "C" QOR_API int64_t eprint(int64_t value) {
    return fprintf(stderr, "%ld", static_cast<long>(value));
}

extern "C" QOR_API int64_t eprintln(int64_t value) {
    return fprintf(stderr, "%ld\n", static_cast<long>(value));
}

extern "C" QOR_API int64_t eprint_f64(double value) { return fprintf(stderr, "%.9f", value); }

extern "C" QOR_API int64_t eprintln_f64(double value) { return fprintf(stderr, "%.9f\n", value); }

// len is the precision of "%.*s", so at most len bytes are written, fewer before a NUL.
extern "C" QOR_API int64_t qor_print_str(const QorString* s) {
    if (is_missing(s)) return 0;
    return write_out(s->data, printed_length(s), false);
}

extern "C" QOR_API int64_t qor_println_str(const QorString* s) {
    if (is_missing(s)) return putc('\n', stdout);
    return write_out(s->data, printed_length(s), true);
}

extern "C" QOR_API int64_t print_str(const QorString* s) {
    if (is_missing(s)) return 0;
    return printf("%s", s->data);
}

extern "C" QOR_API int64_t println_str(const QorString* s) {
    if (is_missing(s)) return putc('\n', stdout);
    return puts(s->data);
}

extern "C" QOR_API int64_t eprint_str(const QorString* s) {
    if (is_missing(s)) return 0;
    return fputs(s->data, stderr);
}

extern "C" QOR_API int64_t eprintln_str(const QorString* s) {
    if (is_missing(s)) return fputc('\n', stderr);
    return fprintf(stderr, "%s\n", s->data);
}

extern "C" QOR_API int64_t print_char(int64_t c) {
    return putc(static_cast<unsigned char>(c), stdout);
}

// Exactly len bytes, NULs included, then a flush; a null record writes and flushes nothing.
// A record with a negative len (never one the runtime made) writes nothing.
extern "C" QOR_API int64_t qor_write_stdout(const QorString* s) {
    if (is_missing(s) || s->len < 0) return 0;
    size_t written = fwrite(s->data, 1, static_cast<size_t>(s->len), stdout);
    fflush(stdout);
    return static_cast<int64_t>(written);
}

extern "C" QOR_API int64_t qor_puts_cstr(const char* text) {
    if (text == nullptr) {
        putc('\n', stdout);
    } else {
        puts(text);
    }
    return 0;
}

// 0 when scanf converts nothing (end of input or no number). A signal that stops scanf before
// it converted anything has taken only white space, so the scan is simply run again.
extern "C" QOR_API int64_t qor_read_int(void) {
    long value = 0;
    int converted;
    while ((converted = scanf("%ld", &value)) != 1 && qor::retry_after_signal(stdin)) {
    }
    return converted == 1 ? value : 0;
}

extern "C" QOR_API double qor_read_f64(void) {
    double value = 0;
    int converted;
    while ((converted = scanf("%lf", &value)) != 1 && qor::retry_after_signal(stdin)) {
    }
    return converted == 1 ? value : 0;
}

// One line of at most 4095 bytes without its trailing run of CR and LF bytes; "__EOF__" when
// input has ended before any byte.
extern "C" QOR_API QorString* qor_read_line(void) {
    flush_pending_output();
    char buffer[4096];
    size_t got = qor::read_line(stdin, buffer, sizeof buffer);
    if (got == 0) return qor::make_string("__EOF__", 7);
    size_t n = strnlen(buffer, got);
    while (n > 0 && (buffer[n - 1] == '\r' || buffer[n - 1] == '\n')) n--;
    return qor::make_string(buffer, static_cast<int64_t>(n));
}

// Up to count bytes as they come (NULs, CR and LF kept); fewer when input ends first.
extern "C" QOR_API QorString* qor_read_bytes(int64_t count) {
    if (count <= 0) return qor::fresh_empty_string();
    flush_pending_output();
    auto* buffer = static_cast<char*>(malloc(static_cast<size_t>(count) + 1));
    if (buffer == nullptr) return qor::fresh_empty_string();
    auto got = static_cast<int64_t>(qor::read_up_to(stdin, buffer, static_cast<size_t>(count)));
    QorString* s = qor::make_string(buffer, got);
    free(buffer);
    return s;
}

QOR_PLAIN_ALIAS(print, qor_print_i64);
QOR_PLAIN_ALIAS(println, qor_println_i64);
QOR_PLAIN_ALIAS(print_f64, qor_print_f64);
QOR_PLAIN_ALIAS(println_f64, qor_println_f64);
QOR_PLAIN_ALIAS(puts_cstr, qor_puts_cstr);
QOR_PLAIN_ALIAS(read_int, qor_read_int);

// ---- The string builder's printer -----------------------------------------------------------

// Prints the builder's content up to its first NUL and a line feed; just a line feed for NULL.
extern "C" QOR_API int64_t qor_sb_println(const QorStringBuilder* sb) {
    if (sb == nullptr || sb->data == nullptr) {
        putc('\n', stdout);
        return 0;
    }
    puts(sb->data);
    return 0;
}

QOR_PLAIN_ALIAS(sb_println, qor_sb_println);
