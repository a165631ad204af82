// The Win32 binding of the framework's port to the system. Paths reach it as
// UTF-8 and go to the system as UTF-16 in the long form (windowsLongForm),
// formed here and nowhere else, so that no path meets the 260-character limit
// or has its names rewritten on one call and not on another.
#include "SystemPort.h"

#include "Internal.h"

#include <Tolm/Memory.h>
#include <Tolm/String.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <utility>

#include <windows.h>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

namespace Tolm::detail {

namespace {

// The framework's errors are numbered as errno is, on every system.
int errnoOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
        case ERROR_BAD_PATHNAME:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_WRITE_PROTECT:
        case ERROR_DELETE_PENDING:
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
        case ERROR_INVALID_HANDLE:
            return EBADF;
        case ERROR_BROKEN_PIPE:
        case ERROR_NO_DATA:
            return EPIPE;
        case ERROR_NOT_SAME_DEVICE:
            return EXDEV;
        case ERROR_NOT_SUPPORTED:
        case ERROR_INVALID_FUNCTION:
            return ENOTSUP;
        case ERROR_USER_MAPPED_FILE:  // a cut under a mapped view
        case ERROR_BUSY:
            return EBUSY;
        default:
            return EIO;
    }
}

// What the system said of the last failure on this thread (SystemPort::describe).
thread_local DWORD lastFailure = 0;

int failure(DWORD error) {
    lastFailure = error;
    return errnoOf(error);
}
int lastSystemFailure() { return failure(::GetLastError()); }

std::wstring wide(const std::u16string& units) { return std::wstring(units.begin(), units.end()); }
std::string utf8(std::wstring_view units) {
    return CUnicodeString(std::u16string_view(reinterpret_cast<const char16_t*>(units.data()), units.size()))
        .ToUtf8();
}

std::u16string currentFolder() {
    std::wstring folder(::GetCurrentDirectoryW(0, nullptr), L'\0');
    folder.resize(::GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data()));
    return std::u16string(folder.begin(), folder.end());
}

// The one form in which the system is handed a path.
std::wstring systemPath(const std::string& path) {
    return wide(windowsLongForm(CUnicodeString::FromUtf8(path).View(), currentFolder()));
}

// A file on a volume: the volume's serial number and the file's index.
using FileIdentity = std::pair<unsigned long long, unsigned long long>;

// The files whose names this process removed while they stood open. Windows
// keeps such a name until the last handle goes, and Wine never reports the
// pending delete; the binding knows what it did itself.
struct RemovedNames {
    std::mutex mutex;
    std::set<FileIdentity> files;
};
RemovedNames& removedNames() { return leakedSingleton<RemovedNames>(); }

