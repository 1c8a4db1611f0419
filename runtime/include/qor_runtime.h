/* The qor runtime: every service that compiled qor programs and C/C++ hosts call.
 *
 * Every function here is a plain C-ABI export taking and returning 64-bit integers, doubles
 * and pointers. Operations never report errors: bad or missing input gives a neutral result
 * (0, -1, NULL, INT64_MIN, the fresh empty string or a clamped range); status operations
 * return 0 for success and -1 for failure; predicates return 1 or 0.
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

/* New string holding a copy of the n bytes at bytes (NULs included). */
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

/* @@SECTIONS@@ Each family below owns one section; add its declarations between its markers. */

/* ==== BEGIN compiled program library (program/program.cpp) ==== */
/* ==== END compiled program library ==== */

/* ==== BEGIN numeric helpers (runtime/core/numeric.cpp) ==== */
/* ==== END numeric helpers ==== */

/* ==== BEGIN raw memory (runtime/core/raw_memory.cpp) ==== */
/* ==== END raw memory ==== */

/* ==== BEGIN string search and transform (runtime/text/string_search.cpp) ==== */
/* ==== END string search and transform ==== */

/* ==== BEGIN number and character text (runtime/text/number_text.cpp) ==== */
/* ==== END number and character text ==== */

/* ==== BEGIN string builder (runtime/text/string_builder.cpp) ==== */
/* ==== END string builder ==== */

/* ==== BEGIN vectors (runtime/collections/vector.cpp) ==== */
/* ==== END vectors ==== */

/* ==== BEGIN inline arrays (runtime/collections/inline_array.cpp) ==== */
/* ==== END inline arrays ==== */

/* ==== BEGIN string vectors (runtime/collections/string_vector.cpp) ==== */
/* ==== END string vectors ==== */

/* ==== BEGIN integer map (runtime/collections/int_map.cpp) ==== */
/* ==== END integer map ==== */

/* ==== BEGIN string hash map (runtime/collections/string_hash_map.cpp) ==== */
/* ==== END string hash map ==== */

/* ==== BEGIN string map (runtime/collections/string_map.cpp) ==== */
/* ==== END string map ==== */

/* ==== BEGIN registry cache (runtime/collections/registry_cache.cpp) ==== */
/* ==== END registry cache ==== */

/* ==== BEGIN files (runtime/system/files.cpp) ==== */
/* ==== END files ==== */

/* ==== BEGIN processes (runtime/system/process.cpp) ==== */
/* ==== END processes ==== */

/* ==== BEGIN clock (runtime/system/clock.cpp) ==== */
/* ==== END clock ==== */

/* ==== BEGIN threads and locks (runtime/threads/thread.cpp, locks.cpp) ==== */
/* ==== END threads and locks ==== */

/* ==== BEGIN channels (runtime/threads/channel.cpp) ==== */
/* ==== END channels ==== */

/* ==== BEGIN thread pool and scopes (runtime/threads/pool.cpp) ==== */
/* ==== END thread pool and scopes ==== */

/* ==== BEGIN futures and executor (runtime/async/executor.cpp) ==== */
/* ==== END futures and executor ==== */

/* ==== BEGIN event loop (runtime/async/event_loop.cpp) ==== */
/* ==== END event loop ==== */

/* ==== BEGIN async files and sockets (runtime/async/async_io.cpp) ==== */
/* ==== END async files and sockets ==== */

/* ==== BEGIN event-driven client sockets (runtime/async/nb_socket.cpp) ==== */
/* ==== END event-driven client sockets ==== */

#ifdef __cplusplus
}
#endif

#endif /* QOR_RUNTIME_H */
