// Exact byte-pattern search for ScanTo and ScanBackTo, linear in the worst
// case, allocating nothing.
//
// Ordinary data goes through a filter on the pattern's first and last byte
// (sixteen candidates at a time with SSE2, memchr elsewhere) and one full
// comparison per candidate. That is the fastest way while candidates are rare,
// but on self-similar data (32,000 zeros around one other byte, searched in
// zeros) every position is a candidate that costs half the pattern. So each
// full comparison is charged at the pattern's length against an allowance that
// grows with the bytes passed; once the allowance is spent, the rest of the
// range goes to Two-Way (Crochemore and Perrin, 1991), which keeps a few
// integers, reads about 2k pattern bytes to factorise the pattern and then
// compares at most 2n text bytes. Two-Way alone would be slower on ordinary
// data: it cannot skip sixteen bytes at a time.
//
// Backwards is the same search over the range and the pattern read back to
// front: the first match there is the last one here, so the results are the
// plain scans' (the first match wholly inside the range, or the one ending
// last) and no byte outside the range is read.
//
// Tally counts byte comparisons for the tests (a full comparison counts as
// its whole length); the library passes NoTally, which compiles to nothing.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace Korvan::search {

struct NoTally {
    void operator()(std::ptrdiff_t) const {}
};

// The allowance: full comparisons may cost this many bytes per byte passed,
// plus a start-up sum, before Two-Way takes over. A filter that lets through
// one candidate in every k / 4 bytes is already worse than Two-Way's pace.
inline constexpr std::ptrdiff_t kChargePerBytePassed = 4;
inline constexpr std::ptrdiff_t kFreeCharge = 64 * 1024;

// Byte i of a range read front to back, or back to front from its last byte.
struct Ahead {
    const unsigned char* first;
    unsigned char operator[](std::ptrdiff_t i) const { return first[i]; }
};
struct Behind {
    const unsigned char* last;
    unsigned char operator[](std::ptrdiff_t i) const { return last[-i]; }
};

// Start of the maximal suffix of x[0..m-1] (as its index minus one) under the
// byte order, or under its reverse when `reversed`; `period` gets that
// suffix's period.
template <class Pattern, class Tally>
std::ptrdiff_t maximalSuffix(const Pattern& x, std::ptrdiff_t m, bool reversed, std::ptrdiff_t& period,
                             Tally& tally) {
    std::ptrdiff_t before = -1, j = 0, k = 1;
    period = 1;
    while (j + k < m) {
        const unsigned char a = x[j + k], b = x[before + k];
        tally(1);
        if (a == b) {
            if (k != period) {
                ++k;
            } else {
                j += period;
                k = 1;
            }
        } else if ((a < b) != reversed) {
            j += k;
            k = 1;
            period = j - before;
        } else {
            before = j;
            j = before + 1;
            k = period = 1;
        }
    }
    return before;
}

// First j in 0..n-m where y[j..j+m-1] equals x, or -1. Reads y[0..n-1] only.
template <class Text, class Pattern, class Tally>
std::ptrdiff_t twoWay(const Text& y, std::ptrdiff_t n, const Pattern& x, std::ptrdiff_t m, Tally& tally) {
    std::ptrdiff_t period = 0, reversedPeriod = 0;
    const std::ptrdiff_t plain = maximalSuffix(x, m, false, period, tally);
    const std::ptrdiff_t other = maximalSuffix(x, m, true, reversedPeriod, tally);
    // The critical factorisation: x = u v with u = x[0..cut].
    const std::ptrdiff_t cut = std::max(plain, other);
    if (other > plain) period = reversedPeriod;
    std::ptrdiff_t t = 0;
    while (t <= cut && x[t] == x[t + period]) ++t;
    tally(t + 1);

    if (t > cut) {
        // u is a suffix of v's period: after a match of the right part, the
        // bytes below `memory` are known to match and are not compared again.
        std::ptrdiff_t memory = -1;
        for (std::ptrdiff_t j = 0; j <= n - m;) {
            const std::ptrdiff_t from = std::max(cut, memory) + 1;
            std::ptrdiff_t i = from;
            while (i < m && x[i] == y[i + j]) ++i;
            tally(i - from + 1);
            if (i < m) {
                j += i - cut;
                memory = -1;
                continue;
            }
            i = cut;
            while (i > memory && x[i] == y[i + j]) --i;
            tally(cut - i + 1);
            if (i <= memory) return j;
            j += period;
            memory = m - period - 1;
        }
        return -1;
    }
    const std::ptrdiff_t shift = std::max(cut + 1, m - cut - 1) + 1;
    for (std::ptrdiff_t j = 0; j <= n - m;) {
        std::ptrdiff_t i = cut + 1;
        while (i < m && x[i] == y[i + j]) ++i;
        tally(i - cut);
        if (i < m) {
            j += i - cut;
            continue;
        }
        i = cut;
        while (i >= 0 && x[i] == y[i + j]) --i;
        tally(cut - i + 1);
        if (i < 0) return j;
        j += shift;
    }
    return -1;
}

