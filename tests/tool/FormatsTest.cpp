#include "Formats.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace gearset {
namespace {

std::vector<unsigned char> hex(std::vector<std::string> args) { return ParseHexBytes(args); }

TEST(FormatsTest, HexBytesAreUpperCasePairsSeparatedBySingleSpaces) {
    const unsigned char bytes[] = {0xFE, 0xFF, 0x00, 0x0a};
    EXPECT_EQ(FormatHexBytes(bytes, 4), "FE FF 00 0A");
    EXPECT_EQ(FormatHexBytes(bytes, 1), "FE");
    EXPECT_EQ(FormatHexBytes(bytes, 0), "");
}

TEST(FormatsTest, HexPairsMaySpreadOverArgumentsAndBlanks) {
    const std::vector<unsigned char> expected{0xFE, 0xFF, 0x00, 0x41};
    EXPECT_EQ(hex({"FE FF 00 41"}), expected);
    EXPECT_EQ(hex({"feff0041"}), expected);
    EXPECT_EQ(hex({"FE", "FF", " 00\t41 "}), expected);
    EXPECT_EQ(hex({""}), std::vector<unsigned char>{});
}

TEST(FormatsTest, HexPairsMayNotBeSplitOrHoldOtherCharacters) {
    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {"F"}, {"F", "E"}, {"F E"}, {"FEF"}, {"GG"}, {"0x41"}, {"4-1"}}) {
        EXPECT_THROW(hex(bad), UsageError) << bad[0];
    }
}

TEST(FormatsTest, PatternsTakeBytesAsTheyStandWithHexAndBackslashEscapes) {
    EXPECT_EQ(ParsePattern("endobj"), "endobj");
    EXPECT_EQ(ParsePattern("obj\\x0A"), "obj\n");
    EXPECT_EQ(ParsePattern("\\x00\\xff\\xFF"), std::string("\0\xff\xff", 3));
    EXPECT_EQ(ParsePattern("a\\\\b"), "a\\b");
    EXPECT_EQ(ParsePattern("\\\\x41"), "\\x41");
    for (const char* bad : {"", "\\", "\\n", "a\\x4", "\\xG1", "\\x"})
        EXPECT_THROW(ParsePattern(bad), UsageError) << bad;
}

TEST(FormatsTest, TimeTextRoundTripsAndRefusesImpossibleFields) {
    EXPECT_EQ(FormatTimeText(ParseTimeText("2024-01-02 03:04:05")), "2024-01-02 03:04:05");
    EXPECT_EQ(FormatTimeText(ParseTimeText("2024-02-29T23:59:59")), "2024-02-29 23:59:59");
    EXPECT_EQ(FormatTimeText(ParseTimeText("1601-01-01 00:00:00")), "1601-01-01 00:00:00");
    for (const char* bad :
         {"", "2024-01-02", "2024-01-02 03:04", "2024-01-02  03:04:05", "2023-02-29 00:00:00",
          "2024-13-01 00:00:00", "2024-00-10 00:00:00", "2024-04-31 00:00:00", "2024-01-02 24:00:00",
          "2024-01-02 00:60:00", "2024-01-02 00:00:60", "1600-12-31 23:59:59", "2024-01-02 03:04:0x",
          "2024/01/02 03:04:05"}) {
        EXPECT_THROW(ParseTimeText(bad), UsageError) << bad;
    }
}

TEST(FormatsTest, Utf8ValidationRefusesMalformedSequences) {
    for (const char* good : {"", "abc",
                             "Gr\xC3\xBC\xC3\x9F"
                             "e",
                             "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xF4\x8F\xBF\xBF"}) {
        EXPECT_TRUE(IsValidUtf8(good)) << good;
    }
    for (const char* bad : {"\x80", "\xC3", "\xC0\x80", "\xE0\x80\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                            "\xF8\x88\x80\x80\x80", "a\xC3(", "\xE2\x82"}) {
        EXPECT_FALSE(IsValidUtf8(bad)) << bad;
    }
}

TEST(FormatsTest, CodeUnitsAreFourUpperCaseDigits) {
    EXPECT_EQ(FormatCodeUnits(Tolm::CUnicodeString(u"\u00FF\u00FE A")), "U+00FF U+00FE U+0020 U+0041");
    EXPECT_EQ(FormatCodeUnits(Tolm::CUnicodeString(u"\xD83D\xDE00")), "U+D83D U+DE00");
    EXPECT_EQ(FormatCodeUnits(Tolm::CUnicodeString()), "");
}

}  // namespace
}  // namespace gearset
