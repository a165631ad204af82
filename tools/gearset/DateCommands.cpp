// gearset date parse | format: the PDF date family.
#include "Commands.h"
#include "Formats.h"

#include <Korvan/PdfDateFormats.h>

namespace gearset {
namespace {

int runParse(const ParsedArguments& args, Context& context) {
    const bool json = args.Has("json");
    std::string document = "{\"dates\":[";
    for (const std::string& text : args.Positionals()) {
        const Tolm::CTime time = Korvan::ConvertTimeStringToTime(ToUnicode(text));
        const bool unset = time == Tolm::ZeroTime;
        if (!json) {
            std::fprintf(context.out, "%s\n", unset ? "unset" : FormatTimeText(time).c_str());
            continue;
        }
        if (!document.ends_with('[')) document += ',';
        document += "{\"text\":" + JsonString(text) +
                    ",\"time\":" + (unset ? "null" : JsonString(FormatTimeText(time))) + "}";
    }
    if (json) std::fprintf(context.out, "%s]}\n", document.c_str());
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
    std::fprintf(context.out, "%s\n", formatted.ToUtf8().c_str());
    return 0;
}

const Command kCommands[] = {
    {{"date parse",
      "[--json] TEXT...",
      "Reads PDF and ISO 8601 dates into local time.",
      {{"json", "", "print one JSON document: {\"dates\":[{\"text\":TEXT,\"time\":TIME or null}...]}"}},
      {"TEXT"},
      1,
      CommandSyntax::kUnbounded,
      "Prints one line per TEXT: the local time as YYYY-MM-DD HH:MM:SS, or 'unset'\n"
      "for a text that gives no time (an empty one). Accepted forms:\n"
      "  D:20240102030405+03'00'   20240102030405+03'00'   2024-01-02T03:04:05+03:00\n"
      "Unreadable fields fall back to defaults; no TEXT is an error.\n"},
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
