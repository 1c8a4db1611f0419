// The compiled program's integer routines: statistics, scalar routines, the scrambler, and the
// wrapping, empty-input and overlap behaviour of the array routines.
#include <vector>

#include "test_support.h"

namespace {
const int64_t kData[] = {10, 20, 30, 40, 50};
const int64_t kWeights[] = {1, 2, 3, 4, 5};
}  // namespace

TEST(ProgramStats, FixedPointStatisticsOverOneArray) {
    EXPECT_EQ(qor_sum(kData, 5), 150);
    EXPECT_EQ(qor_mean_scaled(kData, 5), 30000);
    EXPECT_EQ(qor_c_min_val(kData, 5), 10);
    EXPECT_EQ(qor_c_max_val(kData, 5), 50);
    EXPECT_EQ(qor_range_val(kData, 5), 40);
    EXPECT_EQ(qor_variance_scaled(kData, 5), 200000000);
    EXPECT_EQ(qor_median_scaled(kData, 5), 30000);
    EXPECT_EQ(qor_dot_product(kData, kWeights, 5), 550);
    EXPECT_EQ(qor_weighted_sum(kData, kWeights, 5), 550);
    EXPECT_EQ(qor_magnitude_squared(kWeights, 5), 55);
    EXPECT_EQ(qor_dist_squared(kData, kWeights, 2), 81 + 324);
}

// Means truncate toward zero; the variance divides an unsigned sum, so a sum of squares above
// 2^63 still gives the right positive quotient.
TEST(ProgramStats, TruncationAndUnsignedVarianceDivision) {
    const int64_t neg[] = {-1, -2, 4};
    EXPECT_EQ(qor_mean_scaled(neg, 3), 333);
    EXPECT_EQ(qor_variance_scaled(neg, 3), 6888889);
    const int64_t neg_pair[] = {-1, -2};
    EXPECT_EQ(qor_mean_scaled(neg_pair, 2), -1500);
    const int64_t wide[] = {0, 4294968};
    EXPECT_EQ(qor_variance_scaled(wide, 2), 4611687530256000000);
    const int64_t even[] = {1, 2, 3, 4};
    EXPECT_EQ(qor_median_scaled(even, 4), 2500);
    EXPECT_EQ(qor_median_scaled(even, 3), 2000);
    EXPECT_EQ(qor_range_val(even, 1), 0);
    EXPECT_EQ(qor_c_min_val(even + 3, 1), 4);
}

// Sums and products wrap modulo 2^64 rather than overflowing.
TEST(ProgramStats, ArithmeticWraps) {
    const int64_t edge[] = {INT64_MAX, 1};
    EXPECT_EQ(qor_sum(edge, 2), INT64_MIN);
    EXPECT_EQ(qor_range_val(edge, 2), INT64_MAX - 1);
    const int64_t spread[] = {INT64_MIN, INT64_MAX};
    EXPECT_EQ(qor_range_val(spread, 2), -1);
    EXPECT_EQ(qor_magnitude_squared(spread, 2), 1);  // 2^126 wraps to 0, (2^63 - 1)^2 to 1
    int64_t out[2];
    qor_vec_scale(spread, 2, out, 2);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], -2);
}

// Every routine that needs an element answers 0 for n = 0 without reading or writing.
TEST(ProgramStats, EmptyInputReadsAndWritesNothing) {
    EXPECT_EQ(qor_sum(nullptr, 0), 0);
    EXPECT_EQ(qor_mean_scaled(nullptr, 0), 0);
    EXPECT_EQ(qor_variance_scaled(nullptr, 0), 0);
    EXPECT_EQ(qor_median_scaled(nullptr, 0), 0);
    EXPECT_EQ(qor_c_min_val(nullptr, 0), 0);
    EXPECT_EQ(qor_c_max_val(nullptr, 0), 0);
    EXPECT_EQ(qor_range_val(nullptr, 0), 0);
    EXPECT_EQ(qor_magnitude_squared(nullptr, 0), 0);
    EXPECT_EQ(qor_dot_product(nullptr, nullptr, 0), 0);
    EXPECT_EQ(qor_dist_squared(nullptr, nullptr, 0), 0);
    EXPECT_EQ(qor_cumsum(nullptr, nullptr, 0), 0);
    EXPECT_EQ(qor_moving_avg_scaled(nullptr, nullptr, 0, 2), 0);
    EXPECT_EQ(qor_array_copy(nullptr, nullptr, 0), 0);
    EXPECT_EQ(qor_vec_add(nullptr, nullptr, nullptr, 0), 0);
    EXPECT_EQ(qor_vec_sub(nullptr, nullptr, nullptr, 0), 0);
    EXPECT_EQ(qor_vec_scale(nullptr, 3, nullptr, 0), 0);
    EXPECT_EQ(qor_map_square(nullptr, nullptr, 0), 0);
    int64_t out[1] = {77};
    EXPECT_EQ(qor_moving_avg_scaled(kData, out, 5, 0), 0);
    EXPECT_EQ(out[0], 77);
}

