// Time of the framework.
//
// CTime and CTimeSpan are signed 64-bit counts of 100-ns ticks on the FILETIME
// scale (tick 0 is 1 January 1601 00:00:00). A CTime holds local wall-clock
// time: GetTickCount() gives now in the local zone, GetAsFileTimeGmt converts
// to UTC. Times and spans compare and subtract directly on their ticks.
// ZeroTime (tick 0) stands for "no time". A local time that occurs twice
// (clocks set back) converts with the offset in force now where that is one of
// its two, so that now converts back to the instant it came from, as on the
// framework's home platform.
//
// The local zone is the process's (TZ honoured on POSIX). Tests fix the offset
// with CFixedLocalZoneOffset without touching the environment; while one is
// alive every conversion uses that offset, with no daylight saving.
//
// Fields: years are clamped to 1601..30827 (the range a CTime can hold),
// months to 1..12, days to 1..days of the month, hours to 0..23, minutes and
// seconds to 0..59, milliseconds to 0..999. Clamping is silent.
//
// Values are plain data; distinct objects may be used on distinct threads.
#pragma once

#include <Tolm/String.h>
#include <Tolm/Types.h>

#include <compare>
#include <cstdint>

namespace Tolm {

class TOLM_API CTimeSpan {
public:
    static constexpr std::int64_t kTicksPerSecond = 10'000'000;
    static constexpr std::int64_t kTicksPerMinute = 600'000'000;
    static constexpr std::int64_t kTicksPerHour = 36'000'000'000;
    static constexpr std::int64_t kTicksPerDay = 864'000'000'000;

    constexpr CTimeSpan() noexcept = default;
    constexpr explicit CTimeSpan(std::int64_t ticks) noexcept : ticks_(ticks) {}

    constexpr std::int64_t GetTicks() const noexcept { return ticks_; }
    // Whole days, then the hours, minutes, seconds within the day, hour and
    // minute; each with the span's sign (GetMinutes is -59..59).
    constexpr std::int64_t GetDays() const noexcept { return ticks_ / kTicksPerDay; }
    constexpr int GetHours() const noexcept { return static_cast<int>(ticks_ / kTicksPerHour % 24); }
    constexpr int GetMinutes() const noexcept { return static_cast<int>(ticks_ / kTicksPerMinute % 60); }
    constexpr int GetSeconds() const noexcept { return static_cast<int>(ticks_ / kTicksPerSecond % 60); }
    constexpr std::int64_t GetTotalMinutes() const noexcept { return ticks_ / kTicksPerMinute; }

    constexpr auto operator<=>(const CTimeSpan&) const noexcept = default;
    constexpr CTimeSpan operator-() const noexcept { return CTimeSpan(-ticks_); }

private:
    std::int64_t ticks_ = 0;
};

class TOLM_API CTime {
public:
    constexpr CTime() noexcept = default;
    constexpr explicit CTime(std::int64_t ticks) noexcept : ticks_(ticks) {}
    // The FILETIME's ticks unchanged (no zone conversion).
    explicit CTime(const FILETIME& fileTime) noexcept;
    // From fields (clamped as the header says).
    CTime(int year, int month, int day, int hour, int minute, int second, int millisecond = 0,
          int microsecond = 0) noexcept;

    // Now, local wall-clock time.
    static CTime GetTickCount();
    // The same instant in UTC.
    void GetAsFileTimeGmt(FILETIME& fileTime) const;

    constexpr std::int64_t GetTicks() const noexcept { return ticks_; }
    int GetYear() const noexcept;
    int GetMonth() const noexcept;
    int GetDay() const noexcept;
    int GetHour() const noexcept;
    int GetMinute() const noexcept;
    int GetSecond() const noexcept;
    int GetDayOfWeek() const noexcept;  // 1 = Sunday .. 7 = Saturday

    // Writes the time by a strftime-like pattern: %Y (year, at least four
    // digits), %m %d %H %M %S (two digits), %% (a percent sign); any other
    // character, or directive, is copied as it stands.
    CUnicodeString UnicodeFormat(const wchar_t* pattern) const;
    CUnicodeString UnicodeFormat(const char16_t* pattern) const;

    constexpr auto operator<=>(const CTime&) const noexcept = default;
    constexpr CTimeSpan operator-(const CTime& other) const noexcept {
        return CTimeSpan(ticks_ - other.ticks_);
    }
    constexpr CTime operator+(const CTimeSpan& span) const noexcept {
        return CTime(ticks_ + span.GetTicks());
    }
    constexpr CTime operator-(const CTimeSpan& span) const noexcept {
        return CTime(ticks_ - span.GetTicks());
    }

private:
    std::int64_t ticks_ = 0;
};

inline constexpr CTime ZeroTime{};

// Test seam: while an object lives, the local zone is UTC plus the given
// minutes (east positive), for every thread. Objects nest.
class TOLM_API CFixedLocalZoneOffset {
public:
    explicit CFixedLocalZoneOffset(int minutesEastOfUtc);
    ~CFixedLocalZoneOffset();
    CFixedLocalZoneOffset(const CFixedLocalZoneOffset&) = delete;
    CFixedLocalZoneOffset& operator=(const CFixedLocalZoneOffset&) = delete;

private:
    std::int64_t previous_;
    bool hadPrevious_;
};

// Test seam: while an object lives, GetTickCount() answers this local time.
class TOLM_API CFixedCurrentTime {
public:
    explicit CFixedCurrentTime(const CTime& now);
    ~CFixedCurrentTime();
    CFixedCurrentTime(const CFixedCurrentTime&) = delete;
    CFixedCurrentTime& operator=(const CFixedCurrentTime&) = delete;

private:
    std::int64_t previous_;
    bool hadPrevious_;
};

// Test seam: while an object lives, the system clock reads this UTC instant:
// GetTickCount() gives it in the local zone (unless a CFixedCurrentTime says
// otherwise), and conversions to UTC take the offset in force then.
class TOLM_API CFixedSystemClock {
public:
    explicit CFixedSystemClock(const FILETIME& utcNow);
    ~CFixedSystemClock();
    CFixedSystemClock(const CFixedSystemClock&) = delete;
    CFixedSystemClock& operator=(const CFixedSystemClock&) = delete;

private:
    std::int64_t previous_;
    bool hadPrevious_;
};

}  // namespace Tolm
