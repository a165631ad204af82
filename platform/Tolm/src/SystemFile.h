// An open file of the system, as the framework's port to the system hands it
// out (SystemPort.h): CFile and its window talk to the file only through this
// interface. Private to Tolmbase.
//
// Every call reports failure as the system's error value (errno numbering,
// e.g. ENOSPC) and never throws, so that the caller can name the file and the
// operation in its message. An interrupted call is retried inside.
#pragma once

#include <Tolm/Types.h>

#include <cstdint>
#include <memory>
#include <string>

namespace Tolm::detail {

// File bytes [low, high).
struct FileRange {
    std::int64_t low = 0;
    std::int64_t high = 0;
};

// What an open file is on the system: enough to tell a regular file from a
// folder or a special file, and one file from another.
struct SystemFileStatus {
    bool isRegular = false;
    bool isDirectory = false;
    // False once the file lost its last name: then only those who hold it
    // open can change it.
    bool hasName = true;
    unsigned long long device = 0;
    unsigned long long inode = 0;
    std::int64_t length = 0;
};

class SystemFile {
public:
    SystemFile() = default;
    SystemFile(const SystemFile&) = delete;
    SystemFile& operator=(const SystemFile&) = delete;
    virtual ~SystemFile() = default;

    // Bytes read into bytes at offset, fewer than count when one call gave
    // fewer (0 at the end); -1 with error set on failure.
    virtual std::int64_t readAt(void* bytes, std::int64_t count, std::int64_t offset, int& error) = 0;
    // Bytes written from bytes at offset, at least 1 when count > 0; -1 with
    // error set on failure.
    virtual std::int64_t writeAt(const void* bytes, std::int64_t count, std::int64_t offset, int& error) = 0;
    // 0 or the error.
    virtual int setLength(std::int64_t length) = 0;
    virtual int status(SystemFileStatus& status) = 0;
    // Closes; later calls are not allowed. 0 or the error.
    virtual int close() = 0;

    // A read-only view of the file bytes [offset, offset + count), offset a
    // multiple of viewAlignment(); null where the system refuses one (a pipe,
    // a special file) or the binding has none. A view stays valid until
    // unmapped or the file is closed, but reading a byte of it that the file
    // no longer holds (cut since) may kill the process: callers read only
    // below a length they checked.
    virtual const unsigned char* mapView(std::int64_t offset, std::int64_t count) {
        (void)offset;
        (void)count;
        return nullptr;
    }
    virtual void unmapView(const unsigned char* view, std::int64_t count) {
        (void)view;
        (void)count;
    }
    virtual std::int64_t viewAlignment() const { return 4096; }
    // A hint that the file is about to be written over [low, high), beyond
    // its end: the system may set disk room aside for those bytes now, so
    // that writing them later costs less. Changes neither the file's length
    // nor what it reads; false where the system would not.
    virtual bool reserve(std::int64_t low, std::int64_t high) {
        (void)low;
        (void)high;
        return false;
    }
    // Whether reserve can set anything aside here at all.
    virtual bool setsRoomAside() const { return false; }
};

// How to open: the access, and what to do about a missing or existing file.
struct SystemOpenRequest {
    bool read = false;
    bool write = false;
    bool create = false;     // create a missing file
    bool exclusive = false;  // with create: fail when the file exists
    bool truncate = false;   // empty an existing file
    bool noFollow = false;   // refuse a symbolic link as the last name
    bool ownerOnly = false;  // with create: readable and writable by the owner alone
};

}  // namespace Tolm::detail
