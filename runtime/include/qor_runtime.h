/* The qor runtime: every service that compiled qor programs and C/C++ hosts call.
 *
 * Every function here is a plain C-ABI export taking and returning 64-bit integers, doubles
 * and pointers. Operations never report errors: bad or missing input gives a neutral result
 * (0, -1, NULL, INT64_MIN, the fresh empty string or a clamped range); status operations
 * return 0 for success and -1 for failure; predicates return 1 or 0.
 *
 * Exhausted memory: constructors that can answer NULL (or -1, or their neutral result) do;
 * every other allocation that the heap refuses ends the process with the one line
 * "[qor] FATAL: out of memory (N bytes)" on stderr and exit status 1.
 *
 * Plain twin names that are common words (len, slice, print, min, vec_push, ...) are exported
 * by the library too, but declared here only when the includer defines QOR_PLAIN_NAMES before
 * including this header, so that the header never pollutes a host's namespace.
 *
 * Embedding: call qor_init_runtime(argc, argv) once, then guard runtime calls with
 *     if (qor_ffi_begin() == 0) { ...runtime calls...; qor_ffi_end(); }
 *     else { puts(qor_ffi_error_message()); qor_ffi_end(); }
 */
#ifndef QOR_RUNTIME_H
#define QOR_RUNTIME_H

/* Version of this header; qor_runtime_version() gives the library's. The major number is the
 * soname's (libqor_runtime.so.0) and changes only when the ABI does. */
#define QOR_RUNTIME_VERSION_MAJOR 0
#define QOR_RUNTIME_VERSION_MINOR 1
#define QOR_RUNTIME_VERSION_PATCH 0
#define QOR_RUNTIME_VERSION "0.1.0"

#include <pthread.h>
#include <stddef.h>
#include <stdint.h>

#if defined(__GNUC__) || defined(__clang__)
#define QOR_API __attribute__((visibility("default")))
#define QOR_RETURNS_TWICE __attribute__((returns_twice))
#define QOR_NORETURN __attribute__((noreturn))
#else
#define QOR_API
#define QOR_RETURNS_TWICE
#define QOR_NORETURN
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---------------------------------------------------------------------------------------------
 * Shared records
 * ------------------------------------------------------------------------------------------- */

/* A text value: len bytes at data, always followed by one NUL; bytes may hold NULs. Records
 * made by the runtime have cap == len. Never changed once made. */
typedef struct QorString {
    char* data;
    int64_t len;
    int64_t cap;
} QorString;

/* A growable vector of 64-bit slots on the process heap. New vectors have capacity 8. */
typedef struct QorVec {
    int64_t capacity;
    int64_t len;
    int64_t* items;
} QorVec;

/* One arena block: a malloc'd buffer handed out by pointer bumps, in a per-thread list. */
typedef struct QorArenaBlock {
    char* data;
    uint64_t used;
    uint64_t size;
    struct QorArenaBlock* next;
} QorArenaBlock;

/* ---------------------------------------------------------------------------------------------
 * Start-up and arguments
 * ------------------------------------------------------------------------------------------- */

/* The library's version text, such as "0.1.0" (static storage, never NULL). */
QOR_API const char* qor_runtime_version(void);
/* Records argc/argv for the calling thread and switches the arena on; for hosts with a main. */
QOR_API void qor_init_runtime(int argc, char** argv);
/* Number of arguments stored for the calling thread (0 in threads that stored none). */
QOR_API int64_t qor_arg_count(void);
/* Fresh copy of argument index; the fresh empty string when out of range or null. */
QOR_API QorString* qor_get_arg(int64_t index);
/* The compiled program's entry: prints its eleven lines, returns 0. */
QOR_API int64_t qor_user_main(void);

#ifdef QOR_PLAIN_NAMES
QOR_API int64_t arg_count(void);
QOR_API QorString* get_arg(int64_t index);
#endif

/* ---------------------------------------------------------------------------------------------
 * Arena control (acts on the calling thread's arena)
 * ------------------------------------------------------------------------------------------- */

/* The process-wide arena switch: 0 off (plain malloc), anything else on. */
QOR_API extern int32_t g_arena_enabled;

/* Sets the process-wide arena flag; returns 0. */
QOR_API int64_t qor_arena_mode(int32_t flag);
/* Frees every block but the first and empties it; returns 0. */
QOR_API int64_t qor_arena_reset(void);
/* Remembers the current position as the thread's one save point; returns 0. */
QOR_API int64_t qor_arena_save(void);
/* Rewinds to the save point, freeing later blocks; does nothing without one; returns 0. */
QOR_API int64_t qor_arena_restore(void);
/* Bytes reserved by the thread's blocks (not bytes handed out). */
QOR_API int64_t qor_arena_usage(void);
/* Frees every block of the thread and switches the arena off process-wide; returns 0. */
QOR_API int64_t qor_arena_destroy(void);

#ifdef QOR_PLAIN_NAMES
QOR_API int64_t arena_mode(int32_t flag);
QOR_API int64_t arena_reset(void);
QOR_API int64_t arena_save(void);
QOR_API int64_t arena_restore(void);
QOR_API int64_t arena_usage(void);
QOR_API int64_t arena_destroy(void);
#endif

/* ---------------------------------------------------------------------------------------------
 * Panics and assertions: without an open foreign-call frame they print and exit(1); with one
 * they jump back to it with the message.
 * ------------------------------------------------------------------------------------------- */

/* Fails with the string's text ("panic" when missing). Never returns. */
QOR_API QOR_NORETURN void qor_panic(const QorString* message);
/* Fails with "assertion failed" when the low 32 bits of cond are 0; returns otherwise. */
QOR_API void qor_assert(int32_t cond);
/* Fails with "array index I out of bounds [0, N)". Never returns. */
QOR_API QOR_NORETURN void qor_panic_bounds(int64_t index, int64_t length);
/* Fails with "division by zero". Never returns. */
QOR_API QOR_NORETURN void qor_panic_divzero(void);

/* ---------------------------------------------------------------------------------------------
 * Foreign-call error frame (one per thread; frames do not nest)
 * ------------------------------------------------------------------------------------------- */

/* Opens the frame: returns 0 now, and 1 again later when a failure is raised into it. The
 * recovery point is the caller's frame, so the caller must not return while the frame is open. */
QOR_API QOR_RETURNS_TWICE int32_t qor_ffi_begin(void);
/* Closes the frame; the error flag and message stay readable until the next begin. */
QOR_API void qor_ffi_end(void);
/* 1 once a failure has been raised into the frame since it was opened. */
QOR_API int32_t qor_ffi_has_error(void);
/* The last failure's message (NUL-terminated, at most 511 bytes), "" before any. */
QOR_API const char* qor_ffi_error_message(void);

/* ---------------------------------------------------------------------------------------------
 * Strings: construction, access, comparison, slicing, release, foreign hand-over
 * ------------------------------------------------------------------------------------------- */

/* New string holding a copy of the n bytes at bytes (NULs included); a negative n gives the
 * fresh empty string. */
QOR_API QorString* qor_string_new(const char* bytes, int64_t n);
/* New string copied from NUL-terminated text; NULL gives the fresh empty string. */
QOR_API QorString* qor_string_from_cstr(const char* text);
/* len, or 0 for NULL. */
QOR_API int64_t qor_string_len(const QorString* s);
/* 1 when s is NULL or empty. */
QOR_API int64_t qor_string_is_empty(const QorString* s);
/* The record's data pointer; NULL for NULL. */
QOR_API const char* qor_string_as_cstr(const QorString* s);
/* Byte at i (0..255); 0 for a missing string or an index out of range. */
QOR_API int64_t qor_string_char_at(const QorString* s, int64_t i);
/* Same as qor_string_char_at. */
QOR_API int64_t qor_str_byte_at(const QorString* s, int64_t i);
/* New one-byte string of the byte at i; empty when that byte is 0 or out of range. */
QOR_API QorString* qor_str_char_at_str(const QorString* s, int64_t i);
/* 1 when both hold the same bytes (two NULLs are equal, NULL never equals a string). */
QOR_API int64_t qor_string_eq(const QorString* a, const QorString* b);
/* Exactly -1, 0 or 1; bytes unsigned, shorter prefix first, missing before everything. */
QOR_API int64_t qor_string_cmp(const QorString* a, const QorString* b);
/* 64-bit FNV-1a of the bytes; 0 for a missing string. */
QOR_API int64_t qor_string_hash(const QorString* s);
/* New string of bytes [start, min(end, len)); fresh empty string on bad bounds. */
QOR_API QorString* qor_string_slice(const QorString* s, int64_t start, int64_t end);
/* New string of at most count bytes from start; fresh empty string on bad bounds. */
QOR_API QorString* qor_string_substr(const QorString* s, int64_t start, int64_t count);
/* New string a + b; the fresh empty string when either is missing. */
QOR_API QorString* qor_string_concat(const QorString* a, const QorString* b);
/* New string of the operands in order; missing operands count as empty. */
QOR_API QorString* qor_string_concat3(const QorString* a, const QorString* b, const QorString* c);
QOR_API QorString* qor_string_concat5(const QorString* a, const QorString* b, const QorString* c,
                                      const QorString* d, const QorString* e);
QOR_API QorString* qor_string_concat7(const QorString* a, const QorString* b, const QorString* c,
                                      const QorString* d, const QorString* e, const QorString* f,
                                      const QorString* g);
/* Frees a heap string (arena off only); does nothing for NULL or while the arena is on. 0. */
QOR_API int64_t qor_string_free(QorString* s);
/* Bytes before the first NUL at p (p must not be NULL). */
QOR_API int64_t qor_str_len(const char* p);
/* Returns the raw text pointer p unchanged. */
QOR_API const char* qor_str_data(const char* p);
/* New heap (malloc) string copied from text, whatever the arena says; NULL reads as "".
 * Release it with qor_ffi_free_string. */
QOR_API QorString* qor_ffi_cstr_to_string(const char* text);
/* data, or a constant "" for a missing string; never NULL. */
QOR_API const char* qor_ffi_string_data(const QorString* s);
/* len, or 0 for NULL. */
QOR_API int64_t qor_ffi_string_len(const QorString* s);
/* Frees a string made by qor_ffi_cstr_to_string; NULL does nothing. */
QOR_API void qor_ffi_free_string(QorString* s);

