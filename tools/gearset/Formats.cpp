#include "Formats.h"

#include <cstdio>

namespace gearset {
namespace {

int hexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool isLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int daysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

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

std::vector<unsigned char> ParseHexBytes(std::span<const std::string> args) {
    std::vector<unsigned char> bytes;
    for (const std::string& arg : args) {
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
                throw UsageError(lone ? "hex digits must come in pairs: '" + arg + "'"
                                      : "not a hex byte in '" + arg + "'");
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
    const bool valid = year >= 1601 && month >= 1 && month <= 12 && day >= 1 &&
                       day <= daysInMonth(year, month) && hour >= 0 && hour <= 23 && minute >= 0 &&
                       minute <= 59 && second >= 0 && second <= 59;
    if (!valid) {
        throw UsageError("TIME must be a valid local time written YYYY-MM-DD HH:MM:SS, not '" +
                         std::string(text) + "'");
    }
    return Tolm::CTime(year, month, day, hour, minute, second, 0, 0);
}

std::string FormatTimeText(const Tolm::CTime& time) {
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", time.GetYear(), time.GetMonth(),
                  time.GetDay(), time.GetHour(), time.GetMinute(), time.GetSecond());
    return text;
}

bool IsValidUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        int extra = 0;
        std::uint32_t codePoint = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            extra = 1;
            codePoint = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            extra = 2;
            codePoint = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            extra = 3;
            codePoint = lead & 0x07;
        } else {
            return false;
        }
        if (i + static_cast<std::size_t>(extra) >= text.size()) return false;
        for (int k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
            if ((next & 0xC0) != 0x80) return false;
            codePoint = (codePoint << 6) | (next & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF.
        if ((extra == 2 && codePoint < 0x800) || (extra == 3 && codePoint < 0x10000) ||
            codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
            return false;
        }
        i += static_cast<std::size_t>(extra) + 1;
    }
    return true;
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
