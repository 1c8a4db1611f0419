// Panics and assertions. Each failure either raises its message into the calling thread's open
// foreign-call frame (nothing written) or writes its standard-error text and exits with 1.
#include <stdio.h>

#include "core/internal.h"

namespace {

// raised_at is where the failing call was made (QOR_RAISED_AT in the exported function), so
// that a frame whose opener has returned is recognised rather than jumped into.
// Fixed texts are written with their exact byte counts.
[[noreturn]] void fail_fixed(const char* stderr_text, size_t n, const char* frame_text,
                             uintptr_t raised_at) {
    if (qor_ffi_frame_active()) qor_ffi_trigger(frame_text, raised_at);
    fwrite(stderr_text, 1, n, stderr);
    qor::fatal_exit();
}

[[noreturn]] void fail_message(const char* text, uintptr_t raised_at) {
    if (qor_ffi_frame_active()) qor_ffi_trigger(text, raised_at);
    fprintf(stderr, "panic: %s\n", text);
    qor::fatal_exit();
}

[[noreturn]] void fail_index(int64_t index, int64_t length, uintptr_t raised_at) {
    char text[128];
    snprintf(text, sizeof text, "array index %ld out of bounds [0, %ld)", static_cast<long>(index),
             static_cast<long>(length));
    fail_message(text, raised_at);
}

}  // namespace

// The message is the record's data up to its first NUL; "panic" when missing.
extern "C" QOR_API void qor_panic(const QorString* message) {
    fail_message(qor::is_missing(message) ? "panic" : message->data, QOR_RAISED_AT());
}

extern "C" QOR_API void qor_assert(int32_t cond) {
    if (cond != 0) return;
    static const char kText[] = "Assertion failed!\n";
    fail_fixed(kText, sizeof kText - 1, "assertion failed", QOR_RAISED_AT());
}

// Called from the checked accessors, so the failing call is measured one frame deeper.
void qor::fail_bounds(int64_t index, int64_t length) { fail_index(index, length, QOR_RAISED_AT()); }

extern "C" QOR_API void qor_panic_bounds(int64_t index, int64_t length) {
    fail_index(index, length, QOR_RAISED_AT());
}

extern "C" QOR_API void qor_panic_divzero(void) {
    static const char kText[] = "panic: division by zero\n";
    fail_fixed(kText, sizeof kText - 1, "division by zero", QOR_RAISED_AT());
}
