// Numeric helpers for compiled code: integer min, max, clamp, powers, primality, bit counts,
// gcd and bit reversal, integer/double conversions and pass-throughs to the math library.
// Nothing here keeps state or allocates. Integer products wrap modulo 2^64 (done on uint64_t);
// truth values are 0 or 1.
#include <math.h>

#include <bit>

#include "core/int_arith.h"
#include "core/internal.h"

namespace {

using qor::magnitude;
inline uint64_t u(int64_t x) { return qor::to_u(x); }
inline int64_t s(uint64_t x) { return qor::to_s(x); }

// Below this bound trial division needs at most about 11,000 steps; above it the strong
// probable-prime test answers in at most about 1,500 modular multiplications.
constexpr uint64_t kTrialDivisionLimit = uint64_t{1} << 32;

// floor(sqrt(n)) for n < 2^63: the double estimate corrected by at most a step either way.
uint64_t isqrt(uint64_t n) {
    auto r = static_cast<uint64_t>(sqrt(static_cast<double>(n)));
    while (r * r > n) r--;
    while ((r + 1) * (r + 1) <= n) r++;
    return r;
}

// Trial division by 6k - 1 and 6k + 1 up to sqrt(n), for odd n >= 25 not divisible by 3. The
// loop compares i + 6 with the integer root instead of squaring i + 6, so no square is formed
// that could leave the 64-bit range.
bool prime_by_trial_division(uint64_t n) {
    uint64_t root = isqrt(n);
    for (uint64_t i = 5;; i += 6) {
        if (n % i == 0 || n % (i + 2) == 0) return false;
        if (i + 6 > root) return true;
    }
}

uint64_t mul_mod(uint64_t a, uint64_t b, uint64_t m) {
    return static_cast<uint64_t>(static_cast<unsigned __int128>(a) * b % m);
}

uint64_t pow_mod(uint64_t base, uint64_t e, uint64_t m) {
    uint64_t result = 1;
    base %= m;
    while (e != 0) {
        if (e & 1) result = mul_mod(result, base, m);
        base = mul_mod(base, base, m);
        e >>= 1;
    }
    return result;
}

// Miller-Rabin with the first twelve primes as bases, which is exact (no pseudoprimes) for
// every n below 3.3 * 10^24 and so for every odd n >= 2^32 that reaches it.
bool prime_by_strong_test(uint64_t n) {
    static constexpr uint64_t kBases[] = {2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31, 37};
    uint64_t d = n - 1;
    int rounds = 0;
    while ((d & 1) == 0) {
        d >>= 1;
        rounds++;
    }
    for (uint64_t a : kBases) {
        uint64_t x = pow_mod(a, d, n);
        if (x == 1 || x == n - 1) continue;
        bool witness = true;
        for (int r = 1; r < rounds && witness; r++) {
            x = mul_mod(x, x, n);
            if (x == n - 1) witness = false;
        }
        if (witness) return false;
    }
    return true;
}

}  // namespace

// ---- Integer operations ----------------------------------------------------------------------

// The 64-bit minimum has no positive counterpart and stays itself.
extern "C" QOR_API int64_t qor_abs(int64_t x) { return s(magnitude(x)); }

extern "C" QOR_API int64_t qor_min(int64_t a, int64_t b) { return a < b ? a : b; }

extern "C" QOR_API int64_t qor_max(int64_t a, int64_t b) { return a > b ? a : b; }

// The lower bound wins: with lo > hi, x < lo gives lo and every other x gives hi.
extern "C" QOR_API int64_t qor_clamp(int64_t x, int64_t lo, int64_t hi) {
    return qor::clamp_lower_first(x, lo, hi);
}

// Square-and-multiply modulo 2^64; a negative exponent gives 0.
extern "C" QOR_API int64_t qor_pow(int64_t base, int64_t exponent) {
    if (exponent < 0) return 0;
    return s(qor::pow_wrapping(u(base), u(exponent)));
}

extern "C" QOR_API int32_t qor_is_power_of_two(int64_t x) { return qor::is_single_bit(x); }

// 1 for every x below 2; otherwise the highest bit of x - 1 smeared down, plus one. Values above
// 2^62 give 2^63, which reads as INT64_MIN.
extern "C" QOR_API int64_t qor_next_power_of_two(int64_t x) {
    if (x < 2) return 1;
    return s(qor::smear_to_power_of_two(u(x)));
}

