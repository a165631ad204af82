#include <Tolm/Time.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>

#include "TestSupport.h"

using Tolm::CFixedCurrentTime;
using Tolm::CFixedLocalZoneOffset;
using Tolm::CTime;
using Tolm::CTimeSpan;

namespace {

constexpr std::int64_t kTicks1970 = 116'444'736'000'000'000;
constexpr std::int64_t kSecond = CTimeSpan::kTicksPerSecond;
constexpr std::int64_t kMinute = CTimeSpan::kTicksPerMinute;
constexpr std::int64_t kDay = CTimeSpan::kTicksPerDay;

std::int64_t utcTicksOf(const CTime& local) {
    FILETIME fileTime{};
    local.GetAsFileTimeGmt(fileTime);
    return CTime(fileTime).GetTicks();
}
// Local minus UTC at the current time, as the date formatter measures it.
std::int64_t measuredOffsetMinutes() {
    const CTime now = CTime::GetTickCount();
    return (now - CTime(utcTicksOf(now))).GetTotalMinutes();
}
std::u16string fieldsOf(const CTime& time) { return time.UnicodeFormat(u"%Y-%m-%d %H:%M:%S").GetString(); }

// Sets TZ for the life of the object and puts the old value back.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone) {
        if (const char* old = std::getenv("TZ")) previous_ = old;
        ::setenv("TZ", zone, 1);
    }
    ~ScopedTimeZone() {
        if (previous_)
            ::setenv("TZ", previous_->c_str(), 1);
        else
            ::unsetenv("TZ");
    }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    std::optional<std::string> previous_;
};

