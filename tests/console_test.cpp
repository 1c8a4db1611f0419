// Console printing formats and the line, byte and number readers.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace {

// Makes stdin read the given bytes from now on.
void feed_stdin(const std::string& bytes) {
    // One file per process: CTest runs test cases of this program in parallel.
    static const std::string path =
        testing::TempDir() + "qor_console_input." + std::to_string(getpid());
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
    ASSERT_NE(freopen(path.c_str(), "rb", stdin), nullptr);
    remove(path.c_str());  // stdin keeps the open file; nothing is left behind
}

// Makes stdin a pipe whose writer sends the pieces one by one and then closes it. Between two
// pieces the reading (calling) thread gets SIGUSR1 from a handler without SA_RESTART, so a
// read blocked on the pipe fails with EINTR.
class InterruptedStdin {
  public:
    explicit InterruptedStdin(std::vector<std::string> pieces) {
        feed_stdin("");  // a fresh stream state over an empty file, then the pipe under it
        int ends[2];
        EXPECT_EQ(pipe(ends), 0);
        saved_stdin_ = dup(STDIN_FILENO);
        dup2(ends[0], STDIN_FILENO);
        close(ends[0]);
        writer_ = std::thread([fd = ends[1], pieces = std::move(pieces), reader = pthread_self()] {
            for (const std::string& piece : pieces) {
                std::this_thread::sleep_for(std::chrono::milliseconds(30));
                pthread_kill(reader, SIGUSR1);
                std::this_thread::sleep_for(std::chrono::milliseconds(30));
                EXPECT_EQ(write(fd, piece.data(), piece.size()),
                          static_cast<ssize_t>(piece.size()));
            }
            close(fd);
        });
    }
    ~InterruptedStdin() {
        writer_.join();
        dup2(saved_stdin_, STDIN_FILENO);
        close(saved_stdin_);
        clearerr(stdin);
    }

  private:
    Watchdog watchdog_;
    InterruptingSignal interrupting_;
    int saved_stdin_ = -1;
    std::thread writer_;
};

// Runs body with stream's descriptor on a one-page pipe that a slow reader drains, while a
// signal without SA_RESTART hits the calling thread every 100 us; returns what came through.
template <typename F>
std::string through_interrupted_pipe(FILE* stream, F body) {
    int ends[2], fd = fileno(stream), saved = dup(fd);
    EXPECT_EQ(pipe(ends), 0);
    fcntl(ends[1], F_SETPIPE_SZ, 4096);
    fflush(stream);
    dup2(ends[1], fd);
    close(ends[1]);
    std::string got;
    std::thread reader([&] {
        char buffer[4096];
        for (ssize_t n; (n = read(ends[0], buffer, sizeof buffer)) > 0;) {
            got.append(buffer, static_cast<size_t>(n));
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
    });
    std::atomic<bool> done{false};
    std::thread signaller([&done, target = pthread_self()] {
        for (; !done; std::this_thread::sleep_for(std::chrono::microseconds(100))) {
            pthread_kill(target, SIGUSR1);
        }
    });
    body();
    done = true;
    signaller.join();
    fflush(stream);
    dup2(saved, fd);  // closes the pipe's last writing end
    close(saved);
    reader.join();
    close(ends[0]);
    return got;
}

QorString g_abc{const_cast<char*>("abcdef"), 3, 3};

// Every console writer, one call each: its stream, the bytes it writes and its result.
struct Writer {
    const char* name;
    bool to_stderr;
    int64_t (*call)();
    std::string_view text;
    int64_t result;
} const kWriters[] = {
    {"qor_print_i64", false, [] { return qor_print_i64(-42); }, "-42", 3},
    {"qor_println_i64", false, [] { return qor_println_i64(7); }, "7\n", 2},
    {"qor_print_f64", false, [] { return qor_print_f64(0.5); }, "0.500000000", 11},
    {"qor_println_f64", false, [] { return qor_println_f64(-2); }, "-2.000000000\n", 13},
    {"qor_print_str", false, [] { return qor_print_str(&g_abc); }, "abc", 3},
    {"qor_println_str", false, [] { return qor_println_str(&g_abc); }, "abc\n", 4},
    {"print_str", false, [] { return print_str(&g_abc); }, "abcdef", 6},
    {"println_str", false, [] { return println_str(&g_abc); }, "abcdef\n", 7},
    {"print_char", false, [] { return print_char(321); }, "A", 'A'},
    {"qor_write_stdout", false, [] { return qor_write_stdout(&g_abc); }, "abc", 3},
    {"qor_puts_cstr", false, [] { return qor_puts_cstr("hi"); }, "hi\n", 0},
    {"qor_sb_println", false,
     [] {
         static QorStringBuilder* sb = qor_sb_new();
         if (sb->len == 0) sb_push_cstr(sb, "sb");
         return qor_sb_println(sb);
     },
     "sb\n", 0},
    {"eprint", true, [] { return eprint(5); }, "5", 1},
    {"eprintln", true, [] { return eprintln(-6); }, "-6\n", 3},
    {"eprint_f64", true, [] { return eprint_f64(2.5); }, "2.500000000", 11},
    {"eprintln_f64", true, [] { return eprintln_f64(0); }, "0.000000000\n", 12},
    {"eprint_str", true, [] { return eprint_str(&g_abc); }, "abcdef", 1},
    {"eprintln_str", true, [] { return eprintln_str(&g_abc); }, "abcdef\n", 7},
    {"eprintln_str null", true, [] { return eprintln_str(nullptr); }, "\n", '\n'},
};

}  // namespace

