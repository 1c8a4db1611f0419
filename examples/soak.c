/* Long-running workloads, each a loop that a month of service repeats, measured while they
 * run: after every tenth of its work a workload prints the resident memory, the transparent
 * huge pages and the open descriptors of the process it watches, with the time that tenth
 * took, so that a runner (examples/soak_table.py) can tell whether they stay flat. The runtime
 * is used as compiled code or a C host uses it: prefixed names, qor_init_runtime, and every
 * runtime call on a host thread inside the foreign-call frame.
 *
 * Usage: soak WORKLOAD [SCALE [HTTP_SERVER]]
 *   SCALE is the share of the full work (1 when absent; 0.1 and 0.01 for short runs);
 *   HTTP_SERVER is the path of examples/http_hello, for the two http workloads.
 *   soak --list prints the workload names.
 * Output: one line per tenth, "tenth N rss_kib R huge_kib H fds F ms T cpu_ms C" (C: the
 * processor time the watched process spent in the tenth), then
 * "done WORKLOAD UNITS"; any failed check is a line on standard error and exit status 1. */
#define _POSIX_C_SOURCE 200809L
#define QOR_PLAIN_NAMES /* the integer map exists under its plain names only */

#include <arpa/inet.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdatomic.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "qor_runtime.h"

/* ---- Checks and the sampler ------------------------------------------------------------- */

static int g_failures = 0;

static int check(int ok, const char* what) {
    if (!ok && g_failures++ < 10) fprintf(stderr, "soak check failed: %s\n", what);
    return ok;
}

/* The process whose memory and descriptors are sampled: 0 for this one. */
static pid_t g_watched = 0;

/* The first number on the line of file that starts with field ("VmRSS:" and the like), in
 * kB; -1 when the file or the field is missing. */
static long proc_field_kib(const char* file, const char* field) {
    char path[64];
    if (g_watched == 0) {
        snprintf(path, sizeof path, "/proc/self/%s", file);
    } else {
        snprintf(path, sizeof path, "/proc/%ld/%s", (long)g_watched, file);
    }
    FILE* f = fopen(path, "r");
    if (f == NULL) return -1;
    char line[256];
    long value = -1;
    size_t n = strlen(field);
    while (fgets(line, sizeof line, f) != NULL) {
        if (strncmp(line, field, n) == 0) {
            value = strtol(line + n, NULL, 10);
            break;
        }
    }
    fclose(f);
    return value;
}

/* Open descriptors of the watched process: the entries of its /proc fd directory, less the
 * one that listing this process's own directory holds open. */
static long open_descriptors(void) {
    char path[64];
    snprintf(path, sizeof path, "/proc/%ld/fd", (long)(g_watched == 0 ? getpid() : g_watched));
    DIR* dir = opendir(path);
    if (dir == NULL) return -1;
    long count = 0;
    for (struct dirent* e = readdir(dir); e != NULL; e = readdir(dir)) {
        if (e->d_name[0] != '.') count++;
    }
    closedir(dir);
    return g_watched == 0 ? count - 1 : count;
}

static double clock_ms(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec * 1e3 + (double)t.tv_nsec / 1e6;
}

/* Processor time of the watched process so far, all its threads; a server of one thread
 * reports its run time in its schedstat. -1 when it cannot be read. */
static double cpu_ms(void) {
    if (g_watched == 0) {
        struct timespec t;
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
        return (double)t.tv_sec * 1e3 + (double)t.tv_nsec / 1e6;
    }
    char path[64];
    snprintf(path, sizeof path, "/proc/%ld/schedstat", (long)g_watched);
    FILE* f = fopen(path, "r");
    unsigned long long ns = 0;
    int got = f != NULL && fscanf(f, "%llu", &ns) == 1;
    if (f != NULL) fclose(f);
    return got ? (double)ns / 1e6 : -1;
}

static void print_tenth(int tenth, double ms, double cpu) {
    printf("tenth %d rss_kib %ld huge_kib %ld fds %ld ms %.1f cpu_ms %.1f\n", tenth,
           proc_field_kib("status", "VmRSS:"), proc_field_kib("smaps_rollup", "AnonHugePages:"),
           open_descriptors(), ms, cpu);
    fflush(stdout);
}

/* ---- Strings every workload makes ------------------------------------------------------- */

