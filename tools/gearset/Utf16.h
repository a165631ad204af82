// UTF-8, the tool's text, to UTF-16, Win32's, and back: the one place that
// converts between them (arguments, paths, system messages, the console).
// Ill-formed input becomes U+FFFD rather than an error: the text is for the
// system or a person, and a lost character must not stop the tool.
#pragma once

#ifdef _WIN32

#include <string>
#include <string_view>

#include <windows.h>

namespace gearset {

inline std::wstring Widen(std::string_view utf8) {
    std::wstring wide;
    if (utf8.empty()) return wide;
    const int size = static_cast<int>(utf8.size());
    const int units = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    wide.resize(static_cast<std::size_t>(units));
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), units);
    return wide;
}

inline std::string Narrow(std::wstring_view wide) {
    std::string utf8;
    if (wide.empty()) return utf8;
    const int size = static_cast<int>(wide.size());
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    utf8.resize(static_cast<std::size_t>(bytes));
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), bytes, nullptr, nullptr);
    return utf8;
}

}  // namespace gearset

#endif  // _WIN32
