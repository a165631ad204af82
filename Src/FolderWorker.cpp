#include <Korvan/FolderWorker.h>

#include "Report.h"

#include <Tolm/FileSystem.h>
#include <Tolm/Time.h>

namespace Korvan {
namespace {

constexpr const char16_t* kTimeStampPattern = u"%Y.%m.%d %H-%M-%S";

void makeDirIfMissing(const Tolm::CUnicodeString& path) {
    if (!Tolm::FileSystem::AccessDir(path)) Tolm::FileSystem::MakeDir(path, true);
}

}  // namespace

CFolderWorker& CFolderWorker::operator=(const CFolderWorker&) { return *this; }

CFolderWorker& CFolderWorker::operator=(CFolderWorker&&) noexcept { return *this; }

Tolm::CUnicodeString CFolderWorker::MakeLongPath(const Tolm::CUnicodeString& path) {
    return Tolm::CUnicodeString(Tolm::FileSystem::kLongPathPrefix) + path;
}

void CFolderWorker::CreateSubDirs(const Tolm::CUnicodeString& path) {
    Tolm::FileSystem::CComponents components;
    const Tolm::FileSystem::TPathType type = Tolm::FileSystem::Split(path, components);
    if (components.empty()) {
        KORVAN_REPORT_BROKEN_PRECONDITION();
        return;
    }
    const std::size_t lastAncestor = components.size() - 1;
    // The root of an absolute path (a drive, "/") exists or cannot be made; the
    // first component of a relative path is an ordinary directory.
    Tolm::CUnicodeString current = components[0];
    if (type == Tolm::FileSystem::ptRelative && lastAncestor > 0) makeDirIfMissing(current);
    for (std::size_t i = 1; i < lastAncestor; ++i) {
        current = Tolm::FileSystem::Merge(current, components[i]);
        makeDirIfMissing(current);
    }
}

void CFolderWorker::CreateDirRecursive(const Tolm::CUnicodeString& path) {
    CreateSubDirs(path);
    if (!Tolm::FileSystem::AccessDir(path)) Tolm::FileSystem::MakeDir(MakeLongPath(path), true);
}

// Testing for a free name and then creating it would let two callers in the
// same second both find the name free and share one directory. Instead each
// candidate is created outright: MakeDir answers false when a directory
// already stands there, and that alone moves on to the next name.
Tolm::CUnicodeString CFolderWorker::CreateSubDirByCurrentTime(const Tolm::CUnicodeString& root) {
    const Tolm::CUnicodeString name = Tolm::CTime::GetTickCount().UnicodeFormat(kTimeStampPattern);
    Tolm::CUnicodeString candidate = Tolm::FileSystem::CombinePath(root, name);
    // Suffixes change only the last component: the ancestors are common to
    // every candidate.
    CreateSubDirs(candidate);
    for (int counter = 2; !Tolm::FileSystem::MakeDir(MakeLongPath(candidate), true); ++counter) {
        candidate += u"(";
        candidate += Tolm::UnicodeStr(counter, 10);
        candidate += u")";
    }
    return candidate;
}

}  // namespace Korvan