#ifdef QOR_PLAIN_NAMES
QOR_API int64_t len(const QorString* s);
/* Unlike qor_str_data, takes a record and returns its data. */
QOR_API const char* str_data(const QorString* s);
QOR_API int64_t char_at(const QorString* s, int64_t i);
QOR_API int64_t byte_at(const QorString* s, int64_t i);
QOR_API QorString* slice(const QorString* s, int64_t start, int64_t end);
QOR_API int64_t free_string(QorString* s);
#endif

/* ---------------------------------------------------------------------------------------------
 * Console output and input
 * ------------------------------------------------------------------------------------------- */

/* stdout "%ld". */
QOR_API int64_t qor_print_i64(int64_t value);
/* stdout "%ld\n". */
QOR_API int64_t qor_println_i64(int64_t value);
/* stdout "%.9f". */
QOR_API int64_t qor_print_f64(double value);
/* stdout "%.9f\n". */
QOR_API int64_t qor_println_f64(double value);
/* stdout, at most len bytes (stops at a NUL); nothing for a missing string. */
QOR_API int64_t qor_print_str(const QorString* s);
/* stdout, at most len bytes then "\n"; just "\n" for a missing string. */
QOR_API int64_t qor_println_str(const QorString* s);
/* stdout, exactly len bytes, then flush; nothing for NULL. */
QOR_API int64_t qor_write_stdout(const QorString* s);
/* puts of NUL-terminated text; "\n" for NULL. Returns 0. */
QOR_API int64_t qor_puts_cstr(const char* text);
/* scanf "%ld" from stdin; 0 when nothing was converted. */
QOR_API int64_t qor_read_int(void);
/* scanf "%lf" from stdin; 0 when nothing was converted. */
QOR_API double qor_read_f64(void);
/* Flushes stdout, reads one line (at most 4095 bytes) without its trailing CR/LF run;
 * "__EOF__" at end of input. */
QOR_API QorString* qor_read_line(void);
/* Flushes stdout, reads up to count bytes; fewer at end of input; fresh empty for count <= 0. */
QOR_API QorString* qor_read_bytes(int64_t count);

#ifdef QOR_PLAIN_NAMES
QOR_API int64_t print(int64_t value);
QOR_API int64_t println(int64_t value);
QOR_API int64_t print_f64(double value);
QOR_API int64_t println_f64(double value);
/* stderr twins of the integer and double printers. */
QOR_API int64_t eprint(int64_t value);
QOR_API int64_t eprintln(int64_t value);
QOR_API int64_t eprint_f64(double value);
QOR_API int64_t eprintln_f64(double value);
/* The plain string printers ignore len and write up to the first NUL. */
QOR_API int64_t print_str(const QorString* s);
QOR_API int64_t println_str(const QorString* s);
QOR_API int64_t eprint_str(const QorString* s);
QOR_API int64_t eprintln_str(const QorString* s);
/* putc of the low 8 bits. */
QOR_API int64_t print_char(int64_t c);
QOR_API int64_t puts_cstr(const char* text);
QOR_API int64_t read_int(void);
#endif

/* ==== BEGIN compiled program library (program/program.cpp) ==== */
/* Integer routines of the compiled program. They keep no state. Sums, differences and products
 * wrap modulo 2^64; counts are unsigned; "scaled" results carry three decimals (x1000, the
 * variance x1000000). A routine that needs n >= 1 returns 0 and writes nothing for n = 0.
 * Output arrays are written index 0 upward, so overlapping input and output act as that loop.
 * Every array argument must hold n elements; none is read or written when n is 0. */

/* x, or -x when negative; INT64_MIN stays itself. */
QOR_API int64_t qor_c_abs(int64_t x);
/* a if a < b, else b. */
QOR_API int64_t qor_c_min(int64_t a, int64_t b);
/* a if a > b, else b. */
QOR_API int64_t qor_c_max(int64_t a, int64_t b);
/* lo if x < lo; else x if x < hi; else hi (lo wins when lo > hi). */
QOR_API int64_t qor_c_clamp(int64_t x, int64_t lo, int64_t hi);
/* 1, 0 or -1 by the sign of x. */
QOR_API int64_t qor_sign(int64_t x);
/* base^exponent modulo 2^64; exponent 0 gives 1. */
QOR_API int64_t qor_ipow(int32_t base, uint64_t exponent);
/* Integer square root of x, rounded down; 4294967295 for UINT64_MAX. */
QOR_API int64_t qor_sqrt(uint64_t x);
/* n! modulo 2^64 (exact for 0..20); 0 for n >= 66 and for negative n. */
QOR_API int64_t qor_factorial(int64_t n);
/* a + ((b - a) * t) / 1000, truncating toward zero; t in thousandths. */
QOR_API int64_t qor_lerp_scaled(int64_t a, int64_t b, int64_t t);
/* 1 if x > 0 with exactly one bit set, else 0. */
QOR_API int64_t qor_c_is_power_of_two(int64_t x);
/* Smallest power of two not below x by bit smearing: 0 gives 0, negatives give 0 except
 * INT64_MIN, values above 2^62 give INT64_MIN (2^63). */
QOR_API int64_t qor_c_next_power_of_two(int64_t x);

/* v[0] + ... + v[n-1]; 0 for n = 0. */
QOR_API int64_t qor_sum(const int64_t* v, uint64_t n);
/* sum * 1000 / n. */
QOR_API int64_t qor_mean_scaled(const int64_t* v, uint64_t n);
/* Population variance * 1000000 around the scaled mean. */
QOR_API int64_t qor_variance_scaled(const int64_t* v, uint64_t n);
/* Median * 1000 of a sorted array (reads only the middle one or two elements). */
QOR_API int64_t qor_median_scaled(const int64_t* v, uint64_t n);
/* Smallest element. */
QOR_API int64_t qor_c_min_val(const int64_t* v, uint64_t n);
/* Largest element. */
QOR_API int64_t qor_c_max_val(const int64_t* v, uint64_t n);
/* Largest minus smallest; 0 for n < 2. */
QOR_API int64_t qor_range_val(const int64_t* v, uint64_t n);
/* Sum of squares. */
QOR_API int64_t qor_magnitude_squared(const int64_t* v, uint64_t n);
/* Sum of a[i] * b[i]; 0 for n = 0. */
QOR_API int64_t qor_dot_product(const int64_t* a, const int64_t* b, uint64_t n);
/* Same as qor_dot_product. */
QOR_API int64_t qor_weighted_sum(const int64_t* values, const int64_t* weights, uint64_t n);
/* Sum of (a[i] - b[i])^2; 0 for n = 0. */
QOR_API int64_t qor_dist_squared(const int64_t* a, const int64_t* b, uint64_t n);
/* out[i] = v[0] + ... + v[i]; returns the total. */
QOR_API int64_t qor_cumsum(const int64_t* v, int64_t* out, uint64_t n);
/* Scaled mean of each window into out; returns n - window + 1. A window longer than n writes
 * one value (the whole mean) and returns 0 or less; out needs max(1, n - window + 1) slots. */
QOR_API int64_t qor_moving_avg_scaled(const int64_t* v, int64_t* out, uint64_t n, uint64_t window);
/* dst[i] = src[i], forward; returns 0. */
QOR_API int64_t qor_array_copy(const int64_t* src, int64_t* dst, uint64_t n);
/* out[i] = a[i] + b[i]; returns 0. */
QOR_API int64_t qor_vec_add(const int64_t* a, const int64_t* b, int64_t* out, uint64_t n);
/* out[i] = a[i] - b[i]; returns 0. */
QOR_API int64_t qor_vec_sub(const int64_t* a, const int64_t* b, int64_t* out, uint64_t n);
/* out[i] = a[i] * k; returns 0. */
QOR_API int64_t qor_vec_scale(const int64_t* a, int64_t k, int64_t* out, uint64_t n);
/* out[i] = a[i]^2; returns 0. */
QOR_API int64_t qor_map_square(const int64_t* a, int64_t* out, uint64_t n);

/* The seed as a state: 0 becomes 1. */
QOR_API int64_t qor_rand_seed(int64_t seed);
/* xorshift64* output of x (arithmetic right shifts); -1 and 0 give 0. */
QOR_API int64_t qor_rand_next(int64_t x);
/* |qor_rand_next(x)|; INT64_MIN stays itself. */
QOR_API int64_t qor_rand_pos(int64_t x);
/* qor_rand_pos(x) mod m, unsigned; 0 for m = 0. */
QOR_API int64_t qor_rand_range(int64_t x, int64_t m);
/* ==== END compiled program library ==== */

/* ==== BEGIN numeric helpers (runtime/core/numeric.cpp) ==== */
/* Stateless numeric helpers. Integer products wrap modulo 2^64; truth values are 0 or 1. */

/* x, or -x when negative; INT64_MIN stays itself. */
QOR_API int64_t qor_abs(int64_t x);
/* a if a < b, else b. */
QOR_API int64_t qor_min(int64_t a, int64_t b);
/* a if a > b, else b. */
QOR_API int64_t qor_max(int64_t a, int64_t b);
/* lo if x < lo; else x if x < hi; else hi (lo wins when lo > hi). */
QOR_API int64_t qor_clamp(int64_t x, int64_t lo, int64_t hi);
/* Same as qor_clamp. */
QOR_API int64_t qor_clamp_i64(int64_t x, int64_t lo, int64_t hi);
/* base^exponent modulo 2^64; 0 for a negative exponent, 1 for exponent 0. */
QOR_API int64_t qor_pow(int64_t base, int64_t exponent);
/* Same as qor_pow. */
QOR_API int64_t qor_pow_i64(int64_t base, int64_t exponent);
/* 1 if x > 0 with exactly one bit set, else 0. */
QOR_API int32_t qor_is_power_of_two(int64_t x);
/* Smallest power of two not below x; 1 for every x < 2; INT64_MIN (2^63) above 2^62. */
QOR_API int64_t qor_next_power_of_two(int64_t x);
/* 1 if n is prime, else 0 (0 for every n < 2); exact for every n. */
QOR_API int32_t qor_is_prime(int64_t n);
/* Number of set bits, 0..64. */
QOR_API int64_t qor_popcount(int64_t x);
/* Zero bits above the highest set bit; 64 for 0. */
QOR_API int64_t qor_clz(int64_t x);
/* Zero bits below the lowest set bit; 64 for 0. */
QOR_API int64_t qor_ctz(int64_t x);
/* gcd(|a|, |b|); gcd(a, 0) = |a|, gcd(0, 0) = 0. */
QOR_API int64_t qor_gcd_i64(int64_t a, int64_t b);
/* The 64 bits of x in reverse order (bit 0 becomes bit 63). */
QOR_API int64_t qor_bit_reverse(int64_t x);

