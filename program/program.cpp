// The compiled program: its entry function and its small library of exported integer routines.
// The routines touch no runtime state (no allocation, no output, no thread-locals). Every sum,
// difference and product wraps modulo 2^64, so the arithmetic is done on uint64_t and only the
// divisions and comparisons that the routines define as signed are done on int64_t. Counts are
// unsigned; a routine that needs at least one element returns 0 and writes nothing when n is 0.
// Routines that write an output array run index 0 upward, so overlapping input and output
// behave as that forward loop.
#include "core/int_arith.h"
#include "core/internal.h"

// Writes the program's eleven fixed results, one per line, and returns 0.
extern "C" QOR_API int64_t qor_user_main(void) {
    static constexpr int64_t kLines[] = {42, 12, 3628800, 1048576, 150, 30000, 10, 50, 40, 0, 550};
    for (int64_t value : kLines) qor_println_i64(value);
    return 0;
}

namespace {

constexpr uint64_t kScrambleMultiplier = 0x2545F4914F6CDD1DULL;

using qor::wrap_add;
using qor::wrap_mul;
using qor::wrap_sub;
inline uint64_t u(int64_t x) { return qor::to_u(x); }
inline int64_t s(uint64_t x) { return qor::to_s(x); }

// Signed division truncating toward zero. The one quotient that does not fit (INT64_MIN / -1,
// reachable only with a count of 2^64 - 1) wraps to INT64_MIN instead of trapping.
inline int64_t div_trunc(int64_t a, int64_t b) { return b == -1 ? wrap_sub(0, a) : a / b; }

// A scaled mean: value * scale / count, with the product wrapping and the division signed.
inline int64_t scaled_over(int64_t value, int64_t scale, uint64_t count) {
    return div_trunc(wrap_mul(value, scale), s(count));
}

int64_t sum_of(const int64_t* v, uint64_t n) {
    uint64_t total = 0;
    for (uint64_t i = 0; i < n; i++) total += u(v[i]);
    return s(total);
}

}  // namespace

// ---- Scalar routines -------------------------------------------------------------------------

// The 64-bit minimum has no positive counterpart and stays itself.
extern "C" QOR_API int64_t qor_c_abs(int64_t x) { return s(qor::magnitude(x)); }

extern "C" QOR_API int64_t qor_c_min(int64_t a, int64_t b) { return a < b ? a : b; }

extern "C" QOR_API int64_t qor_c_max(int64_t a, int64_t b) { return a > b ? a : b; }

// The lower bound wins: with lo > hi, x < lo gives lo and every other x gives hi.
extern "C" QOR_API int64_t qor_c_clamp(int64_t x, int64_t lo, int64_t hi) {
    return qor::clamp_lower_first(x, lo, hi);
}

extern "C" QOR_API int64_t qor_sign(int64_t x) { return (x > 0) - (x < 0); }

// Square-and-multiply; the exponent is unsigned, so a negative one handed over as a signed
// number runs all 64 rounds.
extern "C" QOR_API int64_t qor_ipow(int32_t base, uint64_t exponent) {
    return s(qor::pow_wrapping(u(base), exponent));
}

// Newton's iteration from (x + 1) / 2, rounded down. The all-ones value would start at 0 after
// the wrap; its root is 2^32 - 1.
extern "C" QOR_API int64_t qor_sqrt(uint64_t x) {
    if (x < 2) return s(x);
    if (x == UINT64_MAX) return 4294967295;
    uint64_t r = (x + 1) / 2;
    for (;;) {
        uint64_t y = (r + x / r) / 2;
        if (y >= r) return s(r);
        r = y;
    }
}

// n! modulo 2^64, n read as unsigned. 66! holds 64 factors of two, so the product becomes 0 by
// i = 66 at the latest and stays 0: the loop stops there, and n >= 66 (every negative n among
// them) answers 0 after at most 65 multiplications.
extern "C" QOR_API int64_t qor_factorial(int64_t n) {
    uint64_t limit = u(n);
    uint64_t product = 1;
    for (uint64_t i = 2; i <= limit && product != 0; i++) product *= i;
    return s(product);
}

