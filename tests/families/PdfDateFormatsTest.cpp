#include <Korvan/PdfDateFormats.h>

#include <Tolm/Time.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

Tolm::CTime at(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
    return Tolm::CTime(year, month, day, hour, minute, second, 0, 0);
}

std::string show(const Tolm::CTime& time) { return time.UnicodeFormat(u"%Y-%m-%d %H:%M:%S").ToUtf8(); }

constexpr int kHours = 60;

// Results are local wall-clock times ("" for ZeroTime) under the given offset.
TEST(DateParsingTest, ReadsEveryForm) {
    constexpr int east = 3 * kHours;
    const struct {
        int offsetMinutes;
        const char* input;
        const char* expected;
    } cases[] = {
        {east, "", ""},
        {east, "   \t ", ""},
        // With the D: prefix.
        {east, "D:20240102030405+03'00'", "2024-01-02 03:04:05"},
        {0, "D:20240102030405+03'00'", "2024-01-02 00:04:05"},
        {east, "d:20240102030405z", "2024-01-02 06:04:05"},
        {east, "D:2024", "2024-01-01 03:00:00"},
        {east, "D:202407", "2024-07-01 03:00:00"},
        {east, "D:20240231", "2024-02-29 03:00:00"},
        {east, "D:20230231", "2023-02-28 03:00:00"},
        {east, "D:21000229", "2100-02-28 03:00:00"},
        {east, "D:20000229", "2000-02-29 03:00:00"},
        {east, "D:19600101", "1970-01-01 03:00:00"},
        {east, "D:20241399", "2024-12-31 03:00:00"},
        {east, "D:20240102256161", "2024-01-03 02:59:59"},
        {east, "D:20240102030405-05'30'", "2024-01-02 11:34:05"},
        {east, "D:20240102030405+05", "2024-01-02 01:04:05"},
        {east, "D:20240102030405+", "2024-01-02 06:04:05"},
        {east, "D:20240102030405+99'99'", "2023-12-29 01:25:05"},
        {east, "D:12", "1970-01-01 03:00:00"},
        // The same digits without prefix, zone sign at 14.
        {east, "20240102030405+0530", "2024-01-02 00:34:05"},
        {east, "20240102030405-0530", "2024-01-02 11:34:05"},
        {east, "20240102030405+05'30'", "2024-01-02 01:04:05"},
        {east, "20240102030405", "1970-01-01 03:00:00"},
        {east, "20240102030405Z", "1970-01-01 03:00:00"},
        // ISO 8601 extended.
        {east, "2024-01-02T03:04:05+03:00", "2024-01-02 03:04:05"},
        {east, "2024-01-02T03:04:05-05:00", "2024-01-02 11:04:05"},
        {east, "2024-01-02T03:04:05.123456Z", "2024-01-02 06:04:05"},
        {east, "2024-01-02T03:04", "2024-01-02 06:04:00"},
        {east, "2024-01-02", "2024-01-02 03:00:00"},
        {east, "2024-01-02 03:04:05", "2024-01-02 03:00:00"},
        {east, "2024-01-02T03:04:05+0300", "2024-01-02 06:04:05"},
        {east, "2024-01-02T03:04:05Z00'00'", "2024-01-02 06:04:05"},
    };
    for (const auto& c : cases) {
        Tolm::CFixedLocalZoneOffset zone(c.offsetMinutes);
        const Tolm::CTime parsed = Korvan::ConvertTimeStringToTime(Tolm::CUnicodeString::FromUtf8(c.input));
        EXPECT_EQ(c.expected, parsed == Tolm::ZeroTime ? std::string() : show(parsed))
            << "\"" << c.input << "\" at offset " << c.offsetMinutes;
    }
}

// The offset is only appended, never applied to the time's own fields. Read
// back under the same offset, a time written by either formatter comes back
// to the second: the first and the last second of every month of leap,
// common and century years.
TEST(DateFormattingTest, AppendsTheLocalOffsetAndReadsBack) {
    const struct {
        int offsetMinutes;
        const char* docInfo;
        const char* iso;
    } cases[] = {
        {3 * kHours, "D:20240102030405+03'00'", "2024-01-02T03:04:05+03:00"},
        {0, "D:20240102030405Z00'00'", "2024-01-02T03:04:05Z"},
        {5 * kHours + 30, "D:20240102030405+05'30'", "2024-01-02T03:04:05+05:30"},
        {-(3 * kHours + 30), "D:20240102030405-03'30'", "2024-01-02T03:04:05-03:30"},
        {-30, "D:20240102030405-00'30'", "2024-01-02T03:04:05-00:30"},
        {14 * kHours, "D:20240102030405+14'00'", "2024-01-02T03:04:05+14:00"},
    };
    std::vector<Tolm::CTime> times{at(2024, 2, 29, 12, 30, 30), at(9999, 12, 31, 23, 59, 59)};
    for (const int year : {1970, 2000, 2023, 2024, 2100}) {
        for (int month = 1; month <= 12; ++month) {
            times.push_back(at(year, month, 1));
            if (year > 1970 || month > 1)
                times.push_back(at(year, month, 1) - Tolm::CTimeSpan(Tolm::CTimeSpan::kTicksPerSecond));
        }
    }
    for (const auto& c : cases) {
        Tolm::CFixedLocalZoneOffset zone(c.offsetMinutes);
        EXPECT_EQ(c.docInfo, Korvan::ConvertTimeToDocInfoFormat(at(2024, 1, 2, 3, 4, 5)).ToUtf8());
        EXPECT_EQ(c.iso, Korvan::ConvertTimeToISOFormat(at(2024, 1, 2, 3, 4, 5)).ToUtf8());
        EXPECT_TRUE(Korvan::ConvertTimeToDocInfoFormat(Tolm::ZeroTime).IsEmpty());
        EXPECT_TRUE(Korvan::ConvertTimeToISOFormat(Tolm::ZeroTime).IsEmpty());
        for (const Tolm::CTime& time : times) {
            for (const Tolm::CUnicodeString& written :
                 {Korvan::ConvertTimeToDocInfoFormat(time), Korvan::ConvertTimeToISOFormat(time)})
                EXPECT_EQ(show(time), show(Korvan::ConvertTimeStringToTime(written))) << written.ToUtf8();
        }
    }
}

}  // namespace
