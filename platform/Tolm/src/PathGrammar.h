// How a system reads paths: its separators, the root of an absolute path,
// and the form in which it is handed a path. Both grammars are plain text
// rules and built on every system, so that the Windows rules can be tested
// anywhere; a port picks the one of its system. Private to Tolmbase.
#pragma once

#include <Tolm/Types.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace Tolm::detail {

class TOLM_API PathGrammar {
public:
    virtual ~PathGrammar();

    // The separator the system writes between names.
    virtual char16_t separator() const = 0;
    virtual bool isSeparator(char16_t unit) const = 0;
    // The length of the root of an absolute path ("/", "C:\", "\\server\share\",
    // "\"); 0 for a relative path.
    virtual std::size_t rootLength(std::u16string_view path) const = 0;
    // The path without the long-path prefix "\\?\" ("\\?\UNC\server\share" is
    // "\\server\share").
    virtual std::u16string ordinaryForm(std::u16string_view path) const = 0;
    // The path as the framework hands it to the port (UTF-8): on POSIX the
    // long-path prefix, noise there, is dropped; on Windows it stays, since it
    // tells the system to take the path as it stands.
    virtual std::string nativeForm(std::u16string_view path) const = 0;
};

TOLM_API const PathGrammar& posixPaths();
TOLM_API const PathGrammar& windowsPaths();

// The long form in which the system is handed a Windows path, "\\?\C:\..." or
// "\\?\UNC\server\share\...": the one form free of the 260-character limit and
// of the system's rewriting. A path already in that form (full, backslashes
// only) passes unchanged, and so do device paths ("\\.\NUL", "\\?\Volume{...}").
// Any other path is read as Windows reads an ordinary path, so that a name
// means the same with the prefix and without it: '/' is '\', a relative or
// rooted path is made full against currentFolder (a full path itself),
// "." and ".." are resolved, and trailing dots and spaces are trimmed from
// each name. A lone device name (NUL, CON, COM1, ...) is the device. The
// prefix put before a path that was not in the long form ("\\?\C:/a",
// "\\?\rel\a", even "\\?\\\?\C:\a") is read the same way.
TOLM_API std::u16string windowsLongForm(std::u16string_view path, std::u16string_view currentFolder);

}  // namespace Tolm::detail