// t is in thousandths: 0 gives a, 1000 gives b; the division truncates toward zero.
extern "C" QOR_API int64_t qor_lerp_scaled(int64_t a, int64_t b, int64_t t) {
    return wrap_add(a, wrap_mul(wrap_sub(b, a), t) / 1000);
}

extern "C" QOR_API int64_t qor_c_is_power_of_two(int64_t x) { return qor::is_single_bit(x); }

// Smears the highest set bit of x - 1 into every lower bit and adds one: 0 gives 0, values above
// 2^62 give 2^63 (INT64_MIN), other negative values give 0.
extern "C" QOR_API int64_t qor_c_next_power_of_two(int64_t x) {
    return s(qor::smear_to_power_of_two(u(x)));
}

// ---- Array routines --------------------------------------------------------------------------

extern "C" QOR_API int64_t qor_sum(const int64_t* v, uint64_t n) { return sum_of(v, n); }

// (sum * 1000) / n; 0 for an empty array.
extern "C" QOR_API int64_t qor_mean_scaled(const int64_t* v, uint64_t n) {
    if (n == 0) return 0;
    return scaled_over(sum_of(v, n), 1000, n);
}

// Population variance times 1,000,000: the squared deviations of v[i] * 1000 from the scaled
// mean, summed with wrapping and divided by n as unsigned numbers. 0 for an empty array.
extern "C" QOR_API int64_t qor_variance_scaled(const int64_t* v, uint64_t n) {
    if (n == 0) return 0;
    int64_t mean = scaled_over(sum_of(v, n), 1000, n);
    uint64_t squares = 0;
    for (uint64_t i = 0; i < n; i++) {
        uint64_t d = u(wrap_sub(wrap_mul(v[i], 1000), mean));
        squares += d * d;
    }
    return s(squares / n);
}

// Reads only the middle element (n odd) or the two middle elements (n even) of a sorted array.
// 0 for an empty array.
extern "C" QOR_API int64_t qor_median_scaled(const int64_t* v, uint64_t n) {
    if (n == 0) return 0;
    if (n % 2 == 1) return wrap_mul(v[n / 2], 1000);
    return wrap_mul(wrap_add(v[n / 2 - 1], v[n / 2]), 500);
}

// The smallest element; 0 for an empty array.
extern "C" QOR_API int64_t qor_c_min_val(const int64_t* v, uint64_t n) {
    if (n == 0) return 0;
    int64_t m = v[0];
    for (uint64_t i = 1; i < n; i++) m = v[i] < m ? v[i] : m;
    return m;
}

// The largest element; 0 for an empty array.
extern "C" QOR_API int64_t qor_c_max_val(const int64_t* v, uint64_t n) {
    if (n == 0) return 0;
    int64_t m = v[0];
    for (uint64_t i = 1; i < n; i++) m = v[i] > m ? v[i] : m;
    return m;
}

// Largest minus smallest, wrapping; 0 for fewer than two elements.
extern "C" QOR_API int64_t qor_range_val(const int64_t* v, uint64_t n) {
    if (n < 2) return 0;
    return wrap_sub(qor_c_max_val(v, n), qor_c_min_val(v, n));
}

extern "C" QOR_API int64_t qor_dot_product(const int64_t* a, const int64_t* b, uint64_t n) {
    uint64_t total = 0;
    for (uint64_t i = 0; i < n; i++) total += u(a[i]) * u(b[i]);
    return s(total);
}

// v[0]^2 + ... + v[n-1]^2; 0 for an empty array.
extern "C" QOR_API int64_t qor_magnitude_squared(const int64_t* v, uint64_t n) {
    return qor_dot_product(v, v, n);
}

extern "C" QOR_API int64_t qor_weighted_sum(const int64_t* values, const int64_t* weights,
                                            uint64_t n) {
    return qor_dot_product(values, weights, n);
}

