// The POSIX binding of the framework's files to the system.
#include "SystemFile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

static_assert(sizeof(off_t) == 8, "the framework's files need 64-bit file offsets");

namespace Tolm::detail {

namespace {

class PosixFile final : public SystemFile {
public:
    explicit PosixFile(int fd) : fd_(fd) {}
    ~PosixFile() override {
        if (fd_ >= 0) ::close(fd_);
    }

    std::int64_t readAt(void* bytes, std::int64_t count, std::int64_t offset, int& error) override {
        for (;;) {
            const ssize_t got = ::pread(fd_, bytes, static_cast<std::size_t>(count), offset);
            if (got >= 0) return got;
            if (errno != EINTR) {
                error = errno;
                return -1;
            }
        }
    }
    std::int64_t writeAt(const void* bytes, std::int64_t count, std::int64_t offset, int& error) override {
        for (;;) {
            const ssize_t written = ::pwrite(fd_, bytes, static_cast<std::size_t>(count), offset);
            if (written > 0) return written;
            if (written == 0) {
                error = EIO;
                return -1;
            }
            if (errno != EINTR) {
                error = errno;
                return -1;
            }
        }
    }
    int setLength(std::int64_t length) override {
        while (::ftruncate(fd_, length) != 0) {
            if (errno != EINTR) return errno;
        }
        return 0;
    }
    int status(SystemFileStatus& status) override {
        struct stat info {};
        if (::fstat(fd_, &info) != 0) return errno;
        status.isRegular = S_ISREG(info.st_mode);
        status.isDirectory = S_ISDIR(info.st_mode);
        status.hasName = info.st_nlink > 0;
        status.device = static_cast<unsigned long long>(info.st_dev);
        status.inode = static_cast<unsigned long long>(info.st_ino);
        status.length = info.st_size;
        return 0;
    }
    int close() override {
        const int fd = fd_;
        fd_ = -1;
        // After EINTR the descriptor is gone on Linux; retrying could close another's.
        if (::close(fd) != 0 && errno != EINTR) return errno;
        return 0;
    }
    const unsigned char* mapView(std::int64_t offset, std::int64_t count) override {
        void* view = ::mmap(nullptr, static_cast<std::size_t>(count), PROT_READ, MAP_SHARED, fd_, offset);
        return view == MAP_FAILED ? nullptr : static_cast<const unsigned char*>(view);
    }
    void unmapView(const unsigned char* view, std::int64_t count) override {
        ::munmap(const_cast<unsigned char*>(view), static_cast<std::size_t>(count));
    }
    std::int64_t viewAlignment() const override {
        static const long pageSize = ::sysconf(_SC_PAGESIZE);
        return pageSize > 0 ? pageSize : 4096;
    }

private:
    int fd_;
};

}  // namespace

std::unique_ptr<SystemFile> openPlatformFile(const std::string& native, const SystemOpenRequest& request,
                                             int& error) {
    int flags = O_CLOEXEC;
    flags |= request.read && request.write ? O_RDWR : request.write ? O_WRONLY : O_RDONLY;
    if (request.create) flags |= O_CREAT;
    if (request.create && request.exclusive) flags |= O_EXCL;
    if (request.truncate) flags |= O_TRUNC;
    if (request.noFollow) flags |= O_NOFOLLOW;
    int fd;
    do {
        fd = ::open(native.c_str(), flags, request.ownerOnly ? 0600 : 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        error = errno;
        return nullptr;
    }
    // The mode given to open passes through the umask; make sure.
    if (request.ownerOnly && request.create) ::fchmod(fd, S_IRUSR | S_IWUSR);
    return std::make_unique<PosixFile>(fd);
}

int removePlatformFile(const std::string& native) { return ::unlink(native.c_str()) == 0 ? 0 : errno; }

int renamePlatformFile(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

int makePlatformDirectory(const std::string& native) {
    return ::mkdir(native.c_str(), 0777) == 0 ? 0 : errno;
}

bool isPlatformDirectory(const std::string& native) {
    struct stat status {};
    return ::stat(native.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

std::string platformTemporaryFolder() {
    const char* fromEnvironment = std::getenv("TMPDIR");
    std::string directory = fromEnvironment && *fromEnvironment ? fromEnvironment : "/tmp";
    while (directory.size() > 1 && directory.back() == '/') directory.pop_back();
    return directory;
}

}  // namespace Tolm::detail
