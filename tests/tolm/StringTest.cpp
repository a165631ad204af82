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

std::string utf8(const CUnicodeString& text) { return text.ToUtf8(); }

TEST(UnicodeString, ConstructionFromNullAndCountedTextWithZeros) {
    EXPECT_TRUE(CUnicodeString(static_cast<const char16_t*>(nullptr)).IsEmpty());
    const char16_t units[] = {u'a', 0, u'b'};
    CUnicodeString withZero(units, 3);
    EXPECT_EQ(3, withZero.GetLength());
    EXPECT_EQ(0, withZero[1]);
    EXPECT_TRUE(CUnicodeString(units, -1).IsEmpty());
    EXPECT_EQ(u"", CUnicodeString());
}

TEST(UnicodeString, SubstringsClampTheirArguments) {
    const CUnicodeString text(u"abcdef");
    struct Case {
        int first, count;
        const char16_t* expected;
    };
    const Case cases[] = {
        {0, 3, u"abc"}, {2, 2, u"cd"}, {4, 10, u"ef"}, {-3, 2, u"ab"},          {6, 1, u""},
        {7, 1, u""},    {2, 0, u""},   {2, -1, u""},   {0, INT_MAX, u"abcdef"}, {INT_MAX, INT_MAX, u""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, text.Mid(c.first, c.count)) << c.first << "," << c.count;
    EXPECT_EQ(u"def", text.Mid(3));
    EXPECT_EQ(u"abcdef", text.Mid(-1));
    EXPECT_EQ(u"", text.Mid(99));
    EXPECT_EQ(u"", text.Left(-1));
    EXPECT_EQ(u"ab", text.Left(2));
    EXPECT_EQ(u"abcdef", text.Left(50));
    EXPECT_EQ(u"ef", text.Right(2));
    EXPECT_EQ(u"abcdef", text.Right(50));
    EXPECT_EQ(u"", text.Right(-2));
    EXPECT_EQ(u"", CUnicodeString().Mid(0, 1));
}

TEST(UnicodeString, ValueAcceptsOnlyAWholeNumber) {
    struct Case {
        const char16_t* text;
        int radix;
        bool ok;
        int value;
    };
    const Case cases[] = {
        {u"0", 10, true, 0},
        {u"42", 10, true, 42},
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
        {u"\x0661", 10, false, 0},  // Arabic-Indic one: not an ASCII digit
        {u"ff", 16, true, 255},
        {u"FF", 16, true, 255},
        {u"-7fffffff", 16, true, -INT_MAX},
        {u"80000000", 16, false, 0},
        {u"101", 2, true, 5},
        {u"102", 2, false, 0},
        {u"z", 36, true, 35},
        {u"1", 1, false, 0},
        {u"1", 37, false, 0},
    };
    for (const Case& c : cases) {
        int value = -777;
        const bool ok = CUnicodeString(c.text).Value(value, c.radix);
        EXPECT_EQ(c.ok, ok) << utf8(CUnicodeString(c.text)) << " radix " << c.radix;
        EXPECT_EQ(c.ok ? c.value : -777, value) << utf8(CUnicodeString(c.text));
    }
}

TEST(UnicodeString, TrimRemovesBlanksAtBothEndsOnly) {
    struct Case {
        const char16_t* text;
        const char16_t* expected;
    };
    const Case cases[] = {
        {u"", u""},       {u"   ", u""},        {u" \t\r\n\v\f\u00A0x\u00A0 ", u"x"},
        {u"a b", u"a b"}, {u"  a b  ", u"a b"}, {u"\u2003x", u"\u2003x"},  // em space is not among the blanks
    };
    for (const Case& c : cases) {
        CUnicodeString text(c.text);
        EXPECT_EQ(c.expected, text.Trim()) << utf8(CUnicodeString(c.text));
    }
}

TEST(UnicodeString, MakeUpperTouchesAsciiAndLatin1LettersOnly) {
    CUnicodeString text(u"az AZ 09 \u00E0\u00FE\u00F7\u00FF\u00DF \u0101 d:");
    EXPECT_EQ(u"AZ AZ 09 \u00C0\u00DE\u00F7\u0178\u00DF \u0101 D:", text.MakeUpper());
}

TEST(UnicodeString, FindOneOfAndSpan) {
    const CUnicodeString text(u"12:30+05'00");
    const CUnicodeSet signs(u"+-Z");
    const CUnicodeSet digits(u"0123456789");
    EXPECT_EQ(5, text.FindOneOf(signs));
    EXPECT_EQ(5, text.FindOneOf(signs, 5));
    EXPECT_EQ(-1, text.FindOneOf(signs, 6));
    EXPECT_EQ(0, text.FindOneOf(digits, -4));
    EXPECT_EQ(-1, text.FindOneOf(digits, 100));
    EXPECT_EQ(-1, CUnicodeString().FindOneOf(digits));
    EXPECT_EQ(-1, text.FindOneOf(CUnicodeSet()));

    EXPECT_EQ(2, text.SpanIncludingLength(digits));
    EXPECT_EQ(0, text.SpanIncludingLength(digits, 2));
    EXPECT_EQ(2, text.SpanIncludingLength(digits, 6));
    EXPECT_EQ(2, text.SpanIncludingLength(digits, 9));
    EXPECT_EQ(0, text.SpanIncludingLength(digits, 11));
    EXPECT_EQ(0, text.SpanIncludingLength(digits, 500));
    EXPECT_EQ(2, text.SpanIncludingLength(digits, -1));
}

TEST(UnicodeString, SetRangesAndUnitsOutsideLatin) {
    CUnicodeSet set;
    set.AddRange(u'a', u'c');
    set.Add(0xFFFF);
    set.AddRange(0xFFF0, 0xFFFF);  // a range ending at the last unit terminates
    EXPECT_TRUE(set.Contains(u'b'));
    EXPECT_FALSE(set.Contains(u'd'));
    EXPECT_TRUE(set.Contains(0xFFFF));
    EXPECT_TRUE(set.Contains(0xFFF5));
    EXPECT_FALSE(set.Contains(0));
}

TEST(UnicodeString, FindAndReplaceAll) {
    struct Case {
        const char16_t* text;
        const char16_t* oldText;
        const char16_t* newText;
        int count;
        const char16_t* expected;
    };
    const Case cases[] = {
        {u"a'b'c", u"'", u"", 2, u"abc"},
        {u"aaaa", u"aa", u"a", 2, u"aa"},  // left to right, no overlap, no rescan
        {u"abc", u"x", u"y", 0, u"abc"},
        {u"", u"x", u"y", 0, u""},
        {u"abc", u"", u"y", 0, u"abc"},    // empty pattern replaces nothing
        {u"xx", u"x", u"xx", 2, u"xxxx"},  // replacement holding the pattern
        {u"T12", u"T", u"", 1, u"12"},
    };
    for (const Case& c : cases) {
        CUnicodeString text(c.text);
        EXPECT_EQ(c.count, text.ReplaceAll(c.oldText, c.newText)) << utf8(CUnicodeString(c.text));
        EXPECT_EQ(c.expected, text);
    }
    CUnicodeString self(u"ab");
    EXPECT_EQ(1, self.ReplaceAll(self, u"x"));
    EXPECT_EQ(u"x", self);

    const CUnicodeString text(u"abcabc");
    EXPECT_EQ(1, text.Find(u"bc"));
    EXPECT_EQ(4, text.Find(u"bc", 2));
    EXPECT_EQ(-1, text.Find(u"bc", 5));
    EXPECT_EQ(-1, text.Find(u"bc", 100));
    EXPECT_EQ(0, text.Find(u"", -5));
}

TEST(UnicodeString, BufferProtocolSetsLengthFromTheTerminator) {
    CUnicodeString text(u"abc");
    text.SetBufferLength(6);
    char16_t* buffer = text.GetBuffer();
    EXPECT_EQ(u'a', buffer[0]);
    EXPECT_EQ(0, buffer[3]);
    EXPECT_EQ(0, buffer[5]);
    buffer[3] = u'd';
    text.ReleaseBuffer();
    EXPECT_EQ(u"abcd", text);

    // No zero in the buffer: the length is the whole buffer.
    CUnicodeString full;
    full.SetBufferLength(2);
    full.GetBuffer()[0] = u'x';
    full.GetBuffer()[1] = u'y';
    full.ReleaseBuffer(-1);
    EXPECT_EQ(u"xy", full);

    // An explicit length, shorter or past the buffer.
    CUnicodeString counted;
    counted.SetBufferLength(4);
    counted.GetBuffer()[0] = u'q';
    counted.ReleaseBuffer(1);
    EXPECT_EQ(u"q", counted);
    counted.ReleaseBuffer(10);
    EXPECT_EQ(1, counted.GetLength());

    // Shrinking keeps the leading units; a negative size empties.
    CUnicodeString shrink(u"abcdef");
    shrink.SetBufferLength(2);
    shrink.ReleaseBuffer();
    EXPECT_EQ(u"ab", shrink);
    shrink.SetBufferLength(-3);
    EXPECT_TRUE(shrink.IsEmpty());
}

TEST(UnicodeString, ConcatenationAndComparison) {
    CUnicodeString text(u"D:");
    text += CUnicodeString(u"2026");
    text += u"12";
    text += u'Z';
    text += static_cast<const char16_t*>(nullptr);
    EXPECT_EQ(u"D:202612Z", text);
    EXPECT_EQ(u"x+y", u"x" + CUnicodeString(u"+") + u"y");
    EXPECT_FALSE(CUnicodeString(u"a") == CUnicodeString(u"A"));
    EXPECT_TRUE(CUnicodeString() == static_cast<const char16_t*>(nullptr));
}

TEST(UnicodeString, UnicodeStrWritesEveryRadix) {
    struct Case {
        int value, radix;
        const char16_t* expected;
    };
    const Case cases[] = {
        {0, 10, u"0"},
        {-42, 10, u"-42"},
        {INT_MAX, 10, u"2147483647"},
        {INT_MIN, 10, u"-2147483648"},
        {255, 16, u"ff"},
        {-255, 16, u"-ff"},
        {5, 2, u"101"},
        {35, 36, u"z"},
        {INT_MIN, 2, u"-10000000000000000000000000000000"},
        {12, 1, u"12"},  // a radix out of range writes decimal
    };
    for (const Case& c : cases) EXPECT_EQ(c.expected, Tolm::UnicodeStr(c.value, c.radix)) << c.value;
    for (int value : {0, 1, -1, 12345, INT_MAX, INT_MIN}) {
        for (int radix = 2; radix <= 36; ++radix) {
            int back = 0;
            ASSERT_TRUE(Tolm::UnicodeStr(value, radix).Value(back, radix)) << value << " " << radix;
            EXPECT_EQ(value, back);
        }
    }
}

TEST(UnicodeString, IndexOutsideIsReportedFromTheFramework) {
    ReportRecorder recorder;
    const CUnicodeString text(u"ab");
    EXPECT_EQ(u'b', text[1]);
    EXPECT_EQ(0, recorder.count());
    EXPECT_EQ(0, text[2]);
    EXPECT_EQ(0, text.GetAt(-1));
    ASSERT_EQ(2, recorder.count());
    EXPECT_TRUE(TolmTest::fromFramework(recorder.last()));

    const CString bytes("xy");
    EXPECT_EQ('y', bytes[1]);
    EXPECT_EQ(0, bytes[2]);
    EXPECT_EQ(3, recorder.count());
}

TEST(Utf8, RoundTripsEveryUnitAndSurrogatePairs) {
    // Every non-surrogate unit, then pairs at the edges of the supplementary planes.
    CUnicodeString all;
    for (std::uint32_t unit = 1; unit <= 0xFFFF; ++unit)
        if (unit < 0xD800 || unit > 0xDFFF) all += static_cast<char16_t>(unit);
    const char16_t pairs[] = {0xD800, 0xDC00, 0xD83D, 0xDE00, 0xDBFF, 0xDFFF, 0};
    all += pairs;
    EXPECT_EQ(all, CUnicodeString::FromUtf8(all.ToUtf8()));

    EXPECT_EQ("\xF0\x9F\x98\x80", CUnicodeString(u"\U0001F600").ToUtf8());
    EXPECT_EQ("\xF4\x8F\xBF\xBF", CUnicodeString(u"\U0010FFFF").ToUtf8());
    EXPECT_EQ(std::string("a\0b", 3), CUnicodeString(std::u16string_view(u"a\0b", 3)).ToUtf8());
}

TEST(Utf8, UnpairedSurrogatesBecomeReplacementCharacters) {
    const char16_t lone[] = {u'a', 0xD800, u'b', 0xDC00, 0xDC00, 0xD800, 0};
    EXPECT_EQ(
        "a\xEF\xBF\xBD"
        "b\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD",
        CUnicodeString(lone).ToUtf8());
    const char16_t atEnd[] = {0xD83D, 0};
    EXPECT_EQ("\xEF\xBF\xBD", CUnicodeString(atEnd).ToUtf8());
}

TEST(Utf8, MalformedInputBecomesReplacementCharacters) {
    struct Case {
        std::string bytes;
        std::u16string expected;
    };
    const Case cases[] = {
        {"\x80", u"\uFFFD"},            // lone continuation
        {"\xC0\xAF", u"\uFFFD\uFFFD"},  // overlong '/'
        {"\xC3", u"\uFFFD"},            // truncated at the end
        {"\xC3"
         "A",
         u"\uFFFDA"},                                       // truncated, resumes at A
        {"\xE2\x82", u"\uFFFD"},                            // maximal subpart is one replacement
        {"\xE0\x80\x80", u"\uFFFD\uFFFD\uFFFD"},            // overlong three-byte form
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // encoded surrogate
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // past U+10FFFF
        {"\xF5", u"\uFFFD"},
        {"\xFF\xFE", u"\uFFFD\uFFFD"},
        {"a\xE2\x82\xACz", u"a\u20ACz"},
        {"", u""},
    };
    for (const Case& c : cases) EXPECT_EQ(c.expected, CUnicodeString::FromUtf8(c.bytes).View()) << c.bytes;
}

TEST(Utf8, WideTextFromLiterals) {
    EXPECT_EQ(u"%Y-%m", CUnicodeString::FromWide(L"%Y-%m"));
    EXPECT_EQ(u"\U0001F600\u00E9", CUnicodeString::FromWide(L"\U0001F600\u00E9"));
    EXPECT_TRUE(CUnicodeString::FromWide(nullptr).IsEmpty());
}

TEST(ByteString, HoldsAnyByte) {
    const CString bytes("a\0b", 3);
    EXPECT_EQ(3, bytes.GetLength());
    EXPECT_EQ(0, bytes[1]);
    EXPECT_TRUE(CString(static_cast<const char*>(nullptr)).IsEmpty());
    EXPECT_TRUE(CString("x", -1).IsEmpty());
    EXPECT_EQ(CString("ab"), CString(std::string_view("ab")));
    EXPECT_FALSE(CString("ab") == CString("a"));
}

}  // namespace
