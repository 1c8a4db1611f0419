// Entry of every test program. Death tests run in a re-executed child so that threads the
// parent started cannot interfere with the child's exit path.
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
