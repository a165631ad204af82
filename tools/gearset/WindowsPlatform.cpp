// The gearset tool's ties to Win32: paths are UTF-8 inside the tool and
// UTF-16 to the system; standard input that is no file is read into memory,
// since a pipe can be read only once and the windows read any part of it.
#include "Platform.h"

#include <Tolm/Error.h>

#include <string>
#include <utility>
#include <vector>

#include <io.h>
#include <windows.h>

namespace gearset {
namespace {

constexpr const char* kStandardInput = "standard input";

std::wstring widen(const std::string& text) {
    std::wstring wide;
    if (text.empty()) return wide;
    const int units =
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    wide.resize(static_cast<std::size_t>(units));
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), units);
    return wide;
}

std::string systemText(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD units = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring wide(text ? text : L"", units);
    if (text) ::LocalFree(text);
    while (!wide.empty() && (wide.back() == L'\n' || wide.back() == L'\r' || wide.back() == L'.'))
        wide.pop_back();
    if (wide.empty()) return "error " + std::to_string(error);
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr,
                                            0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), result.data(), bytes,
                          nullptr, nullptr);
    return result;
}

std::string systemFailure(const std::string& what, const std::string& path, DWORD error) {
    return what + " '" + path + "': " + systemText(error);
}

// Read fills the buffer unless the source ends; only the current position can
// be sought.
class SequentialFile final : public Tolm::CBaseFile {
public:
    SequentialFile(std::string name, HANDLE handle) : name_(std::move(name)), handle_(handle) {}
    ~SequentialFile() override { ::CloseHandle(handle_); }

    int Read(void* buffer, int count) override {
        if (count < 0) Tolm::ThrowArgumentError("negative read count for '" + name_ + "'");
        int done = 0;
        while (done < count) {
            DWORD got = 0;
            if (!::ReadFile(handle_, static_cast<char*>(buffer) + done, static_cast<DWORD>(count - done),
                            &got, nullptr)) {
                const DWORD error = ::GetLastError();
                if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF) break;
                throw ToolFailure(systemFailure("cannot read", name_, error));
            }
            if (got == 0) break;
            done += static_cast<int>(got);
        }
        position_ += done;
        return done;
    }
    void Write(const void*, int) override { throw ToolFailure("'" + name_ + "' is open for reading only"); }
    std::int64_t Seek(std::int64_t offset, int origin) override {
        const std::int64_t to = origin == current ? position_ + offset : offset;
        if (origin == end || to != position_)
            throw ToolFailure("'" + name_ + "' can be read only from start to end");
        return position_;
    }
    std::int64_t GetPosition() const override { return position_; }
    std::int64_t GetLength() const override { return position_; }
    void SetLength(std::int64_t) override { throw ToolFailure("'" + name_ + "' is open for reading only"); }
    Tolm::CUnicodeString GetFileName() const override { return Tolm::CUnicodeString::FromUtf8(name_); }

private:
    std::string name_;
    HANDLE handle_;
    std::int64_t position_ = 0;
};

class StandardOutputFile final : public Tolm::CBaseFile {
public:
    int Read(void*, int) override { throw ToolFailure("standard output cannot be read"); }
    void Write(const void* buffer, int count) override {
        if (count < 0) Tolm::ThrowArgumentError("negative write count for standard output");
        std::fflush(stdout);  // keep anything the tool printed first in front
        const HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
        for (int done = 0; done < count;) {
            DWORD put = 0;
            if (!::WriteFile(output, static_cast<const char*>(buffer) + done,
                             static_cast<DWORD>(count - done), &put, nullptr) ||
                put == 0)
                throw ToolFailure("cannot write standard output: " + systemText(::GetLastError()));
            done += static_cast<int>(put);
        }
        position_ += count;
    }
    std::int64_t Seek(std::int64_t offset, int origin) override {
        const std::int64_t to = origin == current ? position_ + offset : offset;
        if (origin == end || to != position_)
            throw ToolFailure("standard output can be written only from start to end");
        return position_;
    }
    std::int64_t GetPosition() const override { return position_; }
    std::int64_t GetLength() const override { return position_; }
    void SetLength(std::int64_t) override { throw ToolFailure("standard output cannot be cut"); }
    Tolm::CUnicodeString GetFileName() const override { return u"standard output"; }

private:
    std::int64_t position_ = 0;
};

}  // namespace

