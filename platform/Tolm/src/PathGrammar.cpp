#include "PathGrammar.h"

#include <Tolm/FileSystem.h>
#include <Tolm/String.h>

#include <algorithm>
#include <array>
#include <vector>

namespace Tolm::detail {

PathGrammar::~PathGrammar() = default;

namespace {

using FileSystem::kLongPathPrefix;
using FileSystem::WithoutLongPathPrefix;

class PosixGrammar final : public PathGrammar {
public:
    char16_t separator() const override { return u'/'; }
    bool isSeparator(char16_t unit) const override { return unit == u'/'; }
    std::size_t rootLength(std::u16string_view path) const override { return path.starts_with(u'/') ? 1 : 0; }
    std::u16string ordinaryForm(std::u16string_view path) const override {
        return std::u16string(WithoutLongPathPrefix(path));
    }
    std::string nativeForm(std::u16string_view path) const override {
        return CUnicodeString(WithoutLongPathPrefix(path)).ToUtf8();
    }
};

bool isWindowsSeparator(char16_t unit) { return unit == u'\\' || unit == u'/'; }

bool isDriveLetter(char16_t unit) { return (unit >= u'A' && unit <= u'Z') || (unit >= u'a' && unit <= u'z'); }

// The length of "\\server\share\" (or without its last separator) at the
// start of path; 0 when path does not start with two separators.
std::size_t shareRootLength(std::u16string_view path) {
    if (path.size() <= 2 || !isWindowsSeparator(path[0]) || !isWindowsSeparator(path[1])) return 0;
    std::size_t end = 2;
    for (int name = 0; name < 2 && end < path.size(); ++name) {  // server, then share
        while (end < path.size() && !isWindowsSeparator(path[end])) ++end;
        if (end < path.size()) ++end;
    }
    return end;
}

class WindowsGrammar final : public PathGrammar {
public:
    char16_t separator() const override { return u'\\'; }
    bool isSeparator(char16_t unit) const override { return isWindowsSeparator(unit); }
    // The share is a network path's drive: nothing above it can be made.
    std::size_t rootLength(std::u16string_view path) const override {
        if (path.size() >= 3 && path[1] == u':' && isWindowsSeparator(path[2])) return 3;
        if (const std::size_t share = shareRootLength(path)) return share;
        return !path.empty() && isWindowsSeparator(path[0]) ? 1 : 0;
    }
    std::u16string ordinaryForm(std::u16string_view path) const override {
        const std::u16string_view units = WithoutLongPathPrefix(path);
        if (units.size() < path.size() && units.size() > 4 && units.substr(0, 3) == u"UNC" &&
            isWindowsSeparator(units[3]))
            return std::u16string(units.substr(3)).insert(0, 1, u'\\');
        return std::u16string(units);
    }
    std::string nativeForm(std::u16string_view path) const override { return CUnicodeString(path).ToUtf8(); }
};

// --- The long form ---

// Names that stand for a device in any folder, whatever their extension.
bool isDeviceName(std::u16string_view name) {
    name = name.substr(0, name.find(u'.'));
    while (!name.empty() && name.back() == u' ') name.remove_suffix(1);
    std::u16string upper(name);
    for (char16_t& unit : upper)
        if (unit >= u'a' && unit <= u'z') unit = static_cast<char16_t>(unit - u'a' + u'A');
    static constexpr std::array<std::u16string_view, 4> kPlain = {u"CON", u"PRN", u"AUX", u"NUL"};
    if (std::find(kPlain.begin(), kPlain.end(), upper) != kPlain.end()) return true;
    return upper.size() == 4 && (upper.starts_with(u"COM") || upper.starts_with(u"LPT")) &&
           upper[3] >= u'1' && upper[3] <= u'9';
}

// True for a path the system takes as it stands: "\\?\X:\..." or
// "\\?\UNC\...", backslashes only, no name "." or "..".
bool isLongForm(std::u16string_view path) {
    if (!path.starts_with(kLongPathPrefix)) return false;
    const std::u16string_view rest = path.substr(kLongPathPrefix.size());
    const bool full = (rest.size() >= 3 && isDriveLetter(rest[0]) && rest[1] == u':' && rest[2] == u'\\') ||
                      rest.starts_with(u"UNC\\");
    if (!full || rest.find(u'/') != std::u16string_view::npos) return false;
    for (std::size_t at = 0; at < rest.size();) {
        std::size_t end = rest.find(u'\\', at);
        if (end == std::u16string_view::npos) end = rest.size();
        const std::u16string_view name = rest.substr(at, end - at);
        if (name == u"." || name == u"..") return false;
        at = end + 1;
    }
    return true;
}

// The names of path from at on, resolved as Windows resolves an ordinary
// path: empty names and "." dropped, ".." taking the name before it (never
// the root), trailing dots and spaces trimmed.
void appendNames(std::u16string_view path, std::size_t at, std::vector<std::u16string>& names,
                 std::size_t keep) {
    while (at < path.size()) {
        std::size_t end = at;
        while (end < path.size() && !isWindowsSeparator(path[end])) ++end;
        std::u16string_view name = path.substr(at, end - at);
        at = end + 1;
        if (name == u"..") {
            if (names.size() > keep) names.pop_back();
            continue;
        }
        while (!name.empty() && (name.back() == u'.' || name.back() == u' ')) name.remove_suffix(1);
        if (!name.empty()) names.emplace_back(name);
    }
}

}  // namespace

const PathGrammar& posixPaths() {
    static const PosixGrammar grammar;
    return grammar;
}

const PathGrammar& windowsPaths() {
    static const WindowsGrammar grammar;
    return grammar;
}

std::u16string windowsLongForm(std::u16string_view path, std::u16string_view currentFolder) {
    if (isLongForm(path)) return std::u16string(path);
    // Device paths are no file system's names.
    if (path.starts_with(u"\\\\.\\") || path.starts_with(u"\\\\?\\Volume{") ||
        path.starts_with(u"\\\\?\\GLOBALROOT"))
        return std::u16string(path);
    // A prefix before a path not in the long form is dropped (and a doubled one
    // with it), and the path read as an ordinary one.
    std::u16string ordinary(path);
    while (std::u16string_view(ordinary).starts_with(kLongPathPrefix)) {
        ordinary.erase(0, kLongPathPrefix.size());
        if (ordinary.size() >= 4 && ordinary.starts_with(u"UNC") && isWindowsSeparator(ordinary[3]))
            ordinary.replace(0, 3, u"\\");
    }
    if (ordinary.empty()) return std::u16string(currentFolder.empty() ? path : currentFolder);

    // The root: "X:", "\\server\share", or that of the current folder.
    std::u16string root;
    std::vector<std::u16string> names;
    std::size_t at = 0;
    const auto rootOfCurrent = [&] {
        if (const std::size_t share = shareRootLength(currentFolder); share > 0) {
            root = std::u16string(currentFolder.substr(0, share));
            while (!root.empty() && isWindowsSeparator(root.back())) root.pop_back();
            return share;
        }
        root = std::u16string(currentFolder.substr(0, 2));
        return std::size_t{2};
    };
    if (ordinary.size() >= 2 && isDriveLetter(ordinary[0]) && ordinary[1] == u':') {
        root = ordinary.substr(0, 2);
        at = 2;
        // "X:name" is relative to the current folder when that is on drive X.
        const bool onCurrentDrive = currentFolder.size() >= 2 &&
                                    (currentFolder[0] | 0x20) == (root[0] | 0x20) && currentFolder[1] == u':';
        if ((ordinary.size() == 2 || !isWindowsSeparator(ordinary[2])) && onCurrentDrive)
            appendNames(currentFolder, 2, names, 0);
    } else if (const std::size_t share = shareRootLength(ordinary); share > 0) {
        root = ordinary.substr(0, share);
        while (!root.empty() && isWindowsSeparator(root.back())) root.pop_back();
        for (char16_t& unit : root)
            if (unit == u'/') unit = u'\\';
        at = share;
    } else if (isWindowsSeparator(ordinary[0])) {
        rootOfCurrent();
    } else {
        appendNames(currentFolder, rootOfCurrent(), names, 0);
    }
    appendNames(ordinary, at, names, 0);
    if (!names.empty() && isDeviceName(names.back()) && !ordinary.starts_with(u"\\\\"))
        return u"\\\\.\\" + names.back().substr(0, names.back().find(u'.'));

    std::u16string result(kLongPathPrefix);
    if (root.starts_with(u"\\\\")) {
        result += u"UNC";
        result += std::u16string_view(root).substr(1);
    } else {
        result += root;
    }
    for (const std::u16string& name : names) {
        result += u'\\';
        result += name;
    }
    if (names.empty()) result += u'\\';
    return result;
}

}  // namespace Tolm::detail
