#include "Platform.h"

#include "Arguments.h"
#include "StreamFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <csignal>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace gearset {
namespace {

std::string systemFailure(const std::string& what, const std::string& path, int error) {
    return what + " '" + path + "': " + std::strerror(error);
}

// A descriptor read or written with the calls themselves: the framework
// files over it (StreamFile.h) keep the position.
class DescriptorStream final : public ByteStream {
public:
    // Closes fd at the end when it owns it.
    DescriptorStream(int fd, bool ownsFd) : fd_(fd), ownsFd_(ownsFd) {}
    ~DescriptorStream() override {
        if (ownsFd_) ::close(fd_);
    }

    std::size_t ReadSome(char* buffer, std::size_t size) override {
        for (;;) {
            const ssize_t got = ::read(fd_, buffer, size);
            if (got >= 0) return static_cast<std::size_t>(got);
            if (errno != EINTR) throw StreamRefusal(std::strerror(errno));
        }
    }
    std::size_t WriteSome(const char* bytes, std::size_t size) override {
        for (;;) {
            const ssize_t put = ::write(fd_, bytes, size);
            if (put >= 0) return static_cast<std::size_t>(put);
            if (errno != EINTR) throw StreamRefusal(std::strerror(errno));
        }
    }

private:
    int fd_;
    bool ownsFd_;
};

std::unique_ptr<ByteStream> openedStream(int fd) {
    if (fd < 0) throw StreamRefusal(std::strerror(errno));
    return std::make_unique<DescriptorStream>(fd, true);
}

// A descriptor of an unnamed file in TMPDIR holding all of standard input.
int spoolStandardInput() {
    const char* folder = std::getenv("TMPDIR");
    if (!folder || !*folder) folder = "/tmp";
    std::string name = std::string(folder) + "/gearset-input-XXXXXX";
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) throw ToolFailure(systemFailure("cannot create a temporary file in", folder, errno));
    ::unlink(name.c_str());
    try {
        DescriptorStream spool(fd, false);
        SpoolInput(*StandardInputStream(), spool, folder);
    } catch (...) {
        ::close(fd);
        throw;
    }
    return fd;
}

// The files a fatal signal removes, each slot a path or empty. The handler
// reads them while the main flow may be changing one, so a slot is taken or
// given back with its first byte written last or first.
constexpr int kRemovalSlots = 4;
constexpr std::size_t kRemovalPathBytes = 4096;
char removals[kRemovalSlots][kRemovalPathBytes];
volatile std::sig_atomic_t removalInUse[kRemovalSlots];

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

extern "C" void removeAndEnd(int signal) {
    for (int slot = 0; slot < kRemovalSlots; ++slot) {
        if (removalInUse[slot]) ::unlink(removals[slot]);
    }
    // Blocked until this handler returns; then the default action ends the
    // process with this signal, as the caller's shell expects.
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

sigset_t endingSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : kEndingSignals) sigaddset(&set, signal);
    return set;
}

}  // namespace

void PrepareForSignals() {
    ::signal(SIGXFSZ, SIG_IGN);
    for (const int signal : kEndingSignals) {
        struct sigaction was {};
        if (::sigaction(signal, nullptr, &was) == 0 && was.sa_handler == SIG_IGN) continue;
        struct sigaction action {};
        action.sa_handler = removeAndEnd;
        sigemptyset(&action.sa_mask);
        for (const int other : kEndingSignals) sigaddset(&action.sa_mask, other);
        ::sigaction(signal, &action, nullptr);
    }
}

RemovedOnSignal::RemovedOnSignal(const std::string& path) {
    if (path.size() >= kRemovalPathBytes)
        throw ToolFailure("path too long to remove on a signal: '" + path + "'");
    for (int slot = 0; slot < kRemovalSlots; ++slot) {
        if (removalInUse[slot]) continue;
        std::memcpy(removals[slot], path.c_str(), path.size() + 1);
        removalInUse[slot] = 1;
        slot_ = slot;
        return;
    }
    throw ToolFailure("too many temporary files at once");
}

RemovedOnSignal::~RemovedOnSignal() { removalInUse[slot_] = 0; }

SignalsHeld::SignalsHeld() {
    static_assert(sizeof(sigset_t) <= sizeof saved_);
    const sigset_t held = endingSignals();
    sigset_t was;
    ::sigprocmask(SIG_BLOCK, &held, &was);
    std::memcpy(saved_, &was, sizeof was);
}

SignalsHeld::~SignalsHeld() {
    sigset_t was;
    std::memcpy(&was, saved_, sizeof was);
    ::sigprocmask(SIG_SETMASK, &was, nullptr);
}

void EnsureRoomFor(const std::string& path, std::int64_t length) {
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        static_cast<std::uint64_t>(length) > static_cast<std::uint64_t>(limit.rlim_cur))
        throw ToolFailure(systemFailure("cannot replace", path, EFBIG));
#if defined(__linux__)
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) throw ToolFailure(systemFailure("cannot open", path, errno));
    // Reserved without changing the length: the old content stays readable.
    const int reserved = length > 0 ? ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(length)) : 0;
    const int error = errno;
    ::close(fd);
    if (reserved != 0 && (error == ENOSPC || error == EDQUOT))
        throw ToolFailure(systemFailure("cannot replace", path, error));
#endif
}

const PathRules kSystemPathRules = PathRules::posix;

std::unique_ptr<ByteStream> StandardInputStream() {
    return std::make_unique<DescriptorStream>(STDIN_FILENO, false);
}

