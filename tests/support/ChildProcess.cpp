#include "ChildProcess.h"

#include <cstddef>

#ifdef _WIN32

#include <cwchar>
#include <mutex>
#include <thread>

#include <windows.h>

#include "Utf16.h"

namespace GearsetTesting {
namespace {

std::wstring widen(const std::string& text) { return gearset::Widen(text); }

std::string systemText(DWORD error) {
    char* text = nullptr;
    ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = text ? text : "error " + std::to_string(error);
    if (text) ::LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
    return message;
}

class Handle {
public:
    Handle() = default;
    explicit Handle(HANDLE handle) : handle_(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
    ~Handle() { reset(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    Handle(Handle&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
    Handle& operator=(Handle&& other) noexcept {
        reset();
        handle_ = other.handle_;
        other.handle_ = nullptr;
        return *this;
    }
    HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    void reset() {
        if (handle_) ::CloseHandle(handle_);
        handle_ = nullptr;
    }

private:
    HANDLE handle_ = nullptr;
};

// A pipe whose end `childEnd` (0 read, 1 write) is inheritable.
bool makePipe(Handle& read, Handle& write, int childEnd) {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE ends[2];
    if (!::CreatePipe(&ends[0], &ends[1], &inheritable, 0)) return false;
    read = Handle(ends[0]);
    write = Handle(ends[1]);
    return ::SetHandleInformation(ends[1 - childEnd], HANDLE_FLAG_INHERIT, 0) != 0;
}

// One argument as CommandLineToArgvW and the C runtime read it back. Quoted
// when empty or holding a blank or a quote; inside the quotes backslashes
// stand for themselves except in a run that ends at a quote, the argument's
// own or the closing one, where each is doubled and an own quote escaped.
void appendQuoted(std::wstring& line, const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        line += argument;
        return;
    }
    line += L'"';
    for (std::size_t at = 0;; ++at) {
        std::size_t backslashes = 0;
        for (; at < argument.size() && argument[at] == L'\\'; ++at) ++backslashes;
        if (at == argument.size()) {
            line.append(backslashes * 2, L'\\');
            break;
        }
        if (argument[at] == L'"') {
            line.append(backslashes * 2 + 1, L'\\');
        } else {
            line.append(backslashes, L'\\');
        }
        line += argument[at];
    }
    line += L'"';
}

std::wstring commandLine(const ChildRequest& request) {
    // The program's name is read up to the next quote, with no escapes; a
    // Windows path holds no quote.
    std::wstring line = L"\"" + widen(request.program) + L"\"";
    for (const std::string& argument : request.arguments) {
        line += L' ';
        appendQuoted(line, widen(argument));
    }
    return line;
}

// The caller's environment block with the request's variables set: entries
// "NAME=value" each ended by a zero, one more zero at the end. Names compare
// without case, as the system compares them; those of the drives' current
// folders ("=C:=C:\\work") begin with '='.
std::wstring environmentBlock(const std::vector<std::pair<std::string, std::string>>& changes) {
    std::vector<std::pair<std::wstring, std::wstring>> wideChanges;
    for (const auto& [name, value] : changes) wideChanges.emplace_back(widen(name), widen(value));
    std::wstring block;
    wchar_t* const strings = ::GetEnvironmentStringsW();
    for (const wchar_t* entry = strings; entry && *entry; entry += std::wcslen(entry) + 1) {
        const std::wstring text(entry);
        const std::wstring name = text.substr(0, text.find(L'=', 1));
        bool replaced = false;
        for (const auto& change : wideChanges)
            replaced = replaced || ::_wcsicmp(change.first.c_str(), name.c_str()) == 0;
        if (!replaced) block += text + L'\0';
    }
    if (strings) ::FreeEnvironmentStringsW(strings);
    for (const auto& [name, value] : wideChanges) block += name + L'=' + value + L'\0';
    block += L'\0';
    return block;
}

void readToEnd(HANDLE pipe, std::string& into) {
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) into.append(buffer, got);
}

// Writes until done or the child closed its end, then closes ours: the
// child's end of input.
void feed(Handle pipe, const std::string& bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
        DWORD put = 0;
        const std::size_t left = bytes.size() - done;
        if (!::WriteFile(pipe.get(), bytes.data() + done, static_cast<DWORD>(left < 65536 ? left : 65536),
                         &put, nullptr))
            break;
        done += put;
    }
}

// Inheritable handles exist from their creation until the child's ends are
// closed after CreateProcessW. The handle list keeps each child to its own
// three, but a system may ignore it; so children are also made one at a
// time, and no other RunChild's handles are inheritable meanwhile.
std::mutex creating;

}  // namespace

ChildResult RunChild(const ChildRequest& request) {
    ChildResult result;
    Handle process, inputWrite, outRead, errRead;
    {
        const std::lock_guard<std::mutex> lock(creating);
        Handle inputRead, outWrite, errWrite;
        SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        if (request.input.kind == ChildInput::Kind::bytes) {
            if (!makePipe(inputRead, inputWrite, 0))
                return {-1, {}, {}, "cannot make a pipe: " + systemText(::GetLastError())};
        } else {
            const std::wstring path =
                request.input.kind == ChildInput::Kind::file ? widen(request.input.text) : L"NUL";
            inputRead = Handle(::CreateFileW(path.c_str(), GENERIC_READ,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                             &inheritable, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
            if (!inputRead)
                return {
                    -1, {}, {}, "cannot open '" + request.input.text + "': " + systemText(::GetLastError())};
        }
        if (!makePipe(outRead, outWrite, 1) || !makePipe(errRead, errWrite, 1))
            return {-1, {}, {}, "cannot make a pipe: " + systemText(::GetLastError())};

        HANDLE inherited[3] = {inputRead.get(), outWrite.get(), errWrite.get()};
        SIZE_T size = 0;
        ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        std::vector<char> storage(size);
        const auto attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.data());
        if (!::InitializeProcThreadAttributeList(attributes, 1, 0, &size) ||
            !::UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                         sizeof inherited, nullptr, nullptr))
            return {-1, {}, {}, "cannot list the handles to inherit: " + systemText(::GetLastError())};
        STARTUPINFOEXW startup{};
        startup.StartupInfo.cb = sizeof startup;
        startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
        startup.StartupInfo.hStdInput = inherited[0];
        startup.StartupInfo.hStdOutput = inherited[1];
        startup.StartupInfo.hStdError = inherited[2];
        startup.lpAttributeList = attributes;

        std::wstring line = commandLine(request);
        std::wstring environment = environmentBlock(request.environment);
        const std::wstring program = widen(request.program);
        const std::wstring folder = widen(request.workingFolder);
        // A bare name is looked up as the command line's first word.
        const bool bare = program.find_first_of(L"\\/:") == std::wstring::npos;
        PROCESS_INFORMATION started{};
        const BOOL created = ::CreateProcessW(
            bare ? nullptr : program.c_str(), line.data(), nullptr, nullptr, TRUE,
            CREATE_UNICODE_ENVIRONMENT | EXTENDED_STARTUPINFO_PRESENT | CREATE_NO_WINDOW, environment.data(),
            folder.empty() ? nullptr : folder.c_str(), &startup.StartupInfo, &started);
        const DWORD failure = ::GetLastError();
        ::DeleteProcThreadAttributeList(attributes);
        if (!created) return {-1, {}, {}, "cannot start '" + request.program + "': " + systemText(failure)};
        ::CloseHandle(started.hThread);
        process = Handle(started.hProcess);
    }  // the child's ends close here, so that our reads end when the child's output does

    // Three streams at once, each on its own thread, so that none can stall
    // the child while another is full.
    std::thread feeder;
    if (inputWrite) feeder = std::thread(feed, std::move(inputWrite), std::cref(request.input.text));
    std::thread errReader(readToEnd, errRead.get(), std::ref(result.err));
    readToEnd(outRead.get(), result.out);
    errReader.join();
    if (feeder.joinable()) feeder.join();

    DWORD code = 0;
    ::WaitForSingleObject(process.get(), INFINITE);
    ::GetExitCodeProcess(process.get(), &code);
    result.status = static_cast<int>(code);
    return result;
}

std::string ThisProgram() {
    std::wstring path(MAX_PATH, L'\0');
    DWORD units;
    while ((units = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()))) ==
           path.size())
        path.resize(2 * path.size());
    path.resize(units);
    return gearset::Narrow(path);
}

}  // namespace GearsetTesting

