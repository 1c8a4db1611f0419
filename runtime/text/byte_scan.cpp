// The fused copy-and-find-NUL behind texts whose length stops at their first NUL byte (joined
// text). With AVX2 it tests each 128 bytes for a zero while they pass through registers on
// their way to dst; without it, it copies and then scans. Whether the processor has AVX2 is
// asked once.
#include "text/byte_scan.h"

#include <immintrin.h>
#include <string.h>

namespace {

constexpr size_t kStep = 128;

__attribute__((target("avx2"))) size_t copy_until_nul_avx2(char* dst, const char* src, size_t n) {
    const __m256i zero = _mm256_setzero_si256();
    size_t i = 0;
    for (; i + kStep <= n; i += kStep) {
        __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i));
        __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i + 32));
        __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i + 64));
        __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i + 96));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), a);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i + 32), b);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i + 64), c);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i + 96), d);
        // The unsigned minimum of the four is zero in a lane exactly where one of them is.
        __m256i least = _mm256_min_epu8(_mm256_min_epu8(a, b), _mm256_min_epu8(c, d));
        if (_mm256_movemask_epi8(_mm256_cmpeq_epi8(least, zero)) != 0) {
            memcpy(dst + i + kStep, src + i + kStep, n - i - kStep);
            return i + strnlen(dst + i, kStep);
        }
    }
    memcpy(dst + i, src + i, n - i);
    return i + strnlen(dst + i, n - i);
}

size_t copy_then_scan(char* dst, const char* src, size_t n) {
    memcpy(dst, src, n);
    return strnlen(dst, n);
}

using CopyUntilNul = size_t (*)(char*, const char*, size_t);

CopyUntilNul choose() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") ? copy_until_nul_avx2 : copy_then_scan;
}

}  // namespace

// Chosen on first use, so a host's static constructors may already join text.
size_t qor::text::copy_until_nul(char* dst, const char* src, size_t n) {
    static const CopyUntilNul chosen = choose();
    return chosen(dst, src, n);
}
