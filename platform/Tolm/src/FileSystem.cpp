#include <Tolm/Error.h>

#include <Tolm/File.h>
#include <Tolm/FileSystem.h>

#include "FileSupport.h"

#include <cerrno>
#include <string>

#include <sys/stat.h>
#include <sys/types.h>

namespace Tolm::FileSystem {

namespace {

constexpr char16_t kSeparator = u'/';

bool isDirectory(const std::string& nativePath) {
    struct stat status {};
    return ::stat(nativePath.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

CUnicodeString join(const CUnicodeString& directory, const CUnicodeString& name) {
    if (directory.IsEmpty()) return name;
    const std::u16string_view head = directory.View();
    std::u16string_view tail = name.View();
    const bool headEndsWithSeparator = head.back() == kSeparator;
    // Never double the separator where the two meet.
    if (headEndsWithSeparator && tail.starts_with(kSeparator)) tail.remove_prefix(1);
    CUnicodeString result(directory);
    if (!headEndsWithSeparator && !tail.starts_with(kSeparator)) result += kSeparator;
    result += CUnicodeString(tail);
    return result;
}

}  // namespace

bool AccessDir(const CUnicodeString& path) { return isDirectory(ToNativePath(path)); }

bool MakeDir(const CUnicodeString& path, bool throwOnError) {
    const std::string nativePath = ToNativePath(path);
    if (::mkdir(nativePath.c_str(), 0777) == 0) return true;
    const int error = errno;
    // A directory already there is the answer false, not a failure: callers
    // create a directory and go on whoever made it.
    if (error == EEXIST && isDirectory(nativePath)) return false;
    if (!throwOnError) return false;
    detail::throwSystemFileError("cannot create directory " + detail::quotedPath(path), error);
}

CUnicodeString CombinePath(const CUnicodeString& directory, const CUnicodeString& name) {
    return join(directory, name);
}

CUnicodeString Merge(const CUnicodeString& directory, const CUnicodeString& component) {
    return join(directory, component);
}

TPathType Split(const CUnicodeString& path, CComponents& components) {
    components.clear();
    const std::u16string_view units = WithoutLongPathPrefix(path.View());
    const bool absolute = units.starts_with(kSeparator);
    if (absolute) components.emplace_back(u"/");
    std::size_t at = 0;
    while (at < units.size()) {
        std::size_t end = units.find(kSeparator, at);
        if (end == std::u16string_view::npos) end = units.size();
        if (end > at) components.emplace_back(units.substr(at, end - at));
        at = end + 1;
    }
    return absolute ? ptAbsolute : ptRelative;
}

CUnicodeString GetDrivePath(const CUnicodeString& path) {
    return WithoutLongPathPrefix(path.View()).starts_with(kSeparator) ? CUnicodeString(u"/")
                                                                      : CUnicodeString(u".");
}

}  // namespace Tolm::FileSystem
