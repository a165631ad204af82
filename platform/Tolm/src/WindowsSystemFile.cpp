// The Win32 binding of the framework's files to the system. Native paths are
// UTF-8 here and go to the system as UTF-16, the long-path form "\\?\"
// included: it is the system's own.
#include "SystemFile.h"

#include <algorithm>
#include <cerrno>
#include <string>
#include <string_view>

#include <windows.h>

namespace Tolm::detail {

namespace {

// The framework's errors are numbered as errno is, on every system.
int errnoOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_PATHNAME:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_WRITE_PROTECT:
            return EACCES;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_FILENAME_EXCED_RANGE:
            return ENAMETOOLONG;
        case ERROR_DIRECTORY:
            return ENOTDIR;
        case ERROR_DIR_NOT_EMPTY:
            return ENOTEMPTY;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return ENOMEM;
        case ERROR_INVALID_NAME:
        case ERROR_INVALID_PARAMETER:
        case ERROR_NEGATIVE_SEEK:
            return EINVAL;
        case ERROR_TOO_MANY_OPEN_FILES:
            return EMFILE;
        case ERROR_USER_MAPPED_FILE:  // a cut under a mapped view
            return EBUSY;
        default:
            return EIO;
    }
}

// Each call reads or writes at most this much: ReadFile takes a 32-bit count.
constexpr std::int64_t kMaxTransfer = 1 << 30;

OVERLAPPED at(std::int64_t offset) {
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(offset));
    where.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
    return where;
}

class WindowsFile final : public SystemFile {
public:
    explicit WindowsFile(HANDLE handle) : handle_(handle) {}
    ~WindowsFile() override {
        if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
    }

    std::int64_t readAt(void* bytes, std::int64_t count, std::int64_t offset, int& error) override {
        OVERLAPPED where = at(offset);
        DWORD got = 0;
        const DWORD asked = static_cast<DWORD>(count < kMaxTransfer ? count : kMaxTransfer);
        if (::ReadFile(handle_, bytes, asked, &got, &where)) return got;
        const DWORD failure = ::GetLastError();
        if (failure == ERROR_HANDLE_EOF) return 0;
        error = errnoOf(failure);
        return -1;
    }
    std::int64_t writeAt(const void* bytes, std::int64_t count, std::int64_t offset, int& error) override {
        OVERLAPPED where = at(offset);
        DWORD written = 0;
        const DWORD asked = static_cast<DWORD>(count < kMaxTransfer ? count : kMaxTransfer);
        if (!::WriteFile(handle_, bytes, asked, &written, &where)) {
            error = errnoOf(::GetLastError());
            return -1;
        }
        if (written == 0 && count > 0) {
            error = EIO;
            return -1;
        }
        return written;
    }
    int setLength(std::int64_t length) override {
        LARGE_INTEGER end{};
        end.QuadPart = length;
        if (!::SetFilePointerEx(handle_, end, nullptr, FILE_BEGIN) || !::SetEndOfFile(handle_))
            return errnoOf(::GetLastError());
        return 0;
    }
    int status(SystemFileStatus& status) override {
        BY_HANDLE_FILE_INFORMATION info{};
        if (!::GetFileInformationByHandle(handle_, &info)) {
            // A pipe or a console has no file information.
            status = SystemFileStatus{};
            return ::GetFileType(handle_) == FILE_TYPE_UNKNOWN ? errnoOf(::GetLastError()) : 0;
        }
        status.isDirectory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        status.isRegular = !status.isDirectory && ::GetFileType(handle_) == FILE_TYPE_DISK;
        // A file deleted while open keeps its name until the last handle goes.
        FILE_STANDARD_INFO standard{};
        status.hasName =
            !(::GetFileInformationByHandleEx(handle_, FileStandardInfo, &standard, sizeof standard) &&
              standard.DeletePending);
        status.device = info.dwVolumeSerialNumber;
        status.inode = (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
        status.length = static_cast<std::int64_t>((static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) |
                                                  info.nFileSizeLow);
        return 0;
    }
    int close() override {
        const HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return ::CloseHandle(handle) ? 0 : errnoOf(::GetLastError());
    }
    const unsigned char* mapView(std::int64_t offset, std::int64_t count) override {
        // One mapping object per view: it may close at once, the view keeps it.
        const HANDLE mapping = ::CreateFileMappingW(handle_, nullptr, PAGE_READONLY, 0, 0, nullptr);
        if (mapping == nullptr) return nullptr;
        const auto where = static_cast<std::uint64_t>(offset);
        void* view = ::MapViewOfFile(mapping, FILE_MAP_READ, static_cast<DWORD>(where >> 32),
                                     static_cast<DWORD>(where), static_cast<SIZE_T>(count));
        ::CloseHandle(mapping);
        return static_cast<const unsigned char*>(view);
    }
    void unmapView(const unsigned char* view, std::int64_t) override { ::UnmapViewOfFile(view); }
    std::int64_t viewAlignment() const override {
        SYSTEM_INFO info{};
        ::GetSystemInfo(&info);
        return info.dwAllocationGranularity > 0 ? info.dwAllocationGranularity : 65536;
    }

private:
    HANDLE handle_;
};

std::wstring utf16(const std::string& text) {
    std::wstring wide;
    if (text.empty()) return wide;
    const int units =
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    wide.resize(static_cast<std::size_t>(units));
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), units);
    return wide;
}

