#include <Tolm/File.h>

#include <Tolm/FileSystem.h>

namespace Tolm {

std::string ToNativePath(const CUnicodeString& path) {
#ifdef _WIN32
    // The long-path form is the system's own here: it lifts the length limit.
    return path.ToUtf8();
#else
    // The long-path prefix lifts a length limit of another platform; here it
    // is only noise in front of the path.
    return CUnicodeString(FileSystem::WithoutLongPathPrefix(path.View())).ToUtf8();
#endif
}

}  // namespace Tolm
