#include "Output.h"

#include "Platform.h"

#include <Tolm/String.h>

#include <cstdarg>
#include <string>

namespace gearset {

bool WriteText(StreamKind kind, std::string_view utf8, const StreamWriters& writers) {
    if (utf8.empty()) return true;
    if (kind == StreamKind::byteStream) return writers.bytes(utf8);
    const Tolm::CUnicodeString text = Tolm::CUnicodeString::FromUtf8(utf8);
    return writers.units(text.View());
}

void Put(std::FILE* stream, std::string_view text) {
    const StreamWriters writers{
        [stream](std::string_view bytes) {
            return std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size();
        },
        [stream](std::u16string_view units) { return WriteConsoleUnits(stream, units); }};
    // A console that refuses text has no one to tell.
    (void)WriteText(KindOfStream(stream), text, writers);
}

void Print(std::FILE* stream, const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    std::va_list again;
    va_copy(again, arguments);
    const int size = std::vsnprintf(nullptr, 0, format, arguments);
    va_end(arguments);
    std::string text(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
    if (size > 0) std::vsnprintf(text.data(), text.size() + 1, format, again);
    va_end(again);
    Put(stream, text);
}

}  // namespace gearset
