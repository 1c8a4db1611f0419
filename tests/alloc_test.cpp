// Exhausted memory: the funnel's one-line stop, and a sweep that refuses the Nth heap request
// the runtime makes over a workload of strings, the builder, vectors, arrays, the three maps,
// the registry cache, splitting, channels and the event loop. Every run must end in a correct
// result, a reported failure, or the out-of-memory stop; never a signal and never a wrong answer.
// The program is linked with --wrap for malloc, calloc, realloc and mmap, so the wrappers below
// see every request made by the runtime's own code (not those made inside glibc or libstdc++).
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <regex>
#include <string>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include "core/internal.h"
#include "test_support.h"

extern "C" void* __real_malloc(size_t n);
extern "C" void* __real_calloc(size_t count, size_t size);
extern "C" void* __real_realloc(void* p, size_t n);
extern "C" void* __real_mmap(void* at, size_t n, int prot, int flags, int fd, off_t offset);

namespace {

// Requests still to pass before the refused ones; negative while no failure is planned.
std::atomic<int64_t> g_pass_before_failure{-1};
// How many requests in a row are refused once the countdown runs out.
std::atomic<int64_t> g_refusals{0};
std::atomic<bool> g_refused_any{false};

bool refuse_this_request() {
    if (g_pass_before_failure.load(std::memory_order_relaxed) < 0) return false;
    if (g_pass_before_failure.fetch_sub(1, std::memory_order_relaxed) > 0) return false;
    g_pass_before_failure.store(0, std::memory_order_relaxed);
    if (g_refusals.fetch_sub(1, std::memory_order_relaxed) <= 0) {
        g_pass_before_failure.store(-1, std::memory_order_relaxed);
        return false;
    }
    g_refused_any.store(true, std::memory_order_relaxed);
    return true;
}

// Refuses `count` heap requests after letting `pass` of them through.
void refuse_after(int64_t pass, int64_t count = 1) {
    g_refusals.store(count);
    g_pass_before_failure.store(pass);
}

// While non-zero, every request of at least this many bytes is refused.
std::atomic<uint64_t> g_refuse_from_bytes{0};

bool too_big(size_t n) {
    uint64_t from = g_refuse_from_bytes.load(std::memory_order_relaxed);
    return from != 0 && n >= from;
}

// Refuses every request of `bytes` and more: a large table's growth, say, while the small
// requests around it pass.
void refuse_from(uint64_t bytes) { g_refuse_from_bytes.store(bytes); }

}  // namespace

extern "C" void* __wrap_malloc(size_t n) {
    return too_big(n) || refuse_this_request() ? nullptr : __real_malloc(n);
}

extern "C" void* __wrap_calloc(size_t count, size_t size) {
    size_t n = 0;
    if (__builtin_mul_overflow(count, size, &n)) n = SIZE_MAX;
    return too_big(n) || refuse_this_request() ? nullptr : __real_calloc(count, size);
}

extern "C" void* __wrap_realloc(void* p, size_t n) {
    return too_big(n) || refuse_this_request() ? nullptr : __real_realloc(p, n);
}

// Big blocks (large tables) are mapped directly: a refused size refuses their mapping too.
extern "C" void* __wrap_mmap(void* at, size_t n, int prot, int flags, int fd, off_t offset) {
    return too_big(n) ? MAP_FAILED : __real_mmap(at, n, prot, flags, fd, offset);
}

namespace {

// The one line the out-of-memory stop writes for a request of n bytes.
std::string stop_line(uint64_t n) {
    return "[qor] FATAL: out of memory (" + std::to_string(n) + " bytes)\n";
}

testing::Matcher<const std::string&> stop_for(uint64_t n) { return testing::Eq(stop_line(n)); }

}  // namespace

