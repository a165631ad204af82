#include "PortableTesting.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace GearsetTesting {

#ifdef _WIN32

namespace {

void removeLongTree(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    const HANDLE search = ::FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = folder + L"\\" + name;
            const bool isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            if (isFolder && !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                removeLongTree(path);
            } else if (isFolder) {
                ::RemoveDirectoryW(path.c_str());
            } else {
                ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);  // read-only files too
                ::DeleteFileW(path.c_str());
            }
        } while (::FindNextFileW(search, &found));
        ::FindClose(search);
    }
    ::RemoveDirectoryW(folder.c_str());
}

}  // namespace

void RemoveTree(const std::filesystem::path& folder) {
    std::wstring path = std::filesystem::absolute(folder).wstring();
    if (!path.starts_with(L"\\\\?\\")) path = L"\\\\?\\" + path;
    removeLongTree(path);
}

#else

void RemoveTree(const std::filesystem::path& folder) {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

#endif

}  // namespace GearsetTesting
