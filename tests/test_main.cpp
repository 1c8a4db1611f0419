// Entry of every test program. Death tests run in a re-executed child so that threads the
// parent started cannot interfere with the child's exit path.
#include <gtest/gtest.h>

#if defined(__SANITIZE_ADDRESS__)
// Leak reports that are the runtime's memory model rather than leaks; everything else the
// runtime allocates (heap containers, handles, buffers it hands over) stays checked.
// - qor_alloc: values made while the arena is off belong to the program for good. Compiled
//   code never frees them one by one (only qor_string_free may), so a test that makes them
//   outside an arena leaves them behind as such a program does. Arena blocks of a thread that
//   ends without releasing its arena come this way too: only that thread may release them.
// - reg_cached_lookup: the registry cache keeps its maps and values for the whole process.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:qor_alloc\nleak:reg_cached_lookup\n";
}
#endif

int main(int argc, char** argv) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
