#include <Tolm/String.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>

#include "GearsetTesting.h"

using GearsetTest::ReportRecorder;
using Tolm::CString;
using Tolm::CUnicodeSet;
using Tolm::CUnicodeString;

namespace {

std::string utf8(const char16_t* text) { return CUnicodeString(text).ToUtf8(); }

// Against a model: a start before the text is 0; a count past its end or
// beyond INT_MAX - first stops at the end; nothing else is taken.
TEST(UnicodeString, SubstringsClampTheirArguments) {
    const std::u16string units = u"abcdef";
    const CUnicodeString text(units);
    const auto model = [&units](int first, int count) {
        first = std::max(first, 0);
        return count <= 0 || first >= 6 ? std::u16string() : units.substr(first, count);
    };
    for (const int a : {INT_MIN, -3, 0, 2, 5, 6, 7, INT_MAX}) {
        for (const int count : {INT_MIN, -1, 0, 1, 2, 5, 6, 10, INT_MAX})
            EXPECT_EQ(model(a, count), text.Mid(a, count).View()) << a << ", " << count;
        EXPECT_EQ(model(a, INT_MAX), text.Mid(a).View()) << a;
        EXPECT_EQ(model(0, a), text.Left(a).View()) << a;
        EXPECT_EQ(a <= 0 ? u"" : units.substr(a >= 6 ? 0 : 6 - a), text.Right(a).View()) << a;
    }
    EXPECT_EQ(u"", CUnicodeString().Mid(0, 1));
}

TEST(UnicodeString, ValueAcceptsOnlyAWholeNumberThatFits) {
    const char16_t* const rejected[] = {
        u"2147483648", u"-2147483649", u"99999999999999999999", u"", u"+", u"-", u"+-1", u" 1", u"1 ", u"1a",
        u"1.0",        u"\x0661"};
    for (const char16_t* text : rejected) {
        int value = -777;
        EXPECT_FALSE(CUnicodeString(text).Value(value)) << utf8(text);
        EXPECT_EQ(-777, value);
    }
    int value = 0;
    EXPECT_FALSE(CUnicodeString(u"80000000").Value(value, 16));
    EXPECT_FALSE(CUnicodeString(u"102").Value(value, 2));
    EXPECT_FALSE(CUnicodeString(u"1").Value(value, 1) || CUnicodeString(u"1").Value(value, 37));
    EXPECT_TRUE(CUnicodeString(u"+0042").Value(value) && value == 42);
    EXPECT_TRUE(CUnicodeString(u"-fF").Value(value, 16) && value == -255);
}

// Every radix, and the extremes of int, which need care with the sign.
TEST(UnicodeString, UnicodeStrWritesEveryRadixAndValueReadsItBack) {
    EXPECT_EQ(u"-2147483648", Tolm::UnicodeStr(INT_MIN, 10));
    EXPECT_EQ(u"-10000000000000000000000000000000", Tolm::UnicodeStr(INT_MIN, 2));
    EXPECT_EQ(u"z", Tolm::UnicodeStr(35, 36));
    EXPECT_EQ(u"12", Tolm::UnicodeStr(12, 1));  // a radix out of range writes decimal
    for (const int value : {0, 1, -1, 35, 12345, INT_MAX, -INT_MAX, INT_MIN}) {
        for (int radix = 2; radix <= 36; ++radix) {
            int back = 0;
            ASSERT_TRUE(Tolm::UnicodeStr(value, radix).Value(back, radix)) << value << " " << radix;
            EXPECT_EQ(value, back);
        }
    }
}

TEST(UnicodeString, SearchesClampWhereTheyStart) {
    const CUnicodeString text(u"12:30+05'00");
    const CUnicodeSet signs(u"+-Z"), digits(u"0123456789");
    EXPECT_TRUE(text.FindOneOf(signs, 6) == -1 && text.FindOneOf(signs, -4) == 5);
    EXPECT_TRUE(text.SpanIncludingLength(digits, -1) == 2 && text.SpanIncludingLength(digits, 500) == 0);
    EXPECT_TRUE(text.Find(u"0", 100) == -1 && text.Find(u"", -5) == 0);
    CUnicodeSet set;
    set.AddRange(0xFFF0, 0xFFFF);  // a range ending at the last unit terminates
    EXPECT_TRUE(set.Contains(0xFFFF) && set.Contains(0xFFF5) && !set.Contains(0));
}

// Left to right, without overlap or rescanning; an empty pattern replaces nothing.
TEST(UnicodeString, ReplaceAll) {
    // The count of replacements, a colon, the text after them.
    const auto replaced = [](CUnicodeString text, const char16_t* oldText, const char16_t* newText) {
        const int count = text.ReplaceAll(oldText, newText);
        return Tolm::UnicodeStr(count, 10) + u":" + text;
    };
    EXPECT_EQ(u"2:abc", replaced(u"a'b'c", u"'", u""));
    EXPECT_EQ(u"2:aa", replaced(u"aaaa", u"aa", u"a"));
    EXPECT_EQ(u"0:abc", replaced(u"abc", u"", u"y"));
    EXPECT_EQ(u"2:xxxx", replaced(u"xx", u"x", u"xx"));
    CUnicodeString self(u"ab");
    EXPECT_TRUE(self.ReplaceAll(self, u"x") == 1 && self == u"x");
}

TEST(UnicodeString, BufferLengthComesFromTheTerminatorAndNeverExceedsTheBuffer) {
    CUnicodeString text(u"abc");
    text.SetBufferLength(6);
    EXPECT_EQ(0, text.GetBuffer()[5]);
    text.GetBuffer()[3] = u'd';
    text.ReleaseBuffer();
    EXPECT_EQ(u"abcd", text);
    text.SetBufferLength(2);
    text.ReleaseBuffer(-1);  // no terminator: the whole buffer
    EXPECT_EQ(u"ab", text);
    text.ReleaseBuffer(1);
    text.ReleaseBuffer(10);
    EXPECT_EQ(u"a", text);
    text.SetBufferLength(-3);
    EXPECT_TRUE(text.IsEmpty());
}

TEST(Utf8, RoundTripsEveryUnitAndSurrogatePairs) {
    CUnicodeString all;
    for (std::uint32_t unit = 1; unit <= 0xFFFF; ++unit)
        if (unit < 0xD800 || unit > 0xDFFF) all += static_cast<char16_t>(unit);
    const char16_t pairs[] = {0xD800, 0xDC00, 0xD83D, 0xDE00, 0xDBFF, 0xDFFF, 0};
    all += pairs;
    EXPECT_EQ(all, CUnicodeString::FromUtf8(all.ToUtf8()));
    EXPECT_EQ("\xF4\x8F\xBF\xBF", CUnicodeString(u"\U0010FFFF").ToUtf8());
    EXPECT_EQ(std::string("a\0b", 3), CUnicodeString(std::u16string_view(u"a\0b", 3)).ToUtf8());
    // Wide literals hold UTF-32 on this platform.
    EXPECT_EQ(u"%Y\U0001F600\u00E9", CUnicodeString::FromWide(L"%Y\U0001F600\u00E9"));
}

// Each maximal subpart of a sequence becomes one replacement character.
TEST(Utf8, UnpairedSurrogatesAndMalformedBytesBecomeReplacementCharacters) {
    const char16_t lone[] = {u'a', 0xD800, u'b', 0xDC00, 0xDC00, 0xD800, 0};
    EXPECT_EQ(u"a\uFFFDb\uFFFD\uFFFD\uFFFD", CUnicodeString::FromUtf8(CUnicodeString(lone).ToUtf8()));
    const char16_t atEnd[] = {0xD83D, 0};
    EXPECT_EQ("\xEF\xBF\xBD", CUnicodeString(atEnd).ToUtf8());
    // Between bars: a lone continuation, overlong '/', truncation before ASCII,
    // a maximal subpart, overlong three bytes, an encoded surrogate, past
    // U+10FFFF, bytes never used, a valid sequence, truncation at the end.
    EXPECT_EQ(
        u"\uFFFD|\uFFFD\uFFFD|\uFFFD|\uFFFD|\uFFFD\uFFFD\uFFFD|\uFFFD\uFFFD\uFFFD|\uFFFD\uFFFD\uFFFD\uFFFD|"
        u"\uFFFD\uFFFD|\u20AC|\uFFFD",
        CUnicodeString::FromUtf8("\x80|\xC0\xAF|\xC3|\xE2\x82|\xE0\x80\x80|\xED\xA0\x80|\xF4\x90\x80\x80|"
                                 "\xF5\xFF|\xE2\x82\xAC|\xC3"));
}

TEST(Strings, NullTextNegativeCountsAndBadIndexesAreHarmless) {
    ReportRecorder recorder;
    EXPECT_TRUE(CUnicodeString(u"ab")[1] == u'b' && CUnicodeString(u"ab")[2] == 0);
    EXPECT_TRUE(CUnicodeString(u"ab")[-1] == 0 && CString("xy")[2] == 0);
    EXPECT_TRUE(recorder.Count() == 3 && recorder.LastFromFramework());
    CUnicodeString text(static_cast<const char16_t*>(nullptr));
    text += static_cast<const char16_t*>(nullptr);
    EXPECT_TRUE(text.IsEmpty() && CUnicodeString(u"a", -1).IsEmpty() &&
                CUnicodeString::FromWide(nullptr).IsEmpty());
    EXPECT_TRUE(CString(static_cast<const char*>(nullptr)).IsEmpty() && CString("x", -1).IsEmpty());
}

}  // namespace
