#include "Platform.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace gearset {
namespace {

std::string systemFailure(const std::string& what, const std::string& path, int error) {
    return what + " '" + path + "': " + std::strerror(error);
}

}  // namespace

bool IsTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) == 1; }

struct FileWindows::Impl {
    int fd = -1;
    void* mapping = MAP_FAILED;
    std::size_t mappingLength = 0;
    std::vector<char> buffer;  // used when a window cannot be mapped

    void unmap() {
        if (mapping != MAP_FAILED) ::munmap(mapping, mappingLength);
        mapping = MAP_FAILED;
        mappingLength = 0;
    }
};

FileWindows::FileWindows(const std::string& path) : impl_(std::make_unique<Impl>()), path_(path) {
    impl_->fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (impl_->fd < 0) throw ToolFailure(systemFailure("cannot open", path, errno));
    struct stat status {};
    if (::fstat(impl_->fd, &status) != 0) {
        const int error = errno;
        ::close(impl_->fd);
        throw ToolFailure(systemFailure("cannot read the status of", path, error));
    }
    if (!S_ISREG(status.st_mode)) {
        ::close(impl_->fd);
        throw ToolFailure("'" + path + "' is not a regular file");
    }
    size_ = static_cast<std::int64_t>(status.st_size);
}

FileWindows::~FileWindows() {
    impl_->unmap();
    ::close(impl_->fd);
}

const char* FileWindows::View(std::int64_t offset, std::size_t length) {
    impl_->unmap();
    if (length == 0) return impl_->buffer.data();
    static const std::int64_t pageBytes = ::sysconf(_SC_PAGESIZE);
    const std::int64_t mapStart = offset / pageBytes * pageBytes;
    const auto lead = static_cast<std::size_t>(offset - mapStart);

    int flags = MAP_PRIVATE;
#ifdef MAP_POPULATE
    // The whole window is about to be read: fault it in with one call.
    flags |= MAP_POPULATE;
#endif
    void* mapping = ::mmap(nullptr, lead + length, PROT_READ, flags, impl_->fd, static_cast<off_t>(mapStart));
    if (mapping != MAP_FAILED) {
        impl_->mapping = mapping;
        impl_->mappingLength = lead + length;
        ::madvise(mapping, lead + length, MADV_SEQUENTIAL);
        return static_cast<const char*>(mapping) + lead;
    }

    impl_->buffer.resize(length);
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
