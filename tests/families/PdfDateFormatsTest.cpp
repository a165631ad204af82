#include <Korvan/PdfDateFormats.h>

#include <Tolm/Time.h>

#include <gtest/gtest.h>

#include <string>

namespace {

Tolm::CTime at(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
    return Tolm::CTime(year, month, day, hour, minute, second, 0, 0);
}

std::string utf8(const Tolm::CUnicodeString& text) { return text.ToUtf8(); }

std::string show(const Tolm::CTime& time) { return utf8(time.UnicodeFormat(u"%Y-%m-%d %H:%M:%S")); }

Tolm::CUnicodeString text(const char* utf8Text) { return Tolm::CUnicodeString::FromUtf8(utf8Text); }

constexpr int kHours = 60;

// ---------------------------------------------------------------- Formatting

TEST(DateFormattingTest, AppendsTheLocalOffset) {
    struct Case {
        int offsetMinutes;
        const char* docInfo;
        const char* iso;
    };
    const Case cases[] = {
        {3 * kHours, "D:20240102030405+03'00'", "2024-01-02T03:04:05+03:00"},
        {0, "D:20240102030405Z00'00'", "2024-01-02T03:04:05Z"},
        {5 * kHours + 30, "D:20240102030405+05'30'", "2024-01-02T03:04:05+05:30"},
        {-(3 * kHours + 30), "D:20240102030405-03'30'", "2024-01-02T03:04:05-03:30"},
        {-30, "D:20240102030405-00'30'", "2024-01-02T03:04:05-00:30"},
        {14 * kHours, "D:20240102030405+14'00'", "2024-01-02T03:04:05+14:00"},
        {-12 * kHours, "D:20240102030405-12'00'", "2024-01-02T03:04:05-12:00"},
        {45, "D:20240102030405+00'45'", "2024-01-02T03:04:05+00:45"},
    };
    const Tolm::CTime time = at(2024, 1, 2, 3, 4, 5);
    for (const Case& c : cases) {
        Tolm::CFixedLocalZoneOffset zone(c.offsetMinutes);
        EXPECT_EQ(c.docInfo, utf8(Korvan::ConvertTimeToDocInfoFormat(time))) << c.offsetMinutes;
        EXPECT_EQ(c.iso, utf8(Korvan::ConvertTimeToISOFormat(time))) << c.offsetMinutes;
    }
}

TEST(DateFormattingTest, ZeroTimeGivesTheEmptyString) {
    for (const int offset : {0, 3 * kHours, -12 * kHours}) {
        Tolm::CFixedLocalZoneOffset zone(offset);
        EXPECT_TRUE(Korvan::ConvertTimeToDocInfoFormat(Tolm::ZeroTime).IsEmpty());
        EXPECT_TRUE(Korvan::ConvertTimeToISOFormat(Tolm::ZeroTime).IsEmpty());
    }
}

// The offset appended is the one of the moment of the call, whatever the date.
TEST(DateFormattingTest, WritesTheTimeFieldsUnchanged) {
    Tolm::CFixedLocalZoneOffset zone(-5 * kHours);
    EXPECT_EQ("D:20240715235959-05'00'",
              utf8(Korvan::ConvertTimeToDocInfoFormat(at(2024, 7, 15, 23, 59, 59))));
    EXPECT_EQ("1970-01-01T00:00:00-05:00", utf8(Korvan::ConvertTimeToISOFormat(at(1970, 1, 1))));
}

// ---------------------------------------------------------------- Parsing

struct ParseCase {
    const char* input;
    const char* expected;  // local wall-clock time, or "" for ZeroTime
};

void expectParses(int offsetMinutes, const ParseCase* cases, std::size_t count) {
    Tolm::CFixedLocalZoneOffset zone(offsetMinutes);
    for (std::size_t i = 0; i < count; ++i) {
        const Tolm::CTime parsed = Korvan::ConvertTimeStringToTime(text(cases[i].input));
        const std::string got = parsed == Tolm::ZeroTime ? std::string() : show(parsed);
        EXPECT_EQ(cases[i].expected, got)
            << "input: \"" << cases[i].input << "\" at offset " << offsetMinutes;
    }
}

TEST(DateParsingTest, ReadsEveryFormInUtcPlus3) {
    const ParseCase cases[] = {
        {"", ""},
        {"   \t ", ""},
        // Form A: with the D: prefix.
        {"D:20240102030405+03'00'", "2024-01-02 03:04:05"},
        {"d:20240102030405z", "2024-01-02 06:04:05"},
        {" D:20240102030405Z00'00' ", "2024-01-02 06:04:05"},
        {"D:2024", "2024-01-01 03:00:00"},
        {"D:202407", "2024-07-01 03:00:00"},
        {"D:2024070", "2024-07-01 03:00:00"},
        {"D:20240231", "2024-02-29 03:00:00"},
        {"D:20230231", "2023-02-28 03:00:00"},
        {"D:21000229", "2100-02-28 03:00:00"},
        {"D:20000229", "2000-02-29 03:00:00"},
        {"D:19600101", "1970-01-01 03:00:00"},
        {"D:20241399", "2024-12-31 03:00:00"},
        {"D:20240100", "2024-01-01 03:00:00"},
        {"D:20240102256161", "2024-01-03 02:59:59"},
        {"D:20240102030405-05'30'", "2024-01-02 11:34:05"},
        {"D:20240102030405+05", "2024-01-02 01:04:05"},
        {"D:20240102030405+", "2024-01-02 06:04:05"},
        {"D:20240102030405-", "2024-01-02 06:04:05"},
        {"D:20240102030405+99'99'", "2023-12-29 01:25:05"},
        {"D:20240102030405X03'00'", "2024-01-02 03:04:05"},  // any mark but '-' counts as '+'
        {"D:20240102030405+03'XY'", "2024-01-02 03:04:05"},
        {"D:2024AB02030405", "2024-01-01 03:00:00"},  // reading stops at the month
        {"D:202401021", "2024-01-02 03:00:00"},
        {"D:12", "1970-01-01 03:00:00"},
        {"D:ABCD", "1970-01-01 03:00:00"},
        // Form B: the same digits without prefix, zone sign at 14.
        {"20240102030405+0530", "2024-01-02 00:34:05"},
        {"20240102030405-0530", "2024-01-02 11:34:05"},
        {"20240102030405+05'30'", "2024-01-02 01:04:05"},
        {"20240102030405+", "2024-01-02 06:04:05"},
        {"20240102030405-03", "2024-01-02 09:04:05"},
        {"2024010203040X+0530", "1970-01-01 03:00:00"},  // not all digits: nothing read
        {"20240102030405", "1970-01-01 03:00:00"},
        {"20240102030405Z", "1970-01-01 03:00:00"},
        // Form C: ISO 8601 extended.
        {"2024-01-02T03:04:05+03:00", "2024-01-02 03:04:05"},
        {"2024-01-02T03:04:05-05:00", "2024-01-02 11:04:05"},
        {"2024-01-02T03:04:05.123456Z", "2024-01-02 06:04:05"},
        {"2024-01-02T03:04:05.5+01:00", "2024-01-02 05:04:05"},
        {"2024-01-02t03:04:05", "2024-01-02 06:04:05"},
        {"2024-01-02T03:04", "2024-01-02 06:04:00"},
        {"2024-01-02T03:04+01:00", "2024-01-02 05:04:00"},
        {"2024-01-02", "2024-01-02 03:00:00"},
        {"2024-01-02 03:04:05", "2024-01-02 03:00:00"},
        {"2024-01-02T03:04:05+0300", "2024-01-02 06:04:05"},
        {"2024-01-02T03:04:05Z00'00'", "2024-01-02 06:04:05"},
        {"2024-01-02T03:04:XX+03:00", "2024-01-02 03:04:00"},  // a bad second does not stop the zone
        {"2024-01-02T03:04:05X03:00", "2024-01-02 06:04:05"},
        {"2024-01-02T0X:04:05+03:00", "2024-01-02 03:00:00"},
        {"2024/01/02", "1970-01-01 03:00:00"},
        {"garbage", "1970-01-01 03:00:00"},
    };
    expectParses(3 * kHours, cases, std::size(cases));
}

TEST(DateParsingTest, MovesTheZoneOfTheTextToTheLocalOne) {
    const ParseCase utc[] = {
        {"D:20240102030405+03'00'", "2024-01-02 00:04:05"},
        {"D:20240102030405Z", "2024-01-02 03:04:05"},
        {"2024-01-02T03:04:05-00:30", "2024-01-02 03:34:05"},
        {"D:2024", "2024-01-01 00:00:00"},
        {"garbage", "1970-01-01 00:00:00"},
    };
    expectParses(0, utc, std::size(utc));
    const ParseCase west[] = {
        {"D:20240101003000Z", "2023-12-31 21:00:00"},
        {"2024-03-01T01:00:00+00:00", "2024-02-29 21:30:00"},
    };
    expectParses(-(3 * kHours + 30), west, std::size(west));
}

// Written by either formatter and read back under the same offset, a time
// comes back to the second: across leap days, month and year ends, and for
// offsets east and west, whole and half hours.
TEST(DateParsingTest, FormattedTimesComeBackUnchanged) {
    const int offsets[] = {3 * kHours, 0,           5 * kHours + 30, -(3 * kHours + 30),
                           -30,        14 * kHours, -12 * kHours};
    const Tolm::CTime times[] = {
        at(1970, 1, 1, 0, 0, 0),     at(1970, 1, 1, 23, 59, 59),  at(2000, 2, 28, 23, 59, 59),
        at(2000, 2, 29, 0, 0, 0),    at(2000, 2, 29, 23, 59, 59), at(2000, 3, 1, 0, 0, 0),
        at(2024, 2, 29, 12, 30, 30), at(2023, 2, 28, 23, 59, 59), at(2100, 2, 28, 23, 59, 59),
        at(2024, 1, 31, 23, 59, 59), at(2024, 4, 30, 0, 0, 1),    at(2024, 12, 31, 23, 59, 59),
        at(2025, 1, 1, 0, 0, 0),     at(2024, 6, 30, 23, 30, 0),  at(9999, 12, 31, 23, 59, 59),
    };
    for (const int offset : offsets) {
        Tolm::CFixedLocalZoneOffset zone(offset);
        for (const Tolm::CTime& time : times) {
            const Tolm::CUnicodeString docInfo = Korvan::ConvertTimeToDocInfoFormat(time);
            const Tolm::CUnicodeString iso = Korvan::ConvertTimeToISOFormat(time);
            EXPECT_EQ(show(time), show(Korvan::ConvertTimeStringToTime(docInfo))) << utf8(docInfo);
            EXPECT_EQ(show(time), show(Korvan::ConvertTimeStringToTime(iso))) << utf8(iso);
        }
        EXPECT_EQ(Tolm::ZeroTime,
                  Korvan::ConvertTimeStringToTime(Korvan::ConvertTimeToISOFormat(Tolm::ZeroTime)));
    }
}

}  // namespace