/* Makes "item-<n>", then "<that>/<that>", through the runtime and checks both texts; 1 when
 * they hold. */
static int make_strings(int64_t n) {
    char want[64];
    snprintf(want, sizeof want, "item-%lld", (long long)n);
    QorString* item = qor_string_concat(qor_string_from_cstr("item-"), qor_int_to_string(n));
    QorString* twice = qor_string_concat3(item, qor_string_from_cstr("/"), item);
    size_t len = strlen(want);
    const char* text = qor_ffi_string_data(twice);
    return strcmp(qor_ffi_string_data(item), want) == 0 &&
           qor_ffi_string_len(twice) == (int64_t)(2 * len + 1) && text != NULL &&
           strncmp(text, want, len) == 0 && text[len] == '/' && strcmp(text + len + 1, want) == 0;
}

/* ---- a. Host threads, with and without an arena reset at their end ----------------------- */

typedef struct HostJob {
    pthread_t thread;
    int64_t index;
    int reset;
    int ok;
} HostJob;

static void* host_thread(void* arg) {
    HostJob* job = arg;
    volatile int ok = 0;
    if (qor_ffi_begin() == 0) {
        ok = make_strings(job->index) && make_strings(job->index + 1);
        if (job->reset) qor_arena_reset();
    }
    qor_ffi_end();
    job->ok = ok;
    return NULL;
}

/* Threads run four at a time, as a host serving short requests on fresh threads would. */
static void soak_host_threads(int64_t first, int64_t count, int reset) {
    enum { kBatch = 4 };
    HostJob jobs[kBatch];
    for (int64_t done = 0; done < count; done += kBatch) {
        int n = count - done < kBatch ? (int)(count - done) : kBatch;
        for (int i = 0; i < n; i++) {
            jobs[i] = (HostJob){.index = first + done + i, .reset = reset};
            check(pthread_create(&jobs[i].thread, NULL, host_thread, &jobs[i]) == 0,
                  "pthread_create");
        }
        for (int i = 0; i < n; i++) {
            pthread_join(jobs[i].thread, NULL);
            check(jobs[i].ok, "strings made on a host thread");
        }
    }
}

static void soak_host_threads_reset(int64_t first, int64_t count) {
    soak_host_threads(first, count, 1);
}
static void soak_host_threads_keep(int64_t first, int64_t count) {
    soak_host_threads(first, count, 0);
}

/* ---- b. Runtime threads: qor_spawn and qor_join ----------------------------------------- */

/* Returns the argument when its strings were right, -1 otherwise; it leaves its arena empty. */
static int64_t spawned(int64_t n) {
    int ok = make_strings(n);
    qor_arena_reset();
    return ok ? n : -1;
}

static void soak_spawn_join(int64_t first, int64_t count) {
    enum { kBatch = 4 };
    QorThread* threads[kBatch];
    for (int64_t done = 0; done < count; done += kBatch) {
        int n = count - done < kBatch ? (int)(count - done) : kBatch;
        for (int i = 0; i < n; i++) {
            threads[i] = qor_spawn(spawned, 1000000 + first + done + i);
            check(threads[i] != NULL, "qor_spawn");
        }
        for (int i = 0; i < n; i++) {
            if (threads[i] == NULL) continue;
            check(qor_join(threads[i]) == 1000000 + first + done + i, "spawned thread's result");
        }
    }
}

/* ---- c. A four-worker pool running jobs that rewind their arena --------------------------- */

static QorThreadPool* g_pool;
static atomic_llong g_jobs_started;
static atomic_llong g_jobs_done;
static atomic_llong g_jobs_failed;

static void pool_job(void) {
    int64_t n = atomic_fetch_add(&g_jobs_started, 1);
    qor_arena_save();
    if (!make_strings(n)) atomic_fetch_add(&g_jobs_failed, 1);
    qor_arena_restore();
    atomic_fetch_add(&g_jobs_done, 1);
}

/* Four jobs that meet at a barrier with the main thread: each runs on a worker of its own,
 * so every worker has made its arena before the first tenth is measured. */
static QorBarrier* g_warm;

static void warm_job(void) {
    qor_arena_save();
    if (!make_strings(0)) atomic_fetch_add(&g_jobs_failed, 1);
    qor_arena_restore();
    qor_barrier_wait(g_warm);
}

