// PDF date formats: writing a local time as a PDF document-information date or
// an ISO 8601 extended date with the local zone offset, and reading such dates
// (and the same digits without the "D:" prefix) back into local time.
//
// Times exchanged here are local wall-clock Tolm::CTime values;
// Tolm::ZeroTime stands for "no time" and maps to and from the empty string.
// The local offset is always the one in force at the moment of the call, not
// the one of the date handled: a summer date written in winter carries the
// winter offset.
//
// The functions keep no state; each reads the clock once. Any thread may call
// them at once. Reading never fails: fields that cannot be read stay zero and
// every field is then forced into its valid range.
#pragma once

#include <Korvan/Export.h>

#include <Tolm/String.h>
#include <Tolm/Time.h>

namespace Korvan {

// The time's own fields, then the local offset of the moment of the call.
// At UTC+3, 2 January 2024 03:04:05 gives "D:20240102030405+03'00'";
// at UTC "D:20240102030405Z00'00'"; at UTC-0:30 "D:20240102030405-00'30'".
// Tolm::ZeroTime gives the empty string.
KORVAN_API Tolm::CUnicodeString ConvertTimeToDocInfoFormat(const Tolm::CTime& time);

// As above in ISO 8601 extended form: "2024-01-02T03:04:05+03:00",
// "2024-01-02T03:04:05Z", "2024-01-02T03:04:05-03:30".
KORVAN_API Tolm::CUnicodeString ConvertTimeToISOFormat(const Tolm::CTime& time);

// Reads a date and returns it in local time (zone of the text moved to the
// local offset of the moment; no zone or "Z" means UTC). Accepted, case
// insensitive, blanks around ignored:
//   "D:20240102030405+03'00'"   (also shortened: "D:2024", "D:202407", ...)
//   "20240102030405+0530"       (digits without prefix; needs the zone sign)
//   "2024-01-02T03:04:05.123Z", "2024-01-02T03:04-05:00", "2024-01-02"
// Years below 1970 become 1970; out-of-range fields are clamped
// ("D:20240231" is 29 February 2024). Empty or blank text gives
// Tolm::ZeroTime; any other text that cannot be read gives 1970-01-01 00:00:00
// UTC in local time.
KORVAN_API Tolm::CTime ConvertTimeStringToTime(const Tolm::CUnicodeString& text);

// How ConvertTimeStringToTime reads a text, for telling a user why a date came
// out as it did.
struct CTimeStringReading {
    enum class Form { none, docInfo, bareDigits, iso };  // "D:...", digits with a zone sign, ISO 8601
    enum Field { year, month, day, hour, minute, second, zoneHours, zoneMinutes, kFieldCount };

    Form form = Form::none;       // none also when the form's first field did not convert
    unsigned readMask = 0;        // bit 1 << Field for each field taken from the text
    int zoneOffsetMinutes = 0;    // the text's zone, minutes east of UTC (0: none, "Z" or UTC)
    Tolm::CTimeSpan localOffset;  // local time minus UTC at the moment of the call
    Tolm::CTime time;             // what ConvertTimeStringToTime returns

    bool Read(Field field) const noexcept { return (readMask >> field & 1u) != 0; }
};

KORVAN_API CTimeStringReading ReadTimeString(const Tolm::CUnicodeString& text);

}  // namespace Korvan