extern "C" QOR_API int64_t qor_dist_squared(const int64_t* a, const int64_t* b, uint64_t n) {
    uint64_t total = 0;
    for (uint64_t i = 0; i < n; i++) {
        uint64_t d = u(a[i]) - u(b[i]);
        total += d * d;
    }
    return s(total);
}

// out[i] = v[0] + ... + v[i]; returns the total, 0 with nothing written for n = 0.
extern "C" QOR_API int64_t qor_cumsum(const int64_t* v, int64_t* out, uint64_t n) {
    uint64_t total = 0;
    for (uint64_t i = 0; i < n; i++) {
        total += u(v[i]);
        out[i] = s(total);
    }
    return s(total);
}

// Scaled means of every window of consecutive elements, returning n - window + 1. A window
// longer than the array gives one output, the scaled mean of the whole array, and a result of
// 0 or below; out needs room for max(1, n - window + 1) elements. n = 0 or window = 0 returns
// 0 and writes nothing.
extern "C" QOR_API int64_t qor_moving_avg_scaled(const int64_t* v, int64_t* out, uint64_t n,
                                                 uint64_t window) {
    if (n == 0 || window == 0) return 0;
    uint64_t first = window < n ? window : n;
    int64_t t = sum_of(v, first);
    out[0] = scaled_over(t, 1000, first);
    for (uint64_t i = 1; n > window && i <= n - window; i++) {
        t = wrap_add(wrap_sub(t, v[i - 1]), v[i + window - 1]);
        out[i] = scaled_over(t, 1000, window);
    }
    return s(n - window + 1);
}

extern "C" QOR_API int64_t qor_array_copy(const int64_t* src, int64_t* dst, uint64_t n) {
    for (uint64_t i = 0; i < n; i++) dst[i] = src[i];
    return 0;
}

extern "C" QOR_API int64_t qor_vec_add(const int64_t* a, const int64_t* b, int64_t* out,
                                       uint64_t n) {
    for (uint64_t i = 0; i < n; i++) out[i] = wrap_add(a[i], b[i]);
    return 0;
}

extern "C" QOR_API int64_t qor_vec_sub(const int64_t* a, const int64_t* b, int64_t* out,
                                       uint64_t n) {
    for (uint64_t i = 0; i < n; i++) out[i] = wrap_sub(a[i], b[i]);
    return 0;
}

extern "C" QOR_API int64_t qor_vec_scale(const int64_t* a, int64_t k, int64_t* out, uint64_t n) {
    for (uint64_t i = 0; i < n; i++) out[i] = wrap_mul(a[i], k);
    return 0;
}

extern "C" QOR_API int64_t qor_map_square(const int64_t* a, int64_t* out, uint64_t n) {
    for (uint64_t i = 0; i < n; i++) out[i] = wrap_mul(a[i], a[i]);
    return 0;
}

// ---- Pseudo-random scrambler (the caller keeps the state) ------------------------------------

// A zero state would never move, so 0 becomes 1.
extern "C" QOR_API int64_t qor_rand_seed(int64_t seed) { return seed == 0 ? 1 : seed; }

// The xorshift64* output step with arithmetic right shifts: the sign bit is copied into the
// vacated positions, so steps 1 and 3 clear bit 63 and -1 collapses to 0. Returns the product
// only; feeding it back as the next state is the caller's choice.
extern "C" QOR_API int64_t qor_rand_next(int64_t x) {
    x ^= x >> 12;
    x ^= s(u(x) << 25);
    x ^= x >> 27;
    return s(u(x) * kScrambleMultiplier);
}

// |qor_rand_next(x)|; the 64-bit minimum stays itself.
extern "C" QOR_API int64_t qor_rand_pos(int64_t x) { return qor_c_abs(qor_rand_next(x)); }

// qor_rand_pos(x) modulo m, both unsigned; 0 for m = 0.
extern "C" QOR_API int64_t qor_rand_range(int64_t x, int64_t m) {
    if (m == 0) return 0;
    return s(u(qor_rand_pos(x)) % u(m));
}