/* Nearest double to x, ties to even. */
QOR_API double qor_i64_to_f64(int64_t x);
/* x truncated toward zero; INT64_MIN for NaN and out-of-range values. */
QOR_API int64_t qor_f64_to_i64(double x);
/* Same as qor_f64_to_i64. */
QOR_API int64_t qor_f64_to_int(double x);
/* floor(x). */
QOR_API double qor_f64_floor(double x);
/* ceil(x). */
QOR_API double qor_f64_ceil(double x);
/* round(x): halfway cases away from zero. */
QOR_API double qor_f64_round(double x);
/* sqrt(x); NaN for x < 0 and NaN. */
QOR_API double qor_f64_sqrt(double x);
/* x with its sign bit cleared (NaN and -0.0 too). */
QOR_API double qor_f64_abs(double x);
/* 1 if x is NaN, else 0. */
QOR_API int32_t qor_f64_is_nan(double x);
/* a if a < b, else b (NaN on either side gives b). */
QOR_API double qor_f64_min(double a, double b);
/* a if a > b, else b (NaN on either side gives b). */
QOR_API double qor_f64_max(double a, double b);
#ifdef QOR_PLAIN_NAMES
/* pow(base, exponent); this operation has no prefixed name. */
QOR_API double pow_f64(double base, double exponent);
QOR_API int64_t min(int64_t a, int64_t b);
QOR_API int64_t max(int64_t a, int64_t b);
#endif
/* ==== END numeric helpers ==== */

/* ==== BEGIN raw memory (runtime/core/raw_memory.cpp) ==== */
/* Unchecked access to caller-owned memory at any address (no alignment needed), in the
 * processor's byte order. Blocks and boxes come from the process heap, survive every arena
 * operation and are never freed by the runtime (a host may pass them to free). */

/* Writes the 8 bytes of value at address. */
QOR_API void qor_store_i64(void* address, int64_t value);
/* The 8-byte word at address. */
QOR_API int64_t qor_load_i64(const void* address);
/* Writes the low 8 bits of value at address. */
QOR_API void qor_store_u8(void* address, int64_t value);
/* The byte at address, zero-extended (0..255). */
QOR_API int64_t qor_load_u8(const void* address);
/* calloc(count, size): zeroed heap memory, or NULL when refused. */
QOR_API void* qor_calloc(uint64_t count, uint64_t size);
/* A new 8-byte heap cell holding value (malloc); NULL when the heap is exhausted. */
QOR_API int64_t* qor_box_new_i64(int64_t value);

#ifdef QOR_PLAIN_NAMES
QOR_API void store_i64(void* address, int64_t value);
QOR_API int64_t load_i64(const void* address);
QOR_API void store_u8(void* address, int64_t value);
QOR_API int64_t load_u8(const void* address);
#endif
/* ==== END raw memory ==== */

/* ==== BEGIN string search and transform (runtime/text/string_search.cpp) ==== */
/* Matching is byte-exact. A record with NULL data counts as empty. Transformations that would
 * change nothing return their input record itself (and NULL for NULL) where noted: results
 * are not always fresh records. */

/* 1 when s begins with prefix; 0 when either is NULL; 1 for an empty prefix. */
QOR_API int64_t qor_string_starts_with(const QorString* s, const QorString* prefix);
/* 1 when s ends with suffix; 0 when either is NULL; 1 for an empty suffix. */
QOR_API int64_t qor_string_ends_with(const QorString* s, const QorString* suffix);
/* 1 when needle occurs in s; 0 when either is NULL; 1 for an empty needle. */
QOR_API int64_t qor_string_contains(const QorString* s, const QorString* needle);
/* Index of the first occurrence, or -1 (also for NULL); 0 for an empty needle. */
QOR_API int64_t qor_string_index_of(const QorString* s, const QorString* needle);
/* Index of the last occurrence, or -1 (also for NULL); len(s) for an empty needle. */
QOR_API int64_t qor_string_last_index_of(const QorString* s, const QorString* needle);
/* Non-overlapping occurrences counted from the left; 0 for NULL or an empty needle. */
QOR_API int64_t qor_string_count(const QorString* s, const QorString* needle);
/* New string without leading and trailing whitespace (tab, LF, CR, space), a copy even when
 * nothing is removed; NULL for NULL, s itself when len is 0, fresh empty when len < 0. */
QOR_API QorString* qor_string_trim(QorString* s);
/* New string without leading whitespace; s itself when there is none (or len <= 0), NULL for NULL.
 */
QOR_API QorString* qor_string_trim_left(QorString* s);
/* New string without trailing whitespace; s itself when there is none (or len <= 0), NULL for NULL.
 */
QOR_API QorString* qor_string_trim_right(QorString* s);
/* New string with every non-overlapping occurrence of from (leftmost first) replaced by to;
 * s itself when any argument is NULL, from is empty or from does not occur. */
QOR_API QorString* qor_string_replace(QorString* s, const QorString* from, const QorString* to);
/* New string with a-z turned into A-Z; NULL for NULL, s itself when empty. */
QOR_API QorString* qor_string_to_upper(QorString* s);
/* New string with A-Z turned into a-z; NULL for NULL, s itself when empty. */
QOR_API QorString* qor_string_to_lower(QorString* s);
/* New string of k copies of s; fresh empty for NULL, k <= 0 or a byte count beyond INT64_MAX. */
QOR_API QorString* qor_string_repeat(const QorString* s, int64_t k);
/* New string of the bytes of s in reverse order; NULL for NULL, s itself when empty. */
QOR_API QorString* qor_string_reverse(QorString* s);
/* New string of width bytes: fill bytes (low 8 bits of fill), then s; s itself when
 * len(s) >= width, NULL for NULL. */
QOR_API QorString* qor_string_pad_left(QorString* s, int64_t width, int64_t fill);
/* As qor_string_pad_left, with s first and the fill bytes after it. */
QOR_API QorString* qor_string_pad_right(QorString* s, int64_t width, int64_t fill);
/* As qor_string_pad_left, with the fill byte the first byte of fill (space when fill is NULL
 * or empty). */
QOR_API QorString* qor_str_pad_left(QorString* s, int64_t width, const QorString* fill);
/* As qor_string_pad_right, with the fill byte the first byte of fill (space when fill is NULL
 * or empty). */
QOR_API QorString* qor_str_pad_right(QorString* s, int64_t width, const QorString* fill);
/* New heap vector (free with qor_vec_free) of new strings: the pieces of s between
 * occurrences of sep, empty pieces included. An empty or NULL sep gives one slot holding s
 * itself; a NULL s gives an empty vector. The pieces are not freed with the vector. */
QOR_API QorVec* qor_string_split(QorString* s, const QorString* sep);
/* New string of the vector's strings (slots hold string pointers) with sep between
 * neighbours; NULL slots count as empty, a NULL sep as "". Fresh empty for a NULL or empty
 * vector. */
QOR_API QorString* qor_string_join(const QorVec* v, const QorString* sep);
/* ==== END string search and transform ==== */

/* ==== BEGIN number and character text (runtime/text/number_text.cpp) ==== */
/* Every text below is a new qor_alloc string with len = cap = its length. */
/* "%ld": INT64_MIN gives "-9223372036854775808". */
QOR_API QorString* qor_int_to_string(int64_t v);
/* Same as qor_int_to_string. */
QOR_API QorString* qor_fast_i2s(int64_t v);
/* "%lx" of the bit pattern, no prefix: -1 gives "ffffffffffffffff". */
QOR_API QorString* qor_int_to_hex(int64_t v);
/* Sign and magnitude: "0x%lx" of v, or "-0x%lx" of -v for negatives. */
QOR_API QorString* qor_to_hex(int64_t v);
/* Sign and magnitude: "0o%lo" of v, or "-0o%lo" of -v for negatives. */
QOR_API QorString* qor_to_octal(int64_t v);
/* Binary digits of the bit pattern, no prefix, no leading zeros: 0 gives "0". */
QOR_API QorString* qor_int_to_bin(int64_t v);
/* "0b" and the binary digits of the bit pattern: 0 gives "0b0", -1 "0b" and 64 ones. */
QOR_API QorString* qor_to_binary(int64_t v);
/* "true" when the low 8 bits of b are not all zero, else "false". */
QOR_API QorString* qor_bool_to_string(int64_t b);
/* "%.9g": "1e+09", "0.1", "-0", "inf", "nan". */
QOR_API QorString* qor_f64_to_string(double x);
/* One byte, the low 8 bits of code; an empty string (len 0) when that byte is 0. */
QOR_API QorString* qor_chr(int64_t code);
/* NUL-terminated UTF-8 of the low 32 bits (unvalidated) in a qor_alloc buffer; no record. */
QOR_API char* qor_char_to_string(int64_t code);
/* First byte of NUL-terminated text (0..255); 0 for NULL. */
QOR_API int64_t qor_ord(const char* text);
/* strtol base 10 of data up to its first NUL; 0 for a missing string or no digits. */
QOR_API int64_t qor_parse_int(const QorString* s);
/* strtod of data up to its first NUL; 0.0 for a missing string or no number. */
QOR_API double qor_parse_f64(const QorString* s);

#ifdef QOR_PLAIN_NAMES
QOR_API QorString* int_to_string(int64_t v);
QOR_API QorString* chr(int64_t code);
/* Unlike qor_char_to_string: the same one-byte string record as qor_chr. */
QOR_API QorString* char_to_string(int64_t code);
/* Unlike qor_ord: first byte of a string record; 0 for a missing or empty string. */
QOR_API int64_t ord(const QorString* s);
#endif
/* ==== END number and character text ==== */

/* ==== BEGIN string builder (runtime/text/string_builder.cpp) ==== */
/* A growable text on the process heap, laid out like QorString: data[len] is always 0 and
 * len < cap; content may hold NULs. Untouched by the arena; released only by qor_sb_free.
 * Appends double cap while len + k >= cap and return the new len, or 0 when sb (or a named
 * argument) is NULL. */
typedef struct QorStringBuilder {
    char* data;
    int64_t len;
    int64_t cap;
} QorStringBuilder;

