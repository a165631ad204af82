#include <Tolm/Time.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <mutex>

#include "Internal.h"
#include "SystemPort.h"

namespace Tolm {

namespace {

constexpr std::int64_t kTicksPerMillisecond = 10'000;
constexpr std::int64_t kTicksPerMicrosecond = 10;
// Days from 1 January 1601 (tick 0) to 1 January 1970 (the POSIX epoch).
constexpr std::int64_t kDaysFrom1601To1970 = 134'774;
constexpr std::int64_t kSecondsFrom1601To1970 = kDaysFrom1601To1970 * 86'400;
constexpr int kMinYear = 1601;
constexpr int kMaxYear = 30827;

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}
std::int64_t floorMod(std::int64_t a, std::int64_t b) { return a - floorDiv(a, b) * b; }

bool isLeapYear(std::int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int daysInMonth(int year, int month) {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

// Proleptic Gregorian calendar, counted in days since 1 January 1970; eras of
// 400 years (146097 days) make the arithmetic exact for any sign.
std::int64_t daysFromCivil(std::int64_t year, int month, int day) {
    year -= month <= 2;
    const std::int64_t era = floorDiv(year, 400);
    const std::int64_t yearOfEra = year - era * 400;
    const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146'097 + dayOfEra - 719'468;
}

struct Date {
    std::int64_t year;
    int month;
    int day;
};

Date civilFromDays(std::int64_t days) {
    days += 719'468;
    const std::int64_t era = floorDiv(days, 146'097);
    const std::int64_t dayOfEra = days - era * 146'097;
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36'524 - dayOfEra / 146'096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
    const int day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
    const int month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    return {yearOfEra + era * 400 + (month <= 2), month, day};
}

struct Fields {
    Date date;
    int hour;
    int minute;
    int second;
};

Fields fieldsOf(std::int64_t ticks) {
    const std::int64_t days = floorDiv(ticks, CTimeSpan::kTicksPerDay);
    const std::int64_t secondOfDay = floorMod(ticks, CTimeSpan::kTicksPerDay) / CTimeSpan::kTicksPerSecond;
    return {civilFromDays(days - kDaysFrom1601To1970), static_cast<int>(secondOfDay / 3600),
            static_cast<int>(secondOfDay / 60 % 60), static_cast<int>(secondOfDay % 60)};
}

// --- Test seams: process-wide, nesting, restored in reverse order ---

struct Seam {
    bool isSet = false;
    std::int64_t value = 0;
};

struct Overrides {
    std::mutex mutex;
    Seam zoneOffsetMinutes;
    Seam nowTicks;
    Seam clockUtcTicks;
};

Overrides& overrides() { return detail::leakedSingleton<Overrides>(); }

// Whether the seam is set, and its value then.
bool readSeam(Seam Overrides::*seam, std::int64_t& value) {
    Overrides& seams = overrides();
    std::lock_guard lock(seams.mutex);
    value = (seams.*seam).value;
    return (seams.*seam).isSet;
}

// Sets the seam, handing back what it was for the restore.
void setSeam(Seam Overrides::*seam, std::int64_t value, std::int64_t& previous, bool& wasSet) {
    Overrides& seams = overrides();
    std::lock_guard lock(seams.mutex);
    previous = (seams.*seam).value;
    wasSet = (seams.*seam).isSet;
    seams.*seam = {true, value};
}

void restoreSeam(Seam Overrides::*seam, std::int64_t previous, bool wasSet) {
    Overrides& seams = overrides();
    std::lock_guard lock(seams.mutex);
    seams.*seam = {wasSet, previous};
}

bool fixedZoneOffset(int& minutes) {
    std::int64_t value = 0;
    const bool isSet = readSeam(&Overrides::zoneOffsetMinutes, value);
    minutes = static_cast<int>(value);
    return isSet;
}

// Seconds east of UTC in the system's zone at the UTC instant.
std::int64_t systemOffsetAtUtc(std::int64_t unixSeconds) {
    return detail::systemPort().zoneOffsetAtUtc(unixSeconds);
}

// Seconds east of UTC in the process's zone for a local wall-clock second.
// The offset in force now wins wherever it gives that local time: a local time
// that occurs twice (clocks set back) may be now, and now must convert back to
// the instant it came from. Otherwise a time that occurs twice takes one of
// its offsets, and one that never occurs (clocks set forward) the offset
// before or after.
std::int64_t systemOffsetAtLocal(std::int64_t localUnixSeconds, std::int64_t nowUnixSeconds) {
    const std::int64_t current = systemOffsetAtUtc(nowUnixSeconds);
    if (systemOffsetAtUtc(localUnixSeconds - current) == current) return current;
    const std::int64_t first = systemOffsetAtUtc(localUnixSeconds);
    const std::int64_t second = systemOffsetAtUtc(localUnixSeconds - first);
    if (second == first) return first;
    const std::int64_t third = systemOffsetAtUtc(localUnixSeconds - second);
    return third == second ? second : first;
}

std::int64_t unixSecondsOf(std::int64_t ticks) {
    return floorDiv(ticks, CTimeSpan::kTicksPerSecond) - kSecondsFrom1601To1970;
}

// The system clock as UTC ticks, or the instant a test fixed.
std::int64_t clockUtcTicks() {
    if (std::int64_t fixed = 0; readSeam(&Overrides::clockUtcTicks, fixed)) return fixed;
    return detail::systemPort().nowUtcTicks();
}

void appendNumber(CUnicodeString& text, std::int64_t value, int minimumDigits) {
    char16_t digits[24];
    int count = 0;
    const bool negative = value < 0;
    std::uint64_t magnitude =
        negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    do {
        digits[count++] = static_cast<char16_t>(u'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude > 0);
    while (count < minimumDigits) digits[count++] = u'0';
    if (negative) text += u'-';
    while (count > 0) text += digits[--count];
}

}  // namespace

CTime::CTime(const FILETIME& fileTime) noexcept
    : ticks_(static_cast<std::int64_t>((static_cast<std::uint64_t>(fileTime.dwHighDateTime) << 32) |
                                       fileTime.dwLowDateTime)) {}

CTime::CTime(int year, int month, int day, int hour, int minute, int second, int millisecond,
             int microsecond) noexcept {
    year = std::clamp(year, kMinYear, kMaxYear);
    month = std::clamp(month, 1, 12);
    day = std::clamp(day, 1, daysInMonth(year, month));
    const std::int64_t days = daysFromCivil(year, month, day) + kDaysFrom1601To1970;
    ticks_ = days * CTimeSpan::kTicksPerDay + std::clamp(hour, 0, 23) * CTimeSpan::kTicksPerHour +
             std::clamp(minute, 0, 59) * CTimeSpan::kTicksPerMinute +
             std::clamp(second, 0, 59) * CTimeSpan::kTicksPerSecond +
             std::clamp(millisecond, 0, 999) * kTicksPerMillisecond +
             std::clamp(microsecond, 0, 999) * kTicksPerMicrosecond;
}

CTime CTime::GetTickCount() {
    if (std::int64_t fixed = 0; readSeam(&Overrides::nowTicks, fixed)) return CTime(fixed);
    const std::int64_t utcTicks = clockUtcTicks();
    int fixedMinutes = 0;
    if (fixedZoneOffset(fixedMinutes)) return CTime(utcTicks + fixedMinutes * CTimeSpan::kTicksPerMinute);
    return CTime(utcTicks + systemOffsetAtUtc(unixSecondsOf(utcTicks)) * CTimeSpan::kTicksPerSecond);
}

void CTime::GetAsFileTimeGmt(FILETIME& fileTime) const {
    std::int64_t utcTicks;
    int fixedMinutes = 0;
    if (fixedZoneOffset(fixedMinutes))
        utcTicks = ticks_ - fixedMinutes * CTimeSpan::kTicksPerMinute;
    else
        utcTicks = ticks_ - systemOffsetAtLocal(unixSecondsOf(ticks_), unixSecondsOf(clockUtcTicks())) *
                                CTimeSpan::kTicksPerSecond;
    // A FILETIME cannot go before 1601: a local time in the first hours of the
    // scale east of Greenwich stops at tick 0.
    const auto value = static_cast<std::uint64_t>(std::max<std::int64_t>(utcTicks, 0));
    fileTime.dwLowDateTime = static_cast<DWORD>(value & 0xFFFFFFFFu);
    fileTime.dwHighDateTime = static_cast<DWORD>(value >> 32);
}

int CTime::GetYear() const noexcept { return static_cast<int>(fieldsOf(ticks_).date.year); }
int CTime::GetMonth() const noexcept { return fieldsOf(ticks_).date.month; }
int CTime::GetDay() const noexcept { return fieldsOf(ticks_).date.day; }
int CTime::GetHour() const noexcept { return fieldsOf(ticks_).hour; }
int CTime::GetMinute() const noexcept { return fieldsOf(ticks_).minute; }
int CTime::GetSecond() const noexcept { return fieldsOf(ticks_).second; }

int CTime::GetDayOfWeek() const noexcept {
    // Tick 0, 1 January 1601, was a Monday (2).
    const std::int64_t days = floorDiv(ticks_, CTimeSpan::kTicksPerDay);
    return static_cast<int>((floorMod(days, 7) + 1) % 7) + 1;
}

CUnicodeString CTime::UnicodeFormat(const wchar_t* pattern) const {
    return UnicodeFormat(CUnicodeString::FromWide(pattern).GetString());
}

CUnicodeString CTime::UnicodeFormat(const char16_t* pattern) const {
    CUnicodeString text;
    if (!pattern) return text;
    const Fields fields = fieldsOf(ticks_);
    for (const char16_t* at = pattern; *at; ++at) {
        if (*at != u'%' || at[1] == 0) {
            text += *at;
            continue;
        }
        switch (at[1]) {
            case u'Y':
                appendNumber(text, fields.date.year, 4);
                break;
            case u'm':
                appendNumber(text, fields.date.month, 2);
                break;
            case u'd':
                appendNumber(text, fields.date.day, 2);
                break;
            case u'H':
                appendNumber(text, fields.hour, 2);
                break;
            case u'M':
                appendNumber(text, fields.minute, 2);
                break;
            case u'S':
                appendNumber(text, fields.second, 2);
                break;
            case u'%':
                text += u'%';
                break;
            default:
                text += u'%';
                text += at[1];
                break;
        }
        ++at;
    }
    return text;
}

CFixedLocalZoneOffset::CFixedLocalZoneOffset(int minutesEastOfUtc) {
    setSeam(&Overrides::zoneOffsetMinutes, minutesEastOfUtc, previous_, hadPrevious_);
}
CFixedLocalZoneOffset::~CFixedLocalZoneOffset() {
    restoreSeam(&Overrides::zoneOffsetMinutes, previous_, hadPrevious_);
}

CFixedCurrentTime::CFixedCurrentTime(const CTime& now) {
    setSeam(&Overrides::nowTicks, now.GetTicks(), previous_, hadPrevious_);
}
CFixedCurrentTime::~CFixedCurrentTime() { restoreSeam(&Overrides::nowTicks, previous_, hadPrevious_); }

CFixedSystemClock::CFixedSystemClock(const FILETIME& utcNow) {
    setSeam(&Overrides::clockUtcTicks, CTime(utcNow).GetTicks(), previous_, hadPrevious_);
}
CFixedSystemClock::~CFixedSystemClock() { restoreSeam(&Overrides::clockUtcTicks, previous_, hadPrevious_); }

}  // namespace Tolm