#if defined(__SSE2__)
inline constexpr std::ptrdiff_t kLanes = 16;

// Bit j of the answer is set when data[at + j] == first and
// data[at + j + span] == last, for j in 0..15. Reads data[at .. at + span + 15].
inline unsigned pairMask(const unsigned char* data, std::ptrdiff_t at, std::ptrdiff_t span, __m128i first,
                         __m128i last) {
    const __m128i head = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
    const __m128i tail = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at + span));
    return static_cast<unsigned>(
        _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(head, first), _mm_cmpeq_epi8(tail, last))));
}
#endif

// True when the k bytes at data equal the pattern; the first and last byte
// are known to match already.
inline bool innerMatches(const unsigned char* data, const unsigned char* pattern, std::ptrdiff_t k) {
    return k <= 2 || std::memcmp(data + 1, pattern + 1, static_cast<std::size_t>(k - 2)) == 0;
}

// Last byte equal to value in data[0 .. count - 1], or null.
inline const unsigned char* findLastByte(const unsigned char* data, unsigned char value, std::size_t count) {
#if defined(__GLIBC__)
    return static_cast<const unsigned char*>(memrchr(data, value, count));
#else
    while (count > 0) {
        --count;
        if (data[count] == value) return data + count;
    }
    return nullptr;
#endif
}

// Charges full comparisons; true once they have cost more than `passed` bytes
// allow.
template <class Tally>
class Allowance {
public:
    Allowance(std::ptrdiff_t k, Tally& tally) : k_(k), tally_(tally) {}
    bool Spent(std::ptrdiff_t passed) {
        charged_ += k_;
        tally_(k_);
        return charged_ > kChargePerBytePassed * passed + kFreeCharge;
    }

private:
    std::ptrdiff_t k_, charged_ = 0;
    Tally& tally_;
};

// First start in 0..lastStart where the k-byte pattern matches, or -1.
template <class Tally = NoTally>
std::ptrdiff_t FindFirst(const unsigned char* data, std::ptrdiff_t lastStart, const unsigned char* pattern,
                         std::ptrdiff_t k, Tally&& tally = {}) {
    Allowance<Tally> allowance(k, tally);
    const auto twoWayFrom = [&](std::ptrdiff_t at) {
        const std::ptrdiff_t found = twoWay(Ahead{data + at}, lastStart - at + k, Ahead{pattern}, k, tally);
        return found < 0 ? found : at + found;
    };
    std::ptrdiff_t start = 0;
#if defined(__SSE2__)
    const __m128i first = _mm_set1_epi8(static_cast<char>(pattern[0]));
    const __m128i last = _mm_set1_epi8(static_cast<char>(pattern[k - 1]));
    // A block of sixteen starts reads up to start + 15 + k - 1 <= lastStart + k - 1,
    // the last byte of the searched range.
    for (; start + kLanes - 1 <= lastStart; start += kLanes) {
        for (unsigned mask = pairMask(data, start, k - 1, first, last); mask != 0; mask &= mask - 1) {
            const std::ptrdiff_t at = start + __builtin_ctz(mask);
            if (allowance.Spent(at)) return twoWayFrom(at);
            if (innerMatches(data + at, pattern, k)) return at;
        }
    }
#endif
    while (start <= lastStart) {
        const void* hit =
            std::memchr(data + start, pattern[0], static_cast<std::size_t>(lastStart - start + 1));
        if (hit == nullptr) return -1;
        const std::ptrdiff_t at = static_cast<const unsigned char*>(hit) - data;
        if (data[at + k - 1] == pattern[k - 1]) {
            if (allowance.Spent(at)) return twoWayFrom(at);
            if (innerMatches(data + at, pattern, k)) return at;
        }
        start = at + 1;
    }
    return -1;
}

