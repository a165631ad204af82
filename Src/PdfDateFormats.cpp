#include <Korvan/PdfDateFormats.h>

#include "Report.h"

#include <Unicode/Unicode.h>

#include <cstdint>
#include <cstdlib>

// Dates are read field by field from fixed positions of the prepared text
// (trimmed, upper-cased). Within a form the first field that does not convert
// ends the reading; whatever was not read stays zero and the range limits
// then make a valid time of it. Nothing here throws for any text.
//
// The local offset is measured once per call for the moment of the call, so
// writing a time and reading it back gives it unchanged as long as the zone
// did not change in between.

namespace Korvan {
namespace {

constexpr std::int64_t kTicksPerMinute = Tolm::CTimeSpan::kTicksPerMinute;
constexpr std::int64_t kTicksPerHour = Tolm::CTimeSpan::kTicksPerHour;
constexpr std::int64_t kTicksPerDay = Tolm::CTimeSpan::kTicksPerDay;

constexpr int kLowestYear = 1970;
constexpr int kHighestYear = 65535;

using Field = CTimeStringReading::Field;

// The fields a date string may carry, and which of them the text gave. Zone
// hours and minutes have the zone's sign; both zero (no zone, or "Z") means UTC.
struct CDateFields {
    int value[CTimeStringReading::kFieldCount] = {};
    unsigned readMask = 0;

    int& operator[](Field field) { return value[field]; }
    // Reads the field from the text; false, and the field untouched, when it is not a number.
    bool read(const Tolm::CUnicodeString& text, int first, int count, Field field) {
        if (!text.Mid(first, count).Value(value[field], 10)) return false;
        readMask |= 1u << field;
        return true;
    }
    void negateZone() {
        value[Field::zoneHours] = -value[Field::zoneHours];
        value[Field::zoneMinutes] = -value[Field::zoneMinutes];
    }
};

// Local time minus UTC at this moment.
Tolm::CTimeSpan getLocalTimeOffset() {
    const Tolm::CTime now = Tolm::CTime::GetTickCount();
    Tolm::FILETIME utc{};
    now.GetAsFileTimeGmt(utc);
    return now - Tolm::CTime(utc);
}

Tolm::CUnicodeString formatWithLocalZone(const Tolm::CTime& time, const char16_t* datePattern,
                                         const char16_t* utcText, const char16_t* zonePattern) {
    if (time == Tolm::ZeroTime) return {};
    Tolm::CUnicodeString text = time.UnicodeFormat(datePattern);
    const Tolm::CTimeSpan offset = getLocalTimeOffset();
    const std::int64_t ticks = offset.GetTicks();
    if (ticks == 0) {
        text += utcText;
        return text;
    }
    // Whole hours within a day and minutes within the hour, each with the
    // offset's sign; a scratch time writes their absolute values as two digits.
    const int hours = static_cast<int>(ticks / kTicksPerHour - 24 * (ticks / kTicksPerDay));
    const int minutes = offset.GetMinutes();
    const Tolm::CTime scratch(2000, 1, 1, std::abs(hours), std::abs(minutes), 0, 0, 0);
    // The sign is the whole offset's: -0:30 has zero hours and is still "-".
    text += ticks > 0 ? u'+' : u'-';
    text += scratch.UnicodeFormat(zonePattern);
    return text;
}

bool isAsciiDigit(char16_t unit) { return unit >= u'0' && unit <= u'9'; }

// D:YYYYMMDDHHmmSSOHH'mm' (O is the zone mark; the apostrophes are not
// looked at). The caller has checked the prefix and a length of at least 6.
void parseDocInfoDate(const Tolm::CUnicodeString& text, CDateFields& fields) {
    const int length = text.GetLength();
    if (!fields.read(text, 2, 4, Field::year)) return;
    if (length < 8 || !fields.read(text, 6, 2, Field::month)) return;
    if (length < 10 || !fields.read(text, 8, 2, Field::day)) return;
    if (length < 12 || !fields.read(text, 10, 2, Field::hour)) return;
    if (length < 14 || !fields.read(text, 12, 2, Field::minute)) return;
    if (length < 16 || !fields.read(text, 14, 2, Field::second)) return;
    if (length < 17) return;
    const char16_t mark = text[16];
    if (mark == u'Z') return;
    if (length >= 19 && fields.read(text, 17, 2, Field::zoneHours) && length >= 22)
        fields.read(text, 20, 2, Field::zoneMinutes);
    if (mark == u'-') fields.negateZone();
}

// YYYYMMDDHHmmSSOHHmm: the caller found the zone sign at 14, so the text has
// at least 15 characters.
void parseBareDocInfoDate(const Tolm::CUnicodeString& text, CDateFields& fields) {
    const int length = text.GetLength();
    if (!fields.read(text, 0, 4, Field::year) || !fields.read(text, 4, 2, Field::month) ||
        !fields.read(text, 6, 2, Field::day) || !fields.read(text, 8, 2, Field::hour) ||
        !fields.read(text, 10, 2, Field::minute) || !fields.read(text, 12, 2, Field::second))
        return;
    if (length >= 17 && fields.read(text, 15, 2, Field::zoneHours) && length >= 19)
        fields.read(text, 17, 2, Field::zoneMinutes);
    if (text[14] == u'-') fields.negateZone();
}

// YYYY-MM-DDTHH:mm:SS.fff then Z, +HH:MM or -HH:MM; the seconds, fraction and
// zone are optional, and so is the whole time part.
void parseISODate(const Tolm::CUnicodeString& text, CDateFields& fields) {
    const int length = text.GetLength();
    if (length < 10 || text[4] != u'-' || text[7] != u'-') return;
    if (!fields.read(text, 0, 4, Field::year) || !fields.read(text, 5, 2, Field::month) ||
        !fields.read(text, 8, 2, Field::day))
        return;
    if (length < 16 || text[10] != u'T' || text[13] != u':') return;
    if (!fields.read(text, 11, 2, Field::hour) || !fields.read(text, 14, 2, Field::minute)) return;

    int cursor = 16;
    if (length >= 19 && text[16] == u':') {
        fields.read(text, 17, 2, Field::second);  // a bad second does not stop the zone
        cursor = 19;
    }
    if (length >= 20 && text[19] == u'.') {
        cursor = 20;
        while (cursor < length && isAsciiDigit(text[cursor])) ++cursor;
    }
    if (cursor >= length) return;
    const char16_t mark = text[cursor];
    if ((mark == u'+' || mark == u'-') && cursor + 5 < length) {
        fields.read(text, cursor + 1, 2, Field::zoneHours);
        fields.read(text, cursor + 4, 2, Field::zoneMinutes);
        if (mark == u'-') fields.negateZone();
    }
}

int getDaysInMonth(int year, int month) {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1 || month < 1 || month > 12) {
        KORVAN_REPORT_BROKEN_PRECONDITION();
        return 28;
    }
    if (month == 2 && (year % 400 == 0 || (year % 4 == 0 && year % 100 != 0))) return 29;
    return kDays[month - 1];
}

int clampTo(int value, int low, int high) { return value < low ? low : (value > high ? high : value); }

void limitFields(CDateFields& fields) {
    fields[Field::year] = clampTo(fields[Field::year], kLowestYear, kHighestYear);
    fields[Field::month] = clampTo(fields[Field::month], 1, 12);
    const int days = getDaysInMonth(fields[Field::year], fields[Field::month]);
    if (days < 1) KORVAN_REPORT_BROKEN_PRECONDITION();
    fields[Field::day] = clampTo(fields[Field::day], 1, days);
    fields[Field::hour] = clampTo(fields[Field::hour], 0, 23);
    fields[Field::minute] = clampTo(fields[Field::minute], 0, 59);
    fields[Field::second] = clampTo(fields[Field::second], 0, 59);
}

// Moves a time written in the text's zone into the local zone of this moment.
Tolm::CTime shiftToLocalTime(const Tolm::CTime& time, int zoneHours, int zoneMinutes,
                             const Tolm::CTimeSpan& localOffset) {
    const std::int64_t zone = zoneHours * kTicksPerHour + zoneMinutes * kTicksPerMinute;
    const Tolm::CTimeSpan delta(localOffset.GetTicks() - zone);
    if (delta.GetTicks() == 0) return time;
    return time + delta;
}

const Tolm::CUnicodeSet& zoneSigns() {
    static const Tolm::CUnicodeSet signs(u"+-");
    return signs;
}

}  // namespace

