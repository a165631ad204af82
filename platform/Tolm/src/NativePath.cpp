#include <Tolm/File.h>

#include "SystemPort.h"

namespace Tolm {

std::string ToNativePath(const CUnicodeString& path) {
    return detail::systemPort().paths().nativeForm(path.View());
}

}  // namespace Tolm
