// The tool's text on stdout and stderr, the same UTF-8 on every system and in
// every stream a script reads, but readable at a console too:
//
//     Print(context.out, "%s\n", path.c_str());
//
// A Windows console shows bytes in its code page, which need not be UTF-8;
// there the text goes as UTF-16, which a console takes whatever its code page.
// Pipes and files get the bytes unchanged. Every line the tool prints goes
// through here. Not for use by several threads at once.
#pragma once

#include <cstdio>
#include <functional>
#include <string_view>

namespace gearset {

enum class StreamKind { console, byteStream };

// The two ways text can reach a stream; each answers whether all of it went.
struct StreamWriters {
    std::function<bool(std::string_view)> bytes;
    std::function<bool(std::u16string_view)> units;
};

// Writes UTF-8 text to a stream of the given kind: UTF-16 units to a
// console, the bytes themselves to anything else. Ill-formed UTF-8 reaches a
// console as U+FFFD.
bool WriteText(StreamKind kind, std::string_view utf8, const StreamWriters& writers);

#ifdef __MINGW32__
#define GEARSET_PRINTF_FORMAT __attribute__((format(gnu_printf, 2, 3)))
#else
#define GEARSET_PRINTF_FORMAT __attribute__((format(printf, 2, 3)))
#endif

// printf onto stdout or stderr through WriteText. A failed write to a pipe or
// a file shows in ferror(stream), as fwrite's would.
void Print(std::FILE* stream, const char* format, ...) GEARSET_PRINTF_FORMAT;
void Put(std::FILE* stream, std::string_view text);

}  // namespace gearset
