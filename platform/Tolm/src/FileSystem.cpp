#include <Tolm/Error.h>

#include <Tolm/File.h>
#include <Tolm/FileSystem.h>

#include "FileSupport.h"
#include "SystemFile.h"

#include <cerrno>
#include <string>

namespace Tolm::FileSystem {

namespace {

#ifdef _WIN32
// Windows takes either separator, but a long path ("\\?\") only its own.
constexpr char16_t kSeparator = u'\\';
bool isSeparator(char16_t unit) { return unit == u'\\' || unit == u'/'; }
// The root of an absolute path: "C:\", a share "\\server\share\" (the
// share is a network path's drive: nothing above it can be made), or "\";
// 0 when relative.
std::size_t rootLength(std::u16string_view path) {
    if (path.size() >= 3 && path[1] == u':' && isSeparator(path[2])) return 3;
    if (path.size() > 2 && isSeparator(path[0]) && isSeparator(path[1])) {
        std::size_t end = 2;
        for (int name = 0; name < 2 && end < path.size(); ++name) {  // server, then share
            while (end < path.size() && !isSeparator(path[end])) ++end;
            if (end < path.size()) ++end;
        }
        return end;
    }
    return !path.empty() && isSeparator(path[0]) ? 1 : 0;
}
// The path in its ordinary form: the long form of a share, "\\?\UNC\server\share",
// is "\\server\share".
std::u16string ordinaryForm(std::u16string_view path) {
    const std::u16string_view units = WithoutLongPathPrefix(path);
    if (units.size() < path.size() && units.size() > 4 && units.substr(0, 3) == u"UNC" &&
        isSeparator(units[3]))
        return u"\\" + std::u16string(units.substr(3));
    return std::u16string(units);
}
#else
constexpr char16_t kSeparator = u'/';
bool isSeparator(char16_t unit) { return unit == u'/'; }
std::size_t rootLength(std::u16string_view path) { return path.starts_with(u'/') ? 1 : 0; }
std::u16string ordinaryForm(std::u16string_view path) { return std::u16string(WithoutLongPathPrefix(path)); }
#endif

CUnicodeString join(const CUnicodeString& directory, const CUnicodeString& name) {
    if (directory.IsEmpty()) return name;
    const std::u16string_view head = directory.View();
    std::u16string_view tail = name.View();
    const bool headEndsWithSeparator = isSeparator(head.back());
    const bool tailStartsWithSeparator = !tail.empty() && isSeparator(tail.front());
    // Never double the separator where the two meet.
    if (headEndsWithSeparator && tailStartsWithSeparator) tail.remove_prefix(1);
    CUnicodeString result(directory);
    if (!headEndsWithSeparator && !tailStartsWithSeparator) result += kSeparator;
    result += CUnicodeString(tail);
    return result;
}

}  // namespace

bool AccessDir(const CUnicodeString& path) { return detail::isPlatformDirectory(ToNativePath(path)); }

bool MakeDir(const CUnicodeString& path, bool throwOnError) {
    const std::string nativePath = ToNativePath(path);
    const int error = detail::makePlatformDirectory(nativePath);
    if (error == 0) return true;
    // A directory already there is the answer false, not a failure: callers
    // create a directory and go on whoever made it.
    if (error == EEXIST && detail::isPlatformDirectory(nativePath)) return false;
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
    const std::u16string ordinary = ordinaryForm(path.View());
    const std::u16string_view units = ordinary;
    const std::size_t root = rootLength(units);
    const bool absolute = root > 0;
    if (absolute)
        components.emplace_back(root == 1 ? std::u16string_view(&kSeparator, 1) : units.substr(0, root));
    std::size_t at = root;
    while (at < units.size()) {
        std::size_t end = at;
        while (end < units.size() && !isSeparator(units[end])) ++end;
        if (end > at) components.emplace_back(units.substr(at, end - at));
        at = end + 1;
    }
    return absolute ? ptAbsolute : ptRelative;
}

CUnicodeString GetDrivePath(const CUnicodeString& path) {
    const std::u16string ordinary = ordinaryForm(path.View());
    const std::u16string_view units = ordinary;
    const std::size_t root = rootLength(units);
    if (root == 0) return CUnicodeString(u".");
    return root == 1 ? CUnicodeString(std::u16string_view(&kSeparator, 1))
                     : CUnicodeString(units.substr(0, root));
}

}  // namespace Tolm::FileSystem