/* New empty builder, cap 1024. */
QOR_API QorStringBuilder* qor_sb_new(void);
/* New empty builder, cap n, or 64 when n <= 0. */
QOR_API QorStringBuilder* qor_sb_with_capacity(int64_t n);
/* Appends the len bytes of s; 0 for a missing s; nothing appended when s is empty. */
QOR_API int64_t qor_sb_push(QorStringBuilder* sb, const QorString* s);
/* Appends bytes [max(start, 0), min(end, len)) of s; 0 when start >= end or s is missing. */
QOR_API int64_t qor_sb_push_range(QorStringBuilder* sb, const QorString* s, int64_t start,
                                  int64_t end);
/* Appends the low 8 bits of code as one byte (a 0 byte counts in len). */
QOR_API int64_t qor_sb_push_char(QorStringBuilder* sb, int64_t code);
/* Appends v as qor_int_to_string writes it. */
QOR_API int64_t qor_sb_push_int(QorStringBuilder* sb, int64_t v);
/* Appends s with \t \n \r \" \\ escapes; other bytes unchanged; 0 for a missing s. */
QOR_API int64_t qor_sb_push_escaped(QorStringBuilder* sb, const QorString* s);
/* Appends x as qor_f64_to_string writes it ("%.9g"). */
QOR_API int64_t qor_sb_push_f64(QorStringBuilder* sb, double x);
/* Appends "0x" and the hexadecimal bit pattern of v (no sign: -1 gives 16 'f'). */
QOR_API int64_t qor_sb_push_hex(QorStringBuilder* sb, int64_t v);
/* Appends "true" when b != 0 (all 64 bits tested), else "false". */
QOR_API int64_t qor_sb_push_bool(QorStringBuilder* sb, int64_t b);
/* len; 0 for NULL. */
QOR_API int64_t qor_sb_len(const QorStringBuilder* sb);
/* New qor_alloc string copying the content (NULs included); fresh empty string for NULL. */
QOR_API QorString* qor_sb_build(const QorStringBuilder* sb);
/* Empties the content, keeping the buffer and cap; NULL does nothing. Returns 0. */
QOR_API int64_t qor_sb_clear(QorStringBuilder* sb);
/* 1 when item is one of the comma-separated elements of the content (no trimming). */
QOR_API int64_t qor_sb_contains(const QorStringBuilder* sb, const QorString* item);
/* puts of the content up to its first NUL; a lone line feed for NULL. Returns 0. */
QOR_API int64_t qor_sb_println(const QorStringBuilder* sb);
/* Frees the buffer and the builder; NULL does nothing. Returns 0. */
QOR_API int64_t qor_sb_free(QorStringBuilder* sb);

#ifdef QOR_PLAIN_NAMES
QOR_API QorStringBuilder* sb_new(void);
QOR_API QorStringBuilder* sb_with_capacity(int64_t n);
QOR_API int64_t sb_push(QorStringBuilder* sb, const QorString* s);
QOR_API int64_t sb_push_range(QorStringBuilder* sb, const QorString* s, int64_t start, int64_t end);
QOR_API int64_t sb_push_char(QorStringBuilder* sb, int64_t code);
QOR_API int64_t sb_push_int(QorStringBuilder* sb, int64_t v);
/* Unlike qor_sb_push_escaped: only '"' and '\' get a backslash; tab, LF, CR pass unchanged. */
QOR_API int64_t sb_push_escaped(QorStringBuilder* sb, const QorString* s);
/* Appends NUL-terminated text up to its NUL; 0 when sb or text is NULL. */
QOR_API int64_t sb_push_cstr(QorStringBuilder* sb, const char* text);
QOR_API int64_t sb_len(const QorStringBuilder* sb);
QOR_API QorString* sb_build(const QorStringBuilder* sb);
QOR_API int64_t sb_clear(QorStringBuilder* sb);
QOR_API int64_t sb_contains(const QorStringBuilder* sb, const QorString* item);
QOR_API int64_t sb_println(const QorStringBuilder* sb);
QOR_API int64_t sb_free(QorStringBuilder* sb);
#endif
/* ==== END string builder ==== */

/* ==== BEGIN vectors (runtime/collections/vector.cpp) ==== */
/* Vectors live on the process heap until qor_vec_free. A NULL vector reads as empty: queries
 * give their empty-vector answer and updates do nothing. Indexes outside [0, len) read 0 and
 * write nothing. */

/* New empty vector of capacity 8. */
QOR_API QorVec* qor_vec_new(void);
/* New empty vector of capacity n (1 when n < 2); NULL when n slots cannot be allocated. */
QOR_API QorVec* qor_vec_with_capacity(int64_t n);
/* Appends value, doubling capacity when full; returns v. Growth the heap refuses stops the
 * process with the out-of-memory line; the value is never silently dropped. */
QOR_API QorVec* qor_vec_push(QorVec* v, int64_t value);
/* Removes and returns the last slot; 0 when empty. */
QOR_API int64_t qor_vec_pop(QorVec* v);
/* Slot index; 0 outside [0, len). */
QOR_API int64_t qor_vec_get(const QorVec* v, int64_t index);
/* Stores value at index; nothing outside [0, len). */
QOR_API void qor_vec_set(QorVec* v, int64_t index, int64_t value);
/* len (0 for NULL). */
QOR_API int64_t qor_vec_len(const QorVec* v);
/* capacity (0 for NULL). */
QOR_API int64_t qor_vec_cap(const QorVec* v);
/* len = 0; capacity and storage kept. */
QOR_API void qor_vec_clear(QorVec* v);
/* Frees the slots, then the record; NULL does nothing. */
QOR_API void qor_vec_free(QorVec* v);
/* Reverses the len slots in place. */
QOR_API void qor_vec_reverse(QorVec* v);
/* 1 when some slot equals value. */
QOR_API int64_t qor_vec_contains(const QorVec* v, int64_t value);
/* Smallest index holding value, or -1. */
QOR_API int64_t qor_vec_index_of(const QorVec* v, int64_t value);
/* Exchanges slots i and j; nothing unless both are in [0, len). */
QOR_API void qor_vec_swap(QorVec* v, int64_t i, int64_t j);
/* Sorts ascending (signed), stable, O(n log n). */
QOR_API void qor_vec_sort(QorVec* v);
/* Collapses each run of equal adjacent slots into one; capacity kept. */
QOR_API void qor_vec_dedup(QorVec* v);
/* Sets every slot in [0, len) to value. */
QOR_API void qor_vec_fill(QorVec* v, int64_t value);
/* New vector with v's elements, capacity len (8 when empty). */
QOR_API QorVec* qor_vec_copy(const QorVec* v);
/* Wrapping sum; 0 when empty. */
QOR_API int64_t qor_vec_sum(const QorVec* v);
/* Wrapping product; 1 when empty. */
QOR_API int64_t qor_vec_product(const QorVec* v);
/* Smallest element; INT64_MAX when empty. */
QOR_API int64_t qor_vec_min(const QorVec* v);
/* Largest element; INT64_MIN when empty. */
QOR_API int64_t qor_vec_max(const QorVec* v);
/* New vector of elements [max(start, 0), min(end, len)); empty (capacity 8) when none. */
QOR_API QorVec* qor_vec_slice(const QorVec* v, int64_t start, int64_t end);
/* Appends src's elements to dst in order; dst == src appends a copy of the original ones. */
QOR_API void qor_vec_extend(QorVec* dst, const QorVec* src);
/* Removes and returns slot index, shifting later slots left; 0 and no change out of range. */
QOR_API int64_t qor_vec_remove(QorVec* v, int64_t index);
/* Inserts value at index clamped to [0, len]. */
QOR_API void qor_vec_insert(QorVec* v, int64_t index, int64_t value);

#ifdef QOR_PLAIN_NAMES
QOR_API QorVec* vec_new(void);
QOR_API QorVec* vec_with_capacity(int64_t n);
QOR_API QorVec* vec_push(QorVec* v, int64_t value);
QOR_API int64_t vec_pop(QorVec* v);
QOR_API int64_t vec_get(const QorVec* v, int64_t index);
QOR_API void vec_set(QorVec* v, int64_t index, int64_t value);
QOR_API int64_t vec_len(const QorVec* v);
QOR_API int64_t vec_cap(const QorVec* v);
QOR_API void vec_clear(QorVec* v);
QOR_API void vec_free(QorVec* v);
QOR_API void vec_reverse(QorVec* v);
QOR_API int64_t vec_contains(const QorVec* v, int64_t value);
QOR_API int64_t vec_index_of(const QorVec* v, int64_t value);
QOR_API void vec_swap(QorVec* v, int64_t i, int64_t j);
QOR_API void vec_sort(QorVec* v);
QOR_API void vec_dedup(QorVec* v);
QOR_API void vec_fill(QorVec* v, int64_t value);
QOR_API QorVec* vec_copy(const QorVec* v);
QOR_API int64_t vec_sum(const QorVec* v);
QOR_API int64_t vec_product(const QorVec* v);
QOR_API int64_t vec_min(const QorVec* v);
QOR_API int64_t vec_max(const QorVec* v);
QOR_API QorVec* vec_slice(const QorVec* v, int64_t start, int64_t end);
QOR_API void vec_extend(QorVec* dst, const QorVec* src);
QOR_API int64_t vec_remove(QorVec* v, int64_t index);
QOR_API void vec_insert(QorVec* v, int64_t index, int64_t value);
#endif
/* ==== END vectors ==== */

/* ==== BEGIN inline arrays (runtime/collections/inline_array.cpp) ==== */

/* An immutable array of 64-bit slots in one qor_alloc block: the two header words, then the
 * len elements. Made arrays have capacity == len. Only qor_array_set_safe writes into one. */
typedef struct QorArray {
    int64_t capacity;
    int64_t len;
#ifdef __cplusplus
/* The elements follow the two words as in C; C++ has no spelling for that without this
 * extension, which g++ and clang++ lay out exactly as C does. */
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
    int64_t items[];
#pragma GCC diagnostic pop
#else
    int64_t items[];
#endif
} QorArray;