TEST(Time, FieldsGiveTicksOnTheFileTimeScale) {
    const struct {
        int year, month, day, hour, minute, second, millisecond, microsecond;
        std::int64_t ticks;
    } cases[] = {
        {1601, 1, 1, 0, 0, 0, 0, 0, 0},
        {1601, 1, 2, 0, 0, 0, 0, 0, kDay},
        {1970, 1, 1, 0, 0, 1, 2, 3, kTicks1970 + kSecond + 20'030},
        {2038, 1, 19, 3, 14, 8, 0, 0, kTicks1970 + 2'147'483'648LL * kSecond},
        {2000, 3, 1, 0, 0, 0, 0, 0, kTicks1970 + 951'868'800LL * kSecond},
        {9999, 12, 31, 23, 59, 59, 0, 0, kTicks1970 + 253'402'300'799LL * kSecond},
    };
    for (const auto& c : cases) {
        const CTime time(c.year, c.month, c.day, c.hour, c.minute, c.second, c.millisecond, c.microsecond);
        EXPECT_EQ(c.ticks, time.GetTicks()) << c.year << "-" << c.month << "-" << c.day;
    }
    EXPECT_EQ(0x0123456789ABCDEFLL, CTime(FILETIME{0x89ABCDEFu, 0x01234567u}).GetTicks());
}

TEST(Time, FieldsOutsideTheirRangeAreClamped) {
    const struct {
        int year, month, day, hour, minute, second, millisecond;
        const char16_t* expected;
    } cases[] = {
        {1600, 6, 15, 1, 2, 3, 0, u"1601-06-15 01:02:03"},
        {-5, 1, 1, 0, 0, 0, 0, u"1601-01-01 00:00:00"},
        {40000, 6, 15, 0, 0, 0, 0, u"30827-06-15 00:00:00"},
        {2026, 0, 10, 0, 0, 0, 0, u"2026-01-10 00:00:00"},
        {2026, 13, 10, 0, 0, 0, 0, u"2026-12-10 00:00:00"},
        {2026, 4, 31, 0, 0, 0, 0, u"2026-04-30 00:00:00"},
        {2026, 4, 0, 0, 0, 0, 0, u"2026-04-01 00:00:00"},
        {1900, 2, 29, 0, 0, 0, 0, u"1900-02-28 00:00:00"},  // a century is no leap year
        {2000, 2, 30, 0, 0, 0, 0, u"2000-02-29 00:00:00"},  // but every fourth century is
        {2024, 2, 29, 0, 0, 0, 0, u"2024-02-29 00:00:00"},
        {2026, 5, 5, 24, 60, 60, 1000, u"2026-05-05 23:59:59"},
        {2026, 5, 5, -1, -1, -1, -1, u"2026-05-05 00:00:00"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected,
                  fieldsOf(CTime(c.year, c.month, c.day, c.hour, c.minute, c.second, c.millisecond)));
    EXPECT_EQ(9'999'990, CTime(2026, 1, 1, 0, 0, 0, 5000, 5000).GetTicks() % kSecond);
    EXPECT_EQ(u"30827-12-31 23:59:59", fieldsOf(CTime(30827, 12, 31, 23, 59, 59, 999, 999)));
}

// Across the leap-year rules and the edges of the scale.
TEST(Time, EveryDayRoundTripsThroughItsTicks) {
    for (const int firstYear : {1601, 1696, 1896, 1968, 1996, 2036, 2096, 2396, 9996, 30824}) {
        CTime previous = CTime(firstYear, 1, 1, 13, 5, 7) - CTimeSpan(kDay);
        for (int year = firstYear; year < firstYear + 4; ++year) {
            for (int month = 1; month <= 12; ++month) {
                for (int day = 1; day <= 31; ++day) {
                    const CTime time(year, month, day, 13, 5, 7);
                    if (time.GetDay() != day) break;  // clamped: the month has ended
                    ASSERT_TRUE(time.GetYear() == year && time.GetMonth() == month && time.GetHour() == 13 &&
                                time.GetMinute() == 5 && time.GetSecond() == 7)
                        << year << "-" << month << "-" << day;
                    ASSERT_EQ(kDay, (time - previous).GetTicks()) << year << "-" << month << "-" << day;
                    previous = time;
                }
            }
        }
    }
    EXPECT_EQ(2, CTime(1601, 1, 1, 0, 0, 0).GetDayOfWeek());    // Monday
    EXPECT_EQ(1, CTime(2026, 12, 6, 23, 0, 0).GetDayOfWeek());  // Sunday
    EXPECT_EQ(7, CTime(2000, 1, 1, 0, 0, 0).GetDayOfWeek());    // Saturday
}

TEST(Time, FormatWritesTheDirectivesAndCopiesTheRest) {
    const CTime time(2026, 12, 4, 11, 56, 20);
    EXPECT_EQ(u"D:20261204115620", time.UnicodeFormat(u"D:%Y%m%d%H%M%S"));
    EXPECT_EQ(u"100% %q %", time.UnicodeFormat(u"100%% %q %"));
    EXPECT_EQ(u"11'56'", time.UnicodeFormat(u"%H'%M'"));
    EXPECT_EQ(u"2026-12-04T11:56:20", time.UnicodeFormat(L"%Y-%m-%dT%H:%M:%S"));
    EXPECT_EQ(u"1601-01-01 00:00:00", fieldsOf(CTime(0)));
    EXPECT_EQ(u"", time.UnicodeFormat(static_cast<const char16_t*>(nullptr)));
}

TEST(TimeZone, FixedOffsetsGovernNowAndTheUtcConversion) {
    const CTime local(2026, 6, 1, 12, 0, 0);
    for (const int offset : {180, 330, -210, -30, 840, 0}) {
        CFixedLocalZoneOffset zone(offset);
        EXPECT_EQ(local.GetTicks() - offset * kMinute, utcTicksOf(local)) << offset;
        EXPECT_EQ(offset, measuredOffsetMinutes()) << offset;
        const auto unixNow = std::chrono::duration_cast<std::chrono::seconds>(
                                 std::chrono::system_clock::now().time_since_epoch())
                                 .count();
        EXPECT_NEAR(static_cast<double>(kTicks1970 + unixNow * kSecond + offset * kMinute),
                    static_cast<double>(CTime::GetTickCount().GetTicks()), 5.0 * kSecond);
    }
    CFixedLocalZoneOffset east(180);
    EXPECT_EQ(0, utcTicksOf(CTime(1601, 1, 1, 1, 0, 0))) << "UTC before the scale stops at zero";
}

TEST(TimeZone, SystemZoneFollowsTzWithDaylightSaving) {
    const struct {
        const char* zone;
        CTime local;
        std::int64_t offsetMinutes;  // local minus UTC at that local time
    } cases[] = {
        {"EST5EDT,M3.2.0,M11.1.0", CTime(2026, 1, 15, 12, 0, 0), -300},
        {"EST5EDT,M3.2.0,M11.1.0", CTime(2026, 7, 15, 12, 0, 0), -240},
        {"IST-5:30", CTime(2026, 7, 15, 12, 0, 0), 330},
        {"NPT-5:45", CTime(1990, 3, 1, 0, 0, 0), 345},
        {"UTC0", CTime(1601, 1, 1, 0, 0, 0), 0},
        {"XXX+3:30", CTime(9999, 12, 31, 23, 0, 0), -210},
    };
    for (const auto& c : cases) {
        const ScopedTimeZone zone(c.zone);
        EXPECT_EQ(c.local.GetTicks() - c.offsetMinutes * kMinute, utcTicksOf(c.local)) << c.zone;
    }
    const ScopedTimeZone zone("XXX-14");
    EXPECT_EQ(14 * 60, measuredOffsetMinutes());
}

TEST(TimeZone, SeamsNestAndRestore) {
    const CTime local(2026, 1, 1, 0, 0, 0);
    const CTime first(2026, 12, 4, 11, 56, 20);
    {
        CFixedLocalZoneOffset outerZone(60);
        CFixedCurrentTime outerNow(first);
        {
            CFixedLocalZoneOffset innerZone(-30);
            CFixedCurrentTime innerNow(local);
            EXPECT_EQ(local.GetTicks() + 30 * kMinute, utcTicksOf(local));
            EXPECT_EQ(local, CTime::GetTickCount());
        }
        EXPECT_EQ(local.GetTicks() - 60 * kMinute, utcTicksOf(local));
        EXPECT_EQ(first, CTime::GetTickCount());
    }
    const ScopedTimeZone utc("UTC0");
    EXPECT_EQ(local.GetTicks(), utcTicksOf(local));
    EXPECT_GT(CTime::GetTickCount(), first);
}

}  // namespace
