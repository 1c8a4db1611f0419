// Process start-up: the weak main, qor_init_runtime for hosts with their own main, and the
// per-thread command-line arguments. Only the thread that stored them sees any arguments.
#include "core/internal.h"
#include "system/console.h"

thread_local int32_t g_argc = 0;
thread_local char** g_argv = nullptr;

extern "C" QOR_API void qor_init_runtime(int argc, char** argv) {
    g_argc = argc;
    g_argv = argv;
    qor::flush_console_at_exit();
    qor_arena_mode(1);
}

// Runs the compiled program with the arena on, releases the main thread's arena and returns
// the low 32 bits of the program's result.
extern "C" QOR_API __attribute__((weak)) int main(int argc, char** argv) {
    qor_init_runtime(argc, argv);
    int64_t result = qor_user_main();
    qor_arena_destroy();
    return static_cast<int>(result);
}

extern "C" QOR_API int64_t qor_arg_count(void) { return g_argc; }

// A fresh copy on every call; the fresh empty string outside [0, count) or for a null entry.
extern "C" QOR_API QorString* qor_get_arg(int64_t index) {
    if (index < 0 || index >= g_argc || g_argv[index] == nullptr) {
        return qor::fresh_empty_string();
    }
    return qor_string_from_cstr(g_argv[index]);
}

QOR_PLAIN_ALIAS(arg_count, qor_arg_count);
QOR_PLAIN_ALIAS(get_arg, qor_get_arg);
