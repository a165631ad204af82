// Folder worker: directory helpers. Make sure a directory and its ancestors
// exist, create a fresh directory under a root named after the current time,
// and give the long form of a path ("\\?\" in front) that lifts the Windows
// path-length limit (the framework drops the prefix on POSIX).
//
// The class has no state; its operations are static and may run on any thread
// at once. Paths are used as the caller gives them, with no normalisation.
// Every file-system step goes through Tolm::FileSystem; its failures (a file
// in the way, no permission) arrive as a thrown Tolm::CException* and
// directories created before the failure stay.
#pragma once

#include <Korvan/Export.h>

#include <Tolm/String.h>

namespace Korvan {

class KORVAN_API CFolderWorker {
public:
    CFolderWorker() = default;
    CFolderWorker(const CFolderWorker&) = default;
    // Nothing to copy or move; both return the left operand.
    CFolderWorker& operator=(const CFolderWorker& other);
    CFolderWorker& operator=(CFolderWorker&& other) noexcept;

    // "\\?\" followed by path, whatever path holds:
    //   u"C:\\a" -> u"\\\\?\\C:\\a",  u"" -> u"\\\\?\\"
    static Tolm::CUnicodeString MakeLongPath(const Tolm::CUnicodeString& path);

    // Creates the missing ancestors of path, from the top down, but never path
    // itself: for "/r/a/b/c" it makes /r/a and /r/a/b as needed. The root of
    // an absolute path is taken as given; the first component of a relative
    // path is created like any other.
    static void CreateSubDirs(const Tolm::CUnicodeString& path);

    // Makes path and every missing ancestor; an existing directory is left
    // alone. The last directory is created through its long form.
    static void CreateDirRecursive(const Tolm::CUnicodeString& path);

    // Creates, under root (made as well when missing), a directory named after
    // the current local time, such as "2026.12.04 11-56-20", and returns its
    // full path in ordinary form. When that name is taken the next candidates
    // are "2026.12.04 11-56-20(2)", "2026.12.04 11-56-20(2)(3)", ... Each
    // candidate is created atomically, so concurrent callers, in one process
    // or several, each get a directory that they alone created.
    static Tolm::CUnicodeString CreateSubDirByCurrentTime(const Tolm::CUnicodeString& root);
};

}  // namespace Korvan