TEST(ProgramArrays, CumsumAndMovingAverage) {
    const int64_t v[] = {1, 2, 3, 4};
    int64_t out[4] = {0, 0, 0, 0};
    EXPECT_EQ(qor_cumsum(v, out, 3), 6);
    EXPECT_EQ(std::vector<int64_t>(out, out + 4), (std::vector<int64_t>{1, 3, 6, 0}));

    int64_t avg[4] = {-9, -9, -9, -9};
    EXPECT_EQ(qor_moving_avg_scaled(v, avg, 4, 2), 3);
    EXPECT_EQ(std::vector<int64_t>(avg, avg + 4), (std::vector<int64_t>{1500, 2500, 3500, -9}));
    int64_t whole[2] = {-9, -9};
    EXPECT_EQ(qor_moving_avg_scaled(v, whole, 4, 6), -1);
    EXPECT_EQ(whole[0], 2500);
    EXPECT_EQ(whole[1], -9);
    EXPECT_EQ(qor_moving_avg_scaled(v, whole, 4, 4), 1);
    EXPECT_EQ(whole[0], 2500);
    const int64_t neg[] = {-1, 0, -2};
    EXPECT_EQ(qor_moving_avg_scaled(neg, avg, 3, 2), 2);
    EXPECT_EQ(avg[0], -500);
    EXPECT_EQ(avg[1], -1000);
}

TEST(ProgramArrays, ElementWiseRoutines) {
    const int64_t a[] = {5, -6, 7};
    const int64_t b[] = {1, 2, 3};
    int64_t out[3];
    EXPECT_EQ(qor_vec_add(a, b, out, 3), 0);
    EXPECT_EQ(std::vector<int64_t>(out, out + 3), (std::vector<int64_t>{6, -4, 10}));
    qor_vec_sub(a, b, out, 3);
    EXPECT_EQ(std::vector<int64_t>(out, out + 3), (std::vector<int64_t>{4, -8, 4}));
    qor_vec_scale(a, -2, out, 3);
    EXPECT_EQ(std::vector<int64_t>(out, out + 3), (std::vector<int64_t>{-10, 12, -14}));
    qor_map_square(a, out, 3);
    EXPECT_EQ(std::vector<int64_t>(out, out + 3), (std::vector<int64_t>{25, 36, 49}));
    EXPECT_EQ(qor_array_copy(b, out, 3), 0);
    EXPECT_EQ(std::vector<int64_t>(out, out + 3), (std::vector<int64_t>{1, 2, 3}));
}

// Overlapping output one slot ahead of the input sees each value just written, as a forward
// loop does (a memmove would give a different result).
TEST(ProgramArrays, OverlapBehavesAsForwardLoop) {
    int64_t a[] = {1, 2, 3, 4, 5};
    qor_array_copy(a, a + 1, 4);
    EXPECT_EQ(std::vector<int64_t>(a, a + 5), (std::vector<int64_t>{1, 1, 1, 1, 1}));
    int64_t c[] = {1, 0, 0, 0};
    const int64_t ones[] = {1, 1, 1};
    qor_vec_add(c, ones, c + 1, 3);
    EXPECT_EQ(std::vector<int64_t>(c, c + 4), (std::vector<int64_t>{1, 2, 3, 4}));
    int64_t d[] = {2, 0, 0};
    qor_map_square(d, d + 1, 2);
    EXPECT_EQ(std::vector<int64_t>(d, d + 3), (std::vector<int64_t>{2, 4, 16}));
}

TEST(ProgramScalar, AbsMinMaxClampSignLerp) {
    EXPECT_EQ(qor_c_abs(-7), 7);
    EXPECT_EQ(qor_c_abs(INT64_MIN), INT64_MIN);
    EXPECT_EQ(qor_c_min(-1, 1), -1);
    EXPECT_EQ(qor_c_max(-1, 1), 1);
    EXPECT_EQ(qor_c_clamp(5, 0, 10), 5);
    EXPECT_EQ(qor_c_clamp(10, 0, 10), 10);
    EXPECT_EQ(qor_c_clamp(5, 10, 0), 10);
    EXPECT_EQ(qor_c_clamp(12, 10, 0), 0);
    EXPECT_EQ(qor_sign(-7), -1);
    EXPECT_EQ(qor_sign(0), 0);
    EXPECT_EQ(qor_sign(INT64_MAX), 1);
    EXPECT_EQ(qor_lerp_scaled(0, 10, 0), 0);
    EXPECT_EQ(qor_lerp_scaled(0, 10, 500), 5);
    EXPECT_EQ(qor_lerp_scaled(0, 10, 1000), 10);
    EXPECT_EQ(qor_lerp_scaled(0, -10, 333), -3);
}