// Each writer, called until 32 KB went through a slowly read pipe under a storm of signals:
// no byte is lost or doubled, and every call still returns its usual result.
TEST(ConsolePrint, SignalsLoseNothing) {
    Watchdog watchdog;
    InterruptingSignal interrupting;
    for (const Writer& w : kWriters) {
        size_t calls = 32768 / w.text.size(), wrong = 0;
        std::string got = through_interrupted_pipe(w.to_stderr ? stderr : stdout, [&] {
            for (size_t i = 0; i < calls; i++) wrong += w.call() != w.result;
        });
        std::string want;
        for (size_t i = 0; i < calls; i++) want += w.text;
        EXPECT_EQ(wrong, 0u) << w.name;
        EXPECT_TRUE(got == want) << w.name << ": " << got.size() << " bytes of " << want.size();
    }
}

// What stdout still holds at exit goes out whole even when a signal interrupts the write: the
// child's pipe is full, so its exit flush blocks until the parent, after a few signals, reads.
TEST(ConsolePrint, ExitFlushSurvivesSignals) {
    Watchdog watchdog;
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    fcntl(ends[1], F_SETPIPE_SZ, 4096);
    std::string filler(4096, 'f');
    fflush(stdout);
    pid_t child = fork();
    if (child == 0) {
        InterruptingSignal interrupting;
        dup2(ends[1], STDOUT_FILENO);
        close(ends[0]);
        if (write(STDOUT_FILENO, filler.data(), filler.size()) != 4096) _exit(3);
        qor_init_runtime(0, nullptr);
        for (int i = 0; i < 300; i++) qor_println_i64(i);
        exit(0);
    }
    close(ends[1]);
    for (int i = 0; i < 20; i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        kill(child, SIGUSR1);
    }
    std::string got;
    char buffer[4096];
    for (ssize_t n; (n = read(ends[0], buffer, sizeof buffer)) > 0;) got.append(buffer, n);
    close(ends[0]);
    int status = 0;
    waitpid(child, &status, 0);
    std::string want = filler;
    for (int i = 0; i < 300; i++) want += std::to_string(i) + "\n";
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(got == want) << got.size() << " bytes of " << want.size();
}

// The runtime's writers and a host's printf share stdout's buffer: with any buffering the
// bytes come out in call order, around writes larger than the buffer too.
TEST(ConsolePrint, HostAndRuntimeOutputKeepTheirOrder) {
    static char buffer[BUFSIZ];
    std::string big(3 * BUFSIZ, 'b');
    QorString large{big.data(), static_cast<int64_t>(big.size()), 0};
    for (int mode : {_IOFBF, _IOLBF, _IONBF}) {
        std::string out = out_of([&] {
            setvbuf(stdout, buffer, mode, sizeof buffer);
            printf("<");
            qor_println_i64(1);
            qor_print_str(&large);
            printf(">");
            qor_write_stdout(&g_abc);
        });
        EXPECT_EQ(out, "<1\n" + big + ">abc") << mode;
    }
    setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
}

TEST(ConsolePrint, NumbersUseFixedFormats) {
    EXPECT_EQ(out_of([] { qor_println_i64(INT64_MIN); }), "-9223372036854775808\n");
    EXPECT_EQ(out_of([] {
                  qor_print_i64(42);
                  println(-1);
                  print(7);
              }),
              "42-1\n7");
    EXPECT_EQ(out_of([] { qor_println_f64(0.5); }), "0.500000000\n");
    EXPECT_EQ(out_of([] { qor_println_f64(1.0 / 3); }), "0.333333333\n");
    EXPECT_EQ(out_of([] {
                  print_f64(-0.0);
                  println_f64(1e300 * 1e300);
              }),
              "-0.000000000inf\n");
    EXPECT_EQ(err_of([] {
                  eprint(5);
                  eprintln(-6);
                  eprint_f64(2.5);
                  eprintln_f64(0);
              }),
              "5-6\n2.5000000000.000000000\n");
}

