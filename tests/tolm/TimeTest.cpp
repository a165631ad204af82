#include <Tolm/Time.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "TestSupport.h"

using Tolm::CFixedCurrentTime;
using Tolm::CFixedLocalZoneOffset;
using Tolm::CTime;
using Tolm::CTimeSpan;
using Tolm::CUnicodeString;

namespace {

constexpr std::int64_t kTicks1970 = 116'444'736'000'000'000;
constexpr std::int64_t kSecond = CTimeSpan::kTicksPerSecond;
constexpr std::int64_t kMinute = CTimeSpan::kTicksPerMinute;

std::int64_t ticksOf(const FILETIME& fileTime) {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(fileTime.dwHighDateTime) << 32) |
                                     fileTime.dwLowDateTime);
}

std::int64_t utcTicksOf(const CTime& local) {
    FILETIME fileTime{};
    local.GetAsFileTimeGmt(fileTime);
    return ticksOf(fileTime);
}

// Sets TZ for the life of the object and puts the old value back.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone) {
        if (const char* old = std::getenv("TZ")) previous_ = old;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ScopedTimeZone() {
        if (previous_)
            ::setenv("TZ", previous_->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    std::optional<std::string> previous_;
};

TEST(Time, FieldsGiveTicksOnTheFileTimeScale) {
    struct Case {
        int year, month, day, hour, minute, second, millisecond, microsecond;
        std::int64_t ticks;
    };
    const Case cases[] = {
        {1601, 1, 1, 0, 0, 0, 0, 0, 0},
        {1601, 1, 2, 0, 0, 0, 0, 0, CTimeSpan::kTicksPerDay},
        {1970, 1, 1, 0, 0, 0, 0, 0, kTicks1970},
        {1970, 1, 1, 0, 0, 1, 2, 3, kTicks1970 + kSecond + 20'000 + 30},
        {2038, 1, 19, 3, 14, 8, 0, 0, kTicks1970 + 2'147'483'648LL * kSecond},
        {2000, 3, 1, 0, 0, 0, 0, 0, kTicks1970 + 951'868'800LL * kSecond},
        {9999, 12, 31, 23, 59, 59, 0, 0, kTicks1970 + 253'402'300'799LL * kSecond},
    };
    for (const Case& c : cases) {
        const CTime time(c.year, c.month, c.day, c.hour, c.minute, c.second, c.millisecond, c.microsecond);
        EXPECT_EQ(c.ticks, time.GetTicks()) << c.year << "-" << c.month << "-" << c.day;
    }
}

TEST(Time, FieldsOutsideTheirRangeAreClamped) {
    struct Case {
        int year, month, day, hour, minute, second, millisecond;
        int expectYear, expectMonth, expectDay, expectHour, expectMinute, expectSecond;
    };
    const Case cases[] = {
        {1600, 6, 15, 1, 2, 3, 0, 1601, 6, 15, 1, 2, 3},
        {-5, 1, 1, 0, 0, 0, 0, 1601, 1, 1, 0, 0, 0},
        {40000, 6, 15, 0, 0, 0, 0, 30827, 6, 15, 0, 0, 0},
        {2026, 0, 10, 0, 0, 0, 0, 2026, 1, 10, 0, 0, 0},
        {2026, 13, 10, 0, 0, 0, 0, 2026, 12, 10, 0, 0, 0},
        {2026, 4, 31, 0, 0, 0, 0, 2026, 4, 30, 0, 0, 0},
        {2026, 4, 0, 0, 0, 0, 0, 2026, 4, 1, 0, 0, 0},
        {1900, 2, 29, 0, 0, 0, 0, 1900, 2, 28, 0, 0, 0},  // a century is no leap year
        {2000, 2, 30, 0, 0, 0, 0, 2000, 2, 29, 0, 0, 0},  // but every fourth century is
        {2024, 2, 29, 0, 0, 0, 0, 2024, 2, 29, 0, 0, 0},
        {2026, 5, 5, 24, 60, 60, 1000, 2026, 5, 5, 23, 59, 59},
        {2026, 5, 5, -1, -1, -1, -1, 2026, 5, 5, 0, 0, 0},
    };
    for (const Case& c : cases) {
        const CTime time(c.year, c.month, c.day, c.hour, c.minute, c.second, c.millisecond);
        EXPECT_EQ(c.expectYear, time.GetYear()) << c.year;
        EXPECT_EQ(c.expectMonth, time.GetMonth()) << c.month;
        EXPECT_EQ(c.expectDay, time.GetDay()) << c.day;
        EXPECT_EQ(c.expectHour, time.GetHour()) << c.hour;
        EXPECT_EQ(c.expectMinute, time.GetMinute()) << c.minute;
        EXPECT_EQ(c.expectSecond, time.GetSecond()) << c.second;
    }
    EXPECT_EQ(999 * 10'000 + 999 * 10, CTime(2026, 1, 1, 0, 0, 0, 5000, 5000).GetTicks() % kSecond);
    const CTime last(30827, 12, 31, 23, 59, 59, 999, 999);
    EXPECT_EQ(30827, last.GetYear());
    EXPECT_GT(last.GetTicks(), 0);
}

TEST(Time, EveryDayRoundTripsThroughItsTicks) {
    // Across the leap-year rules and the edges of the scale.
    for (const int firstYear : {1601, 1696, 1896, 1968, 1996, 2036, 2096, 2396, 9996, 30824}) {
        CTime previous = CTime(firstYear, 1, 1, 13, 5, 7) - CTimeSpan(CTimeSpan::kTicksPerDay);
        for (int year = firstYear; year < firstYear + 4; ++year) {
            for (int month = 1; month <= 12; ++month) {
                for (int day = 1; day <= 31; ++day) {
                    const CTime time(year, month, day, 13, 5, 7);
                    if (time.GetDay() != day) break;  // clamped: the month has ended
                    ASSERT_EQ(year, time.GetYear());
                    ASSERT_EQ(month, time.GetMonth());
                    ASSERT_EQ(13, time.GetHour());
                    ASSERT_EQ(5, time.GetMinute());
                    ASSERT_EQ(7, time.GetSecond());
                    ASSERT_EQ(CTimeSpan::kTicksPerDay, (time - previous).GetTicks())
                        << year << "-" << month << "-" << day;
                    previous = time;
                }
            }
        }
    }
}

TEST(Time, DayOfWeek) {
    EXPECT_EQ(2, CTime(1601, 1, 1, 0, 0, 0).GetDayOfWeek());    // Monday
    EXPECT_EQ(5, CTime(1970, 1, 1, 0, 0, 0).GetDayOfWeek());    // Thursday
    EXPECT_EQ(1, CTime(2026, 12, 6, 23, 0, 0).GetDayOfWeek());  // Sunday
    EXPECT_EQ(7, CTime(2000, 1, 1, 0, 0, 0).GetDayOfWeek());    // Saturday
}

TEST(Time, FileTimeHalvesAreTakenUnchanged) {
    const FILETIME fileTime{0x89ABCDEFu, 0x01234567u};
    EXPECT_EQ(0x0123456789ABCDEFLL, CTime(fileTime).GetTicks());
    EXPECT_EQ(0, CTime(FILETIME{0, 0}).GetTicks());
    EXPECT_EQ(Tolm::ZeroTime, CTime(FILETIME{0, 0}));
}

TEST(Time, FormatWritesTheDirectivesAndCopiesTheRest) {
    const CTime time(2026, 12, 4, 11, 56, 20);
    struct Case {
        const char16_t* pattern;
        const char16_t* expected;
    };
    const Case cases[] = {
        {u"%Y.%m.%d %H-%M-%S", u"2026.12.04 11-56-20"},
        {u"D:%Y%m%d%H%M%S", u"D:20261204115620"},
        {u"100%% %q %", u"100% %q %"},
        {u"", u""},
        {u"%H'%M'", u"11'56'"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, time.UnicodeFormat(c.pattern)) << CUnicodeString(c.pattern).ToUtf8();
    EXPECT_EQ(u"2026-12-04T11:56:20", time.UnicodeFormat(L"%Y-%m-%dT%H:%M:%S"));
    EXPECT_EQ(u"1601-01-01 00:00:00", CTime(0).UnicodeFormat(u"%Y-%m-%d %H:%M:%S"));
    EXPECT_EQ(u"30827", CTime(30827, 1, 1, 0, 0, 0).UnicodeFormat(u"%Y"));
    EXPECT_EQ(u"", time.UnicodeFormat(static_cast<const char16_t*>(nullptr)));
}

TEST(TimeZone, FixedOffsetsGovernNowAndTheUtcConversion) {
    for (const int offset : {180, 330, -210, -30, 840, 0}) {
        CFixedLocalZoneOffset zone(offset);
        const CTime local(2026, 6, 1, 12, 0, 0);
        EXPECT_EQ(local.GetTicks() - offset * kMinute, utcTicksOf(local)) << offset;
        // The measurement the date formatter makes: now minus now in UTC.
        const CTime now = CTime::GetTickCount();
        FILETIME utcNow{};
        now.GetAsFileTimeGmt(utcNow);
        const CTimeSpan measured = now - CTime(utcNow);
        EXPECT_EQ(offset, measured.GetTotalMinutes()) << offset;
        EXPECT_EQ(offset % 60, measured.GetMinutes()) << offset;
    }
}

TEST(TimeZone, FixedOffsetNowMatchesTheSystemClock) {
    CFixedLocalZoneOffset zone(-150);
    const auto unixNow =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    const std::int64_t expected = kTicks1970 + unixNow * kSecond - 150 * kMinute;
    EXPECT_NEAR(static_cast<double>(expected), static_cast<double>(CTime::GetTickCount().GetTicks()),
                5.0 * kSecond);
}

TEST(TimeZone, FixedOffsetsNestAndRestore) {
    const CTime local(2026, 1, 1, 0, 0, 0);
    {
        CFixedLocalZoneOffset outer(60);
        {
            CFixedLocalZoneOffset inner(-30);
            EXPECT_EQ(local.GetTicks() + 30 * kMinute, utcTicksOf(local));
        }
        EXPECT_EQ(local.GetTicks() - 60 * kMinute, utcTicksOf(local));
    }
    ScopedTimeZone utc("UTC0");
    EXPECT_EQ(local.GetTicks(), utcTicksOf(local));
}

TEST(TimeZone, UtcBeforeTheScaleStopsAtZero) {
    CFixedLocalZoneOffset zone(180);
    EXPECT_EQ(0, utcTicksOf(CTime(1601, 1, 1, 1, 0, 0)));
}

TEST(TimeZone, SystemZoneFollowsTzWithDaylightSaving) {
    struct Case {
        const char* zone;
        CTime local;
        std::int64_t offsetMinutes;  // local minus UTC at that local time
    };
    const Case cases[] = {
        {"EST5EDT,M3.2.0,M11.1.0", CTime(2026, 1, 15, 12, 0, 0), -300},
        {"EST5EDT,M3.2.0,M11.1.0", CTime(2026, 7, 15, 12, 0, 0), -240},
        {"IST-5:30", CTime(2026, 7, 15, 12, 0, 0), 330},
        {"NPT-5:45", CTime(1990, 3, 1, 0, 0, 0), 345},
        {"UTC0", CTime(1601, 1, 1, 0, 0, 0), 0},
        {"XXX+3:30", CTime(9999, 12, 31, 23, 0, 0), -210},
    };
    for (const Case& c : cases) {
        ScopedTimeZone zone(c.zone);
        EXPECT_EQ(c.local.GetTicks() - c.offsetMinutes * kMinute, utcTicksOf(c.local))
            << c.zone << " " << c.local.GetYear();
    }
}

TEST(TimeZone, SystemZoneNowIsLocal) {
    ScopedTimeZone zone("XXX-14");
    const CTime now = CTime::GetTickCount();
    FILETIME utcNow{};
    now.GetAsFileTimeGmt(utcNow);
    EXPECT_EQ(14 * 60, (now - CTime(utcNow)).GetTotalMinutes());
}

TEST(CurrentTime, FixedNowNestsAndRestores) {
    const CTime first(2026, 12, 4, 11, 56, 20);
    const CTime second(1999, 12, 31, 23, 59, 59);
    {
        CFixedCurrentTime outer(first);
        EXPECT_EQ(first, CTime::GetTickCount());
        {
            CFixedCurrentTime inner(second);
            EXPECT_EQ(second, CTime::GetTickCount());
        }
        EXPECT_EQ(first, CTime::GetTickCount());
    }
    EXPECT_GT(CTime::GetTickCount(), CTime(2020, 1, 1, 0, 0, 0));
}

}  // namespace
