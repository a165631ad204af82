#include <Tolm/File.h>

namespace Tolm {

std::string ToNativePath(const CUnicodeString& path) {
#ifdef _WIN32
    // The long-path form is the system's own here: it lifts the length limit.
    return path.ToUtf8();
#else
    // The long-path prefix lifts a length limit of another platform; here it
    // is only noise in front of the path.
    constexpr std::u16string_view kLongPathPrefix = u"\\\\?\\";
    std::u16string_view units = path.View();
    if (units.starts_with(kLongPathPrefix)) units.remove_prefix(kLongPathPrefix.size());
    return CUnicodeString(units).ToUtf8();
#endif
}

}  // namespace Tolm