constexpr std::wstring_view kLongPrefix = L"\\\\?\\";

// The system takes a path in the long-path form "\\?\" as it stands and
// applies none of its usual rules to it: no '/' for '\', no relative path.
// The framework's callers put the prefix before any path they were given
// (CFolderWorker makes each last folder so, "C:/runs" or "runs" alike), so
// such a path is completed here into the form the system expects: '/' made
// '\' (no Windows name holds a '/'), and a path that is not full (relative,
// "C:x", "\x") made full against the current folder. Device paths
// ("\\?\Volume{...}", "\\?\GLOBALROOT") and every path without the prefix
// pass unchanged.
std::wstring widePath(const std::string& native) {
    const std::wstring wide = utf16(native);
    if (!wide.starts_with(kLongPrefix) || wide.size() == kLongPrefix.size()) return wide;
    std::wstring rest = wide.substr(kLongPrefix.size());
    if (rest.starts_with(L"Volume{") || rest.starts_with(L"GLOBALROOT")) return wide;
    std::replace(rest.begin(), rest.end(), L'/', L'\\');
    const bool full = (rest.size() >= 3 && rest[1] == L':' && rest[2] == L'\\') || rest.starts_with(L"UNC\\");
    if (full) return std::wstring(kLongPrefix) + rest;
    std::wstring absolute(::GetFullPathNameW(rest.c_str(), 0, nullptr, nullptr), L'\0');
    if (absolute.empty()) return wide;
    absolute.resize(
        ::GetFullPathNameW(rest.c_str(), static_cast<DWORD>(absolute.size()), absolute.data(), nullptr));
    if (absolute.starts_with(L"\\\\")) return std::wstring(kLongPrefix) + L"UNC" + absolute.substr(1);
    return std::wstring(kLongPrefix) + absolute;
}

}  // namespace

std::unique_ptr<SystemFile> openPlatformFile(const std::string& native, const SystemOpenRequest& request,
                                             int& error) {
    DWORD access = 0;
    if (request.read) access |= GENERIC_READ;
    if (request.write) access |= GENERIC_WRITE;
    DWORD disposition = OPEN_EXISTING;
    if (request.create) {
        disposition = request.exclusive ? CREATE_NEW : request.truncate ? CREATE_ALWAYS : OPEN_ALWAYS;
    } else if (request.truncate) {
        disposition = TRUNCATE_EXISTING;
    }
    // Others may read, write and delete meanwhile, as on POSIX; folders open
    // only with backup semantics, so that opening one is refused as POSIX
    // refuses to write one.
    const HANDLE handle = ::CreateFileW(widePath(native).c_str(), access,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD failure = ::GetLastError();
        error = errnoOf(failure);
        // Opening a folder is refused with access denied; say what it is.
        const DWORD attributes = ::GetFileAttributesW(widePath(native).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) error = EISDIR;
        return nullptr;
    }
    return std::make_unique<WindowsFile>(handle);
}

int removePlatformFile(const std::string& native) {
    return ::DeleteFileW(widePath(native).c_str()) ? 0 : errnoOf(::GetLastError());
}

int renamePlatformFile(const std::string& from, const std::string& to) {
    return ::MoveFileExW(widePath(from).c_str(), widePath(to).c_str(), MOVEFILE_REPLACE_EXISTING)
               ? 0
               : errnoOf(::GetLastError());
}

int makePlatformDirectory(const std::string& native) {
    const std::wstring wide = widePath(native);
    if (::CreateDirectoryW(wide.c_str(), nullptr)) return 0;
    const DWORD failure = ::GetLastError();
    // A file where a parent folder should be is "not a folder", as on POSIX.
    if (failure == ERROR_PATH_NOT_FOUND) {
        const std::size_t end = wide.find_last_of(L"\\/");
        if (end != std::wstring::npos && end > 0) {
            const DWORD attributes = ::GetFileAttributesW(wide.substr(0, end).c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
                return ENOTDIR;
        }
    }
    return errnoOf(failure);
}

bool isPlatformDirectory(const std::string& native) {
    const DWORD attributes = ::GetFileAttributesW(widePath(native).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

namespace {

std::wstring environmentVariable(const wchar_t* name) {
    const DWORD units = ::GetEnvironmentVariableW(name, nullptr, 0);
    if (units == 0) return {};
    std::wstring value(units, L'\0');
    value.resize(::GetEnvironmentVariableW(name, value.data(), units));
    return value;
}

}  // namespace

std::string platformTemporaryFolder() {
    std::wstring wide(MAX_PATH + 1, L'\0');
    const DWORD units = ::GetTempPathW(MAX_PATH + 1, wide.data());
    if (units > 0 && units <= MAX_PATH) {
        wide.resize(units);
    } else {
        // GetTempPathW gives up on a folder longer than MAX_PATH; the
        // variables it reads still name it, and the long-path form reaches it.
        wide = environmentVariable(L"TMP");
        if (wide.empty()) wide = environmentVariable(L"TEMP");
        if (wide.empty()) wide = L".";
    }
    while (wide.size() > 3 && (wide.back() == L'\\' || wide.back() == L'/')) wide.pop_back();
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr,
                                            0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), bytes, nullptr,
                          nullptr);
    return text;
}

}  // namespace Tolm::detail
