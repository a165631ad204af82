// gearset date parse | format: the PDF date family.
#include "Commands.h"
#include "Formats.h"

#include <Korvan/PdfDateFormats.h>

namespace gearset {
namespace {

using Reading = Korvan::CTimeStringReading;

// "+03:00", "-00:30", "+00:00".
std::string formatOffset(int minutesEast) {
    char text[16];
    const int size = minutesEast < 0 ? -minutesEast : minutesEast;
    std::snprintf(text, sizeof text, "%c%02d:%02d", minutesEast < 0 ? '-' : '+', size / 60, size % 60);
    return text;
}

// Indented lines after the time: how the reader got there.
std::string explain(const Reading& reading) {
    static constexpr const char* kForms[] = {"none", "document information (D:...)",
                                             "bare digits with a zone sign", "ISO 8601"};
    static constexpr const char* kFields[] = {"year",   "month",  "day",        "hour",
                                              "minute", "second", "zone-hours", "zone-minutes"};
    std::string read, defaulted;
    for (int field = 0; field < Reading::kFieldCount; ++field) {
        std::string& list = reading.Read(static_cast<Reading::Field>(field)) ? read : defaulted;
        list += list.empty() ? "" : " ";
        list += kFields[field];
    }
    std::string text = "  form: " + std::string(kForms[static_cast<int>(reading.form)]) + "\n";
    if (reading.readMask == 0) {
        text += "  no field was read: 1970-01-01 00:00:00 UTC is the fallback, not a date in the text\n";
    } else {
        text += "  read: " + read + "\n  defaulted: " + (defaulted.empty() ? "none" : defaulted) + "\n";
    }
    text += "  zone applied: " + formatOffset(reading.zoneOffsetMinutes) + "\n";
    text += "  local offset used: " + formatOffset(static_cast<int>(reading.localOffset.GetTotalMinutes())) +
            "\n";
    return text;
}

int runParse(const ParsedArguments& args, Context& context) {
    const bool json = args.Has("json");
    if (json && args.Has("explain")) throw UsageError("--explain and --json do not go together");
    std::string document = "{\"dates\":[";
    for (const std::string& text : args.Positionals()) {
        const Reading reading = Korvan::ReadTimeString(ToUnicode(text));
        const Tolm::CTime& time = reading.time;
        const bool unset = time == Tolm::ZeroTime;
        if (!json) {
            Print(context.out, "%s\n", unset ? "unset" : FormatTimeText(time).c_str());
            if (args.Has("explain") && !unset) Put(context.out, explain(reading).c_str());
            continue;
        }
        if (!document.ends_with('[')) document += ',';
        document += "{\"text\":" + JsonString(text) +
                    ",\"time\":" + (unset ? "null" : JsonString(FormatTimeText(time))) + "}";
    }
    if (json) Print(context.out, "%s]}\n", document.c_str());
    return 0;
}

int runFormat(const ParsedArguments& args, Context& context) {
    const auto& positionals = args.Positionals();
    Tolm::CTime time = Tolm::CTime::GetTickCount();
    if (!positionals.empty()) {
        // "2024-01-02 03:04:05" as one argument, or the date and the time as two.
        const std::string text =
            positionals.size() == 2 ? positionals[0] + " " + positionals[1] : positionals[0];
        time = ParseTimeText(text);
    }
    const Tolm::CUnicodeString formatted =
        args.Has("iso") ? Korvan::ConvertTimeToISOFormat(time) : Korvan::ConvertTimeToDocInfoFormat(time);
    Print(context.out, "%s\n", formatted.ToUtf8().c_str());
    return 0;
}

const Command kCommands[] = {
    {{"date parse",
      "[--json | --explain] TEXT...",
      "Reads PDF and ISO 8601 dates into local time.",
      {{"json", "", "print one JSON document: {\"dates\":[{\"text\":TEXT,\"time\":TIME or null}...]}"},
       {"explain", "", "after each time, say how it was read (form, fields, zone, local offset)"}},
      {"TEXT"},
      1,
      CommandSyntax::kUnbounded,
      "Prints one line per TEXT: the local time as YYYY-MM-DD HH:MM:SS, or 'unset'\n"
      "for a text that gives no time (an empty one). Accepted forms:\n"
      "  D:20240102030405+03'00'   20240102030405+03'00'   2024-01-02T03:04:05+03:00\n"
      "Unreadable fields fall back to defaults; no TEXT is an error. With --explain,\n"
      "indented lines after each time give the form taken, the fields read and those\n"
      "left at their defaults, the zone applied and the local offset used.\n"},
     runParse},
    {{"date format",
      "[--iso] [TIME]",
      "Writes a local time as a PDF date, or as an ISO 8601 date.",
      {{"iso", "", "write 2024-01-02T03:04:05+03:00 instead of D:20240102030405+03'00'"}},
      {"TIME"},
      0,
      2,
      "TIME is a local time written YYYY-MM-DD HH:MM:SS (one argument, or the date\n"
      "and the time as two); without it, now. The offset of the local zone at this\n"
      "moment is appended:\n"
      "  gearset date format '2024-01-02 03:04:05'        D:20240102030405+03'00'\n"
      "  gearset date format --iso '2024-01-02 03:04:05'  2024-01-02T03:04:05+03:00\n"},
     runFormat},
};

}  // namespace

std::span<const Command> DateCommands() { return kCommands; }

}  // namespace gearset
