// Files and directories, each test inside its own scratch directory that it removes afterwards.
// The runtime's strings come from the arena, except where a test checks what the reader or a
// release hands back with the arena off.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "test_support.h"

namespace fs = std::filesystem;

namespace {

QorString* rec(const std::string& text) {
    return qor_string_new(text.data(), static_cast<int64_t>(text.size()));
}

void put(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::set<std::string> lines_of(const QorString* s) {
    std::set<std::string> names;
    std::istringstream in(text_of(s));
    for (std::string line; std::getline(in, line);) names.insert(line);
    return names;
}

class Files : public testing::Test {
  protected:
    void SetUp() override {
        saved_arena_ = g_arena_enabled;
        qor_arena_mode(1);
        char tmpl[] = "/tmp/qor_files_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
        qor_arena_mode(saved_arena_);
    }
    std::string at(const std::string& name) const { return dir_ + "/" + name; }
    QorString* path(const std::string& name) const { return rec(at(name)); }

    // Reads with the arena off, checks the record's shape and releases it as a caller would.
    std::string read_whole(const std::string& p,
                           QorString* (*reader)(const QorString*) = qor_read_file) {
        QorString* name = rec(p);
        ArenaOff off;
        QorString* s = reader(name);
        EXPECT_NE(s, nullptr);
        if (s == nullptr) return "";
        EXPECT_EQ(s->cap, s->len);
        EXPECT_EQ(s->data[s->len], '\0');
        std::string bytes = text_of(s);
        qor_string_free(s);
        return bytes;
    }

    std::string dir_;
    int32_t saved_arena_ = 0;
};

QorString kNullData{nullptr, 3, 3};

}  // namespace

TEST_F(Files, ReadKeepsEveryByteIncludingNuls) {
    put(at("empty"), "");
    EXPECT_EQ(read_whole(at("empty")), "");
    put(at("bin"), std::string("ab\0cd", 5));
    EXPECT_EQ(read_whole(at("bin")), std::string("ab\0cd", 5));
    std::string big(100000, 'q');
    big[4096] = '\0';
    put(at("big"), big);
    EXPECT_EQ(read_whole(at("big")), big);
    EXPECT_EQ(read_whole(at("bin"), read_file), std::string("ab\0cd", 5));
}

// With the arena on, the text is an arena value like any other, so resetting the arena
// releases it; a stream of unknown size is copied there too.
TEST_F(Files, ReadWithTheArenaOnTakesItsBufferFromTheArena) {
    std::string big(9 << 20, 'r');  // larger than an arena block, so it gets a block of its own
    big[5] = '\0';
    put(at("big"), big);
    int64_t before = qor_arena_usage();
    EXPECT_TEXT(qor_read_file(path("big")), big);
    EXPECT_GE(qor_arena_usage() - before, 9 << 20);
    QorString* status = read_file(rec("/proc/self/status"));
    EXPECT_TEXT(status, text_of(status));
    EXPECT_NE(text_of(status).find("VmRSS:"), std::string::npos);
    qor_arena_reset();
    EXPECT_LT(qor_arena_usage(), 9 << 20);
}

TEST_F(Files, ReadMissingGivesFreshEmpty) {
    EXPECT_FRESH_EMPTY(qor_read_file(nullptr));
    EXPECT_FRESH_EMPTY(qor_read_file(&kNullData));
    EXPECT_FRESH_EMPTY(qor_read_file(path("absent")));
    EXPECT_FRESH_EMPTY(qor_read_file(rec(dir_)));
}

// /proc files report size 0 and pipes cannot seek: both still read to their end.
TEST_F(Files, ReadDoesNotTrustTheReportedSize) {
    std::string status = read_whole("/proc/self/status");
    EXPECT_NE(status.find("Name:"), std::string::npos);
    EXPECT_NE(status.find("VmRSS:"), std::string::npos);

    ASSERT_EQ(mkfifo(at("fifo").c_str(), 0600), 0);
    std::string sent(70000, 'p');
    sent[5] = '\0';
    std::thread writer([&] { put(at("fifo"), sent); });
    std::string got = read_whole(at("fifo"));
    writer.join();
    EXPECT_EQ(got, sent);
}

// A signal whose handler does not restart system calls cuts a blocking open or read short. The
// reader retries rather than failing, also while it waits for the byte after a full first buffer.
TEST_F(Files, ReadRetriesReadsCutShortBySignals) {
    Watchdog watchdog;  // a reader that gives up in the open leaves the writer waiting for ever
    InterruptingSignal interrupting;
    // A reader that gives up early closes the pipe; the writer must then fail, not kill the test.
    void (*saved_pipe)(int) = signal(SIGPIPE, SIG_IGN);
    ASSERT_EQ(mkfifo(at("fifo").c_str(), 0600), 0);
    std::string head(4095, 'h');  // exactly fills the first buffer for a stream of unknown size
    pthread_t reader = pthread_self();
    std::thread writer([&] {
        // The first signal finds the reader still waiting in the open for a writer.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        pthread_kill(reader, SIGUSR1);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        int fd = open(at("fifo").c_str(), O_WRONLY);
        EXPECT_EQ(write(fd, head.data(), head.size()), static_cast<ssize_t>(head.size()));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        pthread_kill(reader, SIGUSR1);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(write(fd, "tail", 4), 4);
        close(fd);
    });
    std::string got = read_whole(at("fifo"));
    writer.join();
    signal(SIGPIPE, saved_pipe);
    EXPECT_EQ(got.size(), head.size() + 4);
    EXPECT_TRUE(got == head + "tail");
}

TEST_F(Files, WritersCreateTruncateAndTranslate) {
    std::string bytes(
        "a\x1f"
        "b\0c",
        5);
    EXPECT_EQ(qor_write_file(path("plain"), rec(bytes)), 0);
    EXPECT_EQ(slurp(at("plain")), bytes);
    EXPECT_EQ(qor_write_file_newlines(path("lines"), rec(bytes)), 0);
    EXPECT_EQ(slurp(at("lines")), std::string("a\nb\0c", 5));

    // Translation runs over chunks; the separator on either side of a chunk edge is converted.
    std::string many(10000, 'x');
    for (size_t i = 4094; i < 4099; i++) many[i] = '\x1f';
    many.back() = '\x1f';
    std::string want = many;
    std::replace(want.begin(), want.end(), '\x1f', '\n');
    EXPECT_EQ(write_file_newlines(path("many"), rec(many)), 0);
    EXPECT_EQ(slurp(at("many")), want);

    EXPECT_EQ(write_file(path("plain"), rec("")), 0);
    EXPECT_EQ(fs::file_size(at("plain")), 0u);
}

TEST_F(Files, WritersRefuseMissingArgumentsBeforeOpening) {
    put(at("keep"), "kept");
    QorString negative{const_cast<char*>("xyz"), -1, 0};
    for (auto writer : {qor_write_file, qor_write_file_newlines}) {
        EXPECT_EQ(writer(path("keep"), nullptr), -1);
        EXPECT_EQ(writer(path("keep"), &kNullData), -1);
        EXPECT_EQ(writer(path("keep"), &negative), -1);
        EXPECT_EQ(writer(nullptr, rec("x")), -1);
        EXPECT_EQ(writer(&kNullData, rec("x")), -1);
        EXPECT_EQ(writer(path("no/such/dir"), rec("x")), -1);
    }
    EXPECT_EQ(slurp(at("keep")), "kept");
}

// /dev/full accepts the open and the buffered write; only the flush at close fails.
TEST_F(Files, WritersReportBytesThatNeverReachedTheFile) {
    EXPECT_EQ(qor_write_file(rec("/dev/full"), rec("data")), -1);
    EXPECT_EQ(qor_write_file_newlines(rec("/dev/full"), rec("a\x1f")), -1);
    EXPECT_EQ(qor_append_file("/dev/full", "data"), -1);
    EXPECT_EQ(qor_write_file(rec("/dev/full"), rec(std::string(100000, 'f'))), -1);
}

// A writer to a FIFO whose reader leaves gets -1 and raises no SIGPIPE; a SIGPIPE that the
// caller already had pending stays pending.
TEST_F(Files, WritersToAPipeWithoutReaderFailQuietly) {
    Watchdog watchdog;
    static std::atomic<int> raised{0};
    struct sigaction counting {
    }, saved{};
    counting.sa_handler = [](int) { raised++; };
    sigaction(SIGPIPE, &counting, &saved);
    ASSERT_EQ(mkfifo(at("fifo").c_str(), 0600), 0);
    std::string big(1 << 20, 'w');
    QorString *fifo = path("fifo"), *data = rec(big);
    sigset_t pipe_only, old_mask;
    sigemptyset(&pipe_only);
    sigaddset(&pipe_only, SIGPIPE);
    for (int writer = 0; writer < 4; writer++) {
        if (writer == 3) {  // the first writer again, with the caller's own SIGPIPE held back
            pthread_sigmask(SIG_BLOCK, &pipe_only, &old_mask);
            raise(SIGPIPE);
        }
        std::thread reader([&] {  // takes a little and leaves
            int fd = open(at("fifo").c_str(), O_RDONLY);
            char some[16];
            EXPECT_EQ(read(fd, some, sizeof some), 16);
            close(fd);
        });
        int64_t result = writer == 1   ? qor_write_file_newlines(fifo, data)
                         : writer == 2 ? qor_append_file(at("fifo").c_str(), big.c_str())
                                       : qor_write_file(fifo, data);
        reader.join();
        EXPECT_EQ(result, -1) << writer;
    }
    pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);  // delivers the caller's SIGPIPE
    EXPECT_EQ(raised, 1);
    sigaction(SIGPIPE, &saved, nullptr);
}

