// Console output and input through the process's standard streams. The prefixed string
// printers go by the record's len; the plain ones ignore len and stop at the first NUL. Only
// qor_write_stdout flushes after writing; only the line and byte readers flush before.
// The string builder's printer lives here too, beside the other printers.
//
// Output keeps stdio's buffer, which a host's printf shares, but stdio never writes it for a
// writer here: glibc drops the rest of its buffer when a write fails with EINTR. Under the
// stream's lock a writer either copies its bytes into a fully buffered stream's buffer where
// they fit (no write can happen), or writes the pending bytes and its own with one loop that
// continues partial and interrupted writes, then marks the buffer empty exactly as stdio's own
// flush does. Invariants a change must keep:
//   - bytes leave in call order: what the buffer holds always goes before the new bytes;
//   - stdio is handed back its buffer only in states its own code makes (writing mode, with
//     its pointers as after a flush or a copy), so a host's printf and the exit flush go on;
//   - a fully buffered stream (stdout on a file or a pipe) keeps buffering: it writes only
//     when the next call's bytes do not fit, for qor_write_stdout and for the readers'
//     flushes; a line-buffered stream writes when a line ends, an unbuffered one (stderr) at
//     every call.
// stdout and stderr are taken to be byte streams that are written, never read.
//
// Input never takes a signal for end of input: every read that a signal cuts short is tried
// again. The number readers collect the characters scanf would take, so a signal between two
// of them no longer splits a number, and convert them as scanf does.
#include "system/console.h"

#include <ctype.h>
#include <pthread.h>
#include <stdio.h>
#include <stdio_ext.h>
#include <stdlib.h>
#include <string.h>
#include <sys/uio.h>

#include "core/internal.h"
#include "system/descriptors.h"
#include "system/read_stream.h"
#include "text/number_format.h"

using qor::is_missing;

