// The system calls one CFile makes of its file, as its window makes them,
// each failure thrown as a file error that names the path, the operation and
// the system's text.
// Owns the system's file until close. Private to Tolmbase (exported for the
// framework's own tests). Not thread-safe: one per open file.
#pragma once

#include "SystemFile.h"

#include <Tolm/String.h>

#include <cstdint>
#include <memory>
#include <string>

namespace Tolm::detail {

class TOLM_API FileCalls {
public:
    FileCalls(const CUnicodeString& path, std::unique_ptr<SystemFile> system);
    FileCalls(const FileCalls&) = delete;
    FileCalls& operator=(const FileCalls&) = delete;

    bool isOpen() const { return system_ != nullptr; }
    const CUnicodeString& path() const { return path_; }
    // The file itself, for its views; only while open.
    SystemFile& system() { return *system_; }

    // Writes all count bytes at offset, in as many calls as it takes. end is
    // raised past each piece as it lands, so that after a failure it still
    // covers what reached the disk.
    void writeAll(const unsigned char* bytes, std::int64_t count, std::int64_t offset, std::int64_t& end);
    // Room set aside on the disk ahead of a nameless file's end, at a time.
    static constexpr std::int64_t kMinReserveBytes = std::int64_t{8} << 20;
    static constexpr std::int64_t kMaxReserveBytes = std::int64_t{64} << 20;
    // Reads up to count bytes at offset; fewer only at the file's end.
    std::int64_t readUpTo(unsigned char* bytes, std::int64_t count, std::int64_t offset);
    void setLength(std::int64_t length);
    // what names the question in a failure's message ("get the length of").
    SystemFileStatus status(const std::string& what);
    // Closes whatever happens; 0 or the system's error, for the caller to throw.
    int close();

    [[noreturn]] void fail(const std::string& what, int systemError) const;

private:
    void reserveAhead(std::int64_t low, std::int64_t high, std::int64_t end);

    CUnicodeString path_;
    std::unique_ptr<SystemFile> system_;  // null once closed
    enum class Reserving { unasked, yes, no } reserving_ = Reserving::unasked;
    std::int64_t reservedEnd_ = 0;
};

}  // namespace Tolm::detail
