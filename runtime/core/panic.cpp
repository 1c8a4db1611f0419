// Panics and assertions. Each failure either raises its message into the calling thread's open
// foreign-call frame (nothing written) or writes its standard-error text and exits with 1.
#include <stdio.h>

#include "core/internal.h"

namespace {

// Fixed texts are written with their exact byte counts.
[[noreturn]] void fail_fixed(const char* stderr_text, size_t n, const char* frame_text) {
    if (qor_ffi_frame_active()) qor_ffi_trigger(frame_text);
    fwrite(stderr_text, 1, n, stderr);
    qor::fatal_exit();
}

[[noreturn]] void fail_message(const char* text) {
    if (qor_ffi_frame_active()) qor_ffi_trigger(text);
    fprintf(stderr, "panic: %s\n", text);
    qor::fatal_exit();
}

}  // namespace

// The message is the record's data up to its first NUL; "panic" when missing.
extern "C" QOR_API void qor_panic(const QorString* message) {
    fail_message(qor::is_missing(message) ? "panic" : message->data);
}

extern "C" QOR_API void qor_assert(int32_t cond) {
    if (cond != 0) return;
    static const char kText[] = "Assertion failed!\n";
    fail_fixed(kText, sizeof kText - 1, "assertion failed");
}

void qor::fail_bounds(int64_t index, int64_t length) {
    char text[128];
    snprintf(text, sizeof text, "array index %ld out of bounds [0, %ld)", static_cast<long>(index),
             static_cast<long>(length));
    fail_message(text);
}

extern "C" QOR_API void qor_panic_bounds(int64_t index, int64_t length) {
    qor::fail_bounds(index, length);
}

extern "C" QOR_API void qor_panic_divzero(void) {
    static const char kText[] = "panic: division by zero\n";
    fail_fixed(kText, sizeof kText - 1, "division by zero");
}
