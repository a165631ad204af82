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

// The identity of a temporary file that TempFile::New created in this
// process, so that opening it again by name can insist on that very file:
// whoever can write the temporary folder could otherwise swap in a link to
// a file of theirs choosing between the creation and the open.
struct CreatedTempFile {
    unsigned long long device = 0;
    unsigned long long inode = 0;
};
// True, with its identity, when native names a temporary file this process
// created and has not deleted.
bool findCreatedTempFile(const std::string& native, CreatedTempFile& identity);

}  // namespace Tolm::detail
