// Processes and environment: shell commands run with system or captured through popen, one
// environment variable, the working directory. Nothing is kept between calls. Captured output
// is taken byte for byte, NULs and final line feed included, whatever the command's status.
// system and pclose wait for the shell with the C library's own loop, which a signal does not
// cut short. The capture pipe is close-on-exec like every descriptor the runtime makes, so a
// command that another thread starts meanwhile does not inherit it.
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "core/internal.h"
#include "system/read_stream.h"

using qor::is_missing;

namespace {

constexpr size_t kCaptureFirstBuffer = 4096;
constexpr char kJoinStderr[] = " 2>&1";
constexpr size_t kCwdBuffer = 4096;

// Runs command (NUL-terminated) and returns its standard output. With the arena on the bytes
// are copied into the arena (cap == len); with it off the record keeps the collecting buffer
// and cap is that buffer's size (4096, 8192, ...). When the buffer cannot grow the process
// stops out of memory: a capture never hands back silently shortened output.
QorString* capture(const char* command) {
    FILE* pipe = popen(command, "re");
    if (pipe == nullptr) return qor::fresh_empty_string();
    // Nothing else reads this stream, so its descriptor is drained directly.
    qor::DrainedBytes out = qor::drain_fd(fileno(pipe), kCaptureFirstBuffer);
    pclose(pipe);
    if (out.data == nullptr) return qor::fresh_empty_string();
    if (out.refused != 0) qor::out_of_memory(out.refused);
    auto n = static_cast<int64_t>(out.len);
    if (__atomic_load_n(&g_arena_enabled, __ATOMIC_RELAXED) != 0) {
        QorString* s = qor::make_string(out.data, n);
        free(out.data);
        return s;
    }
    return qor::make_record(out.data, n, static_cast<int64_t>(out.size));
}

}  // namespace

// The raw wait status of the shell, not decoded; -1 also when the shell cannot be started.
extern "C" QOR_API int64_t qor_system(const QorString* command) {
    if (is_missing(command)) return -1;
    return system(command->data);
}

extern "C" QOR_API QorString* qor_system_capture(const QorString* command) {
    if (is_missing(command)) return qor::fresh_empty_string();
    return capture(command->data);
}

// The shell is handed the command's len bytes, then one space and the argument's len bytes
// when the argument is present and not empty, then " 2>&1" so standard error joins the
// capture. A negative len counts as a missing command or an absent argument.
extern "C" QOR_API QorString* qor_exec_output(const QorString* command, const QorString* args) {
    if (is_missing(command) || command->len < 0) return qor::fresh_empty_string();
    auto command_len = static_cast<size_t>(command->len);
    size_t args_len = is_missing(args) || args->len < 0 ? 0 : static_cast<size_t>(args->len);
    auto* line = static_cast<char*>(malloc(command_len + args_len + sizeof kJoinStderr + 1));
    if (line == nullptr) return qor::fresh_empty_string();
    size_t n = 0;
    memcpy(line, command->data, command_len);
    n += command_len;
    if (args_len > 0) {
        line[n++] = ' ';
        memcpy(line + n, args->data, args_len);
        n += args_len;
    }
    memcpy(line + n, kJoinStderr, sizeof kJoinStderr);  // with its NUL
    QorString* out = capture(line);
    free(line);
    return out;
}

// An unset variable and one set to the empty value both give the fresh empty string.
extern "C" QOR_API QorString* qor_getenv(const QorString* name) {
    if (is_missing(name)) return qor::fresh_empty_string();
    const char* value = getenv(name->data);
    if (value == nullptr) return qor::fresh_empty_string();
    return qor::make_string(value, static_cast<int64_t>(strlen(value)));
}

// The fresh empty string when getcwd fails (a path of 4096 bytes or more, a removed directory).
extern "C" QOR_API QorString* qor_getcwd(void) {
    char buffer[kCwdBuffer];
    if (getcwd(buffer, sizeof buffer) == nullptr) return qor::fresh_empty_string();
    return qor::make_string(buffer, static_cast<int64_t>(strlen(buffer)));
}

QOR_PLAIN_ALIAS(system_capture, qor_system_capture);
QOR_PLAIN_ALIAS(exec_output, qor_exec_output);
QOR_PLAIN_ALIAS(current_dir, qor_getcwd);
