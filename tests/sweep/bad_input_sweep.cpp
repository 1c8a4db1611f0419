// Calls every function of the public header with hostile arguments (NULL and missing records,
// negative and huge lengths and counts, INT64_MIN/INT64_MAX, empty text, text with NUL bytes,
// closed descriptors and sockets), one call per forked child with a time limit, and fails on
// any fault: a signal, a sanitizer report, a hang, or an exit that is not a documented stop.
// The case table is generated from the header (gen_cases.py), so new functions are swept too.
//
// Outcomes that pass: a normal return; a fatal stop (status 1 with its "panic: ", "[qor] " or
// "Assertion failed!" text on stderr); any status from the exit operations. A handful of
// calls the header documents as blocking or as needing a live object are listed in kExpected
// with the reason, and their listed outcome passes too.
#include <dirent.h>
#include <fcntl.h>
#include <math.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <string_view>
#include <vector>

#include "qor_runtime.h"

// Sanitizer reports end the child with status 86, so they cannot pass for a fatal stop; leaks
// of a child that exits at once are not faults; a huge request answers NULL as glibc would.
// Reports are not symbolised (their first line names the fault and the source line), so a
// report never takes longer than the time limit.
extern "C" const char* __asan_default_options() {
    return "detect_leaks=0:exitcode=86:allocator_may_return_null=1:abort_on_error=0:symbolize=0";
}
extern "C" const char* __ubsan_default_options() {
    return "halt_on_error=1:exitcode=86:print_stacktrace=0";
}
extern "C" const char* __tsan_default_options() {
    return "exitcode=86:allocator_may_return_null=1";
}