// Last start in 0..lastStart where the k-byte pattern matches, or -1.
template <class Tally = NoTally>
std::ptrdiff_t FindLast(const unsigned char* data, std::ptrdiff_t lastStart, const unsigned char* pattern,
                        std::ptrdiff_t k, Tally&& tally = {}) {
    Allowance<Tally> allowance(k, tally);
    // Starts 0..at, read from the end: the first match found is the last start.
    const auto twoWayFrom = [&](std::ptrdiff_t at) {
        const std::ptrdiff_t found =
            twoWay(Behind{data + at + k - 1}, at + k, Behind{pattern + k - 1}, k, tally);
        return found < 0 ? found : at - found;
    };
    std::ptrdiff_t top = lastStart;  // highest start not yet examined
#if defined(__SSE2__)
    const __m128i first = _mm_set1_epi8(static_cast<char>(pattern[0]));
    const __m128i last = _mm_set1_epi8(static_cast<char>(pattern[k - 1]));
    // The block of starts top - 15 .. top reads up to top + k - 1, at most the
    // position the caller allowed.
    for (; top - (kLanes - 1) >= 0; top -= kLanes) {
        const std::ptrdiff_t base = top - (kLanes - 1);
        for (unsigned mask = pairMask(data, base, k - 1, first, last); mask != 0;) {
            const int bit = 31 - __builtin_clz(mask);
            const std::ptrdiff_t at = base + bit;
            if (allowance.Spent(lastStart - at)) return twoWayFrom(at);
            if (innerMatches(data + at, pattern, k)) return at;
            mask &= ~(1u << bit);
        }
    }
#endif
    // Ends run from top + k - 1 down to k - 1: filter on the last byte.
    while (top >= 0) {
        const unsigned char* hit =
            findLastByte(data + k - 1, pattern[k - 1], static_cast<std::size_t>(top + 1));
        if (hit == nullptr) return -1;
        const std::ptrdiff_t at = hit - (data + k - 1);
        if (data[at] == pattern[0]) {
            if (allowance.Spent(lastStart - at)) return twoWayFrom(at);
            if (innerMatches(data + at, pattern, k)) return at;
        }
        top = at - 1;
    }
    return -1;
}

// Two-Way alone over starts 0..lastStart, front to back or back to front;
// what FindFirst and FindLast fall back to, open to the tests on its own.
template <class Tally = NoTally>
std::ptrdiff_t TwoWayFirst(const unsigned char* data, std::ptrdiff_t lastStart, const unsigned char* pattern,
                           std::ptrdiff_t k, Tally&& tally = {}) {
    return twoWay(Ahead{data}, lastStart + k, Ahead{pattern}, k, tally);
}
template <class Tally = NoTally>
std::ptrdiff_t TwoWayLast(const unsigned char* data, std::ptrdiff_t lastStart, const unsigned char* pattern,
                          std::ptrdiff_t k, Tally&& tally = {}) {
    const std::ptrdiff_t found =
        twoWay(Behind{data + lastStart + k - 1}, lastStart + k, Behind{pattern + k - 1}, k, tally);
    return found < 0 ? found : lastStart - found;
}

}  // namespace Korvan::search
