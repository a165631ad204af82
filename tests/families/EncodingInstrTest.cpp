#include <Korvan/EncodingInstr.h>

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace {

using Korvan::CByteArray;
using Korvan::testing::bytes;

std::vector<int> contentOf(const CByteArray& array) {
    std::vector<int> values;
    for (int i = 0; i < array.GetSize(); ++i) values.push_back(array[i]);
    return values;
}

Tolm::CUnicodeString text(std::u16string_view units) { return Tolm::CUnicodeString(units); }

TEST(EncodingInstrTest, WritesSingleBytesOrUtf16BigEndian) {
    const struct {
        std::u16string input;
        bool force;
        std::vector<int> expected;
        bool unicode;
    } cases[] = {
        {u"", false, {}, false},
        {u"", true, {}, false},  // never a lone mark
        {u"abc", false, {0x61, 0x62, 0x63}, false},
        {u"abc", true, {0xFE, 0xFF, 0x00, 0x61, 0x00, 0x62, 0x00, 0x63}, true},
        {u"\xD83D\xDE00", false, {0xFE, 0xFF, 0xD8, 0x3D, 0xDE, 0x00}, true},
        {u"a\u20ACb", false, {0xFE, 0xFF, 0x00, 0x61, 0x20, 0xAC, 0x00, 0x62}, true},
    };
    CByteArray output;  // emptied by every call
    for (const auto& c : cases) {
        EXPECT_EQ(c.unicode, Korvan::UnicodeStringToBytes(text(c.input), c.force, output));
        EXPECT_EQ(c.expected, contentOf(output));
        EXPECT_TRUE(c.force || c.unicode == Korvan::IsReallyUnicode(text(c.input)));
    }
}

// A reused output keeps its room.
TEST(EncodingInstrTest, ResultsOfUpTo32BytesStayInline) {
    for (const auto& [count, unit, size] :
         {std::tuple{32, u'a', 32}, {15, u'\u00E9', 32}, {16, u'\u00E9', 34}}) {
        CByteArray output;
        Korvan::UnicodeStringToBytes(text(std::u16string(static_cast<std::size_t>(count), unit)), false,
                                     output);
        EXPECT_EQ(size, output.GetSize());
        EXPECT_EQ(size <= 32, output.IsInline()) << size;
        const int capacity = output.GetCapacity();
        Korvan::UnicodeStringToBytes(text(u"ab"), false, output);
        EXPECT_EQ(capacity, output.GetCapacity());
    }
}

// Longer inputs; every input of up to two bytes is checked below.
TEST(EncodingInstrTest, ReadsBytesBack) {
    const struct {
        std::vector<int> input;
        std::u16string expected;
    } cases[] = {
        {{}, u""},
        {{0xFE, 0xFF, 0x00}, u""},
        {{0xFE, 0xFF, 0x00, 0x41, 0x00}, u"A"},
        {{0xFE, 0xFF, 0x00, 0x00, 0x00, 0x41}, u" A"},
        {{0xFF, 0xFE, 0x41, 0x00}, u"\u00FF\u00FEA "},
        {{0xFE, 0xFF, 0xD8, 0x3D, 0xDE, 0x00}, u"\xD83D\xDE00"},
    };
    for (const auto& c : cases) EXPECT_EQ(text(c.expected), Korvan::BytesToUnicodeString(bytes(c.input)));
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
            const std::vector<int> expected =
                unicode ? std::vector<int>{0xFE, 0xFF, unit >> 8, unit & 0xFF} : std::vector<int>{unit};
            ASSERT_EQ(expected, contentOf(output)) << unit;
            ASSERT_EQ(text(std::u16string(1, back)), Korvan::BytesToUnicodeString(output)) << unit;
            Korvan::UnicodeStringToBytes(text(std::u16string{u'x', c, u'y'}), force, output);
            ASSERT_EQ(text(std::u16string{u'x', back, u'y'}), Korvan::BytesToUnicodeString(output)) << unit;
        }
    }
}

TEST(EncodingInstrTest, RandomTextsSurviveTheRoundTrip) {
    std::mt19937 random(4242);
    CByteArray output;
    for (int round = 0; round < 500; ++round) {
        std::u16string units(random() % 80, u'a');
        const bool wide = random() % 2 == 0;
        for (char16_t& unit : units) unit = static_cast<char16_t>(1 + random() % (wide ? 0xFFFF : 0x7F));
        EXPECT_EQ(Korvan::IsReallyUnicode(text(units)),
                  Korvan::UnicodeStringToBytes(text(units), false, output));
        EXPECT_EQ(text(units), Korvan::BytesToUnicodeString(output));
    }
}

}  // namespace