static void pool_setup(void) {
    g_pool = qor_thread_pool_new(4);
    g_warm = qor_barrier_new(5);
    if (!check(g_pool != NULL && g_warm != NULL, "qor_thread_pool_new, qor_barrier_new")) return;
    for (int i = 0; i < 4; i++) qor_thread_pool_execute(g_pool, warm_job);
    qor_barrier_wait(g_warm); /* freed once the workers are joined: some may still be leaving */
}

/* Queues the tenth's jobs, then waits (at most a minute) until they have all run. */
static void soak_pool_jobs(int64_t first, int64_t count) {
    if (g_pool == NULL) return;
    for (int64_t i = 0; i < count; i++) qor_thread_pool_execute(g_pool, pool_job);
    double deadline = clock_ms() + 60000;
    struct timespec pause = {0, 200000};
    while (atomic_load(&g_jobs_done) < first + count && clock_ms() < deadline) {
        nanosleep(&pause, NULL);
    }
    check(atomic_load(&g_jobs_done) == first + count, "pool jobs finished within a minute");
    check(atomic_load(&g_jobs_failed) == 0, "strings made by pool jobs");
}

static void pool_finish(void) {
    qor_thread_pool_join(g_pool);
    qor_barrier_free(g_warm);
}

/* ---- d. Splitting into words, freeing the vector, rewinding the arena -------------------- */

static QorString* g_text;

static void text_setup(void) {
    g_text = qor_string_from_cstr("  GET /index.html HTTP/1.1\r\nHost:\texample\n\nAccept: */*  ");
    qor_arena_save(); /* after the text, so each rewind keeps it */
}

static void soak_split_words(int64_t first, int64_t count) {
    (void)first;
    for (int64_t i = 0; i < count; i++) {
        int64_t words = qor_str_split_whitespace(g_text);
        QorString* last = qor_svec_get(words, 6);
        if (!check(words >= 0 && qor_svec_len(words) == 7 && last != NULL &&
                       strcmp(qor_ffi_string_data(last), "*/*") == 0,
                   "split into words")) {
            return;
        }
        qor_svec_free(words);
        qor_arena_restore();
    }
}

/* ---- e. Reading a file with the arena on, rewinding the arena ---------------------------- */

static char g_dir[256];
static QorString* g_path;
static int64_t g_file_len;

static void file_setup(void) {
    const char* tmp = getenv("TMPDIR");
    snprintf(g_dir, sizeof g_dir, "%s/qor-soak-XXXXXX", tmp != NULL && *tmp != '\0' ? tmp : "/tmp");
    if (!check(strlen(g_dir) < sizeof g_dir - 1 && mkdtemp(g_dir) != NULL, "temporary directory")) {
        g_dir[0] = '\0';
        return;
    }
    char path[sizeof g_dir + 16];
    snprintf(path, sizeof path, "%s/page.txt", g_dir);
    g_path = qor_string_from_cstr(path);
    QorString* line =
        qor_string_from_cstr("a line of text that a server would read again and again\n");
    QorString* page = qor_string_from_cstr("");
    for (int i = 0; i < 12; i++) page = qor_string_concat(page, line);
    g_file_len = qor_string_len(page);
    check(qor_write_file(g_path, page) == 0, "qor_write_file");
    qor_arena_save();
}

static void soak_read_file(int64_t first, int64_t count) {
    (void)first;
    for (int64_t i = 0; i < count; i++) {
        if (!check(qor_string_len(qor_read_file(g_path)) == g_file_len, "qor_read_file")) return;
        qor_arena_restore();
    }
}

static void file_finish(void) {
    if (g_path != NULL) qor_delete_file(g_path);
    if (g_dir[0] != '\0') rmdir(g_dir);
}

/* ---- f. Event-driven connects closed while often still pending --------------------------- */

static int g_listener = -1;
static int g_listen_port;
static int64_t g_closed_pending;

/* A non-blocking listener on 127.0.0.1 at a port the system chooses; the host accepts and
 * closes what arrives, so the backlog never fills. */