// Exact for every n: 2, 3 and multiples of them first, then trial division for n below 2^32 and
// the strong probable-prime test above (both give the same answer; the test is fast where
// trial division would take hundreds of millions of steps).
extern "C" QOR_API int32_t qor_is_prime(int64_t n) {
    if (n < 2) return 0;
    if (n == 2 || n == 3) return 1;
    if (n % 2 == 0 || n % 3 == 0) return 0;
    if (n < 25) return 1;
    if (u(n) < kTrialDivisionLimit) return prime_by_trial_division(u(n));
    return prime_by_strong_test(u(n));
}

extern "C" QOR_API int64_t qor_popcount(int64_t x) { return std::popcount(u(x)); }

// 64 for 0.
extern "C" QOR_API int64_t qor_clz(int64_t x) { return std::countl_zero(u(x)); }

// 64 for 0.
extern "C" QOR_API int64_t qor_ctz(int64_t x) { return std::countr_zero(u(x)); }

// Euclid on the magnitudes; gcd(a, 0) = |a|, gcd(0, 0) = 0. gcd(INT64_MIN, 0) and
// gcd(INT64_MIN, INT64_MIN) are 2^63, which reads back as INT64_MIN.
extern "C" QOR_API int64_t qor_gcd_i64(int64_t a, int64_t b) {
    uint64_t x = magnitude(a);
    uint64_t y = magnitude(b);
    while (y != 0) {
        uint64_t r = x % y;
        x = y;
        y = r;
    }
    return s(x);
}

// Bytes swapped, then nibbles within bytes, pairs within nibbles and bits within pairs.
extern "C" QOR_API int64_t qor_bit_reverse(int64_t x) {
    uint64_t y = __builtin_bswap64(u(x));
    y = ((y >> 4) & 0x0F0F0F0F0F0F0F0FULL) | ((y & 0x0F0F0F0F0F0F0F0FULL) << 4);
    y = ((y >> 2) & 0x3333333333333333ULL) | ((y & 0x3333333333333333ULL) << 2);
    y = ((y >> 1) & 0x5555555555555555ULL) | ((y & 0x5555555555555555ULL) << 1);
    return s(y);
}

// ---- Conversions and double operations -------------------------------------------------------

// The nearest double, ties to even.
extern "C" QOR_API double qor_i64_to_f64(int64_t x) { return static_cast<double>(x); }

// Truncates toward zero; NaN and anything whose truncation leaves [-2^63, 2^63) give INT64_MIN.
// The double just below -2^63 is -2^63 - 2048, so x >= -2^63 is the whole lower bound.
extern "C" QOR_API int64_t qor_f64_to_i64(double x) {
    if (!(x >= -9223372036854775808.0 && x < 9223372036854775808.0)) return INT64_MIN;
    return static_cast<int64_t>(x);
}

extern "C" QOR_API double qor_f64_floor(double x) { return floor(x); }

extern "C" QOR_API double qor_f64_ceil(double x) { return ceil(x); }

// Halfway cases away from zero: 2.5 gives 3, -2.5 gives -3.
extern "C" QOR_API double qor_f64_round(double x) { return round(x); }

// NaN for x < 0 and for NaN, as the math library gives.
extern "C" QOR_API double qor_f64_sqrt(double x) { return sqrt(x); }

// Clears the sign bit, also of NaN and -0.0.
extern "C" QOR_API double qor_f64_abs(double x) { return fabs(x); }

extern "C" QOR_API int32_t qor_f64_is_nan(double x) { return __builtin_isnan(x) ? 1 : 0; }

// a if a < b, else b: a NaN on either side gives b, and min(-0.0, 0.0) is 0.0.
extern "C" QOR_API double qor_f64_min(double a, double b) { return a < b ? a : b; }

// a if a > b, else b: a NaN on either side gives b, and max(0.0, -0.0) is -0.0.
extern "C" QOR_API double qor_f64_max(double a, double b) { return a > b ? a : b; }

extern "C" QOR_API double pow_f64(double base, double exponent) { return pow(base, exponent); }

// Second names with the same body.
QOR_PLAIN_ALIAS(min, qor_min);
QOR_PLAIN_ALIAS(max, qor_max);
QOR_PLAIN_ALIAS(qor_clamp_i64, qor_clamp);
QOR_PLAIN_ALIAS(qor_pow_i64, qor_pow);
QOR_PLAIN_ALIAS(qor_f64_to_int, qor_f64_to_i64);
