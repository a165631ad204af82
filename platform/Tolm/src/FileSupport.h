// Helpers shared by the framework's file sources: message pieces and the one
// way a failed system call becomes a file error. Private to Tolmbase.
#pragma once

#include <Tolm/Error.h>
#include <Tolm/File.h>
#include <Tolm/String.h>

#include <cstdint>
#include <limits>
#include <string>

namespace Tolm::detail {

// "'<path>'" in UTF-8, for messages.
std::string quotedPath(const CUnicodeString& path);

// Where a Seek of any framework file goes: offset from the start, from
// position or from the end (lengthOf() is asked only then). An unknown origin
// and a target before the start or past the 64-bit range are argument errors
// naming the file by where() ("'/tmp/a'", "the memory file"), asked only
// then: a seek is on every page's path, and a name costs an allocation.
template <class LengthOf, class Where>
std::int64_t seekTarget(std::int64_t offset, int origin, std::int64_t position, LengthOf lengthOf,
                        Where where) {
    std::int64_t from = 0;
    switch (origin) {
        case CBaseFile::begin:
            break;
        case CBaseFile::current:
            from = position;
            break;
        case CBaseFile::end:
            from = lengthOf();
            break;
        default:
            ThrowArgumentError("unknown seek origin " + std::to_string(origin));
    }
    if ((offset < 0 && from + offset < 0) ||
        (offset > 0 && from > std::numeric_limits<std::int64_t>::max() - offset)) {
        ThrowArgumentError("seek to offset " + std::to_string(offset) + " from " + std::to_string(from) +
                           " is outside " + where());
    }
    return from + offset;
}

// Throws a file error "<what>: <system text>" carrying the errno value; the
// text is what the port says of the failure (with the system's own number
// where that is not the errno value).
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
