// Numeric helpers: integer powers and bounds, primality over the whole signed range, bit
// counts, gcd, bit reversal, and the double conversions with their NaN and range rules.
#include <math.h>

#include <bit>
#include <limits>
#include <vector>

#include "test_support.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Sign bit and all: distinguishes 0.0 from -0.0.
bool same_bits(double a, double b) {
    return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b);
}

// Primality of every n in [lo, lo + count) by a segmented sieve, independent of the code tested.
std::vector<bool> sieve_window(uint64_t lo, uint64_t count) {
    uint64_t limit = static_cast<uint64_t>(sqrt(static_cast<double>(lo + count))) + 2;
    std::vector<bool> small(limit + 1, true);
    std::vector<bool> window(count, true);
    for (uint64_t i = 0; i < count; i++) window[i] = lo + i >= 2;
    for (uint64_t p = 2; p <= limit; p++) {
        if (!small[p]) continue;
        for (uint64_t q = p * p; q <= limit; q += p) small[q] = false;
        uint64_t start = lo <= p * p ? p * p : (lo + p - 1) / p * p;
        for (uint64_t q = start; q < lo + count; q += p) window[q - lo] = false;
    }
    return window;
}

void expect_primes_match_sieve(uint64_t lo, uint64_t count) {
    std::vector<bool> want = sieve_window(lo, count);
    for (uint64_t i = 0; i < count; i++) {
        ASSERT_EQ(qor_is_prime(static_cast<int64_t>(lo + i)), want[i] ? 1 : 0) << "n = " << lo + i;
    }
}

}  // namespace

TEST(NumericInt, MinMaxAbsClampAndTheirSecondNames) {
    EXPECT_EQ(qor_abs(-3), 3);
    EXPECT_EQ(qor_abs(INT64_MIN), INT64_MIN);
    EXPECT_EQ(qor_min(INT64_MIN, 0), INT64_MIN);
    EXPECT_EQ(qor_max(INT64_MIN, 0), 0);
    EXPECT_EQ(min(4, -4), -4);
    EXPECT_EQ(max(4, -4), 4);
    EXPECT_EQ(qor_clamp(5, 10, 0), 10);
    EXPECT_EQ(qor_clamp(12, 10, 0), 0);
    EXPECT_EQ(qor_clamp(7, 0, 10), 7);
    EXPECT_EQ(qor_clamp_i64(-1, 0, 10), 0);
    EXPECT_EQ(qor_clamp_i64(11, 0, 10), 10);
}

TEST(NumericInt, PowerWrapsAndRejectsNegativeExponent) {
    EXPECT_EQ(qor_pow(2, 10), 1024);
    EXPECT_EQ(qor_pow(2, -1), 0);
    EXPECT_EQ(qor_pow(0, 0), 1);
    EXPECT_EQ(qor_pow(0, 5), 0);
    EXPECT_EQ(qor_pow(3, 40), -6289078614652622815);
    EXPECT_EQ(qor_pow(-2, 63), INT64_MIN);
    EXPECT_EQ(qor_pow(5000000000, 1), 5000000000);  // the base keeps all 64 bits
    EXPECT_EQ(qor_pow_i64(-3, 3), -27);
    EXPECT_EQ(qor_pow_i64(7, INT64_MIN), 0);
}

TEST(NumericInt, PowersOfTwo) {
    EXPECT_EQ(qor_is_power_of_two(1), 1);
    EXPECT_EQ(qor_is_power_of_two(int64_t{1} << 62), 1);
    EXPECT_EQ(qor_is_power_of_two(0), 0);
    EXPECT_EQ(qor_is_power_of_two(12), 0);
    EXPECT_EQ(qor_is_power_of_two(INT64_MIN), 0);
    EXPECT_EQ(qor_next_power_of_two(-5), 1);
    EXPECT_EQ(qor_next_power_of_two(INT64_MIN), 1);
    EXPECT_EQ(qor_next_power_of_two(0), 1);
    EXPECT_EQ(qor_next_power_of_two(1), 1);
    EXPECT_EQ(qor_next_power_of_two(2), 2);
    EXPECT_EQ(qor_next_power_of_two(5), 8);
    EXPECT_EQ(qor_next_power_of_two(1025), 2048);
    EXPECT_EQ(qor_next_power_of_two((int64_t{1} << 62) + 1), INT64_MIN);
}