bool identityOf(HANDLE handle, FileIdentity& identity) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(handle, &info)) return false;
    identity = {info.dwVolumeSerialNumber,
                (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
    return true;
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
        if (handle_ != INVALID_HANDLE_VALUE) close();
    }

    std::int64_t readAt(void* bytes, std::int64_t count, std::int64_t offset, int& error) override {
        OVERLAPPED where = at(offset);
        DWORD got = 0;
        const DWORD asked = static_cast<DWORD>(count < kMaxTransfer ? count : kMaxTransfer);
        if (::ReadFile(handle_, bytes, asked, &got, &where)) return got;
        if (::GetLastError() == ERROR_HANDLE_EOF) return 0;
        error = lastSystemFailure();
        return -1;
    }
    std::int64_t writeAt(const void* bytes, std::int64_t count, std::int64_t offset, int& error) override {
        OVERLAPPED where = at(offset);
        DWORD written = 0;
        const DWORD asked = static_cast<DWORD>(count < kMaxTransfer ? count : kMaxTransfer);
        if (!::WriteFile(handle_, bytes, asked, &written, &where)) {
            error = lastSystemFailure();
            return -1;
        }
        if (written == 0 && count > 0) {
            error = EIO;
            return -1;
        }
        return written;
    }
    int setLength(std::int64_t length) override {
        dropMapping();  // Windows changes no length under a mapping object
        LARGE_INTEGER end{};
        end.QuadPart = length;
        if (!::SetFilePointerEx(handle_, end, nullptr, FILE_BEGIN) || !::SetEndOfFile(handle_))
            return lastSystemFailure();
        return 0;
    }
    int status(SystemFileStatus& status) override {
        // What an open handle's file is never changes, so it is asked once:
        // the volume's serial number costs Wine a round trip to its mount
        // manager (0.4-0.65 ms a call, where the rest takes microseconds).
        if (!isKnown_) {
            BY_HANDLE_FILE_INFORMATION info{};
            if (!::GetFileInformationByHandle(handle_, &info)) {
                // A pipe or a console has no file information.
                status = SystemFileStatus{};
                return ::GetFileType(handle_) == FILE_TYPE_UNKNOWN ? lastSystemFailure() : 0;
            }
            isDirectory_ = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            isRegular_ = !isDirectory_ && ::GetFileType(handle_) == FILE_TYPE_DISK;
            identity_ = {info.dwVolumeSerialNumber,
                         (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
            isKnown_ = true;
        }
        FILE_STANDARD_INFO standard{};
        if (!::GetFileInformationByHandleEx(handle_, FileStandardInfo, &standard, sizeof standard))
            return lastSystemFailure();
        status.isDirectory = isDirectory_;
        status.isRegular = isRegular_;
        status.device = identity_.first;
        status.inode = identity_.second;
        status.length = standard.EndOfFile.QuadPart;
        // A file deleted while open keeps its name until the last handle goes;
        // the system says so, or this binding removed the name itself.
        RemovedNames& removed = removedNames();
        const std::lock_guard lock(removed.mutex);
        status.hasName = !standard.DeletePending && removed.files.count(identity_) == 0;
        return 0;
    }
    int close() override {
        dropMapping();
        const HANDLE handle = std::exchange(handle_, INVALID_HANDLE_VALUE);
        if (identity_ != FileIdentity{}) {
            // Its index may be given to another file once it is gone.
            RemovedNames& removed = removedNames();
            const std::lock_guard lock(removed.mutex);
            removed.files.erase(identity_);
        }
        return ::CloseHandle(handle) ? 0 : lastSystemFailure();
    }
    const unsigned char* mapView(std::int64_t offset, std::int64_t count) override {
        const HANDLE mapping = mappingReaching(offset + count);
        if (mapping == nullptr) return nullptr;
        const auto where = static_cast<std::uint64_t>(offset);
        const DWORD high = static_cast<DWORD>(where >> 32), low = static_cast<DWORD>(where);
        const auto bytes = static_cast<SIZE_T>(count);
        void* view = nullptr;
        if (void* place = freePlaceOnBlock(bytes))
            view = ::MapViewOfFileEx(mapping, FILE_MAP_READ, high, low, bytes, place);
        if (view == nullptr) view = ::MapViewOfFile(mapping, FILE_MAP_READ, high, low, bytes);
        return static_cast<const unsigned char*>(view);
    }
    void unmapView(const unsigned char* view, std::int64_t) override { ::UnmapViewOfFile(view); }
    std::int64_t viewAlignment() const override {
        static const std::int64_t alignment = [] {
            SYSTEM_INFO info{};
            ::GetSystemInfo(&info);
            return info.dwAllocationGranularity > 0 ? std::int64_t{info.dwAllocationGranularity} : 65536;
        }();
        return alignment;
    }

private:
    // A view starts on a 2 MiB boundary of the address space where one is
    // free (the offsets views map are multiples of 2 MiB): a system that
    // keeps the file's cached pages in 2 MiB blocks, as Linux does under Wine
    // for a file written out in whole blocks, then maps a block with one
    // entry instead of 512, and the first read of a block faults once. The
    // place is found by reserving a little more and letting it go; another
    // thread may take it meanwhile, and the view then goes anywhere.
    static constexpr std::uintptr_t kBlockBytes = 2 << 20;
    static void* freePlaceOnBlock(SIZE_T bytes) {
        void* room = ::VirtualAlloc(nullptr, bytes + kBlockBytes, MEM_RESERVE, PAGE_NOACCESS);
        if (room == nullptr) return nullptr;
        ::VirtualFree(room, 0, MEM_RELEASE);
        const auto start = reinterpret_cast<std::uintptr_t>(room);
        return reinterpret_cast<void*>((start + kBlockBytes - 1) & ~(kBlockBytes - 1));
    }

    // One mapping object serves the file's views while they end within the
    // length it was made at; a view beyond takes a new one (views made
    // through the old one keep it alive). Making one is a call on the
    // system's object manager (under Wine, a round trip to its server that
    // took up to 2 ms), so it is not made for every view. It goes before the
    // file's length changes, which Windows refuses under a mapping object.
    HANDLE mappingReaching(std::int64_t end) {
        if (mapping_ != nullptr && end <= mappingEnd_) return mapping_;
        dropMapping();
        LARGE_INTEGER length{};
        if (!::GetFileSizeEx(handle_, &length) || length.QuadPart < end) return nullptr;
        mapping_ = ::CreateFileMappingW(handle_, nullptr, PAGE_READONLY, 0, 0, nullptr);
        mappingEnd_ = mapping_ != nullptr ? length.QuadPart : 0;
        return mapping_;
    }
    void dropMapping() {
        if (mapping_ != nullptr) ::CloseHandle(std::exchange(mapping_, nullptr));
        mappingEnd_ = 0;
    }

    HANDLE handle_;
    bool isKnown_ = false;  // the fields below are asked once
    bool isDirectory_ = false;
    bool isRegular_ = false;
    FileIdentity identity_{};
    HANDLE mapping_ = nullptr;
    std::int64_t mappingEnd_ = 0;
};

std::wstring environmentVariable(const wchar_t* name) {
    const DWORD units = ::GetEnvironmentVariableW(name, nullptr, 0);
    if (units == 0) return {};
    std::wstring value(units, L'\0');
    value.resize(::GetEnvironmentVariableW(name, value.data(), units));
    return value;
}

// Ticks between 1 January 1601 and 1 January 1970.
constexpr std::int64_t kTicksFrom1601To1970 = std::int64_t{11'644'473'600} * 10'000'000;

std::int64_t ticksOf(const FILETIME& time) {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) |
                                     time.dwLowDateTime);
}

class WindowsPort final : public SystemPort {
public:
    const PathGrammar& paths() const override { return windowsPaths(); }

    std::unique_ptr<SystemFile> open(const std::string& path, const SystemOpenRequest& request,
                                     int& error) override {
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
        const std::wstring name = systemPath(path);
        const HANDLE handle =
            ::CreateFileW(name.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            error = lastSystemFailure();
            // Opening a folder is refused with access denied; say what it is.
            const DWORD attributes = ::GetFileAttributesW(name.c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
                error = EISDIR;
            return nullptr;
        }
        return std::make_unique<WindowsFile>(handle);
    }
    int remove(const std::string& path) override {
        const std::wstring name = systemPath(path);
        // Known before the name goes, so that the file's holders can tell it
        // lost its name (status) where the system does not say.
        FileIdentity identity{};
        const HANDLE probe = ::CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                           OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        const bool isKnown = probe != INVALID_HANDLE_VALUE && identityOf(probe, identity);
        if (probe != INVALID_HANDLE_VALUE) ::CloseHandle(probe);
        if (!::DeleteFileW(name.c_str())) return lastSystemFailure();
        if (isKnown) {
            RemovedNames& removed = removedNames();
            const std::lock_guard lock(removed.mutex);
            removed.files.insert(identity);
        }
        return 0;
    }
    int rename(const std::string& from, const std::string& to) override {
        return ::MoveFileExW(systemPath(from).c_str(), systemPath(to).c_str(), MOVEFILE_REPLACE_EXISTING)
                   ? 0
                   : lastSystemFailure();
    }
    int makeDirectory(const std::string& path) override {
        const std::wstring name = systemPath(path);
        if (::CreateDirectoryW(name.c_str(), nullptr)) return 0;
        const DWORD error = ::GetLastError();
        // A file where a parent folder should be is "not a folder", as on POSIX.
        if (error == ERROR_PATH_NOT_FOUND) {
            const std::size_t end = name.find_last_of(L'\\');
            if (end != std::wstring::npos && end > 0) {
                const DWORD attributes = ::GetFileAttributesW(name.substr(0, end).c_str());
                if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
                    lastFailure = error;
                    return ENOTDIR;
                }
            }
        }
        return failure(error);
    }
    bool isDirectory(const std::string& path) override {
        const DWORD attributes = ::GetFileAttributesW(systemPath(path).c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }
    std::string temporaryFolder() override {
        std::wstring folder(MAX_PATH + 1, L'\0');
        const DWORD units = ::GetTempPathW(MAX_PATH + 1, folder.data());
        if (units > 0 && units <= MAX_PATH) {
            folder.resize(units);
        } else {
            // GetTempPathW gives up on a folder longer than MAX_PATH; the
            // variables it reads still name it, and the long form reaches it.
            folder = environmentVariable(L"TMP");
            if (folder.empty()) folder = environmentVariable(L"TEMP");
            if (folder.empty()) folder = L".";
        }
        while (folder.size() > 3 && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
        return utf8(folder);
    }

    std::int64_t nowUtcTicks() override {
        FILETIME now{};
        ::GetSystemTimePreciseAsFileTime(&now);
        return ticksOf(now);
    }
    // By the zone's rules for the instant's year.
    std::int64_t zoneOffsetAtUtc(std::int64_t unixSeconds) override {
        const std::int64_t ticks = unixSeconds * 10'000'000 + kTicksFrom1601To1970;
        if (ticks < 0) return 0;
        const FILETIME utcTime{static_cast<DWORD>(static_cast<std::uint64_t>(ticks)),
                               static_cast<DWORD>(static_cast<std::uint64_t>(ticks) >> 32)};
        SYSTEMTIME utc{}, local{};
        FILETIME localTime{};
        if (!::FileTimeToSystemTime(&utcTime, &utc) ||
            !::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local) ||
            !::SystemTimeToFileTime(&local, &localTime))
            return 0;
        return (ticksOf(localTime) - ticks) / 10'000'000;
    }

    SystemErrorDescription describe(int error) override {
        // Taken once: a later failure of another kind must not borrow it.
        const DWORD said = std::exchange(lastFailure, 0);
        if (said != 0 && errnoOf(said) == error) {
            if (std::string text = messageOf(said); !text.empty())
                return {std::move(text), static_cast<long>(said)};
        }
        char text[256] = {};
        if (::strerror_s(text, sizeof text, error) != 0) return {"error " + std::to_string(error)};
        return {text};
    }
    void pause(int milliseconds) override { ::Sleep(static_cast<DWORD>(milliseconds)); }
    HINSTANCE mainProgramHandle() noexcept override { return ::GetModuleHandleW(nullptr); }

private:
    // The system's text for its error, without the full stop and line end.
    static std::string messageOf(DWORD error) {
        wchar_t* text = nullptr;
        const DWORD units = ::FormatMessageW(
            FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
            nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
        std::wstring message(text ? text : L"", text ? units : 0);
        if (text) ::LocalFree(text);
        while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                                    message.back() == L'.' || message.back() == L' '))
            message.pop_back();
        return utf8(message);
    }
};

}  // namespace

