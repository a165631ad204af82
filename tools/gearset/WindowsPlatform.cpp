// The gearset tool's ties to Win32: paths are UTF-8 inside the tool and go to
// the system as UTF-16 in their long form, "\\?\C:\...", so that no length
// limit and none of the old name rules apply; failures keep the system's
// error number and its own text.
#include "Platform.h"

#include "Arguments.h"
#include "StreamFile.h"
#include "Utf16.h"

#include <Tolm/Error.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include <io.h>
#include <windows.h>

namespace gearset {
namespace {

constexpr std::wstring_view kLongPrefix = L"\\\\?\\";
constexpr std::wstring_view kDevicePrefix = L"\\\\.\\";

std::string systemText(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD units = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring wide(text ? text : L"", units);
    if (text) ::LocalFree(text);
    while (!wide.empty() && (wide.back() == L'\n' || wide.back() == L'\r' || wide.back() == L'.'))
        wide.pop_back();
    // The number as well: the text alone is in the user's language, and
    // searches and scripts go by the number.
    const std::string number = "error " + std::to_string(error);
    return wide.empty() ? number : Narrow(wide) + " (" + number + ")";
}

std::string systemFailure(const std::string& what, const std::string& path, DWORD error) {
    return what + " '" + path + "': " + systemText(error);
}

// The full path the system would make of path, as GetFullPathNameW makes it:
// against the current folder, "." and ".." resolved, '/' made '\'.
std::wstring fullPath(const std::wstring& path) {
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD units =
            ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (units == 0) return path;  // the system will say what is wrong with it
        if (units < full.size()) {
            full.resize(units);
            return full;
        }
        full.resize(units);
    }
}

std::wstring longForm(const std::wstring& path) {
    // A path in the long form, or the device namespace, is the system's as it stands.
    if (path.starts_with(kLongPrefix) || path.starts_with(kDevicePrefix)) return path;
    const std::wstring full = fullPath(path);
    // A device name ("NUL", "CON", "COM1") comes back as \\.\NUL.
    if (full.starts_with(kDevicePrefix) || full.starts_with(kLongPrefix)) return full;
    if (full.starts_with(L"\\\\")) return std::wstring(kLongPrefix) + L"UNC" + full.substr(1);
    return std::wstring(kLongPrefix) + full;
}

// The system forms handed out and the paths they came from, for messages.
std::vector<std::pair<std::string, std::string>>& userForms() {
    static std::vector<std::pair<std::string, std::string>> forms;
    return forms;
}

std::wstring systemWide(const std::string& path) { return Widen(SystemPath(path)); }

HANDLE osHandle(std::FILE* stream) { return reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream))); }