std::unique_ptr<ByteStream> StandardOutputStream() {
    return std::make_unique<DescriptorStream>(STDOUT_FILENO, false);
}

std::unique_ptr<ByteStream> OpenInputStream(const std::string& path) {
    return openedStream(path == "-" ? ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0)
                                    : ::open(path.c_str(), O_RDONLY | O_CLOEXEC));
}

std::unique_ptr<ByteStream> OpenOutputStream(const std::string& path) {
    return openedStream(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
}

StreamKind KindOfStream(std::FILE*) { return StreamKind::byteStream; }

bool WriteConsoleUnits(std::FILE*, std::u16string_view) { return false; }

std::string SystemPath(const std::string& path) { return path; }

std::string OrdinaryPath(const std::string& systemPath) { return systemPath; }

std::string InUserTerms(std::string message) { return message; }

FileFacts Examine(const std::string& path) {
    FileFacts facts;
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        struct stat link {};
        if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode))
            facts.kind = FileFacts::Kind::danglingLink;
        return facts;
    }
    facts.mode = static_cast<unsigned>(status.st_mode) & 07777;
    if (S_ISREG(status.st_mode)) {
        facts.kind = FileFacts::Kind::regular;
        facts.length = static_cast<std::int64_t>(status.st_size);
    } else if (S_ISDIR(status.st_mode)) {
        facts.kind = FileFacts::Kind::directory;
    } else if (S_ISCHR(status.st_mode) || S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode)) {
        facts.kind = FileFacts::Kind::device;
    } else {
        facts.kind = FileFacts::Kind::other;
    }
    return facts;
}

bool IsSameFile(const std::string& a, const std::string& b) {
    struct stat one {
    }, other{};
    return ::stat(a.c_str(), &one) == 0 && ::stat(b.c_str(), &other) == 0 && one.st_dev == other.st_dev &&
           one.st_ino == other.st_ino;
}

bool MayWrite(const std::string& path) { return ::access(path.c_str(), W_OK) == 0; }

bool IsStandardOutput(const std::string& path) {
    struct stat output {
    }, file{};
    return ::fstat(STDOUT_FILENO, &output) == 0 && ::stat(path.c_str(), &file) == 0 &&
           output.st_dev == file.st_dev && output.st_ino == file.st_ino;
}

std::string ResolvedPath(const std::string& path) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved) throw ToolFailure(systemFailure("cannot resolve", path, errno));
    std::string result(resolved);
    std::free(resolved);
    return result;
}

std::string FolderOf(const std::string& path) {
    const std::size_t last = path.find_last_of('/');
    if (last == std::string::npos) return ".";
    return last == 0 ? "/" : path.substr(0, last);
}

void SetFileMode(const std::string& path, unsigned mode) {
    if (::chmod(path.c_str(), static_cast<mode_t>(mode)) != 0)
        throw ToolFailure(systemFailure("cannot set the mode of", path, errno));
}

void GiveOwnership(const std::string& model, const std::string& path) {
    struct stat owner {};
    if (::stat(model.c_str(), &owner) != 0) return;
    // First both, then the group alone: a user may give a file a group of theirs.
    if (::lchown(path.c_str(), owner.st_uid, owner.st_gid) != 0)
        (void)::lchown(path.c_str(), static_cast<uid_t>(-1), owner.st_gid);
}

unsigned NewFileMode(unsigned requested) {
    // The mask can only be read by setting it; the tool runs one thread.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return requested & ~static_cast<unsigned>(mask);
}

bool IsTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) == 1; }

struct FileWindows::Impl {
    int fd = -1;
};

FileWindows::FileWindows(const std::string& path)
    : impl_(std::make_unique<Impl>()), path_(path == "-" ? kStandardInputName : path) {
    if (path == "-") {
        struct stat input {};
        const bool regular = ::fstat(STDIN_FILENO, &input) == 0 && S_ISREG(input.st_mode);
        impl_->fd = regular ? ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0) : spoolStandardInput();
        // A duplicate shares the position: a reader before us may have taken some.
        if (regular && impl_->fd >= 0) start_ = std::max<std::int64_t>(0, ::lseek(impl_->fd, 0, SEEK_CUR));
    } else {
        impl_->fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    }
    if (impl_->fd < 0) throw ToolFailure(systemFailure("cannot open", path_, errno));
    struct stat status {};
    if (::fstat(impl_->fd, &status) != 0) {
        const int error = errno;
        ::close(impl_->fd);
        throw ToolFailure(systemFailure("cannot read the status of", path_, error));
    }
    if (!S_ISREG(status.st_mode)) {
        ::close(impl_->fd);
        throw ToolFailure("'" + path_ + "' is not a regular file");
    }
    start_ = std::min<std::int64_t>(start_, status.st_size);
    size_ = static_cast<std::int64_t>(status.st_size) - start_;
#ifdef POSIX_FADV_SEQUENTIAL
    ::posix_fadvise(impl_->fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
}

FileWindows::~FileWindows() { ::close(impl_->fd); }

std::size_t FileWindows::readAt(std::int64_t offset, char* buffer, std::size_t size) {
    for (;;) {
        const ssize_t got = ::pread(impl_->fd, buffer, size, static_cast<off_t>(offset));
        if (got >= 0) return static_cast<std::size_t>(got);
        if (errno != EINTR) throw StreamRefusal(std::strerror(errno));
    }
}

}  // namespace gearset