// Operations without a failure result stop with the request's size when the heap refuses:
// records and buffers, the builder and its growth, vector growth (which used to drop the
// pushed value), a command capture's growth (which used to cut the output short) and the
// arena's block and fallback requests.
TEST(OutOfMemoryDeathTest, StopsWithOneLineNamingTheRequest) {
    ArenaOff off;
    EXPECT_EXIT(
        {
            refuse_after(0);
            qor_string_new("abc", 3);
        },
        testing::ExitedWithCode(1), stop_for(4));
    EXPECT_EXIT(
        {
            refuse_after(0);
            qor_sb_new();
        },
        testing::ExitedWithCode(1), stop_for(sizeof(QorStringBuilder)));
    EXPECT_EXIT(
        {
            QorStringBuilder* sb = qor_sb_with_capacity(4);
            refuse_after(0);
            sb_push_cstr(sb, "four");
        },
        testing::ExitedWithCode(1), stop_for(8));
    EXPECT_EXIT(
        {
            QorVec* v = qor_vec_new();
            for (int i = 0; i < 8; i++) qor_vec_push(v, i);
            refuse_after(0);
            qor_vec_push(v, 8);
            fprintf(stderr, "pushed, len %ld\n", static_cast<long>(qor_vec_len(v)));
        },
        testing::ExitedWithCode(1), stop_for(16 * sizeof(int64_t)));
    // A command's output that cannot grow its buffer is not handed back cut short.
    EXPECT_EXIT(
        {
            QorString* command = qor_string_from_cstr("head -c 5000 /dev/zero");
            refuse_after(1);
            qor_system_capture(command);
        },
        testing::ExitedWithCode(1), stop_for(8192));
    // Arena on: the block record, then the request alone, are refused.
    EXPECT_EXIT(
        {
            qor_arena_mode(1);
            refuse_after(0, 2);
            qor_string_new("abc", 3);
        },
        testing::ExitedWithCode(1), stop_for(8));
    EXPECT_EXIT(
        {
            setenv("QOR_BACKTRACE", "1", 1);
            refuse_after(0);
            qor_string_new("abc", 3);
        },
        testing::ExitedWithCode(1),
        testing::ContainsRegex("^\\[qor\\] FATAL: out of memory \\(4 bytes\\)\n"
                               "\\[qor\\] backtrace of the failing thread:\n."));
}

namespace {

QorString* key(int64_t k) { return qor_string_from_cstr(("k" + std::to_string(k)).c_str()); }

// 2868 entries fill a new string-keyed map to its growth point: the next new key doubles it
// to 8192 slots of 24 bytes.
constexpr int64_t kAtGrowth = 2868;
constexpr uint64_t kGrownSlots = 8192 * 24;

// Fills a string-keyed map to its growth point, then stores one more key with Store (insert,
// inc or update, which store the same number here) while growth is refused. Exits 0 when
// every key is found.
template <int64_t (*Store)(QorStrHashMap*, QorString*, int64_t)>
void store_at_growth() {
    QorStrHashMap* m = qor_str_hashmap_new();
    for (int64_t k = 0; k < kAtGrowth; k++) qor_str_hashmap_insert(m, key(k), k);
    refuse_from(kGrownSlots);
    Store(m, key(kAtGrowth), kAtGrowth);
    bool all = true;
    for (int64_t k = 0; k <= kAtGrowth; k++) all = all && qor_str_hashmap_get(m, key(k)) == k;
    _exit(all ? 0 : 2);
}

// Inserts key into a new string map while requests of refused bytes and more fail.
void insert_into_string_map(QorString* key, uint64_t refused) {
    QorStrMap* m = qor_strmap_new();
    refuse_from(refused);
    _exit(qor_strmap_insert(m, key, 1) == 1 && qor_strmap_get(m, key) == 1 ? 0 : 2);
}

}  // namespace

