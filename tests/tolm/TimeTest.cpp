#include <Tolm/Time.h>

#include <gtest/gtest.h>

#include "PortableTesting.h"

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <string>

#include "GearsetTesting.h"

using Tolm::CFixedLocalZoneOffset;
using Tolm::CTime;
using Tolm::CTimeSpan;

namespace {

constexpr std::int64_t kTicks1970 = 116'444'736'000'000'000;
constexpr std::int64_t kSecond = CTimeSpan::kTicksPerSecond;
constexpr std::int64_t kMinute = CTimeSpan::kTicksPerMinute;
constexpr std::int64_t kDay = CTimeSpan::kTicksPerDay;

std::int64_t utcTicksOf(const CTime& local) {
    Tolm::FILETIME fileTime{};
    local.GetAsFileTimeGmt(fileTime);
    return CTime(fileTime).GetTicks();
}
// Local minus UTC at the current time, as the date formatter measures it.
CTimeSpan measuredOffset() {
    const CTime now = CTime::GetTickCount();
    return now - CTime(utcTicksOf(now));
}
std::u16string fieldsOf(const CTime& time) { return time.UnicodeFormat(u"%Y-%m-%d %H:%M:%S").GetString(); }

// Puts TZ back as it was after each test.
class SystemZone : public testing::Test {
protected:
#ifdef _WIN32
    // The zone is the system's and TZ means nothing to it.
    void SetUp() override { GTEST_SKIP() << "the zone comes from TZ on POSIX alone"; }
#endif
    void TearDown() override {
        hadZone_ ? GearsetTesting::SetEnvironment("TZ", zone_) : GearsetTesting::UnsetEnvironment("TZ");
    }
    const bool hadZone_ = std::getenv("TZ") != nullptr;
    const std::string zone_ = hadZone_ ? std::getenv("TZ") : "";
};

// Every day of four-year windows across the leap-year rules (centuries, every
// fourth century) and the edges of the scale, against the standard library's
// calendar.
TEST(Time, EveryDayAgreesWithTheStandardCalendar) {
    namespace chrono = std::chrono;
    constexpr std::int64_t kAfternoon = (13 * 3600 + 5 * 60 + 7) * kSecond;
    for (const int first : {1601, 1697, 1897, 1968, 1997, 2036, 2097, 2397, 9996, 30824}) {
        const chrono::sys_days end{chrono::year{first + 4} / 1 / 1};
        for (chrono::sys_days day{chrono::year{first} / 1 / 1}; day < end; day += chrono::days{1}) {
            const chrono::year_month_day date{day};
            const int y = static_cast<int>(date.year());
            const int m = static_cast<int>(static_cast<unsigned>(date.month()));
            const int d = static_cast<int>(static_cast<unsigned>(date.day()));
            const CTime time(y, m, d, 13, 5, 7);
            ASSERT_EQ(kTicks1970 + day.time_since_epoch().count() * kDay + kAfternoon, time.GetTicks())
                << y << "-" << m << "-" << d;
            ASSERT_TRUE(time.GetYear() == y && time.GetMonth() == m && time.GetDay() == d &&
                        time.GetHour() == 13 && time.GetMinute() == 5 && time.GetSecond() == 7)
                << y << "-" << m << "-" << d;
            ASSERT_EQ(chrono::weekday{day}.c_encoding() + 1, static_cast<unsigned>(time.GetDayOfWeek()));
        }
    }
    EXPECT_EQ(0, CTime(1601, 1, 1, 0, 0, 0).GetTicks());
    EXPECT_EQ(kTicks1970 + kSecond + 20'030, CTime(1970, 1, 1, 0, 0, 1, 2, 3).GetTicks());
    EXPECT_EQ(0x0123456789ABCDEFLL, CTime(Tolm::FILETIME{0x89ABCDEFu, 0x01234567u}).GetTicks());
}

TEST(Time, FieldsOutsideTheirRangeAreClampedAndFormatCopiesWhatItDoesNotKnow) {
    const struct {
        int year, month, day, hour, minute, second, millisecond;
        const char16_t* expected;
    } cases[] = {
        {1600, 6, 15, 1, 2, 3, 0, u"1601-06-15 01:02:03"},
        {40000, 6, 15, 0, 0, 0, 0, u"30827-06-15 00:00:00"},
        {2026, 0, 10, 0, 0, 0, 0, u"2026-01-10 00:00:00"},
        {2026, 13, 10, 0, 0, 0, 0, u"2026-12-10 00:00:00"},
        {2026, 4, 31, 0, 0, 0, 0, u"2026-04-30 00:00:00"},
        {1900, 2, 29, 0, 0, 0, 0, u"1900-02-28 00:00:00"},  // a century is no leap year
        {2000, 2, 30, 0, 0, 0, 0, u"2000-02-29 00:00:00"},  // but every fourth century is
        {2026, 5, 5, 24, 60, 60, 1000, u"2026-05-05 23:59:59"},
        {2026, 5, 5, -1, -1, -1, -1, u"2026-05-05 00:00:00"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected,
                  fieldsOf(CTime(c.year, c.month, c.day, c.hour, c.minute, c.second, c.millisecond)));
    EXPECT_EQ(9'999'990, CTime(2026, 1, 1, 0, 0, 0, 5000, 5000).GetTicks() % kSecond);
    EXPECT_EQ(u"30827-12-31 23:59:59", fieldsOf(CTime(30827, 12, 31, 23, 59, 59, 999, 999)));
    EXPECT_EQ(u"100% %q %", CTime(0).UnicodeFormat(u"100%% %q %"));  // unknown directives stay
    EXPECT_EQ(u"", CTime(0).UnicodeFormat(static_cast<const char16_t*>(nullptr)));
}

TEST(TimeZone, FixedOffsetsGovernNowAndTheUtcConversion) {
    const CTime local(2026, 6, 1, 12, 0, 0);
    for (const int offset : {180, 330, -210, -30, 840, 0}) {
        CFixedLocalZoneOffset zone(offset);
        EXPECT_EQ(local.GetTicks() - offset * kMinute, utcTicksOf(local)) << offset;
        const CTimeSpan measured = measuredOffset();
        EXPECT_EQ(offset, measured.GetTotalMinutes()) << offset;
        EXPECT_EQ(offset % 60, measured.GetMinutes()) << offset;
        EXPECT_NEAR(static_cast<double>(kTicks1970 + std::time(nullptr) * kSecond + offset * kMinute),
                    static_cast<double>(CTime::GetTickCount().GetTicks()), 5.0 * kSecond);
    }
    CFixedLocalZoneOffset east(180);
    EXPECT_EQ(0, utcTicksOf(CTime(1601, 1, 1, 1, 0, 0))) << "UTC before the scale stops at zero";
}

TEST_F(SystemZone, FollowsTzWithDaylightSaving) {
    const struct {
        const char* zone;
        CTime local;
        std::int64_t offsetMinutes;  // local minus UTC at that local time
    } cases[] = {
        {"EST5EDT,M3.2.0,M11.1.0", CTime(2026, 1, 15, 12, 0, 0), -300},
        {"EST5EDT,M3.2.0,M11.1.0", CTime(2026, 7, 15, 12, 0, 0), -240},
        {"EST5EDT,M3.2.0,M11.1.0", CTime(2026, 3, 8, 4, 30, 0), -240},  // just after the clocks went forward
        {"IST-5:30", CTime(2026, 7, 15, 12, 0, 0), 330},
        {"NPT-5:45", CTime(1990, 3, 1, 0, 0, 0), 345},
        {"UTC0", CTime(1601, 1, 1, 0, 0, 0), 0},
        {"XXX+3:30", CTime(9999, 12, 31, 23, 0, 0), -210},
    };
    for (const auto& c : cases) {
        GearsetTesting::SetEnvironment("TZ", c.zone);
        EXPECT_EQ(c.local.GetTicks() - c.offsetMinutes * kMinute, utcTicksOf(c.local)) << c.zone;
    }
    GearsetTesting::SetEnvironment("TZ", "XXX-14");
    EXPECT_EQ(14 * 60, measuredOffset().GetTotalMinutes());
}

// 01:30 local occurs twice on the night the clocks go back: now must convert
// with the offset in force, whichever of the two it is.
TEST_F(SystemZone, NowInTheRepeatedHourConvertsWithTheOffsetInForce) {
    GearsetTesting::SetEnvironment("TZ", "EST5EDT,M3.2.0,M11.1.0");
    const struct {
        CTime utc;
        std::int64_t offsetMinutes;
    } cases[] = {
        {CTime(2026, 11, 1, 5, 30, 0), -240},  // 01:30 EDT, the first time
        {CTime(2026, 11, 1, 6, 30, 0), -300},  // 01:30 EST, the second time
        {CTime(2026, 11, 1, 7, 30, 0), -300},  // 02:30 EST, once
    };
    for (const auto& c : cases) {
        const Tolm::CFixedSystemClock clock(Tolm::FILETIME{static_cast<Tolm::DWORD>(c.utc.GetTicks()),
                                                           static_cast<Tolm::DWORD>(c.utc.GetTicks() >> 32)});
        EXPECT_EQ(c.utc.GetTicks() + c.offsetMinutes * kMinute, CTime::GetTickCount().GetTicks())
            << c.utc.GetHour();
        EXPECT_EQ(c.offsetMinutes, measuredOffset().GetTotalMinutes()) << c.utc.GetHour();
    }
}

}  // namespace