/* New array: arr's elements then value; arr is untouched. NULL reads as empty. */
QOR_API QorArray* qor_array_push(const QorArray* arr, int64_t value);
/* arr itself when it is empty or NULL; else a new array of its first len - 1 elements. */
QOR_API QorArray* qor_array_pop(QorArray* arr);
/* New array: a's elements then b's. NULL reads as empty. */
QOR_API QorArray* qor_array_concat(const QorArray* a, const QorArray* b);
/* New array of [start, end) clamped to [0, len); a 16-byte empty array when nothing is left. */
QOR_API QorArray* qor_array_slice(const QorArray* arr, int64_t start, int64_t end);
/* len, or 0 for NULL. */
QOR_API int64_t qor_array_len(const QorArray* arr);
/* Element at index; an index outside [0, len) fails as qor_panic_bounds does. */
QOR_API int64_t qor_array_get_safe(const QorArray* arr, int64_t index);
/* Stores value at index in arr itself; an index outside [0, len) fails as qor_panic_bounds. */
QOR_API void qor_array_set_safe(QorArray* arr, int64_t index, int64_t value);

/* ==== END inline arrays ==== */

/* ==== BEGIN string vectors (runtime/collections/string_vector.cpp) ==== */
/* String vectors are lists of borrowed string pointers named by handles: indexes into one
 * process-wide pool, issued from 0 upwards and never reused (-1 means no vector). Freeing a
 * vector empties it but keeps its handle valid. Pieces made by splitting come from qor_alloc.
 * Unlocked: callers on several threads serialise every string vector operation.
 * Invalid handles give 0 (len, free, clear, remove, contains, sort), -1 (push, index_of), NULL
 * (get) or the fresh empty string (join). */

struct QorStrHashMap;

/* Handle of a new empty string vector; -1 when the pool cannot grow. */
QOR_API int64_t qor_svec_new(void);
/* Appends the pointer s (not a copy; NULL allowed); 0, or -1 when the array cannot grow. */
QOR_API int64_t qor_svec_push(int64_t handle, QorString* s);
/* Number of elements. */
QOR_API int64_t qor_svec_len(int64_t handle);
/* Element index; NULL outside [0, len). */
QOR_API QorString* qor_svec_get(int64_t handle, int64_t index);
/* Releases the pointer array and empties the vector; the handle stays usable. Returns 0. */
QOR_API int64_t qor_svec_free(int64_t handle);
/* len = 0, storage kept; returns 0. */
QOR_API int64_t qor_svec_clear(int64_t handle);
/* New string of the elements joined by sep (NULL joins directly); a NULL element adds nothing
 * but keeps its separators ("a", NULL, "b" by "," give "a,,b"). */
QOR_API QorString* qor_svec_join(int64_t handle, const QorString* sep);
/* Smallest index of an element with s's bytes; -1 when none or s is NULL. */
QOR_API int64_t qor_svec_index_of(int64_t handle, const QorString* s);
/* 1 when some element has s's bytes. */
QOR_API int64_t qor_svec_contains(int64_t handle, const QorString* s);
/* Sorts in place: NULL first, then unsigned bytes, shorter first on a tie. Returns 0. */
QOR_API int64_t qor_svec_sort(int64_t handle);
/* Removes element index, shifting later ones left; 1 when removed, else 0. */
QOR_API int64_t qor_svec_remove(int64_t handle, int64_t index);
/* New string vector of the pieces of text between separators: no trailing empty piece after a
 * final separator; a NULL or empty sep splits into single bytes; empty text gives no pieces.
 * -1 when the pool cannot grow. */
QOR_API int64_t qor_str_split(const QorString* text, const QorString* sep);
/* New string vector of the words of text (runs without tab, line feed, CR or space). */
QOR_API int64_t qor_str_split_whitespace(const QorString* text);
/* New string vector of the lines of text, each without one trailing CR; a final line feed adds
 * no empty line. */
QOR_API int64_t qor_str_lines(const QorString* text);
/* ==== END string vectors ==== */

/* ==== BEGIN integer map (runtime/collections/int_map.cpp) ==== */

/* One slot of the integer map; state is 0 empty, 1 occupied, 2 deleted. */
typedef struct QorIntMapSlot {
    int64_t key;
    int64_t value;
    uint32_t state;
} QorIntMapSlot;

/* Open addressing with linear probing over a fixed table of 131072 slots that never grows. The
 * runtime keeps private per-slot data behind this record, so maps are made only by hashmap_new:
 * a record declared or copied by the host must never be passed in. */
typedef struct QorIntMap {
    QorIntMapSlot* entries;
    int64_t count;
    int64_t capacity;
} QorIntMap;

/* These exist under their plain names only, so they too are declared only for includers that
 * define QOR_PLAIN_NAMES. Absence: get and remove answer INT64_MIN. */
#ifdef QOR_PLAIN_NAMES
/* New empty map; NULL when memory is short. Release it with hashmap_free. */
QOR_API QorIntMap* hashmap_new(void);
/* Stores or replaces; the previous value when the key was present, else 0 (also for NULL or
 * a full table, which stores nothing). */
QOR_API int64_t hashmap_insert(QorIntMap* map, int64_t key, int64_t value);
/* The key's value; INT64_MIN when absent or map is NULL. */
QOR_API int64_t hashmap_get(const QorIntMap* map, int64_t key);
/* 1 when the key is present, else 0. */
QOR_API int64_t hashmap_contains(const QorIntMap* map, int64_t key);
/* Removes the key and returns its value; INT64_MIN when absent or map is NULL. */
QOR_API int64_t hashmap_remove(QorIntMap* map, int64_t key);
/* Number of entries; 0 for NULL. */
QOR_API int64_t hashmap_len(const QorIntMap* map);
/* Frees the slot array and the record; NULL does nothing. */
QOR_API void hashmap_free(QorIntMap* map);
/* New vector of the keys in slot order; keys and values of an unchanged map correspond. */
QOR_API QorVec* hashmap_keys(const QorIntMap* map);
/* New vector of the values in slot order. */
QOR_API QorVec* hashmap_values(const QorIntMap* map);
#endif

/* ==== END integer map ==== */

/* ==== BEGIN string hash map (runtime/collections/string_hash_map.cpp) ==== */
/* Open-addressing maps from string keys to 64-bit values, with linear probing and doubling
 * growth past 70 % occupancy. Keys are borrowed: the map stores the caller's record pointer and
 * never copies, changes or frees it, so a key must stay alive and unchanged while it is in the
 * map. Keys are equal when they are the same pointer or hold the same bytes; NULL is a key of
 * its own. A NULL map reads as empty and ignores updates. Not locked. */

/* Slot states of a QorStrHashSlot. */
#define QOR_STR_SLOT_EMPTY 0u
#define QOR_STR_SLOT_OCCUPIED 1u
#define QOR_STR_SLOT_DELETED 2u

/* One slot; only occupied slots carry meaning. */
typedef struct QorStrHashSlot {
    QorString* key;
    int64_t value;
    uint32_t state;
} QorStrHashSlot;

/* The map: capacity (a power of two, 4096 at creation) slots on the process heap. The runtime
 * keeps private per-slot data behind this record, so maps are made only by qor_str_hashmap_new:
 * a record declared or copied by the host must never be passed in. */
typedef struct QorStrHashMap {
    QorStrHashSlot* entries;
    int64_t count;
    int64_t capacity;
} QorStrHashMap;

/* New empty map of 4096 slots; NULL when memory is short. Release with qor_str_hashmap_free. */
QOR_API QorStrHashMap* qor_str_hashmap_new(void);
/* Stores value under key; returns the previous value when the key was present, else 0. */
QOR_API int64_t qor_str_hashmap_insert(QorStrHashMap* map, QorString* key, int64_t value);
/* The key's value; 0 when absent (a stored 0 is told apart only by contains). */
QOR_API int64_t qor_str_hashmap_get(const QorStrHashMap* map, const QorString* key);
/* 1 when key is present, else 0. */
QOR_API int64_t qor_str_hashmap_contains(const QorStrHashMap* map, const QorString* key);
/* Removes key and returns its value; 0 when absent. */
QOR_API int64_t qor_str_hashmap_remove(QorStrHashMap* map, const QorString* key);
/* Number of entries; 0 for NULL. */
QOR_API int64_t qor_str_hashmap_len(const QorStrHashMap* map);
/* Frees the slots and the record, never the keys or values; NULL does nothing. Returns 0. */
QOR_API int64_t qor_str_hashmap_free(QorStrHashMap* map);
/* New vector of the values in slot order (the order of str_hashmap_keys); empty for NULL. */
QOR_API QorVec* qor_str_hashmap_values(const QorStrHashMap* map);
/* Adds delta (wrapping) to the key's value, a missing key counting as 0; returns 0. */
QOR_API int64_t qor_str_hashmap_inc(QorStrHashMap* map, QorString* key, int64_t delta);
/* Stores value under key, discarding any previous value; returns 0. */
QOR_API int64_t qor_str_hashmap_update(QorStrHashMap* map, QorString* key, int64_t value);
/* New string vector of map's key pointers in slot order (no copies); empty for NULL; -1 when
 * the string-vector pool cannot grow. */
QOR_API int64_t qor_str_hashmap_keys(const QorStrHashMap* map);
/* As qor_str_hashmap_keys, then sorted as qor_svec_sort does. */
QOR_API int64_t qor_str_hashmap_sorted_keys(const QorStrHashMap* map);

#ifdef QOR_PLAIN_NAMES
QOR_API QorStrHashMap* str_hashmap_new(void);
QOR_API int64_t str_hashmap_insert(QorStrHashMap* map, QorString* key, int64_t value);
QOR_API int64_t str_hashmap_get(const QorStrHashMap* map, const QorString* key);
QOR_API int64_t str_hashmap_contains(const QorStrHashMap* map, const QorString* key);
QOR_API int64_t str_hashmap_remove(QorStrHashMap* map, const QorString* key);
QOR_API int64_t str_hashmap_len(const QorStrHashMap* map);
/* As qor_str_hashmap_free, but returns nothing. */
QOR_API void str_hashmap_free(QorStrHashMap* map);
QOR_API QorVec* str_hashmap_values(const QorStrHashMap* map);
/* New vector of the key pointers in slot order (not copies); empty for NULL. Plain name only:
 * qor_str_hashmap_keys lists the keys into a string vector instead. */
QOR_API QorVec* str_hashmap_keys(const QorStrHashMap* map);
#endif
/* ==== END string hash map ==== */

/* ==== BEGIN string map (runtime/collections/string_map.cpp) ==== */

/* One entry of the string map: the map's own NUL-terminated copy of the key, its value, the
 * next node of the bucket, the key's byte length (keys may hold NUL bytes) and the key's
 * FNV-1a hash (kept so that growth relinks nodes without rehashing their keys). */
