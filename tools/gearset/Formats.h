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

// Where hex text went wrong: which argument, the offset of the byte in it,
// and a short escaped excerpt from there, all in the message:
//   not a hex byte at offset 4: 'zz\x1B[2J...'
// Any argument may be megabytes long (standard input), so none is quoted whole.
class HexMistake : public UsageError {
public:
    HexMistake(const std::string& reason, std::size_t argument, std::size_t offset, std::string_view from);
    std::size_t Argument() const noexcept { return argument_; }

private:
    std::size_t argument_;
};

// Bytes written as hex pairs, in one or several arguments, with blanks
// allowed between pairs: {"FE FF", "0041"} and {"feff0041"} both give
// FE FF 00 41. A pair may not be split by a blank or between arguments
// (HexMistake).
std::vector<unsigned char> ParseHexBytes(std::span<const std::string> args);

// Up to `limit` bytes of text in quotes, every byte outside printable ASCII
// (and the backslash and the quote) as \xHH, "..." after when cut:
// "a\x07b".
std::string EscapedExcerpt(std::string_view text, std::size_t limit);

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
