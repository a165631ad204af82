#include "Report.h"

#include <Tolm/Error.h>
#include <Tolm/String.h>

#include <string>
#include <string_view>

namespace Korvan::detail {
namespace {

// "/any/where/Src/FileDataStorage.cpp" or "Src/FileDataStorage.cpp" becomes
// "Src\FileDataStorage". The build maps the source root away from __FILE__;
// the search for the top folders covers builds that do not.
std::string librarySourcePath(std::string_view file) {
    for (std::string_view top : {"Src/", "module/", "Src\\", "module\\"}) {
        const std::size_t at = file.rfind(top);
        if (at != std::string_view::npos && (at == 0 || file[at - 1] == '/' || file[at - 1] == '\\')) {
            file.remove_prefix(at);
            break;
        }
    }
    const std::size_t dot = file.rfind('.');
    const std::size_t slash = file.find_last_of("/\\");
    if (dot != std::string_view::npos && (slash == std::string_view::npos || dot > slash))
        file = file.substr(0, dot);
    std::string path(file);
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

}  // namespace

void reportBrokenPrecondition(const char* sourceFile, int line) {
    const std::string path = librarySourcePath(sourceFile ? sourceFile : "");
    Tolm::GenerateInternalError(Tolm::ieBrokenPrecondition, Tolm::CUnicodeString(), Tolm::CUnicodeString(),
                                path.c_str(), line, 0);
}

}  // namespace Korvan::detail