TEST(ConsolePrint, PrefixedPrintersGoByLenPlainOnesByNul) {
    QorString six{const_cast<char*>("abcdef"), 3, 3};
    EXPECT_EQ(out_of([&] { qor_print_str(&six); }), "abc");
    EXPECT_EQ(out_of([&] { print_str(&six); }), "abcdef");
    EXPECT_EQ(out_of([&] { qor_println_str(&six); }), "abc\n");
    EXPECT_EQ(out_of([&] { println_str(&six); }), "abcdef\n");
    QorString* nul = qor_string_new("ab\0cd", 5);
    EXPECT_EQ(out_of([&] { qor_write_stdout(nul); }), std::string("ab\0cd", 5));
    EXPECT_EQ(out_of([&] { qor_print_str(nul); }), "ab");
    EXPECT_EQ(err_of([&] {
                  eprint_str(&six);
                  eprintln_str(&six);
              }),
              "abcdefabcdef\n");
}

// Printers running on several threads at once never mix the bytes of two calls.
TEST(ConsolePrint, EachCallStaysWholeAcrossThreads) {
    QorString* line = qor_string_from_cstr("a line long enough to be cut by a racing writer");
    constexpr size_t kCalls = 20000;
    std::string out = out_of([&] {
        std::vector<std::thread> printers;
        for (int t = 0; t < 3; t++) {
            printers.emplace_back([&] {
                for (size_t i = 0; i < kCalls; i++) {
                    qor_println_str(line);
                    qor_println_i64(-1234567890123);
                }
            });
        }
        for (std::thread& p : printers) p.join();
    });
    std::string expected_line = std::string(line->data) + "\n";
    size_t lines = 0, numbers = 0;
    for (size_t at = 0; at < out.size();) {
        size_t end = out.find('\n', at) + 1;
        std::string got = out.substr(at, end - at);
        lines += got == expected_line;
        numbers += got == "-1234567890123\n";
        at = end;
    }
    EXPECT_EQ(lines, 3 * kCalls);
    EXPECT_EQ(numbers, 3 * kCalls);
}

TEST(ConsolePrint, MissingStringsPrintNothingOrALineFeed) {
    QorString null_data{nullptr, 4, 4};
    EXPECT_EQ(out_of([&] {
                  qor_print_str(nullptr);
                  print_str(&null_data);
              }),
              "");
    EXPECT_EQ(out_of([&] {
                  qor_println_str(nullptr);
                  println_str(&null_data);
              }),
              "\n\n");
    EXPECT_EQ(err_of([&] {
                  eprint_str(nullptr);
                  eprintln_str(nullptr);
              }),
              "\n");
    EXPECT_EQ(out_of([] { qor_write_stdout(nullptr); }), "");
    EXPECT_EQ(out_of([] {
                  qor_puts_cstr(nullptr);
                  puts_cstr("x");
              }),
              "\nx\n");
    EXPECT_EQ(qor_puts_cstr("y"), 0);
}

TEST(ConsolePrint, BuilderLineOfContentOrLoneLineFeed) {
    QorStringBuilder* sb = qor_sb_new();
    EXPECT_EQ(out_of([&] { qor_sb_println(sb); }), "\n");
    sb_push_cstr(sb, "text");
    EXPECT_EQ(out_of([&] { EXPECT_EQ(sb_println(sb), 0); }), "text\n");
    EXPECT_EQ(out_of([] { EXPECT_EQ(qor_sb_println(nullptr), 0); }), "\n");
    qor_sb_free(sb);
}

TEST(ConsolePrint, PrintCharWritesTheLowByte) {
    EXPECT_EQ(out_of([] {
                  print_char(321);
                  print_char(10);
              }),
              "A\n");
}

TEST(ConsoleRead, LinesLoseTheirTrailingLineEnds) {
    feed_stdin("hello\r\n\nmid\rdle\r\r\n\n");
    EXPECT_TEXT(qor_read_line(), "hello");
    EXPECT_TEXT(qor_read_line(), "");
    EXPECT_TEXT(qor_read_line(), "mid\rdle");
    EXPECT_TEXT(qor_read_line(), "");
    EXPECT_TEXT(qor_read_line(), "__EOF__");
    EXPECT_TEXT(qor_read_line(), "__EOF__");
}

