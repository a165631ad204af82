// The shared digit set of the character-properties library.
#include <Unicode/Unicode.h>
#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

struct DigitCase {
    char16_t unit;
    bool isDigit;
};

// Block edges and look-alikes that are numbers but not decimal digits.
const DigitCase kDigitCases[] = {
    {u'0', true},    {u'9', true},    {u'/', false},   {u':', false},   {u'a', false},
    {0x0660, true},  {0x0669, true},  {0x066A, false}, {0x065F, false},  // Arabic-Indic
    {0x06F0, true},  {0x06F9, true},  {0x0966, true},  {0x096F, true},   // Extended Arabic-Indic, Devanagari
    {0x09E6, true},  {0x0E50, true},  {0x0F29, true},  {0x0F2A, false},  // Bengali, Thai, Tibetan half digits
    {0xFF10, true},  {0xFF19, true},  {0xFF0F, false}, {0xFF1A, false},  // fullwidth
    {0x00B2, false}, {0x2460, false}, {0x3007, false}, {0x4E00, false},  // superscript, circled, ideographs
    {0x1369, false}, {0x19DA, false}, {0x2070, false}, {0x0000, false},  // Ethiopic, New Tai Lue tho
    {0xD835, false}, {0xDFCE, false}, {0xFFFF, false},                   // halves of U+1D7CE, a non-character
};

TEST(UnicodeDigitsTest, ContainsDecimalDigitsAndNoLookAlikes) {
    const Tolm::CUnicodeSet& digits = Unicode::GetDigits();
    for (const DigitCase& row : kDigitCases) {
        EXPECT_EQ(row.isDigit, digits.Contains(row.unit)) << "U+" << std::hex << static_cast<int>(row.unit);
    }
}

TEST(UnicodeDigitsTest, EveryDigitBelongsToARunOfTen) {
    const Tolm::CUnicodeSet& digits = Unicode::GetDigits();
    int members = 0;
    int runLength = 0;
    for (int unit = 0; unit <= 0x10000; ++unit) {
        if (unit < 0x10000 && digits.Contains(static_cast<char16_t>(unit))) {
            ++members;
            ++runLength;
            continue;
        }
        EXPECT_EQ(0, runLength % 10) << "run ending before U+" << std::hex << unit;
        runLength = 0;
    }
    EXPECT_EQ(370, members);  // 37 blocks of the Basic Multilingual Plane
}

TEST(UnicodeDigitsTest, IsOneSetSharedByAllThreads) {
    std::vector<const Tolm::CUnicodeSet*> seen(4, nullptr);
    std::vector<std::thread> threads;
    for (auto& slot : seen) threads.emplace_back([&slot] { slot = &Unicode::GetDigits(); });
    for (auto& thread : threads) thread.join();
    for (const auto* set : seen) EXPECT_EQ(&Unicode::GetDigits(), set);
}

}  // namespace
