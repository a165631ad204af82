#include <Tolm/String.h>

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "TestSupport.h"

using Tolm::CString;
using Tolm::CUnicodeSet;
using Tolm::CUnicodeString;
using TolmTest::ReportRecorder;

namespace {

std::string utf8(const char16_t* text) { return CUnicodeString(text).ToUtf8(); }

TEST(UnicodeString, SubstringsClampTheirArguments) {
    const CUnicodeString text(u"abcdef");
    // call: M = Mid(a, b), m = Mid(a), L = Left(a), R = Right(a).
    const struct {
        char call;
        int a, b;
        const char16_t* expected;
    } cases[] = {
        {'M', 0, 3, u"abc"},
        {'M', 2, 2, u"cd"},
        {'M', 4, 10, u"ef"},
        {'M', -3, 2, u"ab"},
        {'M', 6, 1, u""},
        {'M', 7, 1, u""},
        {'M', 2, 0, u""},
        {'M', 2, -1, u""},
        {'M', 0, INT_MAX, u"abcdef"},
        {'M', INT_MAX, INT_MAX, u""},
        {'m', 3, 0, u"def"},
        {'m', -1, 0, u"abcdef"},
        {'m', 99, 0, u""},
        {'L', -1, 0, u""},
        {'L', 2, 0, u"ab"},
        {'L', 50, 0, u"abcdef"},
        {'R', 2, 0, u"ef"},
        {'R', 50, 0, u"abcdef"},
        {'R', -2, 0, u""},
    };
    for (const auto& c : cases) {
        const CUnicodeString part = c.call == 'M'   ? text.Mid(c.a, c.b)
                                    : c.call == 'm' ? text.Mid(c.a)
                                    : c.call == 'L' ? text.Left(c.a)
                                                    : text.Right(c.a);
        EXPECT_EQ(c.expected, part) << c.call << "(" << c.a << ", " << c.b << ")";
    }
    EXPECT_EQ(u"", CUnicodeString().Mid(0, 1));
}

TEST(UnicodeString, ValueAcceptsOnlyAWholeNumberThatFits) {
    const struct {
        const char16_t* text;
        int radix;
        bool ok;
        int value;
    } cases[] = {
        {u"0", 10, true, 0},
        {u"+42", 10, true, 42},
        {u"-42", 10, true, -42},
        {u"0042", 10, true, 42},
        {u"2147483647", 10, true, INT_MAX},
        {u"-2147483648", 10, true, INT_MIN},
        {u"2147483648", 10, false, 0},
        {u"-2147483649", 10, false, 0},
        {u"99999999999999999999", 10, false, 0},
        {u"", 10, false, 0},
        {u"+", 10, false, 0},
        {u"-", 10, false, 0},
        {u"+-1", 10, false, 0},
        {u" 1", 10, false, 0},
        {u"1 ", 10, false, 0},
        {u"1a", 10, false, 0},
        {u"1.0", 10, false, 0},
        {u"\x0661", 10, false, 0},
        {u"fF", 16, true, 255},
        {u"-7fffffff", 16, true, -INT_MAX},
        {u"80000000", 16, false, 0},
        {u"101", 2, true, 5},
        {u"102", 2, false, 0},
        {u"z", 36, true, 35},
        {u"1", 1, false, 0},
        {u"1", 37, false, 0},
    };
    for (const auto& c : cases) {
        int value = -777;
        EXPECT_EQ(c.ok, CUnicodeString(c.text).Value(value, c.radix)) << utf8(c.text) << " radix " << c.radix;
        EXPECT_EQ(c.ok ? c.value : -777, value) << utf8(c.text);
    }
}

TEST(UnicodeString, UnicodeStrWritesEveryRadixAndReadsBack) {
    EXPECT_EQ(u"-2147483648", Tolm::UnicodeStr(INT_MIN, 10));
    EXPECT_EQ(u"-10000000000000000000000000000000", Tolm::UnicodeStr(INT_MIN, 2));
    EXPECT_EQ(u"-ff", Tolm::UnicodeStr(-255, 16));
    EXPECT_EQ(u"12", Tolm::UnicodeStr(12, 1));  // a radix out of range writes decimal
    for (const int value : {0, 1, -1, 35, 12345, INT_MAX, INT_MIN}) {
        for (int radix = 2; radix <= 36; ++radix) {
            int back = 0;
            ASSERT_TRUE(Tolm::UnicodeStr(value, radix).Value(back, radix)) << value << " " << radix;
            EXPECT_EQ(value, back);
        }
    }
}

TEST(UnicodeString, TrimAndMakeUpper) {
    const struct {
        const char16_t* text;
        const char16_t* expected;
    } cases[] = {
        {u"", u""},
        {u"   ", u""},
        {u" \t\r\n\v\f\u00A0x\u00A0 ", u"x"},
        {u"  a b  ", u"a b"},
        {u"\u2003x", u"\u2003x"},
    };  // an em space is not among the blanks
    for (const auto& c : cases) EXPECT_EQ(c.expected, CUnicodeString(c.text).Trim()) << utf8(c.text);
    // Latin-1 only; the upper case of y with diaeresis lies outside it.
    EXPECT_EQ(u"AZ AZ 09 \u00C0\u00DE\u00F7\u0178\u00DF \u0101 D:",
              CUnicodeString(u"az AZ 09 \u00E0\u00FE\u00F7\u00FF\u00DF \u0101 d:").MakeUpper());
}

TEST(UnicodeString, SearchesClampWhereTheyStart) {
    const CUnicodeString text(u"12:30+05'00");
    const CUnicodeSet signs(u"+-Z");
    const CUnicodeSet digits(u"0123456789");
    EXPECT_EQ(5, text.FindOneOf(signs, 5));
    EXPECT_EQ(-1, text.FindOneOf(signs, 6));
    EXPECT_EQ(0, text.FindOneOf(digits, -4));
    EXPECT_EQ(-1, text.FindOneOf(digits, 100));
    EXPECT_EQ(-1, text.FindOneOf(CUnicodeSet()));
    EXPECT_EQ(2, text.SpanIncludingLength(digits, -1));
    EXPECT_EQ(0, text.SpanIncludingLength(digits, 2));
    EXPECT_EQ(2, text.SpanIncludingLength(digits, 9));
    EXPECT_EQ(0, text.SpanIncludingLength(digits, 11));
    EXPECT_EQ(0, text.SpanIncludingLength(digits, 500));
    EXPECT_EQ(4, CUnicodeString(u"abcabc").Find(u"bc", 2));
    EXPECT_EQ(-1, CUnicodeString(u"abcabc").Find(u"bc", 100));
    EXPECT_EQ(0, CUnicodeString(u"abcabc").Find(u"", -5));

    CUnicodeSet set;
    set.AddRange(0xFFF0, 0xFFFF);  // a range ending at the last unit terminates
    EXPECT_TRUE(set.Contains(0xFFFF) && set.Contains(0xFFF5) && !set.Contains(0));
}

TEST(UnicodeString, ReplaceAllGoesLeftToRightWithoutRescanning) {
    const struct {
        const char16_t *text, *oldText, *newText;
        int count;
        const char16_t* expected;
    } cases[] = {
        {u"a'b'c", u"'", u"", 2, u"abc"}, {u"aaaa", u"aa", u"a", 2, u"aa"}, {u"abc", u"x", u"y", 0, u"abc"},
        {u"", u"x", u"y", 0, u""},        {u"abc", u"", u"y", 0, u"abc"},   {u"xx", u"x", u"xx", 2, u"xxxx"},
    };
    for (const auto& c : cases) {
        CUnicodeString text(c.text);
        EXPECT_EQ(c.count, text.ReplaceAll(c.oldText, c.newText)) << utf8(c.text);
        EXPECT_EQ(c.expected, text);
    }
    CUnicodeString self(u"ab");
    EXPECT_EQ(1, self.ReplaceAll(self, u"x"));
    EXPECT_EQ(u"x", self);
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

TEST(UnicodeString, IndexOutsideIsReportedFromTheFramework) {
    ReportRecorder recorder;
    EXPECT_EQ(u'b', CUnicodeString(u"ab")[1]);
    EXPECT_EQ(0, CUnicodeString(u"ab")[2]);
    EXPECT_EQ(0, CUnicodeString(u"ab").GetAt(-1));
    EXPECT_EQ(0, CString("xy")[2]);
    EXPECT_EQ(3, recorder.count());
    EXPECT_TRUE(TolmTest::fromFramework(recorder.last()));
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

TEST(Utf8, UnpairedSurrogatesAndMalformedBytesBecomeReplacementCharacters) {
    const char16_t lone[] = {u'a', 0xD800, u'b', 0xDC00, 0xDC00, 0xD800, 0};
    EXPECT_EQ(u"a\uFFFDb\uFFFD\uFFFD\uFFFD", CUnicodeString::FromUtf8(CUnicodeString(lone).ToUtf8()));
    const char16_t atEnd[] = {0xD83D, 0};
    EXPECT_EQ("\xEF\xBF\xBD", CUnicodeString(atEnd).ToUtf8());

    // Each maximal subpart of a sequence becomes one replacement.
    const struct {
        std::string bytes;
        std::u16string expected;
    } cases[] = {
        {"\x80", u"\uFFFD"},
        {"\xC0\xAF", u"\uFFFD\uFFFD"},  // overlong '/'
        {"\xC3", u"\uFFFD"},
        {"\xC3"
         "A",
         u"\uFFFDA"},
        {"\xE2\x82", u"\uFFFD"},
        {"\xE0\x80\x80", u"\uFFFD\uFFFD\uFFFD"},
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // an encoded surrogate
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // past U+10FFFF
        {"\xF5", u"\uFFFD"},
        {"\xFF\xFE", u"\uFFFD\uFFFD"},
        {"a\xE2\x82\xACz", u"a\u20ACz"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.expected, CUnicodeString::FromUtf8(c.bytes).View()) << c.bytes;
}

TEST(Strings, NullAndCountedTextAndZerosInside) {
    const char16_t units[] = {u'a', 0, u'b'};
    EXPECT_EQ(3, CUnicodeString(units, 3).GetLength());
    EXPECT_TRUE(CUnicodeString(units, -1).IsEmpty());
    CUnicodeString text(static_cast<const char16_t*>(nullptr));
    text += static_cast<const char16_t*>(nullptr);
    EXPECT_TRUE(text == static_cast<const char16_t*>(nullptr));
    EXPECT_TRUE(CUnicodeString::FromWide(nullptr).IsEmpty());
    EXPECT_EQ(3, CString("a\0b", 3).GetLength());
    EXPECT_TRUE(CString(static_cast<const char*>(nullptr)).IsEmpty());
    EXPECT_TRUE(CString("x", -1).IsEmpty());
}

}  // namespace