typedef struct QorStrMapNode {
    char* key;
    int64_t value;
    struct QorStrMapNode* next;
    int64_t key_len;
    uint64_t hash;
} QorStrMapNode;

/* Separate chaining over 64 * 2^k buckets (FNV-1a modulo bucket_count); the bucket array
 * doubles when an insert finds more than 0.75 entries per bucket. Owns its key copies. The
 * runtime keeps its node pool behind this record, so maps are made only by qor_strmap_new: a
 * record declared or copied by the host must never be passed in. */
typedef struct QorStrMap {
    QorStrMapNode** buckets;
    int64_t bucket_count;
    int64_t count;
} QorStrMap;

/* New empty map of 64 buckets; NULL when memory is short. Release it with qor_strmap_free. */
QOR_API QorStrMap* qor_strmap_new(void);
/* Stores a copy of key with value, or replaces the value; 1, or 0 for a NULL map or a
 * missing key (nothing stored). */
QOR_API int64_t qor_strmap_insert(QorStrMap* map, const QorString* key, int64_t value);
/* The key's value; -1 when absent or for a NULL map or missing key. */
QOR_API int64_t qor_strmap_get(const QorStrMap* map, const QorString* key);
/* 1 when present, else 0. */
QOR_API int64_t qor_strmap_contains(const QorStrMap* map, const QorString* key);
/* Removes the entry and returns its value; 0 when absent or for NULL arguments. */
QOR_API int64_t qor_strmap_remove(QorStrMap* map, const QorString* key);
/* Number of entries; 0 for NULL. */
QOR_API int64_t qor_strmap_size(const QorStrMap* map);
/* New vector of new strings (qor_alloc), one copy of each key, in bucket then chain order. */
QOR_API QorVec* qor_strmap_keys(const QorStrMap* map);
/* New vector of the values, in the same order as qor_strmap_keys. */
QOR_API QorVec* qor_strmap_values(const QorStrMap* map);
/* Frees every node and key copy, the buckets and the record; NULL does nothing. */
QOR_API void qor_strmap_free(QorStrMap* map);

#ifdef QOR_PLAIN_NAMES
QOR_API QorStrMap* strmap_new(void);
QOR_API int64_t strmap_insert(QorStrMap* map, const QorString* key, int64_t value);
QOR_API int64_t strmap_get(const QorStrMap* map, const QorString* key);
QOR_API int64_t strmap_contains(const QorStrMap* map, const QorString* key);
QOR_API int64_t strmap_remove(QorStrMap* map, const QorString* key);
QOR_API int64_t strmap_size(const QorStrMap* map);
QOR_API QorVec* strmap_keys(const QorStrMap* map);
QOR_API QorVec* strmap_values(const QorStrMap* map);
QOR_API void strmap_free(QorStrMap* map);
#endif

/* ==== END string map ==== */

/* ==== BEGIN registry cache (runtime/collections/registry_cache.cpp) ==== */
#ifdef QOR_PLAIN_NAMES
/* Looks key up in text of the form "key=value;key=value" through one of three process-wide
 * cache slots (0..2), parsing text again only when it differs from the slot's last text. The
 * returned value is shared with the cache (do not change it) and stays valid for the rest of
 * the process, across arena resets and threads. The fresh empty string for a missing key, NULL
 * or empty text, or a slot outside 0..2. A later pair with an equal key wins; a key runs to the
 * next "=" (a ";" inside it stays part of it). Unlocked: callers serialise per slot.
 *     reg_cached_lookup(text("a=1;b=22"), text("b"), 0)  ->  "22" */
QOR_API QorString* reg_cached_lookup(const QorString* text, const QorString* key, int64_t slot);
#endif
/* ==== END registry cache ==== */

/* ==== BEGIN files (runtime/system/files.cpp) ==== */
/* Path records end at their first NUL (len is not read, except by qor_mkdir). */

/* Every byte of the file, NULs included, until end of file; the fresh empty string when the
 * path is missing or unreadable. Made like every runtime string: record and bytes come from the
 * arena while it is on (released by its reset, rewind or destroy), from malloc otherwise. */
QOR_API QorString* qor_read_file(const QorString* path);
/* Creates or truncates path and writes data's len bytes; 0, or -1 when anything failed
 * (a missing path or data leaves the file untouched). */
QOR_API int64_t qor_write_file(const QorString* path, const QorString* data);
/* As qor_write_file, writing each 0x1F byte as a line feed. */
QOR_API int64_t qor_write_file_newlines(const QorString* path, const QorString* data);
/* Appends text up to its NUL to the file at path (created if absent); 0, or -1 on failure. */
QOR_API int64_t qor_append_file(const char* path, const char* text);
/* Size in bytes of the regular file at the NUL-terminated path; -1 when it cannot be opened or
 * is not a regular file (a directory, a FIFO, a device), found without waiting on it. */
QOR_API int64_t qor_file_size(const char* path);
/* 1 when something (a directory too) exists at path, else 0 (also for a missing path). */
QOR_API int64_t qor_file_exists(const QorString* path);
/* qor_file_exists for a NUL-terminated path. */
QOR_API int64_t qor_file_exists_cstr(const char* path);
/* Deletes a file or an empty directory; 0, or -1. qor_remove_file is the same operation. */
QOR_API int64_t qor_delete_file(const QorString* path);
QOR_API int64_t qor_remove_file(const QorString* path);
/* 1 when path names a directory, else 0. */
QOR_API int64_t qor_is_dir(const QorString* path);
/* Creates the directory and its missing parents (mode 0755; both '/' and backslash separate);
 * 0 when path is a directory afterwards, else -1. */
QOR_API int64_t qor_mkdir(const QorString* path);
/* The entry names but "." and "..", in readdir order, joined by line feeds with no final one;
 * the fresh empty string for an empty, missing or unreadable directory. */
QOR_API QorString* qor_readdir(const QorString* path);
/* Removes an empty directory; 0, or -1. */
QOR_API int64_t qor_rmdir(const QorString* path);

#ifdef QOR_PLAIN_NAMES
QOR_API QorString* read_file(const QorString* path);
QOR_API int64_t write_file(const QorString* path, const QorString* data);
QOR_API int64_t write_file_newlines(const QorString* path, const QorString* data);
/* Unlike qor_file_size, takes the path as a string record; -1 for a missing one. */
QOR_API int64_t file_size(const QorString* path);
QOR_API int64_t file_exists(const QorString* path);
QOR_API int64_t file_exists_cstr(const char* path);
QOR_API int64_t delete_file(const QorString* path);
QOR_API int64_t remove_file(const QorString* path);
QOR_API int64_t is_dir(const QorString* path);
QOR_API int64_t make_dir(const QorString* path);
QOR_API QorString* list_dir(const QorString* path);
QOR_API int64_t remove_dir(const QorString* path);
#endif
/* ==== END files ==== */

/* ==== BEGIN processes (runtime/system/process.cpp) ==== */
/* Runs command through the shell; the raw wait status (exit code k gives k * 256), or -1 for
 * a missing command. */
QOR_API int64_t qor_system(const QorString* command);
/* Everything the command writes on standard output, byte for byte; the fresh empty string for a
 * missing command or when the shell cannot start. With the arena off the record owns the malloc
 * buffer that collected the output and cap is that buffer's size. */
QOR_API QorString* qor_system_capture(const QorString* command);
/* Captures "command args 2>&1" (no space or args when args is missing or empty). */
QOR_API QorString* qor_exec_output(const QorString* command, const QorString* args);
/* Copy of the variable's value; the fresh empty string when unset, empty or name is NULL. */
QOR_API QorString* qor_getenv(const QorString* name);
/* The current working directory; the fresh empty string when it cannot be taken. */
QOR_API QorString* qor_getcwd(void);

#ifdef QOR_PLAIN_NAMES
QOR_API QorString* system_capture(const QorString* command);
QOR_API QorString* exec_output(const QorString* command, const QorString* args);
QOR_API QorString* current_dir(void);
#endif
/* ==== END processes ==== */

/* ==== BEGIN clock (runtime/system/clock.cpp) ==== */
/* Every value passed to qor_black_box is stored here; nobody reads it. Process-wide. */
QOR_API extern volatile int64_t qor_black_box_sink;

/* CLOCK_MONOTONIC in nanoseconds (only differences mean anything). */
QOR_API int64_t qor_time_ns(void);
/* qor_time_ns() / 1000000. */
QOR_API int64_t qor_time_ms(void);
/* Sleeps ms milliseconds (a negative ms sleeps 0); 0, or -1 if the sleep failed or was
 * interrupted by a signal. */
QOR_API int32_t qor_sleep_ms(int32_t ms);
/* Next value of the calling thread's xorshift64 generator with bit 63 cleared (never
 * negative); an unseeded thread seeds itself from the clock first. */
QOR_API int64_t qor_random_i64(void);
/* Sets the calling thread's generator state; 0 acts as 1. */
QOR_API void qor_random_seed(uint64_t seed);
/* exit(status): atexit handlers run and stdio is flushed; arenas are not released. */
QOR_API QOR_NORETURN void qor_exit(int32_t status);
/* Returns value through a store and read the optimiser must keep. */
QOR_API int64_t qor_black_box(int64_t value);

#ifdef QOR_PLAIN_NAMES
QOR_API int64_t time_ns(void);
QOR_API int64_t now_ns(void);
QOR_API int64_t time_ms(void);
QOR_API int64_t now_ms(void);
/* As qor_sleep_ms, but always returns 0 (64-bit). */
QOR_API int64_t sleep_ms(int32_t ms);
#endif
/* ==== END clock ==== */

/* ==== BEGIN threads and locks (runtime/threads/thread.cpp, locks.cpp) ==== */

/* A function run by qor_spawn: one 64-bit argument, one 64-bit result. */
typedef int64_t (*QorThreadFn)(int64_t arg);

/* One spawned thread, from qor_spawn until qor_join frees it. result is 0 until fn returns. */
typedef struct QorThread {
    QorThreadFn fn;
    int64_t arg;
    int64_t result;
    pthread_t thread;
} QorThread;

/* A non-recursive mutex guarding one 64-bit value: lock hands the value out, unlock takes the
 * new one back. */
typedef struct QorMutex {
    pthread_mutex_t mutex;
    int64_t value;
} QorMutex;

