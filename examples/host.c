/* A C host embedding the qor runtime: it starts the runtime, makes and prints strings, and
 * survives a panic through the foreign-call frame. Exits 0 when every check held. */
#include <stdio.h>
#include <string.h>

#include "qor_runtime.h"

static int failures = 0;

static void check(int ok, const char* what) {
    if (!ok) {
        fprintf(stderr, "host check failed: %s\n", what);
        failures++;
    }
}

/* Opens a frame, panics inside it and reports whether control came back with the message.
 * The frame is opened in this function, which stays active until the failure arrives. */
static int survives_panic(const char* text) {
    volatile int passes = 0;
    if (qor_ffi_begin() == 0) {
        passes++;
        QorString* message = qor_string_from_cstr(text);
        qor_panic(message);
    }
    passes++;
    int ok = passes == 2 && qor_ffi_has_error() == 1 && strcmp(qor_ffi_error_message(), text) == 0;
    qor_ffi_end();
    return ok;
}

int main(int argc, char** argv) {
    qor_init_runtime(argc, argv);

    QorString* hello = qor_string_from_cstr("hello, ");
    QorString* world = qor_string_new("world", 5);
    QorString* both = qor_string_concat(hello, world);
    qor_println_str(both);
    check(qor_string_len(both) == 12, "concatenated length");
    check(strcmp(qor_ffi_string_data(both), "hello, world") == 0, "concatenated text");

    check(survives_panic("boom from C"), "panic recovered through the frame");
    check(survives_panic("second failure"), "a second frame works too");

    if (qor_ffi_begin() == 0) {
        qor_panic_divzero();
    }
    check(qor_ffi_has_error() == 1, "division failure raised");
    check(strcmp(qor_ffi_error_message(), "division by zero") == 0, "division message");
    qor_ffi_end();

    if (qor_ffi_begin() == 0) {
        qor_assert(1);
        qor_ffi_end();
    } else {
        check(0, "a passing assertion must not raise");
    }
    check(qor_ffi_has_error() == 0, "no error after a clean frame");

    /* Sorting a vector reaches the C++ pieces the runtime uses, so a static link proves that
     * the package names everything the archive needs. */
    QorVec* v = qor_vec_new();
    qor_vec_push(qor_vec_push(qor_vec_push(v, 3), 1), 2);
    qor_vec_sort(v);
    check(qor_vec_get(v, 0) == 1 && qor_vec_get(v, 2) == 3, "sorted vector");
    qor_vec_free(v);

    check(strcmp(qor_runtime_version(), QOR_RUNTIME_VERSION) == 0, "library matches header");

    QorString* owned = qor_ffi_cstr_to_string("handed over");
    check(qor_ffi_string_len(owned) == 11, "foreign string length");
    qor_ffi_free_string(owned);

    qor_arena_destroy();
    printf("host done: %d failure(s)\n", failures);
    return failures == 0 ? 0 : 1;
}