// A handle opened to learn what a path names, not to read it: folders open
// only with backup semantics.
HANDLE openForFacts(const std::wstring& path) {
    return ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

class Handle {
public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle() {
        if (valid()) ::CloseHandle(handle_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

// A handle read or written with the calls themselves: the framework files
// over it (StreamFile.h) keep the position.
class HandleStream final : public ByteStream {
public:
    // Closes handle at the end when it owns it.
    HandleStream(HANDLE handle, bool ownsHandle) : handle_(handle), ownsHandle_(ownsHandle) {}
    ~HandleStream() override {
        if (ownsHandle_) ::CloseHandle(handle_);
    }

    std::size_t ReadSome(char* buffer, std::size_t size) override {
        DWORD got = 0;
        if (!::ReadFile(handle_, buffer, callSize(size), &got, nullptr)) {
            const DWORD error = ::GetLastError();
            // How a pipe whose writer has gone, and some devices, say that they end.
            if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF) return 0;
            throw StreamRefusal(systemText(error));
        }
        return got;
    }
    std::size_t WriteSome(const char* bytes, std::size_t size) override {
        DWORD put = 0;
        if (!::WriteFile(handle_, bytes, callSize(size), &put, nullptr))
            throw StreamRefusal(systemText(::GetLastError()));
        return put;
    }

private:
    static DWORD callSize(std::size_t size) {
        return static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    }

    HANDLE handle_;
    bool ownsHandle_;
};

std::unique_ptr<ByteStream> openedStream(HANDLE handle) {
    if (handle == INVALID_HANDLE_VALUE) throw StreamRefusal(systemText(::GetLastError()));
    return std::make_unique<HandleStream>(handle, true);
}

// The folder for temporary files (TMP, TEMP, ...), in the long form and
// ending in a separator.
std::wstring temporaryFolder() {
    std::wstring folder(MAX_PATH + 1, L'\0');
    for (;;) {
        const DWORD units = ::GetTempPathW(static_cast<DWORD>(folder.size()), folder.data());
        if (units == 0)
            throw ToolFailure(
                systemFailure("cannot find", "the folder for temporary files", ::GetLastError()));
        if (units < folder.size()) {
            folder.resize(units);
            break;
        }
        folder.resize(units + 1);
    }
    folder = longForm(folder);
    if (!folder.ends_with(L'\\')) folder += L'\\';
    return folder;
}

// A file in the folder for temporary files holding all of standard input. It
// is deleted when its handle closes, which the system does however the
// process ends; until then no one else may open it.
HANDLE spoolStandardInput() {
    const std::wstring folder = temporaryFolder();
    static unsigned counter = 0;
    HANDLE spool = INVALID_HANDLE_VALUE;
    DWORD error = ERROR_FILE_EXISTS;
    for (int attempt = 0; attempt < 100 && error == ERROR_FILE_EXISTS; ++attempt) {
        const unsigned long long seed =
            ::GetTickCount64() * 0x9E3779B97F4A7C15ull ^ ::GetCurrentProcessId() * 2654435761u ^ ++counter;
        wchar_t name[32];
        ::swprintf(name, 32, L"gearset-input-%08llx.tmp", seed & 0xFFFFFFFFull);
        spool = ::CreateFileW((folder + name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (spool != INVALID_HANDLE_VALUE) break;
        error = ::GetLastError();
    }
    const std::string where = Narrow(folder.substr(kLongPrefix.size()));
    if (spool == INVALID_HANDLE_VALUE)
        throw ToolFailure(systemFailure("cannot create a temporary file in", where, error));
    try {
        HandleStream spoolStream(spool, false);
        SpoolInput(*StandardInputStream(), spoolStream, where);
    } catch (...) {
        ::CloseHandle(spool);
        throw;
    }
    return spool;
}

}  // namespace

const PathRules kSystemPathRules = PathRules::windows;

std::unique_ptr<ByteStream> StandardInputStream() {
    return std::make_unique<HandleStream>(::GetStdHandle(STD_INPUT_HANDLE), false);
}

std::unique_ptr<ByteStream> StandardOutputStream() {
    return std::make_unique<HandleStream>(::GetStdHandle(STD_OUTPUT_HANDLE), false);
}

std::unique_ptr<ByteStream> OpenInputStream(const std::string& path) {
    if (path != "-") {
        return openedStream(::CreateFileW(systemWide(path).c_str(), GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                          FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    }
    HANDLE input = INVALID_HANDLE_VALUE;
    if (!::DuplicateHandle(::GetCurrentProcess(), ::GetStdHandle(STD_INPUT_HANDLE), ::GetCurrentProcess(),
                           &input, 0, FALSE, DUPLICATE_SAME_ACCESS))
        input = INVALID_HANDLE_VALUE;
    return openedStream(input);
}

std::unique_ptr<ByteStream> OpenOutputStream(const std::string& path) {
    return openedStream(::CreateFileW(systemWide(path).c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                      nullptr));
}

StreamKind KindOfStream(std::FILE* stream) {
    DWORD mode = 0;
    return ::GetConsoleMode(osHandle(stream), &mode) ? StreamKind::console : StreamKind::byteStream;
}

bool WriteConsoleUnits(std::FILE* stream, std::u16string_view units) {
    std::fflush(stream);
    const HANDLE console = osHandle(stream);
    // A console takes a bounded amount per call.
    constexpr std::size_t kChunkUnits = 8192;
    for (std::size_t done = 0; done < units.size();) {
        const auto count = static_cast<DWORD>(std::min(units.size() - done, kChunkUnits));
        DWORD written = 0;
        if (!::WriteConsoleW(console, units.data() + done, count, &written, nullptr) || written == 0)
            return false;
        done += written;
    }
    return true;
}

std::string OrdinaryPath(const std::string& systemPath) {
    if (systemPath.starts_with("\\\\?\\UNC\\")) return systemPath.substr(7).insert(0, 1, '\\');
    if (systemPath.starts_with("\\\\?\\")) return systemPath.substr(4);
    return systemPath;
}

std::string SystemPath(const std::string& path) {
    if (path == "-") return path;
    const std::string system = Narrow(longForm(Widen(path)));
    auto& forms = userForms();
    for (const std::string& form : {system, OrdinaryPath(system)}) {
        if (form != path && std::find(forms.begin(), forms.end(), std::pair(form, path)) == forms.end())
            forms.emplace_back(form, path);
    }
    return system;
}

std::string InUserTerms(std::string message) {
    std::vector<std::pair<std::string, std::string>> forms = userForms();
    // The longest first: a folder's form is the start of its files'.
    std::sort(forms.begin(), forms.end(),
              [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
    for (const auto& [system, user] : forms) {
        for (std::size_t at = 0; (at = message.find(system, at)) != std::string::npos; at += user.size())
            message.replace(at, system.size(), user);
    }
    return message;
}

FileFacts Examine(const std::string& path) {
    FileFacts facts;
    const std::wstring wide = systemWide(path);
    // Whatever lies in the device namespace is no file on a disk.
    if (wide.starts_with(kDevicePrefix)) {
        facts.kind = FileFacts::Kind::device;
        return facts;
    }
    const Handle file(openForFacts(wide));
    if (!file.valid()) {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (!::GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data)) return facts;
        // There, but not to be opened: a link that leads nowhere, or a file
        // another holds without sharing it.
        if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
            facts.kind = FileFacts::Kind::danglingLink;
        else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            facts.kind = FileFacts::Kind::directory;
        else
            facts.kind = FileFacts::Kind::other;
        return facts;
    }
    const DWORD type = ::GetFileType(file.get());
    if (type == FILE_TYPE_CHAR || type == FILE_TYPE_PIPE) {
        facts.kind = FileFacts::Kind::device;
        return facts;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (type != FILE_TYPE_DISK || !::GetFileInformationByHandle(file.get(), &info)) {
        facts.kind = FileFacts::Kind::other;
        return facts;
    }
    facts.kind = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? FileFacts::Kind::directory
                                                                    : FileFacts::Kind::regular;
    facts.length =
        static_cast<std::int64_t>((static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
    facts.mode = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
    return facts;
}

bool IsSameFile(const std::string& a, const std::string& b) {
    const std::wstring first = systemWide(a), second = systemWide(b);
    if (first.starts_with(kDevicePrefix) || second.starts_with(kDevicePrefix)) return false;
    const Handle one(openForFacts(first)), other(openForFacts(second));
    BY_HANDLE_FILE_INFORMATION oneInfo{}, otherInfo{};
    return one.valid() && other.valid() && ::GetFileInformationByHandle(one.get(), &oneInfo) &&
           ::GetFileInformationByHandle(other.get(), &otherInfo) &&
           oneInfo.dwVolumeSerialNumber == otherInfo.dwVolumeSerialNumber &&
           oneInfo.nFileIndexHigh == otherInfo.nFileIndexHigh &&
           oneInfo.nFileIndexLow == otherInfo.nFileIndexLow;
}

bool MayWrite(const std::string& path) {
    const std::wstring wide = systemWide(path);
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    return attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY) == 0;
}

bool IsStandardOutput(const std::string& path) {
    const std::wstring wide = systemWide(path);
    if (wide.starts_with(kDevicePrefix)) return false;
    const HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (output == nullptr || output == INVALID_HANDLE_VALUE || ::GetFileType(output) != FILE_TYPE_DISK)
        return false;
    const Handle file(openForFacts(wide));
    BY_HANDLE_FILE_INFORMATION outputInfo{}, fileInfo{};
    return file.valid() && ::GetFileInformationByHandle(output, &outputInfo) &&
           ::GetFileInformationByHandle(file.get(), &fileInfo) &&
           outputInfo.dwVolumeSerialNumber == fileInfo.dwVolumeSerialNumber &&
           outputInfo.nFileIndexHigh == fileInfo.nFileIndexHigh &&
           outputInfo.nFileIndexLow == fileInfo.nFileIndexLow;
}

std::string ResolvedPath(const std::string& path) {
    const std::wstring wide = systemWide(path);
    const Handle file(openForFacts(wide));
    if (!file.valid()) throw ToolFailure(systemFailure("cannot resolve", path, ::GetLastError()));
    std::wstring final(MAX_PATH, L'\0');
    for (;;) {
        const DWORD units =
            ::GetFinalPathNameByHandleW(file.get(), final.data(), static_cast<DWORD>(final.size()),
                                        FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (units == 0) return Narrow(wide);  // no links to follow that the system can name
        if (units < final.size()) {
            final.resize(units);
            return Narrow(longForm(final));
        }
        final.resize(units);
    }
}

std::string FolderOf(const std::string& path) {
    const std::size_t last = path.find_last_of("\\/");
    if (last == std::string::npos) return ".";
    // The root keeps its separator: "C:" alone would be the drive's current folder.
    if (last == 0 || path[last - 1] == ':') return path.substr(0, last + 1);
    return path.substr(0, last);
}

void SetFileMode(const std::string& path, unsigned mode) {
    const std::wstring wide = systemWide(path);
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        throw ToolFailure(systemFailure("cannot set the mode of", path, ::GetLastError()));
    const DWORD wanted =
        (mode & 0222) ? attributes & ~DWORD{FILE_ATTRIBUTE_READONLY} : attributes | FILE_ATTRIBUTE_READONLY;
    if (wanted != attributes && !::SetFileAttributesW(wide.c_str(), wanted))
        throw ToolFailure(systemFailure("cannot set the mode of", path, ::GetLastError()));
}

// Files have no owner and group to give here: a new file takes its folder's
// access rules.
void GiveOwnership(const std::string&, const std::string&) {}

unsigned NewFileMode(unsigned requested) { return requested; }

// The console ends a process on Ctrl-C without running its clean-up, and
// there are no hang-up or pipe signals to catch.
void PrepareForSignals() {}
RemovedOnSignal::RemovedOnSignal(const std::string&) {}
RemovedOnSignal::~RemovedOnSignal() = default;
SignalsHeld::SignalsHeld() = default;
SignalsHeld::~SignalsHeld() = default;
void EnsureRoomFor(const std::string&, std::int64_t) {}

bool IsTerminal(std::FILE* stream) { return ::_isatty(::_fileno(stream)) != 0; }

struct FileWindows::Impl {
    HANDLE file = INVALID_HANDLE_VALUE;
};

FileWindows::FileWindows(const std::string& path)
    : impl_(std::make_unique<Impl>()), path_(path == "-" ? kStandardInputName : path) {
    if (path == "-") {
        const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
        const bool onDisk = ::GetFileType(input) == FILE_TYPE_DISK;
        if (!onDisk || !::DuplicateHandle(::GetCurrentProcess(), input, ::GetCurrentProcess(), &impl_->file,
                                          0, FALSE, DUPLICATE_SAME_ACCESS)) {
            impl_->file = spoolStandardInput();
        } else {
            // A duplicate shares the position: a reader before us may have taken some.
            LARGE_INTEGER standing{};
            if (::SetFilePointerEx(impl_->file, LARGE_INTEGER{}, &standing, FILE_CURRENT))
                start_ = std::max<std::int64_t>(0, standing.QuadPart);
        }
    } else {
        impl_->file = ::CreateFileW(systemWide(path).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (impl_->file == INVALID_HANDLE_VALUE) {
            const DWORD error = ::GetLastError();
            if (Examine(path).kind == FileFacts::Kind::directory)
                throw ToolFailure("'" + path_ + "' is not a regular file");
            throw ToolFailure(systemFailure("cannot open", path_, error));
        }
    }
    LARGE_INTEGER length{};
    if (::GetFileType(impl_->file) != FILE_TYPE_DISK) {
        ::CloseHandle(impl_->file);
        throw ToolFailure("'" + path_ + "' is not a regular file");
    }
    if (!::GetFileSizeEx(impl_->file, &length)) {
        const DWORD error = ::GetLastError();
        ::CloseHandle(impl_->file);
        throw ToolFailure(systemFailure("cannot read the status of", path_, error));
    }
    start_ = std::min<std::int64_t>(start_, length.QuadPart);
    size_ = length.QuadPart - start_;
}

FileWindows::~FileWindows() { ::CloseHandle(impl_->file); }

std::size_t FileWindows::readAt(std::int64_t offset, char* buffer, std::size_t size) {
    const auto at = static_cast<std::uint64_t>(offset);
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(at);
    where.OffsetHigh = static_cast<DWORD>(at >> 32);
    DWORD got = 0;
    if (!::ReadFile(impl_->file, buffer, static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30)), &got,
                    &where) &&
        ::GetLastError() != ERROR_HANDLE_EOF)
        throw StreamRefusal(systemText(::GetLastError()));
    return got;
}

}  // namespace gearset
