#include <Korvan/EncodingInstr.h>

#include <gtest/gtest.h>

#include <initializer_list>
#include <random>
#include <string>
#include <vector>

namespace {

using Korvan::CByteArray;

CByteArray bytes(std::initializer_list<int> values) {
    CByteArray array;
    for (const int value : values) array.Add(static_cast<unsigned char>(value));
    return array;
}

std::vector<int> contentOf(const CByteArray& array) {
    std::vector<int> values;
    for (int i = 0; i < array.GetSize(); ++i) values.push_back(array[i]);
    return values;
}

Tolm::CUnicodeString text(std::u16string_view units) { return Tolm::CUnicodeString(units); }

TEST(EncodingInstrTest, IsReallyUnicodeLooksForUnitsFrom0x80) {
    EXPECT_FALSE(Korvan::IsReallyUnicode(text(u"")));
    EXPECT_FALSE(Korvan::IsReallyUnicode(text(u"abc~\u0018")));
    EXPECT_FALSE(Korvan::IsReallyUnicode(text(std::u16string(1, u'\0'))));
    EXPECT_TRUE(Korvan::IsReallyUnicode(text(u"abc\u0080")));
    EXPECT_TRUE(Korvan::IsReallyUnicode(text(u"\u00E9")));
    EXPECT_TRUE(Korvan::IsReallyUnicode(text(u"x\u0100")));
    EXPECT_TRUE(Korvan::IsReallyUnicode(text(u"\xD83D\xDE00")));
}

TEST(EncodingInstrTest, WritesSingleBytesOrUtf16BigEndian) {
    struct Case {
        std::u16string input;
        bool force;
        std::vector<int> expected;
        bool unicode;
    };
    const Case cases[] = {
        {u"", false, {}, false},
        {u"", true, {}, false},  // never a lone mark
        {u"abc", false, {0x61, 0x62, 0x63}, false},
        {u"abc", true, {0xFE, 0xFF, 0x00, 0x61, 0x00, 0x62, 0x00, 0x63}, true},
        {u"\u00E9", false, {0xFE, 0xFF, 0x00, 0xE9}, true},
        {u"~", false, {0x7E}, false},
        {u"\u0018", false, {0x18}, false},
        {u"\u007F", false, {0x7F}, false},
        {u"\u0080", false, {0xFE, 0xFF, 0x00, 0x80}, true},
        {u"\xD83D\xDE00", false, {0xFE, 0xFF, 0xD8, 0x3D, 0xDE, 0x00}, true},
        {u"a\u20ACb", false, {0xFE, 0xFF, 0x00, 0x61, 0x20, 0xAC, 0x00, 0x62}, true},
    };
    for (const Case& c : cases) {
        CByteArray output;
        EXPECT_EQ(c.unicode, Korvan::UnicodeStringToBytes(text(c.input), c.force, output));
        EXPECT_EQ(c.expected, contentOf(output));
    }
}

TEST(EncodingInstrTest, OutputIsEmptiedFirstAndKeepsItsCapacity) {
    CByteArray output;
    Korvan::UnicodeStringToBytes(text(std::u16string(100, u'\u00E9')), false, output);
    const int capacity = output.GetCapacity();
    EXPECT_FALSE(Korvan::UnicodeStringToBytes(text(u"ab"), false, output));
    EXPECT_EQ((std::vector<int>{0x61, 0x62}), contentOf(output));
    EXPECT_EQ(capacity, output.GetCapacity());
    EXPECT_FALSE(Korvan::UnicodeStringToBytes(text(u""), true, output));
    EXPECT_TRUE(output.IsEmpty());
}

TEST(EncodingInstrTest, ResultsOfUpTo32BytesStayInline) {
    CByteArray output;
    Korvan::UnicodeStringToBytes(text(std::u16string(32, u'a')), false, output);
    EXPECT_EQ(32, output.GetSize());
    EXPECT_TRUE(output.IsInline());
    Korvan::UnicodeStringToBytes(text(std::u16string(15, u'\u00E9')), false, output);  // 2 + 30 bytes
    EXPECT_EQ(32, output.GetSize());
    EXPECT_TRUE(output.IsInline());
    Korvan::UnicodeStringToBytes(text(std::u16string(16, u'\u00E9')), false, output);
    EXPECT_EQ(34, output.GetSize());
}

TEST(EncodingInstrTest, ReadsBytesBack) {
    struct Case {
        std::vector<int> input;
        std::u16string expected;
    };
    const Case cases[] = {
        {{}, u""},
        {{0xFE, 0xFF}, u""},
        {{0xFE, 0xFF, 0x00}, u""},
        {{0xFE, 0xFF, 0x00, 0x41, 0x00}, u"A"},
        {{0xFE, 0xFF, 0x00, 0x00, 0x00, 0x41}, u" A"},
        {{0xFE}, u"\u00FE"},
        {{0x00}, u" "},
        {{0xFF, 0xFE, 0x41, 0x00}, u"\u00FF\u00FEA "},
        {{0xEF, 0xBB, 0xBF, 0x41}, u"\u00EF\u00BB\u00BFA"},
        {{0x41, 0x00, 0x42}, u"A B"},
        {{0x80}, u"\u0080"},
        {{0x18}, u"\u0018"},
        {{0xA4, 0x80}, u"\u00A4\u0080"},
        {{0xFE, 0xFF, 0xD8, 0x3D, 0xDE, 0x00}, u"\xD83D\xDE00"},
        {{0xFF, 0xFF}, u"\u00FF\u00FF"},
    };
    for (const Case& c : cases) {
        CByteArray input;
        for (const int value : c.input) input.Add(static_cast<unsigned char>(value));
        EXPECT_EQ(text(c.expected), Korvan::BytesToUnicodeString(input));
    }
}

TEST(EncodingInstrTest, EverySingleByteReadsAsItsOwnCharacter) {
    for (int value = 0; value < 256; ++value) {
        const char16_t expected = value == 0 ? u' ' : static_cast<char16_t>(value);
        EXPECT_EQ(text(std::u16string(1, expected)), Korvan::BytesToUnicodeString(bytes({value})));
    }
}

TEST(EncodingInstrTest, EveryBytePairReadsAsTwoCharactersExceptTheMark) {
    for (int high = 0; high < 256; ++high) {
        for (int low = 0; low < 256; ++low) {
            const Tolm::CUnicodeString decoded = Korvan::BytesToUnicodeString(bytes({high, low}));
            if (high == 0xFE && low == 0xFF) {
                ASSERT_TRUE(decoded.IsEmpty());
                continue;
            }
            std::u16string expected;
            expected += high == 0 ? u' ' : static_cast<char16_t>(high);
            expected += low == 0 ? u' ' : static_cast<char16_t>(low);
            ASSERT_EQ(text(expected), decoded) << high << " " << low;
        }
    }
}

// Every code unit, alone and between ASCII letters, forced and not: the text
// comes back unchanged except that U+0000 comes back as a space.
TEST(EncodingInstrTest, EveryCodeUnitSurvivesTheRoundTrip) {
    CByteArray output;
    for (int unit = 0; unit <= 0xFFFF; ++unit) {
        const char16_t c = static_cast<char16_t>(unit);
        const char16_t back = unit == 0 ? u' ' : c;
        for (const bool force : {false, true}) {
            const bool unicode = Korvan::UnicodeStringToBytes(text(std::u16string(1, c)), force, output);
            ASSERT_EQ(force || unit >= 0x80, unicode) << unit;
            ASSERT_EQ(unicode ? 4 : 1, output.GetSize()) << unit;
            ASSERT_EQ(text(std::u16string(1, back)), Korvan::BytesToUnicodeString(output)) << unit;

            const std::u16string framed = std::u16string(u"x") + c + u"y";
            Korvan::UnicodeStringToBytes(text(framed), force, output);
            ASSERT_EQ(text(std::u16string(u"x") + back + u"y"), Korvan::BytesToUnicodeString(output)) << unit;
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
        const bool unicode = Korvan::UnicodeStringToBytes(text(units), false, output);
        EXPECT_EQ(Korvan::IsReallyUnicode(text(units)), unicode);
        EXPECT_EQ(text(units), Korvan::BytesToUnicodeString(output));
    }
}

}  // namespace