TEST(ConsoleRead, LongLinesComeInPiecesOf4095) {
    std::string line(5000, 'q');
    feed_stdin(line + "\n");
    EXPECT_EQ(qor_read_line()->len, 4095);
    EXPECT_TEXT(qor_read_line(), std::string(905, 'q'));
}

TEST(ConsoleRead, NumbersLeaveTheLineEndBehind) {
    feed_stdin("  42\n-7 2.5\nabc");
    EXPECT_EQ(qor_read_int(), 42);
    EXPECT_TEXT(qor_read_line(), "");
    EXPECT_EQ(read_int(), -7);
    EXPECT_DOUBLE_EQ(qor_read_f64(), 2.5);
    EXPECT_EQ(qor_read_int(), 0);  // "abc" converts nothing
    EXPECT_DOUBLE_EQ(qor_read_f64(), 0.0);
}

TEST(ConsoleRead, BytesComeAsTheyAre) {
    EXPECT_FRESH_EMPTY(qor_read_bytes(0));
    EXPECT_FRESH_EMPTY(qor_read_bytes(-5));
    feed_stdin(std::string("a\0\r\n", 4));
    EXPECT_TEXT(qor_read_bytes(10), std::string_view("a\0\r\n", 4));
    EXPECT_TEXT(qor_read_bytes(3), "");
    feed_stdin("abcdef");
    EXPECT_TEXT(qor_read_bytes(2), "ab");
    EXPECT_TEXT(qor_read_bytes(4), "cdef");
}

TEST(ConsoleRead, ReadersFlushPendingOutputFirst) {
    feed_stdin("x\n");
    std::string out = out_of([] {
        qor_print_i64(9);
        int fd = fileno(stdout);
        qor_read_line();
        // The prompt reached the file before the read, without any explicit flush here.
        EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 1);
    });
    EXPECT_EQ(out, "9");
}

// A signal while a reader waits for input is neither end of input nor the end of a line, and
// the bytes taken before it are kept.
TEST(ConsoleRead, SignalsDoNotEndTheInput) {
    {
        InterruptedStdin in({"hel", "lo\n", "next\n"});
        EXPECT_TEXT(qor_read_line(), "hello");
        EXPECT_TEXT(qor_read_line(), "next");
        EXPECT_TEXT(qor_read_line(), "__EOF__");
    }
    {
        InterruptedStdin in({"ab", "cd", "ef"});
        EXPECT_TEXT(qor_read_bytes(5), "abcde");
        EXPECT_TEXT(qor_read_bytes(5), "f");
    }
    {
        InterruptedStdin in({"  ", "42\n", "2.5\n"});
        EXPECT_EQ(qor_read_int(), 42);
        EXPECT_DOUBLE_EQ(qor_read_f64(), 2.5);
    }
    {
        // Nor does a signal split a number: each of these arrives in two pieces.
        InterruptedStdin in({"12", "34\n-", "5 1.", "25e", "1\n"});
        EXPECT_EQ(qor_read_int(), 1234);
        EXPECT_EQ(qor_read_int(), -5);
        EXPECT_DOUBLE_EQ(qor_read_f64(), 12.5);
    }
}

// Whatever the input, the number readers convert, and leave unread, exactly what scanf would.
TEST(ConsoleRead, NumbersReadAsScanfReadsThem) {
    // The inputs, separated by '|'; the first one is empty.
    const std::string inputs =
        "| \t\v\f\r\n7|-x|+-5|- 5|0x1A|99999999999999999999|-9223372036854775809|1e+x|1.5.3|.e5"
        "|-.5e-3z|0x1p3q|0x|0xp1|infx|-Infinity|infinit|nanq|+|1e400";
    for (size_t at = 0, end = 0; at <= inputs.size(); at = end + 1) {
        end = std::min(inputs.find('|', at), inputs.size());
        std::string in = inputs.substr(at, end - at);
        for (bool f64 : {false, true}) {
            FILE* f = fmemopen(in.data(), in.size(), "r");
            long want_int = 0;
            double want_f64 = 0, got_f64 = 0;
            if ((f64 ? fscanf(f, "%lf", &want_f64) : fscanf(f, "%ld", &want_int)) != 1) {
                want_int = 0, want_f64 = 0;
            }
            std::string rest;
            for (int c; (c = getc(f)) != EOF;) rest += static_cast<char>(c);
            fclose(f);
            feed_stdin(in);
            if (f64) got_f64 = qor_read_f64();
            EXPECT_EQ(f64 ? 0 : qor_read_int(), want_int) << in;
            EXPECT_EQ(memcmp(&got_f64, &want_f64, sizeof got_f64), 0) << in;
            EXPECT_EQ(text_of(qor_read_bytes(100)), rest) << in;
        }
    }
}
