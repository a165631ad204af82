// Helpers shared by the framework's file sources: message pieces and the one
// way a failed system call becomes a file error. Private to Tolmbase.
#pragma once

#include <Tolm/Error.h>
#include <Tolm/String.h>

#include <string>

namespace Tolm::detail {

// The system's text for an errno value, e.g. "No space left on device".
std::string systemErrorText(int systemError);

// "'<path>'" in UTF-8, for messages.
std::string quotedPath(const CUnicodeString& path);

// Throws a file error "<what>: <system text>" carrying the errno value.
[[noreturn]] void throwSystemFileError(const std::string& what, int systemError);

}  // namespace Tolm::detail