Tolm::CUnicodeString ConvertTimeToDocInfoFormat(const Tolm::CTime& time) {
    return formatWithLocalZone(time, u"D:%Y%m%d%H%M%S", u"Z00'00'", u"%H'%M'");
}

Tolm::CUnicodeString ConvertTimeToISOFormat(const Tolm::CTime& time) {
    return formatWithLocalZone(time, u"%Y-%m-%dT%H:%M:%S", u"Z", u"%H:%M");
}

CTimeStringReading ReadTimeString(const Tolm::CUnicodeString& text) {
    CTimeStringReading reading;
    Tolm::CUnicodeString prepared(text);
    prepared.Trim();
    if (prepared.IsEmpty()) return reading;
    prepared.MakeUpper();

    CDateFields fields;
    if (prepared.GetLength() >= 6 && prepared.Left(2) == u"D:") {
        reading.form = CTimeStringReading::Form::docInfo;
        parseDocInfoDate(prepared, fields);
    } else if (prepared.FindOneOf(zoneSigns(), 0) == 14) {
        // Digits with zone signs and apostrophes only; read from the prepared
        // text, where the apostrophes still stand.
        Tolm::CUnicodeString digits(prepared);
        digits.ReplaceAll(u"+", u"");
        digits.ReplaceAll(u"-", u"");
        digits.ReplaceAll(u"'", u"");
        if (digits.SpanIncludingLength(Unicode::GetDigits(), 0) == digits.GetLength()) {
            reading.form = CTimeStringReading::Form::bareDigits;
            parseBareDocInfoDate(prepared, fields);
        }
    } else {
        reading.form = CTimeStringReading::Form::iso;
        parseISODate(prepared, fields);
    }
    // A form whose first field did not convert was not taken after all.
    if (fields.readMask == 0) reading.form = CTimeStringReading::Form::none;

    limitFields(fields);
    const Tolm::CTime time(fields[Field::year], fields[Field::month], fields[Field::day], fields[Field::hour],
                           fields[Field::minute], fields[Field::second], 0, 0);
    reading.readMask = fields.readMask;
    reading.zoneOffsetMinutes = fields[Field::zoneHours] * 60 + fields[Field::zoneMinutes];
    reading.localOffset = getLocalTimeOffset();
    reading.time =
        shiftToLocalTime(time, fields[Field::zoneHours], fields[Field::zoneMinutes], reading.localOffset);
    return reading;
}

Tolm::CTime ConvertTimeStringToTime(const Tolm::CUnicodeString& text) { return ReadTimeString(text).time; }

}  // namespace Korvan
