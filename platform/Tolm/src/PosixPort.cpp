// The POSIX binding of the framework's port to the system.
#include "SystemPort.h"

#include "Internal.h"

#include <Tolm/Memory.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <thread>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/auxv.h>
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
#ifdef FALLOC_FL_KEEP_SIZE
    bool reserve(std::int64_t low, std::int64_t high) override {
        return ::fallocate(fd_, FALLOC_FL_KEEP_SIZE, low, high - low) == 0;
    }
    bool setsRoomAside() const override { return true; }
#endif

private:
    int fd_;
};

class PosixPort final : public SystemPort {
public:
    const PathGrammar& paths() const override { return posixPaths(); }

    std::unique_ptr<SystemFile> open(const std::string& path, const SystemOpenRequest& request,
                                     int& error) override {
        int flags = O_CLOEXEC;
        flags |= request.read && request.write ? O_RDWR : request.write ? O_WRONLY : O_RDONLY;
        if (request.create) flags |= O_CREAT;
        if (request.create && request.exclusive) flags |= O_EXCL;
        if (request.truncate) flags |= O_TRUNC;
        if (request.noFollow) flags |= O_NOFOLLOW;
        int fd;
        do {
            fd = ::open(path.c_str(), flags, request.ownerOnly ? 0600 : 0666);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0) {
            error = errno;
            return nullptr;
        }
        // The mode given to open passes through the umask; make sure.
        if (request.ownerOnly && request.create) ::fchmod(fd, S_IRUSR | S_IWUSR);
        return std::make_unique<PosixFile>(fd);
    }
    int remove(const std::string& path) override { return ::unlink(path.c_str()) == 0 ? 0 : errno; }
    int rename(const std::string& from, const std::string& to) override {
        return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
    }
    int makeDirectory(const std::string& path) override {
        return ::mkdir(path.c_str(), 0777) == 0 ? 0 : errno;
    }
    bool isDirectory(const std::string& path) override {
        struct stat status {};
        return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
    }
    std::string temporaryFolder() override {
        const char* fromEnvironment = std::getenv("TMPDIR");
        std::string directory = fromEnvironment && *fromEnvironment ? fromEnvironment : "/tmp";
        while (directory.size() > 1 && directory.back() == '/') directory.pop_back();
        return directory;
    }

    std::int64_t nowUtcTicks() override {
        using Ticks = std::chrono::duration<std::int64_t, std::ratio<1, 10'000'000>>;
        const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
        return std::chrono::duration_cast<Ticks>(sinceEpoch).count() + kTicksFrom1601To1970;
    }
    std::int64_t zoneOffsetAtUtc(std::int64_t unixSeconds) override {
        // localtime_r need not re-read TZ; tzset makes a changed TZ count.
        ::tzset();
        const auto seconds = static_cast<std::time_t>(unixSeconds);
        std::tm local{};
        if (!::localtime_r(&seconds, &local)) return 0;
        return local.tm_gmtoff;
    }

    SystemErrorDescription describe(int error) override {
        char text[256] = {};
        // The GNU strerror_r may return a static text instead of filling ours.
#if defined(__GLIBC__) && defined(_GNU_SOURCE)
        const char* result = ::strerror_r(error, text, sizeof text);
        return {result ? std::string(result) : "error " + std::to_string(error)};
#else
        if (::strerror_r(error, text, sizeof text) != 0) return {"error " + std::to_string(error)};
        return {text};
#endif
    }
    void pause(int milliseconds) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
    // The base address of the object that holds the main program's headers:
    // not zero even for a program that is not position-independent.
    HINSTANCE mainProgramHandle() noexcept override {
        const unsigned long programHeaders = ::getauxval(AT_PHDR);
        Dl_info info{};
        if (programHeaders == 0 || ::dladdr(reinterpret_cast<const void*>(programHeaders), &info) == 0)
            return nullptr;
        return info.dli_fbase;
    }

private:
    // 1 January 1601 to 1 January 1970, in 100-ns ticks.
    static constexpr std::int64_t kTicksFrom1601To1970 = std::int64_t{134'774} * 86'400 * 10'000'000;
};

}  // namespace

SystemPort& platformPort() {
    static auto* port = new PosixPort;  // outlives static teardown
    return *port;
}

void incrementReferenceCount(ReferenceCount& count) noexcept {
    count.fetch_add(1, std::memory_order_relaxed);
}
long decrementReferenceCount(ReferenceCount& count) noexcept {
    return count.fetch_sub(1, std::memory_order_acq_rel) - 1;
}
int readReferenceCount(const ReferenceCount& count) noexcept { return count.load(std::memory_order_relaxed); }

}  // namespace Tolm::detail

// The C library's memcpy picks the best move for the processor it runs on.
void Tolm::CopyBytes(void* target, const void* source, std::size_t count) noexcept {
    std::memcpy(target, source, count);
}

bool Tolm::CopyBytesSplitsCheaply() noexcept { return true; }
