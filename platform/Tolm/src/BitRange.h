// Ranges of bits in a word array, for the file window's maps of which bytes it
// knows and which it must still write. Bit i stands for byte i of the window;
// ranges are half-open [first, last). Private to Tolmbase.
#pragma once

#include <cstdint>

namespace Tolm::detail {

using Word = std::uint64_t;
constexpr std::int64_t kBitsPerWord = 64;

// Mask of the bits first..last-1 of one word (0 <= first < last <= 64).
inline Word wordMask(std::int64_t first, std::int64_t last) {
    const Word high = last == kBitsPerWord ? ~Word{0} : (Word{1} << last) - 1;
    return high & (~Word{0} << first);
}

inline void setBits(Word* words, std::int64_t first, std::int64_t last) {
    if (first >= last) return;
    std::int64_t w = first / kBitsPerWord;
    const std::int64_t lastWord = (last - 1) / kBitsPerWord;
    if (w == lastWord) {
        words[w] |= wordMask(first % kBitsPerWord, (last - 1) % kBitsPerWord + 1);
        return;
    }
    words[w++] |= wordMask(first % kBitsPerWord, kBitsPerWord);
    for (; w < lastWord; ++w) words[w] = ~Word{0};
    words[lastWord] |= wordMask(0, (last - 1) % kBitsPerWord + 1);
}

inline void clearBits(Word* words, std::int64_t first, std::int64_t last) {
    if (first >= last) return;
    std::int64_t w = first / kBitsPerWord;
    const std::int64_t lastWord = (last - 1) / kBitsPerWord;
    if (w == lastWord) {
        words[w] &= ~wordMask(first % kBitsPerWord, (last - 1) % kBitsPerWord + 1);
        return;
    }
    words[w++] &= ~wordMask(first % kBitsPerWord, kBitsPerWord);
    for (; w < lastWord; ++w) words[w] = 0;
    words[lastWord] &= ~wordMask(0, (last - 1) % kBitsPerWord + 1);
}

// True when every bit of the range is set (an empty range counts as set).
inline bool allBitsSet(const Word* words, std::int64_t first, std::int64_t last) {
    if (first >= last) return true;
    std::int64_t w = first / kBitsPerWord;
    const std::int64_t lastWord = (last - 1) / kBitsPerWord;
    if (w == lastWord) {
        const Word mask = wordMask(first % kBitsPerWord, (last - 1) % kBitsPerWord + 1);
        return (words[w] & mask) == mask;
    }
    const Word firstMask = wordMask(first % kBitsPerWord, kBitsPerWord);
    if ((words[w++] & firstMask) != firstMask) return false;
    for (; w < lastWord; ++w) {
        if (words[w] != ~Word{0}) return false;
    }
    const Word lastMask = wordMask(0, (last - 1) % kBitsPerWord + 1);
    return (words[lastWord] & lastMask) == lastMask;
}

// The first bit in [first, last) whose value is `value`, or last when none.
inline std::int64_t findBit(const Word* words, std::int64_t first, std::int64_t last, bool value) {
    if (first >= last) return last;
    std::int64_t w = first / kBitsPerWord;
    Word current = (value ? words[w] : ~words[w]) & (~Word{0} << (first % kBitsPerWord));
    const std::int64_t lastWord = (last - 1) / kBitsPerWord;
    for (;;) {
        if (current != 0) {
            const std::int64_t found = w * kBitsPerWord + __builtin_ctzll(current);
            return found < last ? found : last;
        }
        if (++w > lastWord) return last;
        current = value ? words[w] : ~words[w];
    }
}

// The last bit in [first, last) whose value is `value`, or first - 1 when none.
inline std::int64_t findLastBit(const Word* words, std::int64_t first, std::int64_t last, bool value) {
    if (first >= last) return first - 1;
    std::int64_t w = (last - 1) / kBitsPerWord;
    const std::int64_t topBit = (last - 1) % kBitsPerWord;
    Word current = (value ? words[w] : ~words[w]) & wordMask(0, topBit + 1);
    const std::int64_t firstWord = first / kBitsPerWord;
    for (;;) {
        if (current != 0) {
            const std::int64_t found = w * kBitsPerWord + (kBitsPerWord - 1 - __builtin_clzll(current));
            return found >= first ? found : first - 1;
        }
        if (--w < firstWord) return first - 1;
        current = value ? words[w] : ~words[w];
    }
}

}  // namespace Tolm::detail