/* The platform read-write lock. Strict ISO C compiles do not see pthread_rwlock_t; they get
 * opaque storage of the same size and alignment instead. */
#if defined(__cplusplus) || defined(__USE_UNIX98) || defined(__USE_XOPEN2K)
typedef pthread_rwlock_t QorPlatformRwLock;
#else
typedef union QorPlatformRwLock {
    char bytes[__SIZEOF_PTHREAD_RWLOCK_T];
    long align;
} QorPlatformRwLock;
#endif

/* A read-write lock guarding one 64-bit value. */
typedef struct QorRwLock {
    QorPlatformRwLock lock;
    int64_t value;
} QorRwLock;

/* A reference-counted cell; count changes only by atomic read-modify-write. */
typedef struct QorArc {
    int64_t count;
    int64_t value;
} QorArc;

/* A reusable barrier for parties threads; generation counts completed cycles. */
typedef struct QorBarrier {
    pthread_mutex_t mutex;
    pthread_cond_t cond;
    int64_t parties;
    int64_t arrived;
    int64_t generation;
} QorBarrier;

/* A condition variable used together with a QorMutex. */
typedef struct QorCondvar {
    pthread_cond_t cond;
} QorCondvar;

/* Starts fn(arg) on a new joinable thread; NULL when the record or the thread cannot be made.
 * A null fn runs nothing and yields 0. */
QOR_API QorThread* qor_spawn(QorThreadFn fn, int64_t arg);
/* Waits for the thread, frees its record and returns its result. A handle whose value is below
 * 65536 (NULL and negative values included) is no thread: it is returned as is, at once. */
QOR_API int64_t qor_join(QorThread* handle);

/* New mutex holding value; NULL if it cannot be allocated. */
QOR_API QorMutex* qor_mutex_new(int64_t value);
/* Blocks until held, returns the value; 0 and no lock for NULL. */
QOR_API int64_t qor_mutex_lock(QorMutex* m);
/* Stores value, then releases the mutex; nothing for NULL. */
QOR_API void qor_mutex_unlock(QorMutex* m, int64_t value);
/* The value if taken at once (the caller now holds it); 0 if busy or NULL. */
QOR_API int64_t qor_mutex_try_lock(QorMutex* m);
/* Destroys and frees; nothing for NULL. */
QOR_API void qor_mutex_free(QorMutex* m);

/* New read-write lock holding value; NULL if it cannot be allocated. */
QOR_API QorRwLock* qor_rwlock_new(int64_t value);
/* Blocks for shared access, returns the value; 0 for NULL. */
QOR_API int64_t qor_rwlock_read(QorRwLock* l);
/* Releases shared access; nothing for NULL. */
QOR_API void qor_rwlock_read_unlock(QorRwLock* l);
/* Blocks for exclusive access, returns the value; 0 for NULL. */
QOR_API int64_t qor_rwlock_write(QorRwLock* l);
/* Stores value, then releases exclusive access; nothing for NULL. */
QOR_API void qor_rwlock_write_unlock(QorRwLock* l, int64_t value);
/* The value if shared access was granted at once; -1 if not or NULL. */
QOR_API int64_t qor_rwlock_try_read(QorRwLock* l);
/* The value if exclusive access was granted at once; -1 if not or NULL. */
QOR_API int64_t qor_rwlock_try_write(QorRwLock* l);
/* Destroys and frees; nothing for NULL. */
QOR_API void qor_rwlock_free(QorRwLock* l);

/* New shared cell holding value with count 1; NULL if it cannot be allocated. */
QOR_API QorArc* qor_arc_new(int64_t value);
/* Adds one holder and returns the same cell; NULL for NULL. */
QOR_API QorArc* qor_arc_clone(QorArc* a);
/* The shared value; 0 for NULL. */
QOR_API int64_t qor_arc_get(QorArc* a);
/* Removes one holder; the last one frees the cell (never the value). Nothing for NULL. */
QOR_API void qor_arc_drop(QorArc* a);
/* The current number of holders; 0 for NULL. */
QOR_API int64_t qor_arc_strong_count(QorArc* a);

/* New barrier for parties threads; NULL if parties < 1 or it cannot be allocated. */
QOR_API QorBarrier* qor_barrier_new(int64_t parties);
/* Waits for the cycle to fill: 1 to the thread that completes it, 0 to the others and NULL. */
QOR_API int64_t qor_barrier_wait(QorBarrier* b);
/* Destroys and frees; nothing for NULL. */
QOR_API void qor_barrier_free(QorBarrier* b);

/* New condition variable; NULL if it cannot be allocated. */
QOR_API QorCondvar* qor_condvar_new(void);
/* One wait with m's mutex, which the caller holds; returns m's value after waking. No loop: the
 * caller re-checks its condition. 0 at once if either handle is NULL. */
QOR_API int64_t qor_condvar_wait(QorCondvar* c, QorMutex* m);
/* Wakes one waiter; nothing for NULL. */
QOR_API void qor_condvar_notify_one(QorCondvar* c);
/* Wakes every waiter; nothing for NULL. */
QOR_API void qor_condvar_notify_all(QorCondvar* c);
/* Destroys and frees; nothing for NULL. */
QOR_API void qor_condvar_free(QorCondvar* c);
/* ==== END threads and locks ==== */

/* ==== BEGIN channels (runtime/threads/channel.cpp) ==== */

/* A bounded first-in, first-out ring of 64-bit values. count values sit from read_pos forward
 * to write_pos (modulo capacity). The mutex guards every field but senders. */
typedef struct QorChannel {
    int64_t* buffer;
    int64_t capacity;
    int64_t write_pos;
    int64_t read_pos;
    int64_t count;
    int64_t senders;
    int64_t closed;
    pthread_mutex_t mutex;
    pthread_cond_t not_empty;
    pthread_cond_t not_full;
} QorChannel;

/* A channel handle: one heap word holding the channel's address. Sender and receiver handles
 * are interchangeable. Channels and handles are never freed. Every operation but
 * qor_channel_new needs a handle that qor_channel_new or qor_sender_clone made (NULL is not
 * checked), and every out argument must point to writable storage. */
typedef struct QorChannelHandle {
    QorChannel* channel;
} QorChannelHandle;

/* Makes a channel of capacity slots (negative counts as 0), stores a sender handle at
 * *sender_out and a receiver handle at *receiver_out, and returns the receiver handle. Out of
 * memory: NULL is stored and returned. */
QOR_API QorChannelHandle* qor_channel_new(int64_t capacity, QorChannelHandle** sender_out,
                                          QorChannelHandle** receiver_out);
/* Blocks while full; stores value unless the channel is (or gets) closed. Always 0. */
QOR_API int64_t qor_channel_send(QorChannelHandle* h, int64_t value);
/* Blocks while empty and open; the next value, or 0 once closed and empty. */
QOR_API int64_t qor_channel_recv(QorChannelHandle* h);
/* As qor_channel_recv, but 1 with the value at *out, or 0 (out untouched) once closed and
 * empty. */
QOR_API int64_t qor_channel_recv_opt(QorChannelHandle* h, int64_t* out);
/* 1 if stored at once; 0 if full or closed. */
QOR_API int64_t qor_channel_try_send(QorChannelHandle* h, int64_t value);
/* 1 with the next value at *out if one is held (open or closed); 0 if empty. */
QOR_API int64_t qor_channel_try_recv(QorChannelHandle* h, int64_t* out);
/* 1 if stored within ms milliseconds (negative: no limit); 0 on time-out or if closed. */
QOR_API int64_t qor_channel_send_timeout(QorChannelHandle* h, int64_t value, int64_t ms);
/* 1 with a value at *out within ms milliseconds (negative: no limit); 0 on time-out or once
 * closed and empty. */
QOR_API int64_t qor_channel_recv_timeout(QorChannelHandle* h, int64_t ms, int64_t* out);
/* Closes the channel and wakes every waiter; values already held stay receivable. 0. */
QOR_API int64_t qor_channel_close(QorChannelHandle* h);
/* 1 once closed, else 0. */
QOR_API int64_t qor_channel_is_closed(QorChannelHandle* h);
/* A new handle to the same channel (NULL if out of memory). */
QOR_API QorChannelHandle* qor_sender_clone(QorChannelHandle* h);
/* ==== END channels ==== */

/* ==== BEGIN thread pool and scopes (runtime/threads/pool.cpp) ==== */

/* A task for a pool or a scope: no arguments, no result. */
typedef void (*QorTaskFn)(void);

/* One queued pool task. */
typedef struct QorPoolTask {
    QorTaskFn fn;
    struct QorPoolTask* next;
} QorPoolTask;

/* A fixed set of workers taking tasks from one first-in, first-out queue until shutdown. The
 * mutex guards head, tail, shutdown and active. Pools are made only by qor_thread_pool_new:
 * the runtime's object is larger than this record (a private store of queue nodes follows
 * it), so a pool declared or allocated by the caller must never be passed in. */
typedef struct QorThreadPool {
    pthread_t* threads;
    int32_t thread_count;
    QorPoolTask* head;
    QorPoolTask* tail;
    pthread_mutex_t mutex;
    pthread_cond_t work_ready;
    int32_t shutdown;
    int32_t active;
} QorThreadPool;

/* One thread started by a scope; next is the one started before it. */
typedef struct QorScopeThread {
    pthread_t thread;
    struct QorScopeThread* next;
} QorScopeThread;

/* The threads a scope has started, most recent first, guarded by mutex. */
typedef struct QorScope {
    QorScopeThread* head;
    pthread_mutex_t mutex;
} QorScope;

/* Starts workers threads (4 when workers <= 0); NULL if none can be made. */
QOR_API QorThreadPool* qor_thread_pool_new(int64_t workers);
/* Queues fn; nothing for a NULL pool or fn. Tasks start in queue order. */
QOR_API void qor_thread_pool_execute(QorThreadPool* pool, QorTaskFn fn);
/* Asks the workers to end once the queue is empty; does not wait. Nothing for NULL. */
QOR_API void qor_thread_pool_shutdown(QorThreadPool* pool);
/* Shuts down, waits for every worker (so every task queued meanwhile has run) and frees the
 * pool. Nothing for NULL. */
QOR_API void qor_thread_pool_join(QorThreadPool* pool);
/* New empty scope; NULL if it cannot be allocated. */
QOR_API QorScope* qor_scope_new(void);
/* Runs fn at once on a new thread of the scope; nothing for a NULL scope or fn. */
QOR_API void qor_scope_spawn(QorScope* scope, QorTaskFn fn);
/* Waits for every thread the scope started and frees it. Nothing for NULL. */
QOR_API void qor_scope_wait(QorScope* scope);
/* ==== END thread pool and scopes ==== */

