// Byte-level helpers shared by the text families: the occurrence scanner behind every substring
// search, count, replace and split, and a copy for the short pieces most texts are cut into.
// The scanners report exactly the positions that comparing the needle at every start in turn
// would; they only skip most of those comparisons. While the needle's first byte is rare (more
// than 64 bytes apart) they jump from one occurrence of it to the next with memchr and test
// each alone; while it is frequent they test 64 starts per step against the needle's first and
// last bytes, and compare the middle only there, until a step sees no first byte. So the cost per
// byte stays low at any density of matches, and no needle is preprocessed.
#ifndef QOR_TEXT_BYTE_SCAN_H
#define QOR_TEXT_BYTE_SCAN_H

#ifndef _GNU_SOURCE
#define _GNU_SOURCE 1  // memrchr
#endif
#include <emmintrin.h>
#include <stdint.h>
#include <string.h>

#include <cstddef>

namespace qor::text {

// Copies n bytes; up to 16 without a library call, as two overlapping moves.
inline void copy_bytes(char* dst, const char* src, size_t n) {
    if (n > 16) {
        memcpy(dst, src, n);
    } else if (n >= 8) {
        uint64_t head, tail;
        memcpy(&head, src, 8);
        memcpy(&tail, src + n - 8, 8);
        memcpy(dst, &head, 8);
        memcpy(dst + n - 8, &tail, 8);
    } else if (n >= 4) {
        uint32_t head, tail;
        memcpy(&head, src, 4);
        memcpy(&tail, src + n - 4, 4);
        memcpy(dst, &head, 4);
        memcpy(dst + n - 4, &tail, 4);
    } else if (n > 0) {
        dst[0] = src[0];
        dst[n / 2] = src[n / 2];
        dst[n - 1] = src[n - 1];
    }
}

// Copies the n bytes at src to dst and returns the offset of the first NUL among them, or n
// when there is none: one pass over the bytes where a copy and a separate scan would take two.
size_t copy_until_nul(char* dst, const char* src, size_t n);

namespace detail {

// Bit k is set when start + k could begin a match (the needle's first and last bytes agree
// there), for k from 0 to 63; *seen is non-zero when any of the 64 bytes at start is the
// needle's first byte. Reads [start, start + 64) and [start + m - 1, start + m + 63).
inline uint64_t candidates(const char* start, size_t m, __m128i first, __m128i last,
                           uint64_t* seen) {
    uint64_t cand = 0;
    uint64_t any = 0;
    for (size_t k = 0; k < 4; k++) {
        __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(start + 16 * k));
        __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(start + 16 * k + m - 1));
        __m128i at_first = _mm_cmpeq_epi8(a, first);
        any |= static_cast<unsigned>(_mm_movemask_epi8(at_first));
        auto both = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_and_si128(at_first, _mm_cmpeq_epi8(b, last))));
        cand |= static_cast<uint64_t>(both) << (16 * k);
    }
    *seen = any;
    return cand;
}

// The needle's bytes between its first and last agree at p (whose ends already agree).
inline bool middle_matches(const char* p, const char* needle, size_t m) {
    return m <= 2 || memcmp(p + 1, needle + 1, m - 2) == 0;
}

// The needle occurs at p.
inline bool matches_at(const char* p, const char* needle, size_t m) {
    return p[0] == needle[0] && p[m - 1] == needle[m - 1] && middle_matches(p, needle, m);
}

}  // namespace detail

