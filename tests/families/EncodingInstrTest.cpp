#include <Korvan/EncodingInstr.h>

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace {

using Korvan::CByteArray;
using Korvan::testing::bytes;

std::vector<int> contentOf(const CByteArray& array) {
    return {array.GetData(), array.GetData() + array.GetSize()};
}

Tolm::CUnicodeString text(std::u16string_view units) { return Tolm::CUnicodeString(units); }

// Each written text reads back; so does an odd byte after the mark, which
// the byte loops below never meet.
TEST(EncodingInstrTest, WritesSingleBytesOrUtf16BigEndianAndReadsThemBack) {
    const struct {
        std::u16string input;
        bool force;
        std::vector<int> expected;
    } cases[] = {
        {u"", true, {}},  // never a lone mark
        {u"abc", true, {0xFE, 0xFF, 0x00, 0x61, 0x00, 0x62, 0x00, 0x63}},
        {u"a\u20ACb", false, {0xFE, 0xFF, 0x00, 0x61, 0x20, 0xAC, 0x00, 0x62}},
    };
    CByteArray output;  // emptied by every call
    for (const auto& c : cases) {
        EXPECT_EQ(!c.expected.empty(), Korvan::UnicodeStringToBytes(text(c.input), c.force, output));
        EXPECT_EQ(c.expected, contentOf(output));
        EXPECT_EQ(text(c.input), Korvan::BytesToUnicodeString(output));
    }
    EXPECT_EQ(text(u""), Korvan::BytesToUnicodeString(bytes({0xFE, 0xFF, 0x00})));
    EXPECT_EQ(text(u"A"), Korvan::BytesToUnicodeString(bytes({0xFE, 0xFF, 0x00, 0x41, 0x00})));
}

// The inline room of 32 bytes holds a whole single-byte or marked result.
TEST(EncodingInstrTest, ResultsOfUpTo32BytesStayInline) {
    for (const auto& [count, unit, size] :
         {std::tuple{32, u'a', 32}, {15, u'\u00E9', 32}, {16, u'\u00E9', 34}}) {
        CByteArray output;
        Korvan::UnicodeStringToBytes(text(std::u16string(static_cast<std::size_t>(count), unit)), false,
                                     output);
        EXPECT_EQ(size, output.GetSize());
        EXPECT_EQ(size <= 32, output.IsInline()) << size;
    }
}

// Each byte reads as its own character (a zero byte as a space); only the
// pair FE FF is the mark.
TEST(EncodingInstrTest, EveryByteAndBytePairReadsAsItsOwnCharacters) {
    const auto character = [](int value) { return value == 0 ? u' ' : static_cast<char16_t>(value); };
    for (int high = 0; high < 256; ++high) {
        ASSERT_EQ(text(std::u16string(1, character(high))), Korvan::BytesToUnicodeString(bytes({high})));
        for (int low = 0; low < 256; ++low) {
            const std::u16string expected =
                high == 0xFE && low == 0xFF ? u"" : std::u16string{character(high), character(low)};
            ASSERT_EQ(text(expected), Korvan::BytesToUnicodeString(bytes({high, low}))) << high << " " << low;
        }
    }
}

// Every code unit, alone and between ASCII letters, forced and not: one byte
// below 0x80 unless forced, else the mark and two bytes high first; the text
// comes back unchanged except that U+0000 comes back as a space.
TEST(EncodingInstrTest, EveryCodeUnitSurvivesTheRoundTrip) {
    CByteArray output;
    for (int unit = 0; unit <= 0xFFFF; ++unit) {
        const char16_t c = static_cast<char16_t>(unit);
        const char16_t back = unit == 0 ? u' ' : c;
        for (const bool force : {false, true}) {
            const bool unicode = Korvan::UnicodeStringToBytes(text(std::u16string(1, c)), force, output);
            ASSERT_EQ(force || unit >= 0x80, unicode) << unit;
            ASSERT_EQ(unit >= 0x80, Korvan::IsReallyUnicode(text(std::u16string(1, c)))) << unit;
            const std::vector<int> expected =
                unicode ? std::vector<int>{0xFE, 0xFF, unit >> 8, unit & 0xFF} : std::vector<int>{unit};
            ASSERT_EQ(expected, contentOf(output)) << unit;
            ASSERT_EQ(text(std::u16string(1, back)), Korvan::BytesToUnicodeString(output)) << unit;
            Korvan::UnicodeStringToBytes(text(std::u16string{u'x', c, u'y'}), force, output);
            ASSERT_EQ(text(std::u16string{u'x', back, u'y'}), Korvan::BytesToUnicodeString(output)) << unit;
        }
    }
}

}  // namespace
