// The scans' search on its own: Two-Way against find and rfind, and the count
// of byte comparisons on the inputs that made the old scans quadratic.
#include "PatternSearch.h"

#include "GuardedBytes.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <random>
#include <string>

namespace {

using Korvan::testing::GuardedBytes;
namespace search = Korvan::search;

const unsigned char* bytesOf(const std::string& text) {
    return reinterpret_cast<const unsigned char*>(text.data());
}
const unsigned char* bytesOf(const char* at) { return reinterpret_cast<const unsigned char*>(at); }

// Two-Way alone, which the filter reaches only on self-similar data, over
// random texts of up to three letters (both of its branches: patterns of a
// short period and of none), between guard pages.
TEST(TwoWayTest, AgreesWithFindAndRfindBetweenGuardPages) {
    GuardedBytes guarded(200);
    std::mt19937 random(424242);
    for (int round = 0; round < 3000; ++round) {
        const unsigned letters = 1 + random() % 3;
        std::string pattern(1 + random() % 24, 'a');
        for (char& c : pattern) c = static_cast<char>('a' + random() % letters);
        if (round % 3 == 0) {  // a periodic pattern, perhaps with one byte off at the end
            const std::string unit = pattern.substr(0, 1 + random() % 3);
            pattern.clear();
            while (pattern.size() < 6 + random() % 20) pattern += unit;
            if (random() % 2 == 0) pattern.back() = 'c';
        }
        std::string text(random() % 200, 'a');
        for (char& c : text) c = static_cast<char>('a' + random() % letters);
        for (int plant = random() % 3; plant > 0 && text.size() >= pattern.size(); --plant)
            text.replace(random() % (text.size() - pattern.size() + 1), pattern.size(), pattern);
        if (text.size() < pattern.size()) continue;
        const auto k = static_cast<std::ptrdiff_t>(pattern.size());
        const auto lastStart = static_cast<std::ptrdiff_t>(text.size()) - k;
        for (const bool atEnd : {false, true}) {
            const char* at = guarded.Place(text, text.size(), atEnd);
            ASSERT_EQ(static_cast<std::ptrdiff_t>(text.find(pattern)),
                      search::TwoWayFirst(bytesOf(at), lastStart, bytesOf(pattern), k))
                << text << " / " << pattern;
            ASSERT_EQ(static_cast<std::ptrdiff_t>(text.rfind(pattern)),
                      search::TwoWayLast(bytesOf(at), lastStart, bytesOf(pattern), k))
                << text << " / " << pattern;
        }
    }
}

std::string repeat(const std::string& unit, std::size_t times) {
    std::string text;
    for (std::size_t i = 0; i < times; ++i) text += unit;
    return text;
}

struct Tally {
    std::ptrdiff_t comparisons = 0;
    void operator()(std::ptrdiff_t count) { comparisons += count; }
};

// Byte comparisons stay within a fixed multiple of text plus pattern length,
// forwards and backwards, on data where every position passes the filter. A
// search that compared each candidate in full would spend up to n * k.
TEST(PatternSearchTest, SelfSimilarDataCostsLinearComparisons) {
    constexpr std::size_t n = std::size_t{1} << 20;
    const std::string zeros(4000, '\0'), as(8000, 'a');
    const struct {
        const char* name;
        std::string text, pattern;
        std::ptrdiff_t first, last;  // expected answers
    } rows[] = {
        {"zeros around a one, absent", std::string(n, '\0'), zeros + '\1' + zeros, -1, -1},
        {"zeros around a one, in the middle",
         std::string(n / 2, '\0') + zeros + '\1' + std::string(n / 2, '\0'), zeros + '\1' + zeros, n / 2,
         n / 2},
        {"one other byte near the end", std::string(n, 'a'), as + "ba", -1, -1},
        {"one other byte near the start", std::string(n, 'a'), "ab" + as, -1, -1},
        {"period two, broken late", repeat("ab", n / 2), repeat("ab", 2000) + "ba", -1, -1},
        {"one letter everywhere", std::string(n, 'a'), as, 0, static_cast<std::ptrdiff_t>(n - as.size())},
    };
    for (const auto& row : rows) {
        const auto k = static_cast<std::ptrdiff_t>(row.pattern.size());
        const auto textLength = static_cast<std::ptrdiff_t>(row.text.size());
        const std::ptrdiff_t bound = 8 * (textLength + k) + search::kFreeCharge;
        Tally forward, backward;
        EXPECT_EQ(row.first,
                  search::FindFirst(bytesOf(row.text), textLength - k, bytesOf(row.pattern), k, forward))
            << row.name;
        EXPECT_EQ(row.last,
                  search::FindLast(bytesOf(row.text), textLength - k, bytesOf(row.pattern), k, backward))
            << row.name;
        EXPECT_LE(forward.comparisons, bound) << row.name;
        EXPECT_LE(backward.comparisons, bound) << row.name;
    }
}

}  // namespace