std::unique_ptr<Tolm::CBaseFile> OpenStandardOutput() { return std::make_unique<StandardOutputFile>(); }

std::unique_ptr<Tolm::CBaseFile> OpenSequentialFile(const std::string& path) {
    const bool standardInput = path == "-";
    const std::string name = standardInput ? kStandardInput : path;
    HANDLE handle = INVALID_HANDLE_VALUE;
    if (standardInput) {
        if (!::DuplicateHandle(::GetCurrentProcess(), ::GetStdHandle(STD_INPUT_HANDLE), ::GetCurrentProcess(),
                               &handle, 0, FALSE, DUPLICATE_SAME_ACCESS))
            handle = INVALID_HANDLE_VALUE;
    } else {
        handle = ::CreateFileW(widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    }
    if (handle == INVALID_HANDLE_VALUE)
        throw ToolFailure(systemFailure("cannot open", name, ::GetLastError()));
    return std::make_unique<SequentialFile>(name, handle);
}

// Files have no owner and group to give here: a new file takes its folder's
// access rules.
void GiveOwnership(const std::string&, const std::string&) {}

unsigned NewFileMode(unsigned requested) { return requested; }

std::string ReadStandardInput() {
    const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    std::string text;
    char buffer[1 << 14];
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(input, buffer, sizeof buffer, &got, nullptr)) {
            const DWORD error = ::GetLastError();
            if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF) break;
            throw ToolFailure(systemFailure("cannot read", kStandardInput, error));
        }
        if (got == 0) break;
        text.append(buffer, got);
    }
    return text;
}

bool IsTerminal(std::FILE* stream) { return ::_isatty(::_fileno(stream)) != 0; }

struct FileWindows::Impl {
    HANDLE file = INVALID_HANDLE_VALUE;
    std::string input;  // all of standard input when it is no file
    std::vector<char> buffer;
};

FileWindows::FileWindows(const std::string& path)
    : impl_(std::make_unique<Impl>()), path_(path == "-" ? kStandardInput : path) {
    if (path == "-") {
        const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
        LARGE_INTEGER length{};
        if (::GetFileType(input) == FILE_TYPE_DISK && ::GetFileSizeEx(input, &length) &&
            ::DuplicateHandle(::GetCurrentProcess(), input, ::GetCurrentProcess(), &impl_->file, 0, FALSE,
                              DUPLICATE_SAME_ACCESS)) {
            size_ = length.QuadPart;
            return;
        }
        impl_->input = ReadStandardInput();
        size_ = static_cast<std::int64_t>(impl_->input.size());
        return;
    }
    impl_->file = ::CreateFileW(widen(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (impl_->file == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        const DWORD attributes = ::GetFileAttributesW(widen(path).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            throw ToolFailure("'" + path_ + "' is not a regular file");
        throw ToolFailure(systemFailure("cannot open", path_, error));
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
    size_ = length.QuadPart;
}

FileWindows::~FileWindows() {
    if (impl_->file != INVALID_HANDLE_VALUE) ::CloseHandle(impl_->file);
}

const char* FileWindows::View(std::int64_t offset, std::size_t length) {
    if (impl_->file == INVALID_HANDLE_VALUE) return impl_->input.data() + offset;
    if (impl_->buffer.size() < length) impl_->buffer.resize(length);
    std::size_t done = 0;
    while (done < length) {
        const auto at = static_cast<std::uint64_t>(offset) + done;
        OVERLAPPED where{};
        where.Offset = static_cast<DWORD>(at);
        where.OffsetHigh = static_cast<DWORD>(at >> 32);
        const std::size_t left = length - done;
        DWORD got = 0;
        if (!::ReadFile(impl_->file, impl_->buffer.data() + done,
                        static_cast<DWORD>(left < (1u << 30) ? left : 1u << 30), &got, &where) &&
            ::GetLastError() != ERROR_HANDLE_EOF)
            throw ToolFailure(systemFailure("cannot read", path_, ::GetLastError()));
        if (got == 0) throw ToolFailure("'" + path_ + "' became shorter while it was read");
        done += got;
    }
    return impl_->buffer.data();
}

}  // namespace gearset