TEST_F(Files, AppendCreatesThenExtends) {
    std::string p = at("log");
    EXPECT_EQ(qor_append_file(p.c_str(), "one\n"), 0);
    EXPECT_EQ(qor_append_file(p.c_str(), ""), 0);
    EXPECT_EQ(qor_append_file(p.c_str(), "two"), 0);
    EXPECT_EQ(slurp(p), "one\ntwo");
    EXPECT_EQ(qor_append_file(at("no/dir").c_str(), "x"), -1);
    EXPECT_EQ(qor_append_file(nullptr, "x"), -1);
    EXPECT_EQ(qor_append_file(p.c_str(), nullptr), -1);
    EXPECT_EQ(slurp(p), "one\ntwo");
}

TEST_F(Files, SizeAndExistenceQueries) {
    put(at("five"), std::string("ab\0cd", 5));
    EXPECT_EQ(qor_file_size(at("five").c_str()), 5);
    EXPECT_EQ(file_size(path("five")), 5);
    EXPECT_EQ(qor_file_size(at("absent").c_str()), -1);
    EXPECT_EQ(file_size(path("absent")), -1);
    EXPECT_EQ(qor_file_size(nullptr), -1);
    EXPECT_EQ(qor_file_size(dir_.c_str()), -1);
    EXPECT_EQ(file_size(nullptr), -1);
    // Only regular files have a size; a FIFO without a writer must not be waited on.
    EXPECT_EQ(qor_file_size("/dev/null"), -1);
    ASSERT_EQ(mkfifo(at("fifo").c_str(), 0600), 0);
    {
        Watchdog watchdog;
        EXPECT_EQ(qor_file_size(at("fifo").c_str()), -1);
        EXPECT_EQ(file_size(path("fifo")), -1);
    }

    EXPECT_EQ(qor_file_exists(path("five")), 1);
    EXPECT_EQ(qor_file_exists(rec(dir_)), 1);
    EXPECT_EQ(file_exists(path("absent")), 0);
    EXPECT_EQ(qor_file_exists(nullptr), 0);
    EXPECT_EQ(qor_file_exists(&kNullData), 0);
    EXPECT_EQ(qor_file_exists_cstr(dir_.c_str()), 1);
    EXPECT_EQ(file_exists_cstr(at("absent").c_str()), 0);
    EXPECT_EQ(qor_file_exists_cstr(nullptr), 0);

    EXPECT_EQ(qor_is_dir(rec(dir_)), 1);
    EXPECT_EQ(is_dir(path("five")), 0);
    EXPECT_EQ(qor_is_dir(path("absent")), 0);
    EXPECT_EQ(qor_is_dir(nullptr), 0);
}

