#include "Formats.h"

#include <cstdio>
#include <string>

namespace gearset {
namespace {

int hexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Reads `width` decimal digits at `at`; -1 when any is not a digit.
int readDigits(std::string_view text, std::size_t at, std::size_t width) {
    int value = 0;
    for (std::size_t i = at; i < at + width; ++i) {
        if (text[i] < '0' || text[i] > '9') return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

}  // namespace

std::string FormatHexBytes(const unsigned char* bytes, int count) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(count > 0 ? static_cast<std::size_t>(count) * 3 : 0);
    for (int i = 0; i < count; ++i) {
        if (i > 0) text += ' ';
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0F];
    }
    return text;
}

// Enough to see the mistake and its neighbours, short enough for one line.
constexpr std::size_t kExcerptBytes = 16;

HexMistake::HexMistake(const std::string& reason, std::size_t argument, std::size_t offset,
                       std::string_view from)
    : UsageError(reason + " at offset " + std::to_string(offset) + ": " +
                 EscapedExcerpt(from, kExcerptBytes)),
      argument_(argument) {}

std::string EscapedExcerpt(std::string_view text, std::size_t limit) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string excerpt = "'";
    for (const char c : text.substr(0, limit)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F && c != '\\' && c != '\'') {
            excerpt += c;
        } else {
            excerpt += "\\x";
            excerpt += kDigits[byte >> 4];
            excerpt += kDigits[byte & 0x0F];
        }
    }
    return excerpt + (text.size() > limit ? "'..." : "'");
}

std::vector<unsigned char> ParseHexBytes(std::span<const std::string> args) {
    std::vector<unsigned char> bytes;
    for (std::size_t argument = 0; argument < args.size(); ++argument) {
        const std::string& arg = args[argument];
        std::size_t i = 0;
        while (i < arg.size()) {
            if (isBlank(arg[i])) {
                ++i;
                continue;
            }
            const int high = hexDigitValue(arg[i]);
            const int low = i + 1 < arg.size() ? hexDigitValue(arg[i + 1]) : -1;
            if (high < 0 || low < 0) {
                const bool lone = high >= 0 && (i + 1 == arg.size() || isBlank(arg[i + 1]));
                throw HexMistake(lone ? "hex digits must come in pairs" : "not a hex byte", argument, i,
                                 std::string_view(arg).substr(i));
            }
            bytes.push_back(static_cast<unsigned char>(high * 16 + low));
            i += 2;
        }
    }
    return bytes;
}

std::string ParsePattern(std::string_view text) {
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            bytes += text[i];
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == '\\') {
            bytes += '\\';
            ++i;
            continue;
        }
        const int high = i + 3 < text.size() && text[i + 1] == 'x' ? hexDigitValue(text[i + 2]) : -1;
        const int low = high >= 0 ? hexDigitValue(text[i + 3]) : -1;
        if (low < 0) throw UsageError("PATTERN has a backslash that is neither \\xHH nor \\\\");
        bytes += static_cast<char>(high * 16 + low);
        i += 3;
    }
    if (bytes.empty()) throw UsageError("PATTERN is empty");
    return bytes;
}

Tolm::CTime ParseTimeText(std::string_view text) {
    // YYYY-MM-DD HH:MM:SS
    // 0123456789012345678
    const bool shaped = text.size() == 19 && text[4] == '-' && text[7] == '-' &&
                        (text[10] == ' ' || text[10] == 'T') && text[13] == ':' && text[16] == ':';
    const int year = shaped ? readDigits(text, 0, 4) : -1;
    const int month = shaped ? readDigits(text, 5, 2) : -1;
    const int day = shaped ? readDigits(text, 8, 2) : -1;
    const int hour = shaped ? readDigits(text, 11, 2) : -1;
    const int minute = shaped ? readDigits(text, 14, 2) : -1;
    const int second = shaped ? readDigits(text, 17, 2) : -1;
    // The calendar clamps what it cannot hold (a 30 February, hour 24, a year
    // before 1601), so a time that keeps every field as written is a real one.
    const bool read = year >= 0 && month >= 0 && day >= 0 && hour >= 0 && minute >= 0 && second >= 0;
    const Tolm::CTime time(year, month, day, hour, minute, second, 0, 0);
    const bool valid = read && time.GetYear() == year && time.GetMonth() == month && time.GetDay() == day &&
                       time.GetHour() == hour && time.GetMinute() == minute && time.GetSecond() == second;
    if (!valid) {
        throw UsageError("TIME must be a valid local time written YYYY-MM-DD HH:MM:SS, not '" +
                         std::string(text) + "'");
    }
    return time;
}

std::string FormatTimeText(const Tolm::CTime& time) {
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", time.GetYear(), time.GetMonth(),
                  time.GetDay(), time.GetHour(), time.GetMinute(), time.GetSecond());
    return text;
}

bool IsValidUtf8(std::string_view text) {
    // The framework's decoder turns every malformed sequence into U+FFFD and
    // writes only well-formed UTF-8 back, so only valid text survives the trip.
    return Tolm::CUnicodeString::FromUtf8(text).ToUtf8() == text;
}

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (char c : Tolm::CUnicodeString::FromUtf8(text).ToUtf8()) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(c));
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string FormatCodeUnits(const Tolm::CUnicodeString& text) {
    std::string out;
    for (char16_t unit : text.View()) {
        char item[8];
        std::snprintf(item, sizeof item, "U+%04X", static_cast<unsigned>(unit));
        if (!out.empty()) out += ' ';
        out += item;
    }
    return out;
}

}  // namespace gearset