TEST(NumericPrime, SmallValuesAndEveryNumberBelowTwoHundredThousand) {
    for (int64_t n : {-7, 0, 1, 4, 9, 25, 49}) EXPECT_EQ(qor_is_prime(n), 0) << n;
    for (int64_t n : {2, 3, 5, 23, 29, 97}) EXPECT_EQ(qor_is_prime(n), 1) << n;
    EXPECT_EQ(qor_is_prime(INT64_MIN), 0);
    expect_primes_match_sieve(0, 200000);
}

// Around the switch from trial division to the strong test, and at the top of the range where
// the squared loop bound would leave the signed range.
TEST(NumericPrime, LargeValuesAnswerExactlyAndQuickly) {
    expect_primes_match_sieve((uint64_t{1} << 32) - 4000, 8000);
    EXPECT_EQ(qor_is_prime(4294967291), 1);           // largest prime below 2^32
    EXPECT_EQ(qor_is_prime(4294967311), 1);           // smallest prime above 2^32
    EXPECT_EQ(qor_is_prime(3215031751), 0);           // strong pseudoprime to bases 2, 3, 5 and 7
    EXPECT_EQ(qor_is_prime(3825123056546413051), 0);  // strong pseudoprime to bases 2 to 23
    EXPECT_EQ(qor_is_prime(9223371994482243049), 0);  // 3037000493 squared
    EXPECT_EQ(qor_is_prime(9223372036854775783), 1);  // largest prime below 2^63
    EXPECT_EQ(qor_is_prime(INT64_MAX), 0);
    EXPECT_EQ(qor_is_prime(2305843009213693951), 1);  // 2^61 - 1
    EXPECT_EQ(qor_is_prime(int64_t{1000000007} * 998244353), 0);
}

TEST(NumericBits, CountsAndReversal) {
    EXPECT_EQ(qor_popcount(0), 0);
    EXPECT_EQ(qor_popcount(-1), 64);
    EXPECT_EQ(qor_popcount(INT64_MIN), 1);
    EXPECT_EQ(qor_popcount(0x0F0F), 8);
    EXPECT_EQ(qor_clz(0), 64);
    EXPECT_EQ(qor_clz(1), 63);
    EXPECT_EQ(qor_clz(-1), 0);
    EXPECT_EQ(qor_clz(0x10000), 47);
    EXPECT_EQ(qor_ctz(0), 64);
    EXPECT_EQ(qor_ctz(INT64_MIN), 63);
    EXPECT_EQ(qor_ctz(0x10000), 16);
    EXPECT_EQ(qor_bit_reverse(1), INT64_MIN);
    EXPECT_EQ(qor_bit_reverse(-1), -1);
    EXPECT_EQ(qor_bit_reverse(0), 0);
    EXPECT_EQ(qor_bit_reverse(0x0123456789ABCDEF), static_cast<int64_t>(0xF7B3D591E6A2C480ULL));
    EXPECT_EQ(qor_bit_reverse(qor_bit_reverse(0x5DEECE66D)), 0x5DEECE66D);
}

TEST(NumericInt, GreatestCommonDivisor) {
    EXPECT_EQ(qor_gcd_i64(-12, 18), 6);
    EXPECT_EQ(qor_gcd_i64(18, -12), 6);
    EXPECT_EQ(qor_gcd_i64(0, -7), 7);
    EXPECT_EQ(qor_gcd_i64(-7, 0), 7);
    EXPECT_EQ(qor_gcd_i64(0, 0), 0);
    EXPECT_EQ(qor_gcd_i64(17, 5), 1);
    EXPECT_EQ(qor_gcd_i64(INT64_MIN, 6), 2);
    EXPECT_EQ(qor_gcd_i64(INT64_MIN, 0), INT64_MIN);  // 2^63 read as signed
}

