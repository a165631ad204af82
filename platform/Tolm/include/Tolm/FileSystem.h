// File-system helpers of the framework.
//
// Paths are CUnicodeString; the long-path prefix "\\?\" is accepted and
// dropped on POSIX. On POSIX the separator is '/', and a backslash is an
// ordinary character of a name.
//
// POSIX behaviour of each operation:
//   AccessDir("/tmp")              true: the path exists and is a directory
//   MakeDir("/tmp/a", true)        mkdir with mode 0777 (less the umask);
//                                  true when it made the directory, false when a
//                                  directory already stood there; any other
//                                  failure (a file in the way, a missing parent,
//                                  no permission) throws a file error when the
//                                  second argument is true, else gives false
//   CombinePath("/tmp", "a b")     "/tmp/a b" (one separator between, none added
//                                  when the first ends with one or is empty)
//   Merge(dir, component)          the same join, for components from Split
//   Split("/tmp/a/b", parts)       parts = {"/", "tmp", "a", "b"}, answers
//                                  ptAbsolute; the root is the first component;
//                                  "a/b" gives {"a", "b"} and ptRelative; empty
//                                  components (doubled or trailing separators)
//                                  are skipped; "" gives no component
//   GetDrivePath("/tmp/a")         "/"; a relative path gives "." (the current
//                                  directory)
// Thread-safe.
#pragma once

#include <Tolm/String.h>

#include <string_view>
#include <vector>

namespace Tolm::FileSystem {

// The prefix that lifts the home platform's limit on a path's length. Every
// path the framework takes may carry it; on POSIX it is dropped.
inline constexpr std::u16string_view kLongPathPrefix = u"\\\\?\\";

// The path without its long-path prefix, if it has one.
constexpr std::u16string_view WithoutLongPathPrefix(std::u16string_view path) {
    return path.starts_with(kLongPathPrefix) ? path.substr(kLongPathPrefix.size()) : path;
}

enum TPathType { ptRelative = 0, ptAbsolute = 1 };

using CComponents = std::vector<CUnicodeString, CAllocator<CUnicodeString>>;

TOLM_API bool AccessDir(const CUnicodeString& path);
TOLM_API bool MakeDir(const CUnicodeString& path, bool throwOnError);
TOLM_API CUnicodeString CombinePath(const CUnicodeString& directory, const CUnicodeString& name);
TOLM_API CUnicodeString Merge(const CUnicodeString& directory, const CUnicodeString& component);
TOLM_API TPathType Split(const CUnicodeString& path, CComponents& components);
TOLM_API CUnicodeString GetDrivePath(const CUnicodeString& path);

}  // namespace Tolm::FileSystem