SystemPort& platformPort() {
    static auto* port = new WindowsPort;  // outlives static teardown
    return *port;
}

// Reference counts of IObject, through the system's interlocked calls.
void incrementReferenceCount(ReferenceCount& count) noexcept { ::InterlockedIncrement(&count); }
long decrementReferenceCount(ReferenceCount& count) noexcept { return ::InterlockedDecrement(&count); }
int readReferenceCount(const ReferenceCount& count) noexcept { return static_cast<int>(count); }

}  // namespace Tolm::detail

// MinGW programs take memcpy from the system's msvcrt.dll, which moves a block
// of a page or more at about two thirds of the speed of the processor's own
// string move on processors that make that fast (ERMS: CPUID leaf 7, EBX bit
// 9). Windows compilers' own runtime copies such blocks with it there, and so
// does this; elsewhere, and for short blocks, memcpy.
#if defined(__i386__) || defined(__x86_64__)
namespace {

bool hasFastStringMoves() {
    unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
    return __get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) && (ebx & (1u << 9)) != 0;
}

const bool kFastStringMoves = hasFastStringMoves();
constexpr std::size_t kStringMoveBytes = 512;

}  // namespace

void Tolm::CopyBytes(void* target, const void* source, std::size_t count) noexcept {
    if (count >= kStringMoveBytes && kFastStringMoves) {
        asm volatile("rep movsb" : "+D"(target), "+S"(source), "+c"(count) : : "memory");
        return;
    }
    std::memcpy(target, source, count);
}

bool Tolm::CopyBytesSplitsCheaply() noexcept { return !kFastStringMoves; }
#else
void Tolm::CopyBytes(void* target, const void* source, std::size_t count) noexcept {
    std::memcpy(target, source, count);
}

bool Tolm::CopyBytesSplitsCheaply() noexcept { return true; }
#endif
