#include "FileCalls.h"

#include "FileInstruments.h"
#include "FileSupport.h"

#include <atomic>

namespace Tolm::detail {

namespace {

std::atomic<std::int64_t> systemReadCount{0};
std::atomic<std::int64_t> systemWriteCount{0};
std::atomic<std::int64_t> lengthChangeCount{0};
std::atomic<int> writesBeforeFault{-1};
std::atomic<int> faultError{0};

// True when the fault seam says this system write is to fail.
bool isInjectedFault() {
    int remaining = writesBeforeFault.load(std::memory_order_relaxed);
    while (remaining >= 0) {
        const int next = remaining == 0 ? -1 : remaining - 1;
        if (writesBeforeFault.compare_exchange_weak(remaining, next, std::memory_order_relaxed)) {
            return remaining == 0;
        }
    }
    return false;
}

}  // namespace

FileCalls::FileCalls(const CUnicodeString& path, std::unique_ptr<SystemFile> system)
    : path_(path), system_(std::move(system)) {}

void FileCalls::fail(const std::string& what, int systemError) const {
    throwSystemFileError(what + " " + quotedPath(path_), systemError);
}

void FileCalls::writeAll(const unsigned char* bytes, std::int64_t count, std::int64_t offset,
                         std::int64_t& end) {
    while (count > 0) {
        std::int64_t written;
        int error = 0;
        systemWriteCount.fetch_add(1, std::memory_order_relaxed);
        if (isInjectedFault()) {
            error = faultError.load(std::memory_order_relaxed);
            written = -1;
        } else {
            written = system_->writeAt(bytes, count, offset, error);
        }
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
        systemReadCount.fetch_add(1, std::memory_order_relaxed);
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
    lengthChangeCount.fetch_add(1, std::memory_order_relaxed);
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

void failFileWriteAfter(int successfulWrites, int systemError) {
    faultError.store(systemError, std::memory_order_relaxed);
    writesBeforeFault.store(successfulWrites < 0 ? -1 : successfulWrites, std::memory_order_relaxed);
}

FileIoCounts fileIoCounts() {
    FileIoCounts counts;
    counts.reads = systemReadCount.load(std::memory_order_relaxed);
    counts.writes = systemWriteCount.load(std::memory_order_relaxed);
    counts.lengthChanges = lengthChangeCount.load(std::memory_order_relaxed);
    return counts;
}

void resetFileIoCounts() {
    systemReadCount.store(0, std::memory_order_relaxed);
    systemWriteCount.store(0, std::memory_order_relaxed);
    lengthChangeCount.store(0, std::memory_order_relaxed);
}

}  // namespace Tolm::detail