#else

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace GearsetTesting {
namespace {

class Descriptor {
public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    bool isOpen() const { return fd_ >= 0; }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

// Both ends close on exec: a child started meanwhile by another thread gets
// neither, and ours gets only what the spawn's actions give it.
bool makePipe(Descriptor& read, Descriptor& write) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return false;
    read.reset(ends[0]);
    write.reset(ends[1]);
    return true;
}

std::vector<std::string> childEnvironment(const std::vector<std::pair<std::string, std::string>>& changes) {
    std::vector<std::string> entries;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        const std::string name = text.substr(0, text.find('='));
        if (std::none_of(changes.begin(), changes.end(),
                         [&](const auto& change) { return change.first == name; }))
            entries.push_back(text);
    }
    for (const auto& [name, value] : changes) entries.push_back(name + "=" + value);
    return entries;
}

// Writing to a child that closed its input raises SIGPIPE, which would kill
// the caller: the signal is blocked in this thread while it feeds the child,
// and one raised meanwhile (a write's SIGPIPE goes to the writing thread) is
// taken back before the old mask returns.
class SigpipeBlocked {
public:
    SigpipeBlocked() {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        ::pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
        sigset_t pending;
        sigpending(&pending);
        wasPending_ = sigismember(&pending, SIGPIPE) == 1;
    }
    ~SigpipeBlocked() {
        const timespec now{};
        if (!wasPending_)
            while (::sigtimedwait(&pipe_, nullptr, &now) == SIGPIPE) {
            }
        ::pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }
    SigpipeBlocked(const SigpipeBlocked&) = delete;
    SigpipeBlocked& operator=(const SigpipeBlocked&) = delete;

private:
    sigset_t pipe_, old_;
    bool wasPending_ = false;
};

// Feeds the input and reads both outputs in one loop until all three are closed.
void exchange(Descriptor& input, const std::string& bytes, Descriptor& out, std::string& outText,
              Descriptor& err, std::string& errText) {
    const SigpipeBlocked blocked;
    std::size_t fed = 0;
    if (input.isOpen() && bytes.empty()) input.reset();
    if (input.isOpen()) ::fcntl(input.get(), F_SETFL, O_NONBLOCK);
    while (input.isOpen() || out.isOpen() || err.isOpen()) {
        pollfd polled[3];
        nfds_t count = 0;
        Descriptor* owners[3];
        for (auto [descriptor, events] : {std::pair{&input, POLLOUT}, {&out, POLLIN}, {&err, POLLIN}}) {
            if (!descriptor->isOpen()) continue;
            polled[count] = {descriptor->get(), static_cast<short>(events), 0};
            owners[count++] = descriptor;
        }
        if (::poll(polled, count, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (nfds_t i = 0; i < count; ++i) {
            if (polled[i].revents == 0) continue;
            Descriptor& descriptor = *owners[i];
            if (&descriptor == &input) {
                const std::size_t chunk = std::min<std::size_t>(bytes.size() - fed, 65536);
                const ssize_t put = ::write(input.get(), bytes.data() + fed, chunk);
                if (put > 0) fed += static_cast<std::size_t>(put);
                // Done, or the child closed its end (EPIPE): it reads no more.
                if (fed == bytes.size() || (put < 0 && errno != EAGAIN && errno != EINTR)) input.reset();
                continue;
            }
            char buffer[4096];
            const ssize_t got = ::read(descriptor.get(), buffer, sizeof buffer);
            if (got > 0) {
                (&descriptor == &out ? outText : errText).append(buffer, static_cast<std::size_t>(got));
            } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
                descriptor.reset();
            }
        }
    }
}

}  // namespace

ChildResult RunChild(const ChildRequest& request) {
    ChildResult result;
    Descriptor inputRead, inputWrite, outRead, outWrite, errRead, errWrite;
    const bool piped = request.input.kind == ChildInput::Kind::bytes;
    if ((piped && !makePipe(inputRead, inputWrite)) || !makePipe(outRead, outWrite) ||
        !makePipe(errRead, errWrite))
        return {-1, {}, {}, std::string("cannot make a pipe: ") + std::strerror(errno)};

    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    // The input file is opened before the change of folder: a relative path
    // is the caller's.
    if (piped) {
        ::posix_spawn_file_actions_adddup2(&actions, inputRead.get(), STDIN_FILENO);
    } else {
        const char* path =
            request.input.kind == ChildInput::Kind::file ? request.input.text.c_str() : "/dev/null";
        ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, path, O_RDONLY, 0);
    }
    ::posix_spawn_file_actions_adddup2(&actions, outWrite.get(), STDOUT_FILENO);
    ::posix_spawn_file_actions_adddup2(&actions, errWrite.get(), STDERR_FILENO);
    if (!request.workingFolder.empty())
        ::posix_spawn_file_actions_addchdir_np(&actions, request.workingFolder.c_str());

    // The child starts with no signal blocked and SIGPIPE's default action,
    // whatever the caller set for itself (ignoring survives exec).
    posix_spawnattr_t attributes;
    ::posix_spawnattr_init(&attributes);
    sigset_t signals;
    sigemptyset(&signals);
    ::posix_spawnattr_setsigmask(&attributes, &signals);
    sigaddset(&signals, SIGPIPE);
    ::posix_spawnattr_setsigdefault(&attributes, &signals);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<std::string> words{request.program};
    words.insert(words.end(), request.arguments.begin(), request.arguments.end());
    const std::vector<std::string> environment = childEnvironment(request.environment);
    std::vector<char*> argv, envp;
    for (const std::string& word : words) argv.push_back(const_cast<char*>(word.c_str()));
    for (const std::string& entry : environment) envp.push_back(const_cast<char*>(entry.c_str()));
    argv.push_back(nullptr);
    envp.push_back(nullptr);

    pid_t child = 0;
    const bool bare = request.program.find('/') == std::string::npos;
    const int failure = (bare ? ::posix_spawnp : ::posix_spawn)(&child, request.program.c_str(), &actions,
                                                                &attributes, argv.data(), envp.data());
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attributes);
    if (failure != 0)
        return {-1, {}, {}, "cannot start '" + request.program + "': " + std::strerror(failure)};
    // Our copies of the child's ends go, so that its outputs end when it does.
    inputRead.reset();
    outWrite.reset();
    errWrite.reset();

    exchange(inputWrite, request.input.text, outRead, result.out, errRead, result.err);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

std::string ThisProgram() {
    std::error_code error;
    return std::filesystem::read_symlink("/proc/self/exe", error).string();
}

}  // namespace GearsetTesting

#endif