namespace {

// Flag bits of glibc's FILE that stdio.h does not name; part of its binary interface.
constexpr int kUnbuffered = 0x0002;
constexpr int kLineBuffered = 0x0200;
constexpr int kWriting = 0x0800;  // _IO_CURRENTLY_PUTTING

// "%.9f" of the largest double: 309 digits, a point, nine decimals, a sign.
constexpr size_t kFixedMax = 400;

size_t room(const FILE* f) {
    return f->_IO_write_end > f->_IO_write_ptr
               ? static_cast<size_t>(f->_IO_write_end - f->_IO_write_ptr)
               : 0;
}

size_t pending(const FILE* f) {
    return f->_IO_write_ptr > f->_IO_write_base
               ? static_cast<size_t>(f->_IO_write_ptr - f->_IO_write_base)
               : 0;
}

// Appends the two pieces at the write pointer; the caller has checked that they fit. An empty
// piece copies nothing (the write pointer is null while a stream has no buffer yet).
void copy_in(FILE* f, const char* a, size_t na, const char* b, size_t nb) {
    if (na > 0) memcpy(f->_IO_write_ptr, a, na);
    if (nb > 0) memcpy(f->_IO_write_ptr + na, b, nb);
    f->_IO_write_ptr += na + nb;
}

// Puts f in writing mode with its buffer allocated, as stdio does before its first write; with
// nothing pending, stdio writes nothing here.
void start_writing(FILE* f) {
    if ((f->_flags & kWriting) == 0 || f->_IO_write_base == nullptr) __overflow(f, EOF);
}

// The buffer empty, as stdio's flush leaves it; the file position is no longer the one stdio
// last knew, so it is marked unknown (ftell then asks the system).
void mark_empty(FILE* f) {
    char* base = f->_IO_buf_base;
    f->_IO_read_base = f->_IO_read_ptr = f->_IO_read_end = base;
    f->_IO_write_base = f->_IO_write_ptr = base;
    f->_IO_write_end = (f->_flags & (kLineBuffered | kUnbuffered)) != 0 ? base : f->_IO_buf_end;
    f->_offset = -1;
}

// Writes the pending bytes, then the two pieces, and empties the buffer. Returns whether every
// byte was written; a descriptor that fails sets the stream's error flag and, as in stdio, what
// it did not take is dropped. *taken, when given, is how many bytes of the pieces were written.
bool write_through(FILE* f, const char* a, size_t na, const char* b, size_t nb,
                   size_t* taken = nullptr) {
    size_t held = pending(f);
    iovec pieces[3] = {
        {f->_IO_write_base, held}, {const_cast<char*>(a), na}, {const_cast<char*>(b), nb}};
    size_t written = qor::write_gather(fileno_unlocked(f), pieces, 3);
    mark_empty(f);
    if (taken != nullptr) *taken = written > held ? written - held : 0;
    if (written == held + na + nb) return true;
    f->_flags |= _IO_ERR_SEEN;
    return false;
}

// The slow path of put: the pieces do not fit in the room the buffer shows. A fully buffered
// stream whose buffer was only now made, or a line-buffered one given text without a line
// end, keeps them as stdio would; a fully buffered one writes what it holds and keeps them
// when they fit in the emptied buffer; anything else is written at once after what it holds.
__attribute__((noinline)) bool put_slow(FILE* f, const char* a, size_t na, const char* b,
                                        size_t nb) {
    start_writing(f);
    if (f->_IO_buf_base == nullptr) return false;  // a stream that takes no writes
    size_t n = na + nb;
    bool full = (f->_flags & (kLineBuffered | kUnbuffered)) == 0;
    bool line_held = (f->_flags & kLineBuffered) != 0 && memchr(a, '\n', na) == nullptr &&
                     (nb == 0 || memchr(b, '\n', nb) == nullptr);
    if ((full || line_held) && n <= static_cast<size_t>(f->_IO_buf_end - f->_IO_write_ptr)) {
        copy_in(f, a, na, b, nb);
        return true;
    }
    if (full && n <= static_cast<size_t>(f->_IO_buf_end - f->_IO_buf_base)) {
        if (!write_through(f, nullptr, 0, nullptr, 0)) return false;
        copy_in(f, a, na, b, nb);
        return true;
    }
    return write_through(f, a, na, b, nb);
}

// Writes the na bytes at a and then the nb bytes at b (nb may be 0) to f as one call, under
// the caller's lock. Copied into the buffer when they fit in the room it shows, which only a
// fully buffered stream has; otherwise put_slow. Returns whether every byte was taken.
inline bool put(FILE* f, const char* a, size_t na, const char* b, size_t nb) {
    if (na + nb <= room(f)) {
        copy_in(f, a, na, b, nb);
        return true;
    }
    return put_slow(f, a, na, b, nb);
}

// put under f's lock: the one way a writer here writes.
bool console_write(FILE* f, const char* a, size_t na, const char* b = "", size_t nb = 0) {
    bool locked = qor::lock_stream(f);
    bool ok = put(f, a, na, b, nb);
    qor::unlock_stream(f, locked);
    return ok;
}

// n bytes and, when line is set, a line feed; printf's result: the byte count, or -1.
int64_t write_out(FILE* f, const char* bytes, size_t n, bool line) {
    bool ok = console_write(f, bytes, n, "\n", line ? 1 : 0);
    return ok ? static_cast<int64_t>(n + line) : -1;
}

// "%ld" (and a line feed) without parsing a format.
int64_t write_decimal(FILE* f, int64_t value, bool line) {
    char text[qor::numfmt::kDecimalMax + 1];
    size_t n = qor::numfmt::write_decimal(text, value);
    if (line) text[n++] = '\n';
    return console_write(f, text, n) ? static_cast<int64_t>(n) : -1;
}

// "%.9f" (and a line feed).
int64_t write_fixed(FILE* f, double value, bool line) {
    char text[kFixedMax];
    int n = snprintf(text, sizeof text, line ? "%.9f\n" : "%.9f", value);
    return console_write(f, text, static_cast<size_t>(n)) ? n : -1;
}

// One byte, with putc's result: the byte, or EOF.
int64_t write_byte(FILE* f, char c) {
    return console_write(f, &c, 1) ? static_cast<unsigned char>(c) : EOF;
}

// Text and a line feed, with puts's result: the count, at most INT_MAX, or EOF.
int64_t write_line(const char* text) {
    size_t n = strlen(text);
    if (!console_write(stdout, text, n, "\n", 1)) return EOF;
    return n < INT32_MAX ? static_cast<int64_t>(n + 1) : INT32_MAX;
}

// The bytes "%.*s" prints with len as its int precision: at most len, ending at a NUL; a
// precision that is negative as an int means none.
size_t printed_length(const QorString* s) {
    int precision = static_cast<int>(s->len);
    return strnlen(s->data, precision < 0 ? SIZE_MAX : static_cast<size_t>(precision));
}

// The flush before a read, so that a prompt without a line end is visible.
void flush_pending_output() {
    if (__fpending(stdout) == 0) return;
    bool locked = qor::lock_stream(stdout);
    if (pending(stdout) != 0) write_through(stdout, nullptr, 0, nullptr, 0);
    qor::unlock_stream(stdout, locked);
}

// At exit, before stdio's own flush (which drops what a signal interrupts): what stdout holds
// goes out through the signal-proof loop.
void flush_at_exit() { flush_pending_output(); }

pthread_once_t g_exit_flush_once = PTHREAD_ONCE_INIT;

void register_exit_flush() { atexit(flush_at_exit); }

}  // namespace

