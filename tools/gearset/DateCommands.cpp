// gearset date parse | format: the PDF date family.
#include "Commands.h"
#include "Formats.h"

#include <string>
#include <utility>
#include <vector>

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

constexpr const char* kForms[] = {"none", "document information (D:...)", "bare digits with a zone sign",
                                  "ISO 8601"};
constexpr const char* kFormKeys[] = {"none", "docinfo", "digits", "iso8601"};
constexpr const char* kFields[] = {"year",   "month",  "day",        "hour",
                                   "minute", "second", "zone-hours", "zone-minutes"};

// The fields taken from the text, and those left at their defaults.
std::pair<std::vector<std::string>, std::vector<std::string>> fieldsOf(const Reading& reading) {
    std::pair<std::vector<std::string>, std::vector<std::string>> fields;
    for (int field = 0; field < Reading::kFieldCount; ++field)
        (reading.Read(static_cast<Reading::Field>(field)) ? fields.first : fields.second)
            .push_back(kFields[field]);
    return fields;
}

std::string joined(const std::vector<std::string>& words, const std::string& between) {
    std::string text;
    for (const std::string& word : words) text += (text.empty() ? "" : between) + word;
    return text;
}

// Indented lines after the time: how the reader got there.
std::string explain(const Reading& reading) {
    const auto [read, defaulted] = fieldsOf(reading);
    std::string text = "  form: " + std::string(kForms[static_cast<int>(reading.form)]) + "\n";
    if (reading.readMask == 0) {
        text += "  no field was read: 1970-01-01 00:00:00 UTC is the fallback, not a date in the text\n";
    } else {
        text += "  read: " + joined(read, " ") +
                "\n  defaulted: " + (defaulted.empty() ? "none" : joined(defaulted, " ")) + "\n";
    }
    text += "  zone applied: " + formatOffset(reading.zoneOffsetMinutes) + "\n";
    text += "  local offset used: " + formatOffset(static_cast<int>(reading.localOffset.GetTotalMinutes())) +
            "\n";
    return text;
}

// The library gives local time at today's offset, which for a date on the
// other side of a change of the offset is not that date's own local time; the
// instant itself is exact, so that is what a script gets.
std::string utcInstant(const Reading& reading) {
    std::string text = FormatTimeText(reading.time - reading.localOffset);
    text[10] = 'T';
    return text + "Z";
}

// One entry of --json. The index tells apart texts that JSON cannot carry
// byte for byte (bytes that are not UTF-8 all become U+FFFD).
std::string jsonEntry(std::size_t index, const std::string& text, const Reading& reading, bool explained) {
    const bool unset = reading.time == Tolm::ZeroTime;
    std::string entry = "{\"index\":" + std::to_string(index) + ",\"text\":" + JsonString(text) +
                        ",\"time\":" + (unset ? "null" : JsonString(FormatTimeText(reading.time))) +
                        ",\"utc\":" + (unset ? "null" : JsonString(utcInstant(reading))) + ",\"form\":\"" +
                        kFormKeys[static_cast<int>(reading.form)] +
                        "\",\"fallback\":" + (!unset && reading.readMask == 0 ? "true" : "false");
    if (explained && !unset) {
        const auto [read, defaulted] = fieldsOf(reading);
        const auto list = [](const std::vector<std::string>& words) {
            return words.empty() ? std::string("[]") : "[\"" + joined(words, "\",\"") + "\"]";
        };
        entry += ",\"read\":" + list(read) + ",\"defaulted\":" + list(defaulted) + ",\"zone\":\"" +
                 formatOffset(reading.zoneOffsetMinutes) + "\",\"localOffset\":\"" +
                 formatOffset(static_cast<int>(reading.localOffset.GetTotalMinutes())) + "\"";
    }
    return entry + "}";
}

int runParse(const ParsedArguments& args, Context& context) {
    const bool json = args.Has("json");
    const bool explained = args.Has("explain");
    std::string document = "{\"dates\":[";
    const auto& texts = args.Positionals();
    for (std::size_t index = 0; index < texts.size(); ++index) {
        const Reading reading = Korvan::ReadTimeString(ToUnicode(texts[index]));
        if (json) {
            if (index > 0) document += ',';
            document += jsonEntry(index, texts[index], reading, explained);
            continue;
        }
        const bool unset = reading.time == Tolm::ZeroTime;
        Print(context.out, "%s\n", unset ? "unset" : FormatTimeText(reading.time).c_str());
        if (explained && !unset) Put(context.out, explain(reading).c_str());
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
      "[--json] [--explain] TEXT...",
      "Reads PDF and ISO 8601 dates into local time.",
      {{"json", "", "print one JSON document: {\"dates\":[{\"index\":N,\"text\":TEXT,...}...]}"},
       {"explain", "", "after each time, say how it was read (form, fields, zone, local offset)"}},
      {"TEXT"},
      1,
      CommandSyntax::kUnbounded,
      "Prints one line per TEXT: the local time as YYYY-MM-DD HH:MM:SS, or 'unset'\n"
      "for a text that gives no time (an empty one). Accepted forms:\n"
      "  D:20240102030405+03'00'   20240102030405+03'00'   2024-01-02T03:04:05+03:00\n"
      "Unreadable fields fall back to defaults; no TEXT is an error. With --explain,\n"
      "indented lines after each time give the form taken, the fields read and those\n"
      "left at their defaults, the zone applied and the local offset used.\n"
      "The local time uses the offset in force now, which for a date across a change\n"
      "of the offset is not that date's own. --json gives each TEXT's index, the text,\n"
      "the local time, the exact instant in UTC, the form taken and whether the time\n"
      "is the 1970 fallback rather than a date found in the text (null times for\n"
      "'unset'); with --explain also the fields read and defaulted and the offsets:\n"
      "  {\"index\":0,\"text\":\"D:20140612164736Z\",\"time\":\"2014-06-12 17:47:36\",\n"
      "   \"utc\":\"2014-06-12T16:47:36Z\",\"form\":\"docinfo\",\"fallback\":false}\n"},
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
