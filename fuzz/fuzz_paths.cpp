// Fuzzes the long form in which Windows is handed every path, and the path
// grammars' reading of roots.
//
// Input: the first byte picks the current folder (a drive's or a share's);
// the rest is the path, each byte one UTF-16 unit, those below 0x20 taken
// from a small alphabet of the characters that matter to paths (separators,
// dots, spaces, ':', '?', the long-path and device prefixes' letters), so
// that the search meets prefixes, roots and trimmed names often.
//
// Properties: the long form is a device path or "\\?\" followed by a full
// path with backslashes only and no "." or ".." name, and it is its own long
// form (a path in that form passes unchanged). A root never reaches past
// its path.
#include "FuzzSupport.h"

#include "PathGrammar.h"

#include <Tolm/String.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

constexpr char16_t kAlphabet[] = u"\\/. :?CcUNnLl0123456789aA{";

bool isDevicePath(std::u16string_view path) {
    return path.starts_with(u"\\\\.\\") || path.starts_with(u"\\\\?\\Volume{") ||
           path.starts_with(u"\\\\?\\GLOBALROOT");
}

bool hasDotName(std::u16string_view path) {
    for (std::size_t at = 0; at <= path.size();) {
        std::size_t end = path.find(u'\\', at);
        if (end == std::u16string_view::npos) end = path.size();
        const std::u16string_view name = path.substr(at, end - at);
        if (name == u"." || name == u"..") return true;
        at = end + 1;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::ThrowingReports();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || size > 4096) return 0;
    const std::u16string_view current = data[0] % 2 ? u"\\\\srv\\share\\dir" : u"C:\\work";
    std::u16string path;
    for (std::size_t i = 1; i < size; ++i)
        path +=
            data[i] < 0x20 ? kAlphabet[data[i] % (std::size(kAlphabet) - 1)] : static_cast<char16_t>(data[i]);

    const std::u16string longForm = Tolm::detail::windowsLongForm(path, current);
    const std::string shown = Tolm::CUnicodeString(path).ToUtf8();
    FUZZ_CHECK(!longForm.empty(), "'%s' has an empty long form", shown.c_str());
    if (!isDevicePath(longForm)) {
        const std::string made = Tolm::CUnicodeString(longForm).ToUtf8();
        FUZZ_CHECK(longForm.starts_with(u"\\\\?\\") && longForm.find(u'/') == std::u16string::npos &&
                       !hasDotName(longForm.substr(4)),
                   "'%s' became '%s'", shown.c_str(), made.c_str());
        FUZZ_CHECK(Tolm::detail::windowsLongForm(longForm, current) == longForm,
                   "'%s' is not its own long form", made.c_str());
    }
    for (const Tolm::detail::PathGrammar* grammar :
         {&Tolm::detail::windowsPaths(), &Tolm::detail::posixPaths()}) {
        const std::u16string ordinary = grammar->ordinaryForm(path);
        FUZZ_CHECK(grammar->rootLength(ordinary) <= ordinary.size(), "the root of '%s' is too long",
                   shown.c_str());
    }
    return 0;
}
