#include <Tolm/Error.h>

#include <Tolm/File.h>
#include <Tolm/FileSystem.h>

#include "FileSupport.h"
#include "SystemPort.h"

#include <cerrno>
#include <string>

namespace Tolm::FileSystem {

namespace {

const detail::PathGrammar& grammar() { return detail::systemPort().paths(); }

CUnicodeString join(const CUnicodeString& directory, const CUnicodeString& name) {
    if (directory.IsEmpty()) return name;
    const std::u16string_view head = directory.View();
    std::u16string_view tail = name.View();
    const detail::PathGrammar& rules = grammar();
    const bool headEndsWithSeparator = rules.isSeparator(head.back());
    const bool tailStartsWithSeparator = !tail.empty() && rules.isSeparator(tail.front());
    // Never double the separator where the two meet.
    if (headEndsWithSeparator && tailStartsWithSeparator) tail.remove_prefix(1);
    CUnicodeString result(directory);
    if (!headEndsWithSeparator && !tailStartsWithSeparator) result += rules.separator();
    result += CUnicodeString(tail);
    return result;
}

}  // namespace

bool AccessDir(const CUnicodeString& path) { return detail::systemPort().isDirectory(ToNativePath(path)); }

bool MakeDir(const CUnicodeString& path, bool throwOnError) {
    const std::string nativePath = ToNativePath(path);
    detail::SystemPort& port = detail::systemPort();
    const int error = port.makeDirectory(nativePath);
    if (error == 0) return true;
    // A directory already there is the answer false, not a failure: callers
    // create a directory and go on whoever made it.
    if (error == EEXIST && port.isDirectory(nativePath)) return false;
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
    const detail::PathGrammar& rules = grammar();
    const std::u16string ordinary = rules.ordinaryForm(path.View());
    const std::u16string_view units = ordinary;
    const std::size_t root = rules.rootLength(units);
    const char16_t separator = rules.separator();
    const bool absolute = root > 0;
    if (absolute)
        components.emplace_back(root == 1 ? std::u16string_view(&separator, 1) : units.substr(0, root));
    std::size_t at = root;
    while (at < units.size()) {
        std::size_t end = at;
        while (end < units.size() && !rules.isSeparator(units[end])) ++end;
        if (end > at) components.emplace_back(units.substr(at, end - at));
        at = end + 1;
    }
    return absolute ? ptAbsolute : ptRelative;
}

CUnicodeString GetDrivePath(const CUnicodeString& path) {
    const detail::PathGrammar& rules = grammar();
    const std::u16string ordinary = rules.ordinaryForm(path.View());
    const std::u16string_view units = ordinary;
    const std::size_t root = rules.rootLength(units);
    const char16_t separator = rules.separator();
    if (root == 0) return CUnicodeString(u".");
    return root == 1 ? CUnicodeString(std::u16string_view(&separator, 1))
                     : CUnicodeString(units.substr(0, root));
}

}  // namespace Tolm::FileSystem