void qor::flush_console_at_exit() { pthread_once(&g_exit_flush_once, register_exit_flush); }

extern "C" QOR_API int64_t qor_print_i64(int64_t value) {
    return write_decimal(stdout, value, false);
}

extern "C" QOR_API int64_t qor_println_i64(int64_t value) {
    return write_decimal(stdout, value, true);
}

extern "C" QOR_API int64_t qor_print_f64(double value) { return write_fixed(stdout, value, false); }

extern "C" QOR_API int64_t qor_println_f64(double value) {
    return write_fixed(stdout, value, true);
}

extern "C" QOR_API int64_t eprint(int64_t value) { return write_decimal(stderr, value, false); }

extern "C" QOR_API int64_t eprintln(int64_t value) { return write_decimal(stderr, value, true); }

extern "C" QOR_API int64_t eprint_f64(double value) { return write_fixed(stderr, value, false); }

extern "C" QOR_API int64_t eprintln_f64(double value) { return write_fixed(stderr, value, true); }

// len is the precision of "%.*s", so at most len bytes are written, fewer before a NUL.
extern "C" QOR_API int64_t qor_print_str(const QorString* s) {
    if (is_missing(s)) return 0;
    return write_out(stdout, s->data, printed_length(s), false);
}

extern "C" QOR_API int64_t qor_println_str(const QorString* s) {
    if (is_missing(s)) return write_byte(stdout, '\n');
    return write_out(stdout, s->data, printed_length(s), true);
}

extern "C" QOR_API int64_t print_str(const QorString* s) {
    if (is_missing(s)) return 0;
    return write_out(stdout, s->data, strlen(s->data), false);
}

extern "C" QOR_API int64_t println_str(const QorString* s) {
    if (is_missing(s)) return write_byte(stdout, '\n');
    return write_line(s->data);
}

// fputs's result: 1, or EOF.
extern "C" QOR_API int64_t eprint_str(const QorString* s) {
    if (is_missing(s)) return 0;
    return console_write(stderr, s->data, strlen(s->data)) ? 1 : EOF;
}

extern "C" QOR_API int64_t eprintln_str(const QorString* s) {
    if (is_missing(s)) return write_byte(stderr, '\n');
    return write_out(stderr, s->data, strlen(s->data), true);
}

extern "C" QOR_API int64_t print_char(int64_t c) {
    return write_byte(stdout, static_cast<char>(c));
}

// Exactly len bytes, NULs included, then a flush: written at once, after what was pending.
// Returns how many of the record's bytes were written. A null record writes and flushes
// nothing; so does a record with a negative len (never one the runtime made).
extern "C" QOR_API int64_t qor_write_stdout(const QorString* s) {
    if (is_missing(s) || s->len < 0) return 0;
    bool locked = qor::lock_stream(stdout);
    start_writing(stdout);
    size_t written = 0;
    write_through(stdout, s->data, static_cast<size_t>(s->len), nullptr, 0, &written);
    qor::unlock_stream(stdout, locked);
    return static_cast<int64_t>(written);
}

extern "C" QOR_API int64_t qor_puts_cstr(const char* text) {
    if (text == nullptr) {
        write_byte(stdout, '\n');
    } else {
        write_line(text);
    }
    return 0;
}

// ---- Number reading ---------------------------------------------------------------------

namespace {

// The characters of one number as they are read: on the stack while short, on the heap after.
class Token {
  public:
    Token() = default;
    Token(const Token&) = delete;
    Token& operator=(const Token&) = delete;
    ~Token() {
        if (bytes_ != small_) free(bytes_);
    }

    void add(int c) {
        if (len_ + 1 == size_) grow();
        bytes_[len_++] = static_cast<char>(c);
    }
    size_t size() const { return len_; }
    int last() const { return len_ > 0 ? static_cast<unsigned char>(bytes_[len_ - 1]) : EOF; }
    const char* text() {
        bytes_[len_] = '\0';
        return bytes_;
    }

  private:
    void grow() {
        auto* bigger = static_cast<char*>(qor::xmalloc(size_ * 2));
        memcpy(bigger, bytes_, len_);
        if (bytes_ != small_) free(bytes_);
        bytes_ = bigger;
        size_ *= 2;
    }