TEST_F(Files, DeleteTakesFilesAndEmptyDirectoriesUnderEveryName) {
    for (auto del : {qor_delete_file, qor_remove_file, delete_file, remove_file}) {
        put(at("f"), "x");
        EXPECT_EQ(del(path("f")), 0);
        EXPECT_FALSE(fs::exists(at("f")));
        EXPECT_EQ(del(path("f")), -1);
    }
    fs::create_directories(at("d/inner"));
    EXPECT_EQ(qor_delete_file(path("d")), -1);
    EXPECT_EQ(qor_delete_file(path("d/inner")), 0);
    EXPECT_EQ(qor_delete_file(nullptr), -1);
    EXPECT_EQ(qor_delete_file(&kNullData), -1);
}

TEST_F(Files, MkdirCreatesEveryMissingParent) {
    EXPECT_EQ(qor_mkdir(path("a/b/c")), 0);
    EXPECT_TRUE(fs::is_directory(at("a/b/c")));
    EXPECT_EQ(qor_mkdir(path("a/b/c")), 0);
    EXPECT_EQ(make_dir(path("a/b/c/d/")), 0);
    EXPECT_TRUE(fs::is_directory(at("a/b/c/d")));
    EXPECT_EQ((fs::status(at("a/b")).permissions() & fs::perms::owner_all), fs::perms::owner_all);

    // A backslash cuts like a slash; on this platform each cut names a sibling directory.
    EXPECT_EQ(qor_mkdir(path("m\\n")), 0);
    EXPECT_TRUE(fs::is_directory(at("m")));
    EXPECT_TRUE(fs::is_directory(at("m\\n")));
    EXPECT_EQ(qor_mkdir(path("p\\q/r")), 0);
    EXPECT_TRUE(fs::is_directory(at("p")));
    EXPECT_TRUE(fs::is_directory(at("p\\q/r")));
}