TEST(NumericDouble, ConversionToIntegerTruncatesOrGivesMinimum) {
    EXPECT_EQ(qor_f64_to_i64(-2.7), -2);
    EXPECT_EQ(qor_f64_to_i64(2.7), 2);
    EXPECT_EQ(qor_f64_to_i64(-0.5), 0);
    EXPECT_EQ(qor_f64_to_i64(kNaN), INT64_MIN);
    EXPECT_EQ(qor_f64_to_i64(1e19), INT64_MIN);
    EXPECT_EQ(qor_f64_to_i64(-1e19), INT64_MIN);
    EXPECT_EQ(qor_f64_to_i64(9223372036854775808.0), INT64_MIN);  // 2^63: just out of range
    EXPECT_EQ(qor_f64_to_i64(9223372036854774784.0), 9223372036854774784);
    EXPECT_EQ(qor_f64_to_i64(-9223372036854775808.0), INT64_MIN);
    EXPECT_EQ(qor_f64_to_i64(-std::numeric_limits<double>::infinity()), INT64_MIN);
    EXPECT_EQ(qor_f64_to_int(-3.9), -3);
    EXPECT_EQ(qor_i64_to_f64(-5), -5.0);
    EXPECT_EQ(qor_i64_to_f64(9007199254740993), 9007199254740992.0);  // tie to even
    EXPECT_EQ(qor_i64_to_f64(9007199254740995), 9007199254740996.0);
}

TEST(NumericDouble, MathPassThroughs) {
    EXPECT_EQ(qor_f64_floor(-1.5), -2.0);
    EXPECT_EQ(qor_f64_ceil(-1.5), -1.0);
    EXPECT_EQ(qor_f64_round(2.5), 3.0);
    EXPECT_EQ(qor_f64_round(-2.5), -3.0);
    EXPECT_EQ(qor_f64_round(0.49999999999999994), 0.0);
    EXPECT_EQ(qor_f64_sqrt(2.25), 1.5);
    EXPECT_EQ(qor_f64_is_nan(qor_f64_sqrt(-1.0)), 1);
    EXPECT_EQ(qor_f64_is_nan(0.0), 0);
    EXPECT_EQ(qor_f64_is_nan(std::numeric_limits<double>::infinity()), 0);
    EXPECT_TRUE(same_bits(qor_f64_abs(-0.0), 0.0));
    EXPECT_EQ(qor_f64_abs(-3.5), 3.5);
    EXPECT_FALSE(signbit(qor_f64_abs(-kNaN)));
    EXPECT_EQ(pow_f64(2.0, 0.5), sqrt(2.0));
    EXPECT_EQ(pow_f64(-8.0, 3.0), -512.0);
}

// The comparison decides: a NaN on either side, or equal operands, give the second argument.
TEST(NumericDouble, MinMaxFollowTheComparison) {
    EXPECT_EQ(qor_f64_min(1.0, 2.0), 1.0);
    EXPECT_EQ(qor_f64_max(1.0, 2.0), 2.0);
    EXPECT_EQ(qor_f64_min(kNaN, 2.0), 2.0);
    EXPECT_EQ(qor_f64_max(kNaN, 2.0), 2.0);
    EXPECT_EQ(qor_f64_is_nan(qor_f64_min(2.0, kNaN)), 1);
    EXPECT_EQ(qor_f64_is_nan(qor_f64_max(2.0, kNaN)), 1);
    EXPECT_TRUE(same_bits(qor_f64_min(-0.0, 0.0), 0.0));
    EXPECT_TRUE(same_bits(qor_f64_min(0.0, -0.0), -0.0));
    EXPECT_TRUE(same_bits(qor_f64_max(-0.0, 0.0), 0.0));
    EXPECT_TRUE(same_bits(qor_f64_max(0.0, -0.0), -0.0));
}