// Calls on_match(p) for each non-overlapping occurrence of the m >= 1 bytes at needle in the n
// bytes at hay, left to right from start from: after a match at p the scan goes on at p + m,
// so "aaaa" holds two "aa". on_match returns false to end the scan.
template <typename OnMatch>
inline void scan_matches(const char* hay, size_t n, const char* needle, size_t m, size_t from,
                         OnMatch on_match) {
    if (m == 0 || m > n || from > n - m) return;
    const size_t last = n - m;  // the last start a match can have
    const __m128i first_byte = _mm_set1_epi8(needle[0]);
    const __m128i last_byte = _mm_set1_epi8(needle[m - 1]);
    size_t i = from;
    // Reports the matching candidates of the 64 starts from i, then moves i past them, or past
    // the last match when that reaches further. False when on_match ended the scan.
    auto report = [&](uint64_t cand) {
        size_t next = i + 64;
        while (cand != 0) {
            size_t p = i + static_cast<size_t>(__builtin_ctzll(cand));
            if (!detail::middle_matches(hay + p, needle, m)) {
                cand &= cand - 1;
                continue;
            }
            if (!on_match(p)) return false;
            next = p + m > next ? p + m : next;
            size_t skip = p + m - i;  // starts below i + skip lie inside this match
            cand = skip >= 64 ? 0 : cand & (~uint64_t{0} << skip);
        }
        i = next;
        return true;
    };
    for (;;) {
        if (i > last) return;
        const void* hit = memchr(hay + i, needle[0], last - i + 1);
        if (hit == nullptr) return;
        size_t p = static_cast<size_t>(static_cast<const char*>(hit) - hay);
        if (p - i >= 64) {  // the first byte is rare here: test this start alone
            i = p + 1;
            if (!detail::matches_at(hay + p, needle, m)) continue;
            if (!on_match(p)) return;
            i = p + m;
            continue;
        }
        i = p;
        uint64_t seen = 1;
        while (seen != 0 && i + 63 <= last) {  // the 64 starts from i are all possible
            uint64_t cand = detail::candidates(hay + i, m, first_byte, last_byte, &seen);
            if (!report(cand)) return;
        }
        if (seen != 0) break;  // fewer than 64 starts remain
    }
    for (; i <= last; i++) {
        if (!detail::matches_at(hay + i, needle, m)) continue;
        if (!on_match(i)) return;
        i += m - 1;
    }
}

// Index of the first occurrence of the m >= 1 bytes at needle at or after from, or -1.
inline int64_t find_first(const char* hay, size_t n, const char* needle, size_t m, size_t from) {
    int64_t found = -1;
    scan_matches(hay, n, needle, m, from, [&found](size_t p) {
        found = static_cast<int64_t>(p);
        return false;
    });
    return found;
}

// Index of the last occurrence of the m >= 1 bytes at needle, or -1: the mirror image of
// scan_matches, with memrchr and 64 starts per step going down.
inline int64_t find_last(const char* hay, size_t n, const char* needle, size_t m) {
    if (m == 0 || m > n) return -1;
    const __m128i first_byte = _mm_set1_epi8(needle[0]);
    const __m128i last_byte = _mm_set1_epi8(needle[m - 1]);
    size_t end = n - m + 1;  // the starts still to test are [0, end)
    for (;;) {
        const void* hit = memrchr(hay, needle[0], end);
        if (hit == nullptr) return -1;
        size_t p = static_cast<size_t>(static_cast<const char*>(hit) - hay);
        if (end - p > 64) {  // the first byte is rare here: test this start alone
            if (detail::matches_at(hay + p, needle, m)) return static_cast<int64_t>(p);
            end = p;
            if (end == 0) return -1;
            continue;
        }
        end = p + 1;
        uint64_t seen = 1;
        while (seen != 0 && end >= 64) {
            size_t i = end - 64;
            uint64_t cand = detail::candidates(hay + i, m, first_byte, last_byte, &seen);
            while (cand != 0) {
                unsigned bit = 63u - static_cast<unsigned>(__builtin_clzll(cand));
                if (detail::middle_matches(hay + i + bit, needle, m))
                    return static_cast<int64_t>(i + bit);
                cand &= ~(uint64_t{1} << bit);
            }
            end = i;
        }
        if (seen != 0 || end == 0) break;  // fewer than 64 starts remain
    }
    for (size_t p = end; p-- > 0;) {
        if (detail::matches_at(hay + p, needle, m)) return static_cast<int64_t>(p);
    }
    return -1;
}

}  // namespace qor::text

#endif  // QOR_TEXT_BYTE_SCAN_H