static void listener_setup(void) {
    struct sockaddr_in addr = {.sin_family = AF_INET, .sin_addr.s_addr = htonl(INADDR_LOOPBACK)};
    socklen_t size = sizeof addr;
    g_listener = socket(AF_INET, SOCK_STREAM, 0);
    if (!check(g_listener >= 0 && bind(g_listener, (struct sockaddr*)&addr, sizeof addr) == 0 &&
                   listen(g_listener, 4096) == 0 &&
                   getsockname(g_listener, (struct sockaddr*)&addr, &size) == 0 &&
                   fcntl(g_listener, F_SETFL, O_NONBLOCK) == 0,
               "listener")) {
        return;
    }
    g_listen_port = ntohs(addr.sin_port);
}

static void accept_waiting(void) {
    for (int fd = accept(g_listener, NULL, NULL); fd >= 0; fd = accept(g_listener, NULL, NULL)) {
        close(fd);
    }
}

/* Every other socket is closed at once, most often with its connect still pending; the
 * others are closed once the default loop has completed their connection, which it must do
 * within a second even though the socket closed before may have had the same descriptor. */
static void soak_nb_connect_close(int64_t first, int64_t count) {
    if (g_listen_port == 0) return;
    for (int64_t i = first; i < first + count; i++) {
        QorSocket* s = qor_nb_socket_connect("127.0.0.1", g_listen_port);
        if (!check(s != NULL, "qor_nb_socket_connect")) return;
        for (int step = 0; i % 2 == 1 && s->open == 0 && s->fd >= 0 && step < 100; step++) {
            qor_event_loop_run_once(qor_get_event_loop(), 10);
        }
        if (i % 2 == 1 && !check(s->open == 1, "a connect completed by the default loop")) {
            qor_async_socket_close(s);
            return;
        }
        if (s->open == 0 && s->fd >= 0) g_closed_pending++;
        qor_async_socket_close(s);
        accept_waiting();
    }
}

static void listener_finish(void) {
    printf("note %lld sockets closed while their connect was pending\n",
           (long long)g_closed_pending);
    if (g_listener >= 0) close(g_listener);
}

/* ---- g. Maps: create, fill, check, free -------------------------------------------------- */

static void soak_int_map(int64_t first, int64_t count) {
    enum { kKeys = 1000 };
    for (int64_t i = first; i < first + count; i++) {
        QorIntMap* map = hashmap_new();
        if (!check(map != NULL, "hashmap_new")) return;
        for (int64_t k = 0; k < kKeys; k++) hashmap_insert(map, k * 7919 + i, k);
        int ok = hashmap_len(map) == kKeys && hashmap_get(map, 500 * 7919 + i) == 500 &&
                 hashmap_remove(map, i) == 0 && hashmap_len(map) == kKeys - 1;
        hashmap_free(map);
        if (!check(ok, "integer map contents")) return;
    }
}

/* The string-keyed map borrows its keys, so they are made in the arena and rewound with it
 * after the map is freed. */
static void soak_str_hashmap(int64_t first, int64_t count) {
    enum { kKeys = 500 };
    for (int64_t i = first; i < first + count; i++) {
        QorStrHashMap* map = qor_str_hashmap_new();
        if (!check(map != NULL, "qor_str_hashmap_new")) return;
        for (int64_t k = 0; k < kKeys; k++)
            qor_str_hashmap_insert(map, qor_int_to_string(k * 31 + i), k);
        int ok = qor_str_hashmap_len(map) == kKeys &&
                 qor_str_hashmap_get(map, qor_int_to_string(250 * 31 + i)) == 250;
        qor_str_hashmap_free(map);
        qor_arena_restore();
        if (!check(ok, "string-keyed map contents")) return;
    }
}

/* The string map copies its keys: they are rewound as soon as the map has them. */
static void soak_str_map(int64_t first, int64_t count) {
    enum { kKeys = 500 };
    for (int64_t i = first; i < first + count; i++) {
        QorStrMap* map = qor_strmap_new();
        if (!check(map != NULL, "qor_strmap_new")) return;
        for (int64_t k = 0; k < kKeys; k++) {
            qor_strmap_insert(map, qor_int_to_string(k * 31 + i), k);
            qor_arena_restore();
        }
        int ok = qor_strmap_size(map) == kKeys &&
                 qor_strmap_get(map, qor_int_to_string(250 * 31 + i)) == 250;
        qor_strmap_free(map);
        qor_arena_restore();
        if (!check(ok, "string map contents")) return;
    }
}

