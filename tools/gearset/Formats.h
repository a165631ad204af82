// Texts of the gearset tool's command line and output: hex bytes, byte
// patterns, local times and UTF-16 code units. Each function is pure; input
// that cannot be read raises UsageError with a one-line message.
#pragma once

#include "Arguments.h"

#include <Tolm/String.h>
#include <Tolm/Time.h>

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace gearset {

// "FE FF 00 41": upper-case pairs separated by single spaces; "" for no bytes.
std::string FormatHexBytes(const unsigned char* bytes, int count);

// Bytes written as hex pairs, in one or several arguments, with blanks
// allowed between pairs: {"FE FF", "0041"} and {"feff0041"} both give
// FE FF 00 41. A pair may not be split by a blank or between arguments.
std::vector<unsigned char> ParseHexBytes(std::span<const std::string> args);

// A byte pattern: the bytes as they stand, with "\xHH" for any byte and "\\"
// for a backslash: "obj\x0A" gives o b j 0x0A. Any other backslash sequence,
// and an empty pattern, is a UsageError.
std::string ParsePattern(std::string_view text);

// "2024-01-02 03:04:05" (also with 'T' between date and time) as a local time;
// each field must lie in its range (a 30 February is refused).
Tolm::CTime ParseTimeText(std::string_view text);
// "2024-01-02 03:04:05".
std::string FormatTimeText(const Tolm::CTime& time);

bool IsValidUtf8(std::string_view text);

// A JSON string of the text, quotes included. Bytes that are not UTF-8 become
// U+FFFD, so that the document stays well-formed whatever the input was.
std::string JsonString(std::string_view text);

// Every UTF-16 code unit as "U+XXXX", separated by single spaces.
std::string FormatCodeUnits(const Tolm::CUnicodeString& text);

}  // namespace gearset