// Growth or a node that cannot get memory never costs a map a key. The string-keyed map stops
// with the out-of-memory line when it cannot grow (insert, inc and update used to go on in the
// old table, which then filled up and lost every further key, each reported as stored), and so
// does the registry cache that parses into it; the string map stops when it cannot get a node
// (its insert used to answer 0 and leave the key out). Where a failed allocation loses nothing,
// the map goes on: the string map keeps longer chains, the integer map keeps its deleted slots.
TEST(OutOfMemoryDeathTest, MapsStopRatherThanDropAKey) {
    ArenaOff off;
    struct Case {
        const char* what;
        void (*run)();
        int status;
        std::string err;
    };
    const Case cases[] = {
        {"string-keyed insert", store_at_growth<qor_str_hashmap_insert>, 1, stop_line(kGrownSlots)},
        {"string-keyed inc", store_at_growth<qor_str_hashmap_inc>, 1, stop_line(kGrownSlots)},
        {"string-keyed update", store_at_growth<qor_str_hashmap_update>, 1, stop_line(kGrownSlots)},
        {"registry cache of 2869 pairs",
         [] {
             std::string text;
             for (int64_t k = 0; k <= kAtGrowth; k++) text += "k" + std::to_string(k) + "=v;";
             refuse_from(kGrownSlots);
             QorString* all = qor_string_from_cstr(text.c_str());
             _exit(text_of(reg_cached_lookup(all, key(kAtGrowth), 0)) == "v" ? 0 : 2);
         },
         1, stop_line(kGrownSlots)},
        // The first chunk of nodes; a long key's node, malloc'd on its own.
        {"string map node", [] { insert_into_string_map(key(0), 1024); }, 1, stop_line(1024)},
        {"string map long-key node",
         [] { insert_into_string_map(qor_string_from_cstr(std::string(300, 'x').c_str()), 344); },
         1, stop_line(344)},
        {"string map buckets that cannot double",
         [] {
             QorStrMap* m = qor_strmap_new();
             for (int64_t k = 0; k < 49; k++) qor_strmap_insert(m, key(k), k);
             refuse_from(128 * sizeof(void*));  // the doubled bucket array; the node fits
             bool all = qor_strmap_insert(m, key(49), 49) == 1 && m->bucket_count == 64;
             for (int64_t k = 0; k < 50; k++) all = all && qor_strmap_get(m, key(k)) == k;
             _exit(all ? 0 : 2);
         },
         0, ""},
        {"integer map rebuild without its tags",
         [] {
             QorIntMap* m = hashmap_new();
             for (int64_t k = 0; k < 91751; k++) hashmap_insert(m, k, k);
             for (int64_t k = 0; k < 8192; k++) hashmap_remove(m, k);
             refuse_from(131072);  // the rebuilt table's tag bytes
             hashmap_insert(m, -1, -1);
             bool all = hashmap_len(m) == 91751 - 8192 + 1 && hashmap_get(m, -1) == -1;
             for (int64_t k = 8192; k < 91751; k++) all = all && hashmap_get(m, k) == k;
             _exit(all ? 0 : 2);
         },
         0, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EXIT(c.run(), testing::ExitedWithCode(c.status), testing::Eq(c.err)) << c.what;
    }
}

// With only the block refused the arena falls back to the request alone and the value is good.
TEST(OutOfMemoryDeathTest, ArenaFallsBackWhenOnlyTheBlockIsRefused) {
    EXPECT_EXIT(
        {
            qor_arena_mode(1);
            refuse_after(1);
            QorString* s = qor_string_new("fallback", 8);
            _exit(text_of(s) == "fallback" && s->data[8] == '\0' ? 0 : 2);
        },
        testing::ExitedWithCode(0), "");
}

// Big blocks of any size from kBigBlock up are mapped at the next power of two and kept for
// the next request of that power: a kept block must come back zeroed when asked, whatever its
// size, and blocks of 2 MiB and up start on a 2 MiB boundary.
TEST(BigBlocks, KeptBlocksComeBackZeroedAndAligned) {
    for (uint64_t n :
         {qor::kBigBlock, qor::kBigBlock * 3 / 2, uint64_t{3} << 20, uint64_t{8} << 20}) {
        auto* first = static_cast<unsigned char*>(qor::big_alloc(n, false, qor::Touch::kSparse));
        ASSERT_NE(first, nullptr) << n;
        memset(first, 0xAB, n);
        qor::big_free(first, n);
        auto* again = static_cast<unsigned char*>(qor::big_alloc(n, true));
        ASSERT_NE(again, nullptr) << n;
        EXPECT_EQ(again, first) << n << ": a kept block serves the next request of its size";
        size_t nonzero = 0;
        for (uint64_t i = 0; i < n; i++) nonzero += again[i] != 0;
        EXPECT_EQ(nonzero, 0u) << n;
        bool huge_size = n >= (uint64_t{2} << 20);
        EXPECT_TRUE(!huge_size || reinterpret_cast<uintptr_t>(again) % (2 << 20) == 0) << n;
        qor::big_free(again, n);
    }
}

namespace {

QorString* S(const char* text) { return qor_string_from_cstr(text); }

bool is(const QorString* s, std::string_view want) {
    return s != nullptr && s->data != nullptr && text_of(s) == want && s->data[s->len] == '\0';
}

bool strings_and_builder() {
    QorString* csv = S("alpha,beta,gamma");
    if (!is(csv, "alpha,beta,gamma")) return false;
    if (!is(qor_string_concat3(S("a"), S("b"), S("c")), "abc")) return false;
    if (!is(qor_string_repeat(S("ab"), 3), "ababab")) return false;
    if (!is(qor_int_to_string(-42), "-42")) return false;
    QorStringBuilder* sb = qor_sb_with_capacity(2);
    for (int i = 0; i < 100; i++) qor_sb_push_char(sb, 'a' + i % 26);
    QorString* built = qor_sb_build(sb);
    qor_sb_free(sb);
    return built->len == 100 && built->data[25] == 'z' && built->data[99] == 'v';
}

bool vectors_and_arrays() {
    QorVec* v = qor_vec_new();
    if (v != nullptr) {
        for (int i = 0; i < 100; i++) qor_vec_push(v, i);
        bool good = qor_vec_len(v) == 100 && qor_vec_sum(v) == 4950;
        qor_vec_free(v);
        if (!good) return false;
    }
    QorArray* a = nullptr;
    for (int i = 0; i < 10; i++) a = qor_array_push(a, i);
    return qor_array_len(a) == 10 && qor_array_get_safe(a, 9) == 9;
}

bool splitting() {
    QorVec* parts = qor_string_split(S("x,y,z"), S(","));
    if (parts != nullptr && (qor_vec_len(parts) != 3 ||
                             !is(reinterpret_cast<QorString*>(qor_vec_get(parts, 2)), "z"))) {
        return false;
    }
    int64_t h = qor_str_split(S("p q r s"), S(" "));
    if (h >= 0 && (qor_svec_len(h) != 4 || !is(qor_svec_get(h, 3), "s"))) return false;
    // A push to a vector whose chunk was released (its handle is 300 handles old) makes the
    // chunk again, or fails with the vector still empty.
    QorString* x = S("x");
    int64_t old = qor_svec_new();
    for (int i = 0; i < 300; i++) qor_svec_new();
    if (old < 0) return true;
    if (qor_svec_push(old, x) != 0) return qor_svec_len(old) == 0;
    return qor_svec_len(old) == 1 && qor_svec_get(old, 0) == x;
}

bool maps() {
    if (QorIntMap* m = hashmap_new()) {
        for (int64_t k = 0; k < 50; k++) hashmap_insert(m, k, k * 2);
        bool good = hashmap_get(m, 49) == 98 && hashmap_len(m) == 50;
        hashmap_free(m);
        if (!good) return false;
    }
    // Keys on the stack, so the sweep's runs go to the maps' own requests.
    char digits[50][3];
    QorString key_records[50];
    QorString* keys[50];
    for (int k = 0; k < 50; k++) {
        int n = snprintf(digits[k], sizeof digits[k], "%d", k);
        key_records[k] = QorString{digits[k], n, n};
        keys[k] = &key_records[k];
    }
    if (QorStrHashMap* m = qor_str_hashmap_new()) {
        for (int64_t k = 0; k < 20; k++) qor_str_hashmap_insert(m, keys[k], k);
        bool good = qor_str_hashmap_get(m, S("19")) == 19;
        int64_t listed = qor_str_hashmap_keys(m);
        good = good && (listed < 0 || qor_svec_len(listed) == 20);
        qor_str_hashmap_free(m);
        if (!good) return false;
    }
    // A slot whose map could not be made answers "" once and is rebuilt on the next call; a
    // slot that lost a pair would answer "" again.
    QorString* first = reg_cached_lookup(S("a=1;b=22"), S("b"), 0);
    if (!is(first, "22") && !is(first, "")) return false;
    if (!is(reg_cached_lookup(S("a=1;b=22"), S("b"), 0), "22")) return false;
    // Past 48 keys the string map doubles its buckets; a node it cannot get stops the process,
    // so every key is stored.
    if (QorStrMap* m = qor_strmap_new()) {
        int64_t stored = 0;
        for (int64_t k = 0; k < 50; k++) stored += qor_strmap_insert(m, keys[k], k);
        bool good = stored == 50 && qor_strmap_size(m) == 50 && qor_strmap_get(m, keys[49]) == 49;
        QorVec* values = qor_strmap_values(m);
        good = good && (values == nullptr || qor_vec_len(values) == 50);
        qor_vec_free(values);
        qor_strmap_free(m);
        if (!good) return false;
    }
    return true;
}

int g_ready_calls = 0;

bool channel_and_loop() {
    QorChannelHandle* tx = nullptr;
    QorChannelHandle* rx = nullptr;
    if (qor_channel_new(4, &tx, &rx) != nullptr) {
        for (int64_t i = 1; i <= 3; i++) qor_channel_send(tx, i);
        int64_t sum = 0;
        for (int i = 0; i < 3; i++) sum += qor_channel_recv(rx);
        if (sum != 6) return false;
    }
    QorEventLoop* loop = qor_event_loop_create();
    if (loop == nullptr) return true;
    int fds[2];
    if (pipe(fds) != 0) return false;
    auto ready = [](void*, int64_t, int32_t) { g_ready_calls++; };
    bool good = qor_event_loop_register(loop, fds[0], 1, ready, nullptr) == 0 &&
                write(fds[1], "x", 1) == 1 && qor_event_loop_run_once(loop, 5000) == 1 &&
                g_ready_calls == 1;
    qor_event_loop_destroy(loop);
    close(fds[0]);
    close(fds[1]);
    return good;
}

// Runs the workload in a child whose heap refuses the request after `pass`; exit 0 when every
// result was correct or a reported failure, 2 on a wrong result, 3 when nothing was refused.
pid_t run_child(int64_t pass, bool arena, int err_fd) {
    pid_t pid = fork();
    if (pid != 0) return pid;
    dup2(err_fd, 2);
    alarm(10);
#if defined(__SANITIZE_ADDRESS__)
    // A child that stops for lack of memory leaves its values behind on purpose; checking them
    // for leaks at that exit would only add reports to the one line the sweep expects.
    __lsan_disable();
#endif
    qor_arena_mode(arena ? 1 : 0);
    refuse_after(pass);
    bool good = strings_and_builder() && vectors_and_arrays() && splitting() && maps() &&
                channel_and_loop();
    g_pass_before_failure.store(-1);
    _exit(!good ? 2 : g_refused_any.load() ? 0 : 3);
}

// What one run wrote on stderr, read until the child closes its end.
std::string drain(int fd) {
    std::string out;
    char buffer[512];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<size_t>(n));
    return out;
}

// Sweeps the refused request from the first to past the last one the workload makes.
void sweep(bool arena) {
    const std::regex stop("\\[qor\\] FATAL: out of memory \\([0-9]+ bytes\\)\n");
    int stops = 0;
    for (int64_t pass = 0; pass < 20000; pass++) {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        pid_t pid = run_child(pass, arena, fds[1]);
        close(fds[1]);
        std::string err = drain(fds[0]);
        close(fds[0]);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status))
            << "request " << pass << " ended by signal " << WTERMSIG(status) << "; stderr: " << err;
        int code = WEXITSTATUS(status);
        if (code == 3) {
            EXPECT_GT(pass, 50) << "the workload made too few heap requests to mean much";
            EXPECT_GT(stops, 0);
            return;
        }
        if (code == 1) {
            EXPECT_TRUE(std::regex_match(err, stop)) << "request " << pass << ": " << err;
            stops++;
        } else {
            ASSERT_EQ(code, 0) << "request " << pass << " gave a wrong result; stderr: " << err;
            EXPECT_EQ(err, "") << "request " << pass;
        }
    }
    FAIL() << "the workload never finished without a refusal";
}

}  // namespace

TEST(AllocationFailureSweep, HeapValuesEveryRequestRefusedOnce) { sweep(false); }

TEST(AllocationFailureSweep, ArenaValuesEveryRequestRefusedOnce) { sweep(true); }