TEST_F(Files, MkdirFailsWhenThePathIsNotADirectoryAfterwards) {
    put(at("plain"), "x");
    EXPECT_EQ(qor_mkdir(path("plain")), -1);
    EXPECT_EQ(qor_mkdir(path("plain/sub")), -1);
    EXPECT_EQ(qor_mkdir(rec("")), -1);
    EXPECT_EQ(qor_mkdir(nullptr), -1);
    EXPECT_EQ(qor_mkdir(&kNullData), -1);
    // Only len bytes are cut into prefixes, but the final check sees the whole text.
    std::string p = at("short/long");
    QorString truncated{p.data(), static_cast<int64_t>(p.size() - 5), 0};
    EXPECT_EQ(qor_mkdir(&truncated), -1);
    EXPECT_TRUE(fs::is_directory(at("short")));
    EXPECT_FALSE(fs::exists(at("short/long")));
}

TEST_F(Files, ListingJoinsNamesWithoutDotEntries) {
    for (const char* name : {"x", "y", "..a", ".hidden"}) put(at(name), "");
    fs::create_directory(at("sub"));
    QorString* listing = qor_readdir(rec(dir_));
    ASSERT_NE(listing, nullptr);
    EXPECT_TEXT(listing, text_of(listing));
    EXPECT_NE(text_of(listing).back(), '\n');
    EXPECT_EQ(lines_of(listing), (std::set<std::string>{"x", "y", "..a", ".hidden", "sub"}));

    EXPECT_FRESH_EMPTY(qor_readdir(path("sub")));
    EXPECT_FRESH_EMPTY(list_dir(path("absent")));
    EXPECT_FRESH_EMPTY(qor_readdir(path("x")));
    EXPECT_FRESH_EMPTY(qor_readdir(nullptr));
    EXPECT_FRESH_EMPTY(qor_readdir(&kNullData));
}

TEST_F(Files, ListingGrowsPastItsFirstBuffer) {
    std::set<std::string> want;
    for (int i = 0; i < 300; i++) {
        std::string name = "entry_with_a_long_name_" + std::to_string(i);
        put(at(name), "");
        want.insert(name);
    }
    QorString* listing = list_dir(rec(dir_));
    EXPECT_GT(listing->len, 4096);
    EXPECT_EQ(lines_of(listing), want);
    EXPECT_EQ(text_of(listing).size(), static_cast<size_t>(listing->len));
}

TEST_F(Files, RmdirRemovesOnlyEmptyDirectories) {
    fs::create_directories(at("full/inner"));
    put(at("file"), "x");
    EXPECT_EQ(qor_rmdir(path("full")), -1);
    EXPECT_EQ(qor_rmdir(path("file")), -1);
    EXPECT_EQ(qor_rmdir(path("absent")), -1);
    EXPECT_EQ(qor_rmdir(nullptr), -1);
    EXPECT_EQ(qor_rmdir(&kNullData), -1);
    EXPECT_EQ(remove_dir(path("full/inner")), 0);
    EXPECT_EQ(qor_rmdir(path("full")), 0);
    EXPECT_FALSE(fs::exists(at("full")));
}
