#include "Platform.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
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
    std::vector<char> buffer;
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
