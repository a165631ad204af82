// How the tool writes the files it is asked to make: whole or not at all.
//
// A target is written under a temporary name beside it and takes the target's
// name only when complete, so a failed run leaves the old file as it was:
//
//     ReplacedTarget target(path);
//     SaveSomething(target.WritePath());
//     target.Commit(target.ExistingMode().value_or(mode));  // unless this throws
//
// A copy is checked against its source's length, which must not change while
// it is read.
#pragma once

#include "Progress.h"

#include <Tolm/File.h>

#include <cstdint>
#include <optional>
#include <string>

namespace gearset {

class ReplacedTarget {
public:
    // Creates the temporary file beside `target` (a path of the command
    // line), or, where the target exists but is not a regular file or is a
    // link that leads nowhere, writes it in place: those cannot be replaced by
    // a rename. So is a file that may be written in a folder that may not.
    // Devices and pipes are written as streams (OpenSequentialOutput) instead. A link to a regular
    // file has the file it leads to replaced, and the new file takes the old
    // one's owner where the system allows (hard links to the old file keep the
    // old content).
    explicit ReplacedTarget(const std::string& target);
    // Deletes the temporary file unless committed.
    ~ReplacedTarget();
    ReplacedTarget(const ReplacedTarget&) = delete;
    ReplacedTarget& operator=(const ReplacedTarget&) = delete;

    // Where to write: the temporary file, or the target written in place.
    const Tolm::CUnicodeString& WritePath() const { return writePath_; }
    // The permission bits of the file to be replaced, if there is one.
    const std::optional<unsigned>& ExistingMode() const { return existingMode_; }

    // Gives the written and closed file the permission bits `mode` and then
    // the target's name, in one step for any reader of the target.
    void Commit(unsigned mode);

private:
    Tolm::CUnicodeString writePath_;
    std::string finalPath_;  // the system's form (SystemPath), links resolved
    std::optional<unsigned> existingMode_;
    std::string inPlaceFile_;  // a regular file written in place
    bool replacing_ = false;
};

// Copies all of source to target with the library's CopyStream, reporting
// progress, and throws a ToolFailure naming sourceName when the source's
// length at the end is not startLength: it was cut or grew meanwhile, and the
// copy has bytes of neither state. A negative startLength means the length is
// not known beforehand (a pipe): the copy then takes what the source gives.
void CopyWhole(Tolm::CBaseFile& source, std::int64_t startLength, Tolm::CBaseFile& target,
               const std::string& sourceName, ProgressMeter& meter);

}  // namespace gearset
