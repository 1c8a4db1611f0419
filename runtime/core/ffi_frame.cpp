// The per-thread foreign-call error frame: a host opens it with qor_ffi_begin, and a failure
// raised while it is open jumps back to the host's recovery point instead of ending the
// process. qor_ffi_begin itself is a few lines of assembly (ffi_begin.S) so that the context
// saved is the caller's, exactly as if the caller had called setjmp.
// Before jumping, a failure runs the cleanup hooks that runtime functions pushed since the
// frame was opened, newest first, so that what they hold is not lost with their stack frames.
// The recovery point is only good while the function that opened the frame has not returned.
// Opening records that function's stack pointer; the stack grows down, so a failing call made
// from above it (from the opener's caller, say) proves the opener gone, and the process stops
// rather than jump into a dead frame. A later call chain that reaches below that point again
// cannot be told apart from the opener's own callees by this comparison.
#include <assert.h>
#include <setjmp.h>
#include <signal.h>
#include <stdio.h>

#include "core/internal.h"

thread_local int32_t g_ffi_has_error = 0;
thread_local char g_ffi_error_msg[512] = {0};
thread_local int32_t g_ffi_active = 0;
thread_local jmp_buf g_ffi_jmp_buf;
// Counts the frames opened on this thread; a hook remembers the count when it is pushed.
// Both are touched on every event-loop dispatch, hence the cheaper access model.
thread_local uint64_t g_ffi_frame_serial QOR_INITIAL_EXEC = 0;
thread_local QorUnwindHook* g_ffi_unwind QOR_INITIAL_EXEC = nullptr;
// The opener's stack pointer once qor_ffi_begin has returned to it (each thread its own stack).
thread_local uintptr_t g_ffi_opener_sp QOR_INITIAL_EXEC = 0;

namespace {
constexpr size_t kMaxMessage = sizeof g_ffi_error_msg - 1;

// A handler running on an alternate signal stack has a stack pointer that says nothing about
// the thread's own stack, so there the frame is trusted as before. (Code that switched to a
// stack of its own, a coroutine say, is not recognised: a raise from it into a frame opened on
// another stack stops when that stack lies higher.)
bool on_signal_stack() {
    stack_t current{};
    return sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_ONSTACK) != 0;
}

[[noreturn]] void stop_for_dead_frame(const char* text) {
    fprintf(stderr,
            "[qor] FATAL: a failure was raised into a foreign-call frame whose opening function "
            "has returned%s%s\n",
            text != nullptr ? ": " : "", text != nullptr ? text : "");
    qor::fatal_exit();
}

}  // namespace

// Steps 1 and 2 of opening the frame; opener_sp is the caller's stack pointer as it will be
// when qor_ffi_begin returns. Returns the buffer that qor_ffi_begin hands to _setjmp.
extern "C" QOR_INTERNAL __jmp_buf_tag* qor_ffi_prepare(uintptr_t opener_sp) {
    g_ffi_opener_sp = opener_sp;
    g_ffi_has_error = 0;
    g_ffi_error_msg[0] = '\0';
    g_ffi_active = 1;
    g_ffi_frame_serial++;
    return g_ffi_jmp_buf;
}

extern "C" QOR_API void qor_ffi_end(void) { g_ffi_active = 0; }

extern "C" QOR_API int32_t qor_ffi_has_error(void) { return g_ffi_has_error; }

extern "C" QOR_API const char* qor_ffi_error_message(void) { return g_ffi_error_msg; }

extern "C" int32_t qor_ffi_frame_active(void) { return g_ffi_active; }

extern "C" void qor_unwind_push(QorUnwindHook* hook, void (*run)(void*), void* arg) {
    hook->run = run;
    hook->arg = arg;
    hook->prev = g_ffi_unwind;
    hook->frame = g_ffi_frame_serial;
    g_ffi_unwind = hook;
}

extern "C" void qor_unwind_pop(QorUnwindHook* hook) {
    assert(g_ffi_unwind == hook);
    g_ffi_unwind = hook->prev;
}

// A null text keeps the previous message; longer texts are cut to 511 bytes. The message is
// copied first, since a cleanup may free what text points into. The opener is checked before
// anything changes: after a stale raise no cleanup runs and the stop reports text as given.
extern "C" void qor_ffi_trigger(const char* text, uintptr_t raised_at) {
    if (raised_at > g_ffi_opener_sp && !on_signal_stack()) stop_for_dead_frame(text);
    g_ffi_has_error = 1;
    if (text != nullptr) {
        strncpy(g_ffi_error_msg, text, kMaxMessage);
        g_ffi_error_msg[kMaxMessage] = '\0';
    }
    while (g_ffi_unwind != nullptr && g_ffi_unwind->frame == g_ffi_frame_serial) {
        QorUnwindHook* hook = g_ffi_unwind;
        g_ffi_unwind = hook->prev;
        hook->run(hook->arg);
    }
    longjmp(g_ffi_jmp_buf, 1);
}