/* ==== BEGIN futures and executor (runtime/async/executor.cpp) ==== */
/* A task: a 64-bit result and a state (2 completed, 0 pending, others left alone). */
typedef struct QorTask {
    int64_t value;
    int32_t state;
    struct QorTask* next;
} QorTask;

/* An executor: a mutex-guarded list of tasks with spawned and completed counters. Opaque:
 * head, tail, spawned, completed, then the platform mutex. */
typedef struct QorExecutor QorExecutor;

/* New completed task holding value (general heap), or NULL. */
QOR_API QorTask* qor_task_new(int64_t value);
/* The task's value; 0 for NULL. */
QOR_API int64_t qor_task_get_result(const QorTask* task);
/* 1 when the task is completed, and for NULL. */
QOR_API int64_t qor_task_is_completed(const QorTask* task);
/* Frees a task not handed to an executor. NULL: nothing. */
QOR_API void qor_task_free(QorTask* task);
/* New empty executor, or NULL. */
QOR_API QorExecutor* qor_executor_new(void);
/* Appends task (which the executor then owns); nothing if either is NULL. */
QOR_API void qor_executor_spawn(QorExecutor* executor, QorTask* task);
/* Steps the default loop once without waiting, then completes the pending tasks. */
QOR_API void qor_executor_run(QorExecutor* executor);
/* Adds a completed task holding value, runs as qor_executor_run, returns value. */
QOR_API int64_t qor_executor_block_on(QorExecutor* executor, int64_t value);
/* Tasks counted as completed; 0 for NULL. */
QOR_API int64_t qor_executor_completed_count(const QorExecutor* executor);
/* Frees the executor and every task in it. NULL: nothing. */
QOR_API void qor_executor_free(QorExecutor* executor);
/* Runs value through a temporary executor (one loop step); returns value. */
QOR_API int64_t qor_block_on(int64_t value);

#ifdef QOR_PLAIN_NAMES
/* Awaiting an already-complete future: returns value unchanged (no prefixed name). */
QOR_API int64_t __future_await(int64_t value);
QOR_API int64_t future_await(int64_t value);
#endif
/* ==== END futures and executor ==== */

/* ==== BEGIN event loop (runtime/async/event_loop.cpp) ==== */
/* Called for events on a watched descriptor: (user data, descriptor, event mask). */
typedef void (*QorEventCallback)(void* user_data, int64_t fd, int32_t events);

/* Event mask bits: 1 readable, 2 writable, 4 error or hang-up (reported to callbacks only). */
#define QOR_EVENT_READABLE 1
#define QOR_EVENT_WRITABLE 2
#define QOR_EVENT_ERROR 4

/* One registration: a descriptor, its interest mask, and the callback with its user data. */
typedef struct QorEventSlot {
    int64_t fd;
    int32_t interest;
    QorEventCallback callback;
    void* user_data;
    int32_t active;
} QorEventSlot;

#define QOR_EVENT_LOOP_SLOTS 1024

/* A single-threaded, level-triggered epoll loop with a fixed table of 1024 slots.
 * slot_count is a high-water mark of table entries used; stopped is never reset.
 * Loops are made only by qor_event_loop_create: the runtime's object is larger than this
 * record (a private descriptor index follows it), so a loop declared or allocated by the
 * caller must never be passed to an event-loop operation. */
typedef struct QorEventLoop {
    QorEventSlot slots[QOR_EVENT_LOOP_SLOTS];
    int32_t slot_count;
    int32_t stopped;
    int32_t epoll_fd;
} QorEventLoop;

/* The process-wide default loop, null until first use; cleared when it is destroyed. */
QOR_API extern QorEventLoop* g_event_loop;

/* New loop with its own epoll instance, or NULL. */
QOR_API QorEventLoop* qor_event_loop_create(void);
/* Closes the epoll instance and frees the loop; watched descriptors stay open. NULL: nothing. */
QOR_API void qor_event_loop_destroy(QorEventLoop* loop);
/* Watches fd for interest (bits 1, 2); an active fd has its interest and callback replaced.
 * 0 on success; -1 for NULL loop or callback, all 1024 slots active, or a kernel refusal
 * (the slot then stays filled until unregistered). */
QOR_API int32_t qor_event_loop_register(QorEventLoop* loop, int64_t fd, int32_t interest,
                                        QorEventCallback callback, void* user_data);
/* Empties fd's slot: 0 if a registration was removed, -1 otherwise. */
QOR_API int32_t qor_event_loop_unregister(QorEventLoop* loop, int64_t fd);
/* Waits up to timeout_ms (-1 forever, 0 not at all) and calls the callbacks of ready
 * descriptors: the number called, 0 when stopped or NULL, -1 when the wait failed. */
QOR_API int32_t qor_event_loop_run_once(QorEventLoop* loop, int32_t timeout_ms);
/* Stops the loop for good: run_once returns 0 from then on. NULL: nothing. */
QOR_API void qor_event_loop_stop(QorEventLoop* loop);
/* The stopped flag; 1 for NULL. */
QOR_API int32_t qor_event_loop_is_stopped(const QorEventLoop* loop);
/* The default loop, created on first call (NULL if it cannot be created). */
QOR_API QorEventLoop* qor_get_event_loop(void);
/* ==== END event loop ==== */

/* ==== BEGIN async files and sockets (runtime/async/async_io.cpp) ==== */
/* A file read whole and overwritten from its start. stream is the stdio FILE*. */
typedef struct QorAsyncFile {
    void* stream;
    char* path;
    int32_t open;
} QorAsyncFile;

/* A TCP or UDP socket: fd (-1 once closed), host text, port (host order), open flag. */
typedef struct QorSocket {
    int32_t fd;
    char* host;
    int32_t port;
    int32_t open;
} QorSocket;

/* One received datagram: payload (NUL-terminated, may hold NULs), sender address and port. */
typedef struct QorUdpPacket {
    char* payload;
    char* host;
    int32_t port;
    int32_t len;
} QorUdpPacket;

/* Texts are NUL-terminated; received buffers are malloc'd, NUL-terminated and the caller's. */

/* Opens path "r+", else "r", else creates it "w+"; NULL on failure. */
QOR_API QorAsyncFile* qor_async_file_open(const char* path);
/* The whole file from its start as a new buffer; NULL for a closed or NULL handle. */
QOR_API char* qor_async_file_read(QorAsyncFile* file);
QOR_API char* qor_nb_file_read(QorAsyncFile* file);
/* Overwrites from the start without truncating, then flushes. */
QOR_API void qor_async_file_write(QorAsyncFile* file, const char* text);
QOR_API void qor_nb_file_write(QorAsyncFile* file, const char* text);
/* Closes the stream and frees the handle. NULL: nothing. */
QOR_API void qor_async_file_close(QorAsyncFile* file);

/* Blocking TCP connect to host (dotted IPv4 or a name) and port; NULL on failure. */
QOR_API QorSocket* qor_async_socket_connect(const char* host, int64_t port);
/* Listens on 0.0.0.0:port (0 picks a port, reported by qor_async_socket_port); NULL on failure. */
QOR_API QorSocket* qor_async_socket_listen(int64_t port);
/* Waits for one connection; its socket (host = peer address), or NULL. */
QOR_API QorSocket* qor_async_socket_accept(QorSocket* listener);
/* Up to 4095 bytes from one receive; NULL once the peer closed or on error. */
QOR_API char* qor_async_socket_read(QorSocket* socket);
/* Sends all of text, waiting for room when the socket is non-blocking. */
QOR_API void qor_async_socket_write(QorSocket* socket, const char* text);
/* Closes the descriptor and frees the handle. NULL: nothing. */
QOR_API void qor_async_socket_close(QorSocket* socket);
/* host; NULL for NULL. */
QOR_API const char* qor_async_socket_host(const QorSocket* socket);
/* port; 0 for NULL. */
QOR_API int64_t qor_async_socket_port(const QorSocket* socket);

/* UDP socket bound to 0.0.0.0:port; NULL on failure. */
QOR_API QorSocket* qor_async_udp_bind(int64_t port);
/* One datagram of text to host:port: bytes sent, or -1. */
QOR_API int64_t qor_async_udp_sendto(QorSocket* socket, const char* host, int64_t port,
                                     const char* text);
/* One datagram (at most 4095 bytes); NULL on error or for an empty datagram. */
QOR_API char* qor_async_udp_recv(QorSocket* socket);
/* One datagram with its sender; NULL as for qor_async_udp_recv. */
QOR_API QorUdpPacket* qor_async_udp_recvfrom(QorSocket* socket);
/* Same as qor_async_socket_close. */
QOR_API void qor_async_udp_close(QorSocket* socket);
/* Packet fields; NULL or 0 for a NULL packet. */
QOR_API const char* qor_udp_packet_payload(const QorUdpPacket* packet);
QOR_API const char* qor_udp_packet_host(const QorUdpPacket* packet);
QOR_API int64_t qor_udp_packet_port(const QorUdpPacket* packet);
QOR_API int64_t qor_udp_packet_len(const QorUdpPacket* packet);
/* Frees the payload, the host and the packet. NULL: nothing. */
QOR_API void qor_udp_packet_free(QorUdpPacket* packet);
/* ==== END async files and sockets ==== */

/* ==== BEGIN event-driven client sockets (runtime/async/nb_socket.cpp) ==== */
/* Starts a non-blocking TCP connect; the socket has open == 0 until the default loop sees the
 * outcome (open 1, or fd -1 when it failed). NULL for immediate failures, including a default
 * loop that cannot take the wait. Close it with qor_async_socket_close. */
QOR_API QorSocket* qor_nb_socket_connect(const char* host, int64_t port);
/* Waits, stepping the default loop every 100 ms, for up to 4095 bytes; NULL for a socket not
 * (yet) connected, a closed peer, an error, or a default loop that is stopped, missing or full. */
QOR_API char* qor_nb_socket_read(QorSocket* socket);
/* As qor_async_socket_write. */
QOR_API void qor_nb_socket_write(QorSocket* socket, const char* text);
/* ==== END event-driven client sockets ==== */

#ifdef __cplusplus
}
#endif

#endif /* QOR_RUNTIME_H */
