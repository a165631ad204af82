// The shared digit set of the character-properties library.
#include <Unicode/Unicode.h>
#include <gtest/gtest.h>

namespace {

TEST(UnicodeDigitsTest, ContainsDecimalDigitsAndNoLookAlikes) {
    // Block edges: ASCII, Arabic-Indic, Extended Arabic-Indic, Devanagari,
    // Bengali, Thai, Tibetan, fullwidth.
    const char16_t digitUnits[] = {u'0',   u'9',   0x0660, 0x0669, 0x06F0, 0x06F9, 0x0966,
                                   0x096F, 0x09E6, 0x0E50, 0x0F29, 0xFF10, 0xFF19};
    // Neighbours of the blocks, then numbers that are no decimal digits: Tibetan
    // half digits, superscript, circled, ideographs, Ethiopic, New Tai Lue tho;
    // then NUL, the halves of U+1D7CE and a non-character.
    const char16_t otherUnits[] = {u'/',   u':',   u'a',   0x066A, 0x065F, 0xFF0F, 0xFF1A,
                                   0x0F2A, 0x00B2, 0x2460, 0x3007, 0x4E00, 0x1369, 0x19DA,
                                   0x2070, 0x0000, 0xD835, 0xDFCE, 0xFFFF};
    const Tolm::CUnicodeSet& digits = Unicode::GetDigits();
    for (const char16_t unit : digitUnits) EXPECT_TRUE(digits.Contains(unit)) << std::hex << int{unit};
    for (const char16_t unit : otherUnits) EXPECT_FALSE(digits.Contains(unit)) << std::hex << int{unit};
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

}  // namespace