TEST(ProgramScalar, PowersAndPowerOfTwo) {
    EXPECT_EQ(qor_ipow(2, 20), 1048576);
    EXPECT_EQ(qor_ipow(0, 0), 1);
    EXPECT_EQ(qor_ipow(-9, 0), 1);
    EXPECT_EQ(qor_ipow(-1, 3), -1);
    EXPECT_EQ(qor_ipow(-2, 63), INT64_MIN);
    EXPECT_EQ(qor_ipow(2, 64), 0);
    EXPECT_EQ(qor_ipow(3, UINT64_MAX), -6148914691236517205);  // exponent -1 read as 2^64 - 1
    EXPECT_EQ(qor_c_is_power_of_two(1), 1);
    EXPECT_EQ(qor_c_is_power_of_two(64), 1);
    EXPECT_EQ(qor_c_is_power_of_two(6), 0);
    EXPECT_EQ(qor_c_is_power_of_two(0), 0);
    EXPECT_EQ(qor_c_is_power_of_two(INT64_MIN), 0);
    EXPECT_EQ(qor_c_next_power_of_two(0), 0);
    EXPECT_EQ(qor_c_next_power_of_two(1), 1);
    EXPECT_EQ(qor_c_next_power_of_two(5), 8);
    EXPECT_EQ(qor_c_next_power_of_two(64), 64);
    EXPECT_EQ(qor_c_next_power_of_two((int64_t{1} << 62) + 1), INT64_MIN);
    EXPECT_EQ(qor_c_next_power_of_two(INT64_MIN), INT64_MIN);
    EXPECT_EQ(qor_c_next_power_of_two(-5), 0);
}

TEST(ProgramScalar, SquareRootRoundsDown) {
    EXPECT_EQ(qor_sqrt(0), 0);
    EXPECT_EQ(qor_sqrt(1), 1);
    EXPECT_EQ(qor_sqrt(2), 1);
    EXPECT_EQ(qor_sqrt(143), 11);
    EXPECT_EQ(qor_sqrt(144), 12);
    EXPECT_EQ(qor_sqrt(4294967295ULL * 4294967295ULL), 4294967295);
    EXPECT_EQ(qor_sqrt(4294967295ULL * 4294967295ULL - 1), 4294967294);
    EXPECT_EQ(qor_sqrt(UINT64_MAX - 1), 4294967295);
    EXPECT_EQ(qor_sqrt(UINT64_MAX), 4294967295);  // no division by zero from the wrapped start
}

// Exact up to 20!, then modulo 2^64; from 66 on (negative n included) the product is 0 and the
// routine stops at once.
TEST(ProgramScalar, FactorialWrapsAndStopsAtZero) {
    EXPECT_EQ(qor_factorial(0), 1);
    EXPECT_EQ(qor_factorial(1), 1);
    EXPECT_EQ(qor_factorial(10), 3628800);
    EXPECT_EQ(qor_factorial(20), 2432902008176640000);
    EXPECT_EQ(qor_factorial(21), -4249290049419214848);
    EXPECT_EQ(qor_factorial(65), INT64_MIN);
    EXPECT_EQ(qor_factorial(66), 0);
    EXPECT_EQ(qor_factorial(INT64_MAX), 0);
    EXPECT_EQ(qor_factorial(-1), 0);
}

// The arithmetic right shifts matter for negative states; the product is returned unchanged.
TEST(ProgramRandom, ScramblerSequence) {
    EXPECT_EQ(qor_rand_seed(0), 1);
    EXPECT_EQ(qor_rand_seed(-5), -5);
    EXPECT_EQ(qor_rand_next(1), 5180492295206395165);
    EXPECT_EQ(qor_rand_next(0), 0);
    EXPECT_EQ(qor_rand_next(-1), 0);
    EXPECT_EQ(qor_rand_next(2), -8085759483296761286);
    EXPECT_EQ(qor_rand_next(-12345), -2288732966209416447);
    EXPECT_EQ(qor_rand_pos(2), 8085759483296761286);
    EXPECT_EQ(qor_rand_pos(1), 5180492295206395165);
    EXPECT_EQ(qor_rand_range(2, 10), 6);
    EXPECT_EQ(qor_rand_range(2, -1), 8085759483296761286);  // m read as 2^64 - 1
    EXPECT_EQ(qor_rand_range(2, 0), 0);
}