/* A save point taken before a thread's first arena value would rewind nothing, so one value
 * comes first. */
static void arena_mark(void) {
    check(qor_string_len(qor_string_from_cstr("kept")) == 4, "a first arena value");
    qor_arena_save();
}

/* ---- h. The HTTP hello server, loaded over keep-alive and one-request connections -------- */

static const char kRequest[] = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
static const char kAnswer[] =
    "HTTP/1.1 200 OK\r\n"
    "Content-Type: text/plain\r\n"
    "Content-Length: 13\r\n"
    "\r\n"
    "Hello, World!";

static const char* g_server_path;
static int g_server_port;
enum { kKeepAlive = 8 };
static int g_keep_alive[kKeepAlive];
static int g_probe = -1;

/* A blocking connection to the server whose sends and receives give up after five seconds. */
static int connect_server(void) {
    struct sockaddr_in addr = {.sin_family = AF_INET,
                               .sin_port = htons((uint16_t)g_server_port),
                               .sin_addr.s_addr = htonl(INADDR_LOOPBACK)};
    struct timeval limit = {5, 0};
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return -1;
    if (setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) != 0 ||
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit) != 0 ||
        connect(fd, (struct sockaddr*)&addr, sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

static int send_request(int fd) {
    return send(fd, kRequest, sizeof kRequest - 1, MSG_NOSIGNAL) == (ssize_t)(sizeof kRequest - 1);
}

/* Reads exactly one answer; 1 when it is the expected one. */
static int read_answer(int fd) {
    char got[sizeof kAnswer];
    size_t have = 0;
    while (have < sizeof kAnswer - 1) {
        ssize_t n = recv(fd, got + have, sizeof kAnswer - 1 - have, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return 0;
        have += (size_t)n;
    }
    return memcmp(got, kAnswer, sizeof kAnswer - 1) == 0;
}

/* Starts the server on a system-chosen port and reads the port from its first line, waiting
 * at most five seconds. */
static void server_setup(void) {
    int out[2];
    if (!check(g_server_path != NULL, "the http workloads need the server's path") ||
        !check(pipe(out) == 0, "pipe")) {
        return;
    }
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        execl(g_server_path, g_server_path, "0", (char*)NULL);
        _exit(127);
    }
    close(out[1]);
    if (!check(pid > 0, "fork")) return;
    g_watched = pid;
    char line[64] = {0};
    size_t have = 0;
    struct pollfd ready = {.fd = out[0], .events = POLLIN};
    while (have < sizeof line - 1 && strchr(line, '\n') == NULL && poll(&ready, 1, 5000) > 0) {
        ssize_t n = read(out[0], line + have, sizeof line - 1 - have);
        if (n <= 0) break;
        have += (size_t)n;
    }
    close(out[0]);
    check(sscanf(line, "listening on %d", &g_server_port) == 1, "the server started");
}

/* One request on a fresh connection, left open while the tenth is sampled: once its answer
 * has come, the server has also seen every close sent before it. */
static void probe(void) {
    g_probe = connect_server();
    check(g_probe >= 0 && send_request(g_probe) && read_answer(g_probe), "probe request");
}

static void end_probe(void) {
    if (g_probe >= 0) close(g_probe);
    g_probe = -1;
}

static void keep_alive_setup(void) {
    server_setup();
    for (int i = 0; i < kKeepAlive; i++) g_keep_alive[i] = g_server_port ? connect_server() : -1;
}

/* Rounds of one request on each keep-alive connection, then the answers in the same order. */
static void soak_http_keep_alive(int64_t first, int64_t count) {
    (void)first;
    end_probe();
    for (int64_t done = 0; done < count; done += kKeepAlive) {
        int n = count - done < kKeepAlive ? (int)(count - done) : kKeepAlive;
        for (int i = 0; i < n; i++) {
            if (!check(g_keep_alive[i] >= 0 && send_request(g_keep_alive[i]), "keep-alive send")) {
                return;
            }
        }
        for (int i = 0; i < n; i++) {
            if (!check(read_answer(g_keep_alive[i]), "keep-alive answer")) return;
        }
    }
    probe();
}

static void soak_http_per_connection(int64_t first, int64_t count) {
    (void)first;
    end_probe();
    for (int64_t i = 0; i < count; i++) {
        int fd = g_server_port ? connect_server() : -1;
        int ok = fd >= 0 && send_request(fd) && read_answer(fd);
        if (fd >= 0) close(fd);
        if (!check(ok, "one request per connection")) return;
    }
    probe();
}

static void server_finish(void) {
    end_probe();
    if (g_watched > 0) {
        kill(g_watched, SIGTERM);
        waitpid(g_watched, NULL, 0);
    }
}

static void keep_alive_finish(void) {
    for (int i = 0; i < kKeepAlive; i++) {
        if (g_keep_alive[i] >= 0) close(g_keep_alive[i]);
    }
    server_finish();
}

/* ---- The workloads and the driver ------------------------------------------------------- */

typedef struct Workload {
    const char* name;
    int64_t full;                              /* units of work at scale 1 */
    void (*setup)(void);                       /* may be NULL */
    void (*run)(int64_t first, int64_t count); /* units first .. first + count - 1 */
    void (*finish)(void);                      /* may be NULL */
} Workload;

static const Workload kWorkloads[] = {
    {"host_threads_reset", 2000, NULL, soak_host_threads_reset, NULL},
    {"host_threads_keep", 2000, NULL, soak_host_threads_keep, NULL},
    {"spawn_join", 2000, NULL, soak_spawn_join, NULL},
    {"pool_jobs", 200000, pool_setup, soak_pool_jobs, pool_finish},
    {"split_words", 2000000, text_setup, soak_split_words, NULL},
    {"read_file", 200000, file_setup, soak_read_file, file_finish},
    {"nb_connect_close", 20000, listener_setup, soak_nb_connect_close, listener_finish},
    {"int_map", 20000, NULL, soak_int_map, NULL},
    {"str_hashmap", 20000, arena_mark, soak_str_hashmap, NULL},
    {"str_map", 20000, arena_mark, soak_str_map, NULL},
    {"http_keep_alive", 200000, keep_alive_setup, soak_http_keep_alive, keep_alive_finish},
    {"http_per_connection", 20000, server_setup, soak_http_per_connection, server_finish},
};
enum { kWorkloadCount = sizeof kWorkloads / sizeof kWorkloads[0] };

/* Runs the workload in ten equal tenths inside one foreign-call frame, sampling after each;
 * returns 0 when every check held and nothing panicked. */
static int drive(const Workload* w, int64_t units) {
    if (qor_ffi_begin() == 0) {
        if (w->setup != NULL) w->setup();
        for (int tenth = 1; tenth <= 10 && g_failures == 0; tenth++) {
            int64_t first = units * (tenth - 1) / 10;
            int64_t count = units * tenth / 10 - first;
            double start = clock_ms();
            double cpu = cpu_ms();
            w->run(first, count);
            print_tenth(tenth, clock_ms() - start, cpu_ms() - cpu);
        }
        if (w->finish != NULL) w->finish();
    } else {
        check(0, qor_ffi_error_message());
        if (w->finish != NULL) w->finish();
    }
    qor_ffi_end();
    if (g_failures == 0) printf("done %s %lld\n", w->name, (long long)units);
    return g_failures == 0 ? 0 : 1;
}

int main(int argc, char** argv) {
    qor_init_runtime(argc, argv);
    if (argc >= 2 && strcmp(argv[1], "--list") == 0) {
        for (int i = 0; i < kWorkloadCount; i++) printf("%s\n", kWorkloads[i].name);
        return 0;
    }
    const Workload* w = NULL;
    for (int i = 0; argc >= 2 && i < kWorkloadCount; i++) {
        if (strcmp(argv[1], kWorkloads[i].name) == 0) w = &kWorkloads[i];
    }
    double scale = argc >= 3 ? strtod(argv[2], NULL) : 1.0;
    if (w == NULL || !(scale > 0 && scale <= 1)) {
        fprintf(stderr, "usage: soak WORKLOAD [SCALE (0, 1]] [HTTP_SERVER]; soak --list\n");
        return 2;
    }
    g_server_path = argc >= 4 ? argv[3] : NULL;
    int64_t units = (int64_t)((double)w->full * scale + 0.5);
    return drive(w, units < 10 ? 10 : units);
}
