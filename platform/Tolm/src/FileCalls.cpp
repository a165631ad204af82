#include "FileCalls.h"

#include "FileSupport.h"

namespace Tolm::detail {

FileCalls::FileCalls(const CUnicodeString& path, std::unique_ptr<SystemFile> system)
    : path_(path), system_(std::move(system)) {}

void FileCalls::fail(const std::string& what, int systemError) const {
    throwSystemFileError(what + " " + quotedPath(path_), systemError);
}

void FileCalls::writeAll(const unsigned char* bytes, std::int64_t count, std::int64_t offset,
                         std::int64_t& end) {
    while (count > 0) {
        int error = 0;
        const std::int64_t written = system_->writeAt(bytes, count, offset, error);
        if (written <= 0) {
            fail("cannot write " + std::to_string(count) + " bytes at offset " + std::to_string(offset) +
                     " of",
                 error);
        }
        bytes += written;
        count -= written;
        offset += written;
        if (offset > end) end = offset;
    }
}

std::int64_t FileCalls::readUpTo(unsigned char* bytes, std::int64_t count, std::int64_t offset) {
    std::int64_t done = 0;
    while (done < count) {
        int error = 0;
        const std::int64_t got = system_->readAt(bytes + done, count - done, offset + done, error);
        if (got < 0) {
            fail(
                "cannot read " + std::to_string(count) + " bytes at offset " + std::to_string(offset) + " of",
                error);
        }
        if (got == 0) break;
        done += got;
    }
    return done;
}

void FileCalls::setLength(std::int64_t length) {
    if (const int error = system_->setLength(length))
        fail("cannot set the length to " + std::to_string(length) + " of", error);
}

SystemFileStatus FileCalls::status(const std::string& what) {
    SystemFileStatus status;
    if (const int error = system_->status(status)) fail("cannot " + what, error);
    return status;
}

int FileCalls::close() {
    const int error = system_->close();
    system_.reset();
    return error;
}

}  // namespace Tolm::detail
