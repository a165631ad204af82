#include "Platform.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace gearset {
namespace {

std::string systemFailure(const std::string& what, const std::string& path, int error) {
    return what + " '" + path + "': " + std::strerror(error);
}

constexpr const char* kStandardInput = "standard input";

// Reads up to `size` bytes of standard input; 0 at its end.
std::size_t readSomeInput(char* buffer, std::size_t size) {
    for (;;) {
        const ssize_t got = ::read(STDIN_FILENO, buffer, size);
        if (got >= 0) return static_cast<std::size_t>(got);
        if (errno != EINTR) throw ToolFailure(systemFailure("cannot read", kStandardInput, errno));
    }
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
        std::vector<char> buffer(std::size_t{1} << 16);
        for (std::size_t got; (got = readSomeInput(buffer.data(), buffer.size())) > 0;) {
            for (std::size_t done = 0; done < got;) {
                const ssize_t put = ::write(fd, buffer.data() + done, got - done);
                if (put < 0 && errno == EINTR) continue;
                if (put < 0)
                    throw ToolFailure(systemFailure("cannot write a temporary file in", folder, errno));
                done += static_cast<std::size_t>(put);
            }
        }
    } catch (...) {
        ::close(fd);
        throw;
    }
    return fd;
}

class SequentialFile final : public Tolm::CBaseFile {
public:
    SequentialFile(std::string name, int fd) : name_(std::move(name)), fd_(fd) {}
    ~SequentialFile() override { ::close(fd_); }

    int Read(void* buffer, int count) override {
        if (count < 0) Tolm::ThrowArgumentError("negative read count for '" + name_ + "'");
        int done = 0;
        while (done < count) {
            const ssize_t got =
                ::read(fd_, static_cast<char*>(buffer) + done, static_cast<std::size_t>(count - done));
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) throw ToolFailure(systemFailure("cannot read", name_, errno));
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
    int fd_;
    std::int64_t position_ = 0;
};

// Standard output, a device or a FIFO, written from start to end.
class SequentialOutput final : public Tolm::CBaseFile {
public:
    // Closes fd at the end when it owns it.
    SequentialOutput(std::string name, int fd, bool ownsFd)
        : name_(std::move(name)), fd_(fd), ownsFd_(ownsFd) {}
    ~SequentialOutput() override {
        if (ownsFd_) ::close(fd_);
    }

    int Read(void*, int) override { throw ToolFailure("'" + name_ + "' cannot be read"); }
    void Write(const void* buffer, int count) override {
        if (count < 0) Tolm::ThrowArgumentError("negative write count for '" + name_ + "'");
        std::fflush(stdout);  // keep anything the tool printed first in front
        for (int done = 0; done < count;) {
            const ssize_t put =
                ::write(fd_, static_cast<const char*>(buffer) + done, static_cast<std::size_t>(count - done));
            if (put < 0 && errno == EINTR) continue;
            if (put < 0) throw ToolFailure(systemFailure("cannot write", name_, errno));
            done += static_cast<int>(put);
        }
        position_ += count;
    }
    std::int64_t Seek(std::int64_t offset, int origin) override {
        const std::int64_t to = origin == current ? position_ + offset : offset;
        if (origin == end || to != position_)
            throw ToolFailure("'" + name_ + "' can be written only from start to end");
        return position_;
    }
    std::int64_t GetPosition() const override { return position_; }
    std::int64_t GetLength() const override { return position_; }
    void SetLength(std::int64_t) override { throw ToolFailure("'" + name_ + "' cannot be cut"); }
    Tolm::CUnicodeString GetFileName() const override { return Tolm::CUnicodeString::FromUtf8(name_); }

private:
    std::string name_;
    int fd_;
    bool ownsFd_;
    std::int64_t position_ = 0;
};

}  // namespace

std::unique_ptr<Tolm::CBaseFile> OpenStandardOutput() {
    return std::make_unique<SequentialOutput>("standard output", STDOUT_FILENO, false);
}

std::unique_ptr<Tolm::CBaseFile> OpenSequentialOutput(const std::string& path) {
    if (path == "-") return OpenStandardOutput();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) throw ToolFailure("cannot open '" + path + "' for writing: " + std::strerror(errno));
    return std::make_unique<SequentialOutput>(path, fd, true);
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

std::unique_ptr<Tolm::CBaseFile> OpenSequentialFile(const std::string& path) {
    const bool standardInput = path == "-";
    const std::string name = standardInput ? kStandardInput : path;
    const int fd = standardInput ? ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0)
                                 : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw ToolFailure(systemFailure("cannot open", name, errno));
    return std::make_unique<SequentialFile>(name, fd);
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

std::string ReadStandardInput() {
    std::string text;
    char buffer[1 << 14];
    for (std::size_t got; (got = readSomeInput(buffer, sizeof buffer)) > 0;) text.append(buffer, got);
    return text;
}

bool IsTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) == 1; }

struct FileWindows::Impl {
    int fd = -1;
    std::vector<char> buffer;
};

FileWindows::FileWindows(const std::string& path)
    : impl_(std::make_unique<Impl>()), path_(path == "-" ? kStandardInput : path) {
    if (path == "-") {
        struct stat input {};
        const bool regular = ::fstat(STDIN_FILENO, &input) == 0 && S_ISREG(input.st_mode);
        impl_->fd = regular ? ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0) : spoolStandardInput();
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
    size_ = static_cast<std::int64_t>(status.st_size);
#ifdef POSIX_FADV_SEQUENTIAL
    ::posix_fadvise(impl_->fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
}

FileWindows::~FileWindows() { ::close(impl_->fd); }

const char* FileWindows::View(std::int64_t offset, std::size_t length) {
    if (impl_->buffer.size() < length) impl_->buffer.resize(length);
    std::size_t done = 0;
    while (done < length) {
        const ssize_t got = ::pread(impl_->fd, impl_->buffer.data() + done, length - done,
                                    static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) throw ToolFailure(systemFailure("cannot read", path_, errno));
        if (got == 0) throw ToolFailure("'" + path_ + "' became shorter while it was read");
        done += static_cast<std::size_t>(got);
    }
    return impl_->buffer.data();
}

}  // namespace gearset
