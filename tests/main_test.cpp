// The image end to end, and the per-thread command-line arguments.
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "test_support.h"

namespace {

// Runs a shell command and returns its standard output; status gets the exit status.
std::string run(const std::string& command, int* status) {
    FILE* p = popen(command.c_str(), "r");
    std::string out;
    char buffer[256];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
    int raw = pclose(p);
    *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return out;
}

}  // namespace

TEST(Image, PrintsItsElevenLinesAndExitsZero) {
    int status = -1;
    std::string err_file = testing::TempDir() + "qor_image_stderr." + std::to_string(getpid());
    std::string out = run(std::string(QOR_IMAGE_PATH) + " 2>" + err_file, &status);
    EXPECT_EQ(out, "42\n12\n3628800\n1048576\n150\n30000\n10\n50\n40\n0\n550\n");
    EXPECT_EQ(status, 0);
    FILE* err = fopen(err_file.c_str(), "r");
    ASSERT_NE(err, nullptr);
    EXPECT_EQ(fgetc(err), EOF);  // nothing on standard error
    fclose(err);
    remove(err_file.c_str());
}

TEST(Arguments, StoredPerThreadAndCopiedEachTime) {
    char prog[] = "/path/to/prog";
    char spaced[] = "two words \xC3\xA9";
    char* argv[] = {prog, spaced, nullptr, nullptr};
    qor_init_runtime(3, argv);
    EXPECT_EQ(g_arena_enabled, 1);
    EXPECT_EQ(qor_arg_count(), 3);
    EXPECT_EQ(arg_count(), 3);
    EXPECT_TEXT(qor_get_arg(0), "/path/to/prog");
    EXPECT_TEXT(get_arg(1), "two words \xC3\xA9");
    EXPECT_NE(qor_get_arg(1), qor_get_arg(1));
    EXPECT_FRESH_EMPTY(qor_get_arg(2));  // a null entry
    EXPECT_FRESH_EMPTY(qor_get_arg(3));
    EXPECT_FRESH_EMPTY(qor_get_arg(-1));
    std::thread([] {
        EXPECT_EQ(qor_arg_count(), 0);
        EXPECT_FRESH_EMPTY(qor_get_arg(0));
        qor_arena_destroy();
    }).join();
    qor_arena_destroy();
}