namespace {

// ---- Ordinary and hostile values, made fresh in each child -----------------------------------

QorString* sw_string() { return qor_string_from_cstr("sweep,a b\t12"); }
QorString* sw_empty() { return qor_string_from_cstr(""); }
QorString* sw_missing() {
    static QorString s = {nullptr, 5, 5};
    return &s;
}
QorString* sw_nuls() { return qor_string_new("a\0b\0", 4); }
QorString* sw_negative_len() {
    static char bytes[] = "abc";
    static QorString s = {bytes, -3, -3};
    return &s;
}
QorString* sw_big() {
    std::string_view unit = "ab, \n";
    static std::string text;
    while (text.size() < (1u << 20)) text.append(unit);
    return qor_string_new(text.data(), static_cast<int64_t>(text.size()));
}
const char* sw_cstr() { return "sweep_file.txt"; }
const char* sw_long_cstr() {
    static std::string text(5000, 'x');
    return text.c_str();
}
char** sw_argv() {
    static char prog[] = "sweep", arg[] = "a";
    static char* argv[] = {prog, arg, nullptr};
    return argv;
}
int64_t sw_closed_fd() {
    int fd = open("/dev/null", O_RDONLY);
    close(fd);
    return fd;
}
QorVec* sw_vec() {
    QorVec* v = qor_vec_new();
    for (int64_t x : {3, 1, 2, 1}) qor_vec_push(v, x);
    return v;
}
int64_t* sw_slots() {
    static int64_t slots[64];
    return slots;
}
void* sw_buffer() {
    static char buffer[4096];
    return buffer;
}
// A vector whose slots hold string records, as joining expects.
QorVec* sw_string_vec() {
    QorVec* v = qor_vec_new();
    qor_vec_push(v, reinterpret_cast<int64_t>(sw_string()));
    qor_vec_push(v, 0);
    qor_vec_push(v, reinterpret_cast<int64_t>(sw_nuls()));
    return v;
}
QorArray* sw_array() { return qor_array_push(qor_array_push(nullptr, 7), 9); }
QorStringBuilder* sw_builder() {
    QorStringBuilder* sb = qor_sb_new();
    qor_sb_push(sb, sw_string());
    return sb;
}
QorIntMap* sw_int_map() {
    QorIntMap* m = hashmap_new();
    hashmap_insert(m, 1, 10);
    return m;
}
QorStrHashMap* sw_str_hash_map() {
    QorStrHashMap* m = qor_str_hashmap_new();
    qor_str_hashmap_insert(m, sw_string(), 1);
    return m;
}
QorStrMap* sw_str_map() {
    QorStrMap* m = qor_strmap_new();
    qor_strmap_insert(m, sw_string(), 1);
    return m;
}
// A channel with room that already holds one value, so neither a send nor a receive waits.
QorChannelHandle* sw_channel() {
    QorChannelHandle* rx = qor_channel_new(4, nullptr, nullptr);
    qor_channel_send(rx, 5);
    return rx;
}
QorChannelHandle** sw_handle_slot() {
    static QorChannelHandle* slot;
    return &slot;
}
int64_t sw_thread_fn(int64_t arg) { return arg; }
void sw_task_fn() {}
void sw_event_fn(void*, int64_t, int32_t) {}
QorThread* sw_thread() { return qor_spawn(sw_thread_fn, 1); }
QorMutex* sw_mutex() { return qor_mutex_new(1); }
QorRwLock* sw_rwlock() { return qor_rwlock_new(1); }
QorArc* sw_arc() { return qor_arc_new(1); }
QorBarrier* sw_barrier() { return qor_barrier_new(1); }
QorCondvar* sw_condvar() { return qor_condvar_new(); }
QorThreadPool* sw_pool() { return qor_thread_pool_new(1); }
QorScope* sw_scope() { return qor_scope_new(); }
QorTask* sw_task() { return qor_task_new(3); }
QorExecutor* sw_executor() { return qor_executor_new(); }
QorEventLoop* sw_loop() { return qor_event_loop_create(); }
QorAsyncFile* sw_async_file() { return qor_async_file_open("sweep_async.txt"); }
// Closed records as the runtime leaves them: heap records that their close would free.
QorAsyncFile* sw_closed_async_file() {
    auto* file = static_cast<QorAsyncFile*>(calloc(1, sizeof(QorAsyncFile)));
    return file;
}
// The client end of a loopback connection whose peer has sent "hello" and stays open, so a
// read returns at once and a write has room.
QorSocket* sw_socket() {
    QorSocket* listener = qor_async_socket_listen(0);
    if (listener == nullptr) return nullptr;
    QorSocket* client = qor_async_socket_connect("127.0.0.1", qor_async_socket_port(listener));
    QorSocket* server = qor_async_socket_accept(listener);
    qor_async_socket_write(server, "hello");
    return client;
}
QorSocket* sw_closed_socket() {
    auto* socket = static_cast<QorSocket*>(calloc(1, sizeof(QorSocket)));
    socket->fd = -1;
    return socket;
}
QorUdpPacket* sw_packet() {
    QorSocket* s = qor_async_udp_bind(0);
    if (s == nullptr) return nullptr;
    qor_async_udp_sendto(s, "127.0.0.1", qor_async_socket_port(s), "datagram");
    return qor_async_udp_recvfrom(s);
}

// ---- The case table --------------------------------------------------------------------------

struct Case {
    const char* fn;
    const char* what;
    void (*run)();
};

#define SW_CASE(fn, what, call) {fn, what, [] { call; }},
const Case kCases[] = {
#include "sweep_cases.inc"
};
#undef SW_CASE

// Outcomes the header documents for particular calls: blocking for ever, ending the process,
// or undefined behaviour when a precondition the header states is broken (then a crash is the
// caller's fault, not the runtime's).
enum class Allowed { kBlock, kAnyExit, kContract };
struct Expected {
    const char* fns;     // space-separated function names
    const char* params;  // space-separated parameter names; "" for every case
    Allowed allowed;
    const char* reason;
};
const Expected kExpected[] = {
    {"qor_exit exit_process", "", Allowed::kAnyExit, "ends the process with the given status"},
    {"qor_sleep_ms sleep_ms", "ms", Allowed::kBlock, "sleeps as long as asked"},
    {"qor_event_loop_run_once", "timeout_ms", Allowed::kBlock,
     "a negative or huge time-out waits for an event that never comes"},
    {"qor_condvar_wait", "", Allowed::kBlock, "waits for a notification that never comes"},
    {"qor_sum qor_cumsum qor_vec_add qor_vec_sub qor_vec_scale qor_map_square qor_dot_product "
     "qor_dist_squared qor_magnitude_squared qor_mean_scaled qor_median_scaled "
     "qor_moving_avg_scaled qor_range_val qor_variance_scaled qor_weighted_sum qor_c_min_val "
     "qor_c_max_val qor_array_copy",
     "v a b out src dst values weights n", Allowed::kContract,
     "array routines read and write n elements of the arrays they are given"},
    {"qor_store_i64 qor_load_i64 qor_store_u8 qor_load_u8 store_i64 load_i64 store_u8 load_u8",
     "address", Allowed::kContract, "unchecked access to the address given"},
    {"qor_str_len", "p", Allowed::kContract, "p must not be NULL"},
    {"qor_channel_send qor_channel_recv qor_channel_recv_opt qor_channel_try_send "
     "qor_channel_try_recv qor_channel_send_timeout qor_channel_recv_timeout qor_channel_close "
     "qor_channel_is_closed qor_sender_clone",
     "h out", Allowed::kContract, "channel operations need a live handle and out slot"},
    {"qor_ffi_free_string", "", Allowed::kContract,
     "frees only strings made by qor_ffi_cstr_to_string"},
};

bool word_in(const char* word, size_t n, const char* list) {
    for (const char* p = list; *p != '\0';) {
        const char* end = strchr(p, ' ');
        size_t len = end == nullptr ? strlen(p) : static_cast<size_t>(end - p);
        if (len == n && strncmp(p, word, n) == 0) return true;
        p += len;
        while (*p == ' ') p++;
    }
    return false;
}

const Expected* expected_for(const Case& c) {
    const char* eq = strchr(c.what, '=');
    size_t param_len = eq == nullptr ? 0 : static_cast<size_t>(eq - c.what);
    for (const Expected& e : kExpected) {
        if (!word_in(c.fn, strlen(c.fn), e.fns)) continue;
        if (e.params[0] == '\0' || (eq != nullptr && word_in(c.what, param_len, e.params))) {
            return &e;
        }
    }
    return nullptr;
}

// ---- Running one case in a child -------------------------------------------------------------

constexpr int kSanitizerStatus = 86;
constexpr int kTimeLimitMs = 5000;

std::string g_root;

std::string read_text(const std::string& path) {
    std::string text;
    FILE* f = fopen(path.c_str(), "r");
    if (f == nullptr) return text;
    char buffer[4096];
    size_t n = fread(buffer, 1, sizeof buffer, f);
    text.assign(buffer, n);
    fclose(f);
    return text;
}

[[noreturn]] void run_child(const Case& c, const std::string& dir) {
    setpgid(0, 0);
    if (chdir(dir.c_str()) != 0) _exit(90);
    int in = open("/dev/null", O_RDONLY);
    int out = open("/dev/null", O_WRONLY);
    int err = open("stderr.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    qor_init_runtime(1, sw_argv());
    c.run();
    fflush(stdout);
    _exit(0);
}

struct Running {
    size_t index;
    pid_t pid;
    timespec started;
    std::string dir;
};

int64_t ms_since(const timespec& t) {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (now.tv_sec - t.tv_sec) * 1000 + (now.tv_nsec - t.tv_nsec) / 1000000;
}

bool is_fatal_stop(const std::string& err) {
    return err.find("panic: ") != std::string::npos || err.find("[qor] ") != std::string::npos ||
           err.find("Assertion failed!") != std::string::npos;
}

// Empty when the outcome passes, else what went wrong.
std::string judge(const Case& c, int status, bool timed_out, const std::string& err) {
    const Expected* e = expected_for(c);
    if (timed_out) {
        if (e != nullptr && e->allowed != Allowed::kAnyExit) return "";
        return "did not finish within the time limit";
    }
    if (WIFEXITED(status)) {
        int code = WEXITSTATUS(status);
        if (code == 0) return "";
        if (e != nullptr && e->allowed == Allowed::kAnyExit) return "";
        if (code == 1 && is_fatal_stop(err)) return "";
        if (code == kSanitizerStatus) {
            if (e != nullptr && e->allowed == Allowed::kContract) return "";
            return "sanitizer report";
        }
        return "exit status " + std::to_string(code);
    }
    if (e != nullptr && e->allowed == Allowed::kContract) return "";
    return std::string("signal ") + strsignal(WTERMSIG(status));
}

std::string first_lines(const std::string& err) {
    std::string out;
    size_t start = 0;
    for (int line = 0; line < 6 && start < err.size(); line++) {
        size_t end = err.find('\n', start);
        if (end == std::string::npos) end = err.size();
        out += "      | " + err.substr(start, end - start) + "\n";
        start = end + 1;
    }
    return out;
}

void remove_tree(const std::string& path) {
    DIR* d = opendir(path.c_str());
    if (d == nullptr) {
        unlink(path.c_str());
        return;
    }
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        std::string child = path + "/" + name;
        struct stat st;
        if (lstat(child.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            remove_tree(child);
        } else {
            unlink(child.c_str());
        }
    }
    closedir(d);
    rmdir(path.c_str());
}

}  // namespace

// Usage: bad_input_sweep [substring]  (only cases whose function name contains substring)
int main(int argc, char** argv) {
    const char* only = argc > 1 ? argv[1] : nullptr;
    char root[] = "/tmp/qor_sweep_XXXXXX";
    if (mkdtemp(root) == nullptr) return 2;
    g_root = root;
    signal(SIGPIPE, SIG_IGN);

    const size_t total = sizeof kCases / sizeof kCases[0];
    const size_t parallel = 4;
    std::vector<Running> running;
    size_t next = 0, ran = 0, faults = 0;
    while (next < total || !running.empty()) {
        while (next < total && running.size() < parallel) {
            size_t i = next++;
            if (only != nullptr && strstr(kCases[i].fn, only) == nullptr) continue;
            std::string dir = g_root + "/" + std::to_string(i);
            mkdir(dir.c_str(), 0755);
            fflush(nullptr);
            pid_t pid = fork();
            if (pid == 0) run_child(kCases[i], dir);
            timespec t;
            clock_gettime(CLOCK_MONOTONIC, &t);
            running.push_back({i, pid, t, dir});
        }
        bool reaped = false;
        for (size_t r = 0; r < running.size();) {
            Running& job = running[r];
            int status = 0;
            bool timed_out = false;
            pid_t done = waitpid(job.pid, &status, WNOHANG);
            if (done == 0 && ms_since(job.started) > kTimeLimitMs) {
                kill(-job.pid, SIGKILL);
                kill(job.pid, SIGKILL);
                waitpid(job.pid, &status, 0);
                timed_out = true;
            } else if (done == 0) {
                r++;
                continue;
            }
            const Case& c = kCases[job.index];
            std::string err = read_text(job.dir + "/stderr.txt");
            std::string verdict = judge(c, status, timed_out, err);
            if (!verdict.empty()) {
                faults++;
                printf("FAULT %s(%s): %s\n%s", c.fn, c.what, verdict.c_str(),
                       first_lines(err).c_str());
            }
            kill(-job.pid, SIGKILL);  // whatever the case started in its group ends with it
            remove_tree(job.dir);
            ran++;
            running.erase(running.begin() + static_cast<long>(r));
            reaped = true;
        }
        if (!reaped) usleep(1000);
    }
    remove_tree(g_root);
    printf("%zu cases, %zu faults\n", ran, faults);
    return faults == 0 ? 0 : 1;
}
