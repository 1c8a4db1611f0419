// Wrapping 64-bit integer steps shared by the runtime's numeric helpers and the compiled
// program's routines: header-only, nothing exported, no state. Sums, differences and products
// wrap modulo 2^64, so they are done on uint64_t and never overflow a signed type.
#ifndef QOR_CORE_INT_ARITH_H
#define QOR_CORE_INT_ARITH_H

#include <stdint.h>

namespace qor {

inline uint64_t to_u(int64_t x) { return static_cast<uint64_t>(x); }
inline int64_t to_s(uint64_t x) { return static_cast<int64_t>(x); }

inline int64_t wrap_add(int64_t a, int64_t b) { return to_s(to_u(a) + to_u(b)); }
inline int64_t wrap_sub(int64_t a, int64_t b) { return to_s(to_u(a) - to_u(b)); }
inline int64_t wrap_mul(int64_t a, int64_t b) { return to_s(to_u(a) * to_u(b)); }

// |x| as an unsigned number; INT64_MIN becomes 2^63 (and reads back as itself when signed).
inline uint64_t magnitude(int64_t x) { return x < 0 ? 0 - to_u(x) : to_u(x); }

// lo if x < lo; otherwise x if x < hi; otherwise hi. With lo > hi the lower bound wins below it.
inline int64_t clamp_lower_first(int64_t x, int64_t lo, int64_t hi) {
    if (x < lo) return lo;
    if (x < hi) return x;
    return hi;
}

// 1 when x > 0 and exactly one bit is set.
inline bool is_single_bit(int64_t x) { return x > 0 && (x & (x - 1)) == 0; }

// base^e modulo 2^64 by square-and-multiply; e = 0 gives 1.
inline uint64_t pow_wrapping(uint64_t base, uint64_t e) {
    uint64_t result = 1;
    while (e != 0) {
        if (e & 1) result *= base;
        base *= base;
        e >>= 1;
    }
    return result;
}

// The smallest power of two not below x for 1 <= x <= 2^63: the highest bit of x - 1 smeared
// into every lower bit, plus one. x = 0 wraps to 0; x above 2^63 wraps to 0.
inline uint64_t smear_to_power_of_two(uint64_t x) {
    uint64_t y = x - 1;
    y |= y >> 1;
    y |= y >> 2;
    y |= y >> 4;
    y |= y >> 8;
    y |= y >> 16;
    y |= y >> 32;
    return y + 1;
}

}  // namespace qor

#endif  // QOR_CORE_INT_ARITH_H
