#include <Tolm/File.h>

#include <Tolm/FileSystem.h>

namespace Tolm {

std::string ToNativePath(const CUnicodeString& path) {
    // The long-path prefix lifts a length limit of another platform; here it
    // is only noise in front of the path.
    return CUnicodeString(FileSystem::WithoutLongPathPrefix(path.View())).ToUtf8();
}

}  // namespace Tolm
