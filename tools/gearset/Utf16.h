// UTF-8, the tool's text, to UTF-16 as Win32 takes it and back, for the files
// that talk to Win32 (arguments, paths, system messages). The framework's
// string converts, so that UTF-8 is decoded in one place in the whole project:
// ill-formed input becomes U+FFFD rather than an error (one for each maximal
// ill-formed run of bytes, one for each lone surrogate), since the text is for
// the system or a person, and a lost character must not stop the tool.
// wchar_t holds a UTF-16 unit only where it is 16 bits wide, as on Windows.
#pragma once

#include <Tolm/String.h>

#include <string>
#include <string_view>

namespace gearset {

inline std::wstring Widen(std::string_view utf8) {
    static_assert(sizeof(wchar_t) == sizeof(char16_t), "wchar_t must hold UTF-16 units");
    const Tolm::CUnicodeString text = Tolm::CUnicodeString::FromUtf8(utf8);
    const std::u16string_view units = text.View();
    return std::wstring(units.begin(), units.end());
}

inline std::string Narrow(std::wstring_view wide) {
    static_assert(sizeof(wchar_t) == sizeof(char16_t), "wchar_t must hold UTF-16 units");
    const std::u16string units(wide.begin(), wide.end());
    return Tolm::CUnicodeString(units).ToUtf8();
}

}  // namespace gearset
