// How the tool writes the files it is asked to make: whole or not at all.
//
// A target is written under a temporary name beside it and takes the target's
// name only when complete, so a failed run leaves the old file as it was
// (and a signal that ends the tool removes the temporary file):
//
//     ReplacedTarget target(path);
//     SaveSomething(target.WritePath());
//     target.Commit(target.ExistingMode().value_or(mode));  // unless this throws
//
// A copy is checked against its source's length, which must not change while
// it is read.
#pragma once

#include "Platform.h"
#include "Progress.h"

#include <Tolm/File.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace gearset {

class ReplacedTarget {
public:
    // Creates the temporary file beside `target` (a path of the command
    // line), or, where the target exists but is not a regular file or is a
    // link that leads nowhere, writes it in place: those cannot be replaced by
    // a rename. Devices and pipes are written as streams (OpenSequentialOutput)
    // instead. A file that may be written in a folder that may not is written
    // whole in the folder for temporary files first, and Commit copies it over
    // the target: a failure or a signal before then leaves the target as it
    // was. A link to a regular file has the file it leads to replaced, and the
    // new file takes the old one's owner where the system allows (hard links to
    // the old file keep the old content).
    explicit ReplacedTarget(const std::string& target);
    // Deletes the temporary file unless committed.
    ~ReplacedTarget();
    ReplacedTarget(const ReplacedTarget&) = delete;
    ReplacedTarget& operator=(const ReplacedTarget&) = delete;

    // Where to write: the temporary file, or the target written in place.
    const Tolm::CUnicodeString& WritePath() const { return writePath_; }
    // Runs `write`, which writes WritePath(); a framework failure in it is
    // rethrown as a ToolFailure that names the target the user gave, not the
    // hidden temporary file.
    void Write(const std::function<void()>& write) const;
    // The permission bits of the file to be replaced, if there is one.
    const std::optional<unsigned>& ExistingMode() const { return existingMode_; }

    // Gives the written and closed file the permission bits `mode` and then
    // the target's name, in one step for any reader of the target. A target
    // in a closed folder instead gets the content copied over it, with the
    // signals held off and the room checked first; only a failure of the
    // disk during that copy can then leave it cut.
    void Commit(unsigned mode);

private:
    void overwriteInPlace(unsigned mode);

    std::string target_;  // as the command line gave it
    Tolm::CUnicodeString writePath_;
    std::string finalPath_;  // the system's form (SystemPath), links resolved
    std::optional<unsigned> existingMode_;
    std::string overwrittenFile_;  // a regular file in a closed folder, copied over at the end
    bool replacing_ = false;
    std::unique_ptr<RemovedOnSignal> removal_;
};

// A temporary file in the folder for temporary files, deleted with the object
// or by a signal that ends the tool.
class TemporaryFile {
public:
    TemporaryFile();
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    const Tolm::CUnicodeString& Path() const { return path_; }

private:
    Tolm::CUnicodeString path_;
    std::unique_ptr<RemovedOnSignal> removal_;
};

// Copies all of source to target with the library's CopyStream, reporting
// progress, and throws a ToolFailure naming sourceName when the source's
// length at the end is not startLength: it was cut or grew meanwhile, and the
// copy has bytes of neither state. A negative startLength means the length is
// not known beforehand (a pipe): the copy then takes what the source gives.
void CopyWhole(Tolm::CBaseFile& source, std::int64_t startLength, Tolm::CBaseFile& target,
               const std::string& sourceName, ProgressMeter& meter);

}  // namespace gearset