    char small_[128];
    char* bytes_ = small_;
    size_t len_ = 0;
    size_t size_ = sizeof small_;
};

// The next character of f, read again when a signal cut the read short; EOF only at the end
// of input or after a read error.
int next_char(FILE* f) {
    for (;;) {
        int c = getc_unlocked(f);
        if (c != EOF || !qor::retry_after_signal(f)) return c;
    }
}

// Puts back the character that ended a number, as scanf does; nothing for EOF.
void put_back(FILE* f, int c) {
    if (c != EOF) ungetc(c, f);
}

// The first character after white space (isspace in the C locale, as scanf skips it).
int skip_space(FILE* f) {
    int c;
    do c = next_char(f);
    while (c == ' ' || (c >= '\t' && c <= '\r'));
    return c;
}

// Takes the characters of word (lower case) case-blind, c being the first one read. On a
// mismatch the character that broke it is consumed, as scanf consumes it.
bool take_word(FILE* f, Token& t, int c, const char* word) {
    for (const char* w = word;; c = next_char(f)) {
        if (c == EOF || tolower(c) != *w) return false;
        t.add(c);
        if (*++w == '\0') return true;
    }
}

// What scanf's "%ld" takes: an optional sign, then decimal digits. The character after them
// goes back. True when there is a number to convert.
bool scan_integer(FILE* f, Token& t) {
    int c = skip_space(f);
    if (c == EOF) return false;
    if (c == '-' || c == '+') {
        t.add(c);
        c = next_char(f);
    }
    bool digits = false;
    for (; isdigit(c); c = next_char(f), digits = true) t.add(c);
    put_back(f, c);
    return digits;
}

// After "inf", the rest of "infinity" when an 'i' follows; any other character goes back.
bool scan_infinity(FILE* f, Token& t) {
    int c = next_char(f);
    if (tolower(c) != 'i') {
        put_back(f, c);
        return true;
    }
    return take_word(f, t, c, "inity");
}

// What scanf's "%lf" takes: an optional sign, then "nan", "inf" or "infinity" in any case, or
// a decimal or 0x-prefixed hexadecimal number with at most one point and one exponent ('e',
// or 'p' for hexadecimal) with its own optional sign. The character after it goes back. True
// when there is something to convert.
bool scan_float(FILE* f, Token& t) {
    int c = skip_space(f);
    if (c == EOF) return false;
    size_t sign = 0;
    if (c == '-' || c == '+') {
        t.add(c);
        sign = 1;
        if ((c = next_char(f)) == EOF) return false;
    }
    if (tolower(c) == 'n') return take_word(f, t, c, "nan");
    if (tolower(c) == 'i') return take_word(f, t, c, "inf") && scan_infinity(f, t);
    bool hex = false, digit = false, dot = false, exponent = false;
    int exponent_char = 'e';
    if (c == '0') {
        t.add(c);
        c = next_char(f);
        if (tolower(c) == 'x') {
            t.add(c);
            hex = true;
            exponent_char = 'p';
            c = next_char(f);
        } else {
            digit = true;
        }
    }
    for (; c != EOF; c = next_char(f)) {
        bool exponent_sign = exponent && t.last() == exponent_char && (c == '-' || c == '+');
        if (isdigit(c) || (hex && !exponent && isxdigit(c))) {
            digit = true;
        } else if (digit && !exponent && tolower(c) == exponent_char) {
            c = exponent_char;
            exponent = dot = true;
        } else if (!dot && c == '.') {
            dot = true;
        } else if (!exponent_sign) {
            break;
        }
        t.add(c);
    }
    put_back(f, c);
    return t.size() != sign && !(hex && t.size() == sign + 2);
}

// Runs scan over stdin under its lock, so the token is read as one stdio call would read it.
bool scan_stdin(bool (*scan)(FILE*, Token&), Token& t) {
    bool locked = qor::lock_stream(stdin);
    bool found = scan(stdin, t);
    qor::unlock_stream(stdin, locked);
    return found;
}

}  // namespace

// scanf("%ld") without losing a number to a signal: the characters it would take are read
// first, retrying reads a signal cuts short, then converted as scanf converts them (strtol,
// so an overflow gives the nearest limit). 0 when there is no number (end of input, or text
// that is not one); the characters that were not part of a number are consumed as by scanf.
extern "C" QOR_API int64_t qor_read_int(void) {
    Token t;
    if (!scan_stdin(scan_integer, t)) return 0;
    return strtol(t.text(), nullptr, 10);
}

// scanf("%lf") in the same way, converted with strtod; 0 when nothing converts.
extern "C" QOR_API double qor_read_f64(void) {
    Token t;
    if (!scan_stdin(scan_float, t)) return 0;
    char* end = nullptr;
    double value = strtod(t.text(), &end);
    return end == t.text() ? 0 : value;
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
        write_byte(stdout, '\n');
        return 0;
    }
    write_line(sb->data);
    return 0;
}

QOR_PLAIN_ALIAS(sb_println, qor_sb_println);
