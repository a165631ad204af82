// Read-only views of a regular file, one window at a time, read into one
// reused buffer. Reading (pread) into a buffer that stays in the processor's
// cache costs less than touching a fresh mapping of the page cache, whose
// page faults dominate a scan.
//
//     FileWindows file("big.pdf");
//     const char* bytes = file.View(offset, length);  // valid until the next View
//
// Not for use by several threads at once. The opening and the reads are each
// system's (Platform.cpp, WindowsPlatform.cpp); the rest is here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace gearset {

class FileWindows {
public:
    // Opens the file; a missing, unreadable or non-regular file is a
    // ToolFailure naming the path and the system's reason. "-" is standard
    // input: read in place when it is a regular file (offsets count from
    // where it stands, as a reader of the stream would see it), otherwise first copied to a file in the
    // folder for temporary files that goes with the process however it ends (unnamed on POSIX, deleted on
    // close on Windows), since a pipe can be read only once and the windows read any part at any time; memory
    // would not hold it.
    explicit FileWindows(const std::string& path);
    ~FileWindows();
    FileWindows(const FileWindows&) = delete;
    FileWindows& operator=(const FileWindows&) = delete;

    std::int64_t Size() const noexcept { return size_; }
    // Bytes offset .. offset + length - 1, which must lie inside the file.
    // The pointer stays valid until the next View or the destruction.
    const char* View(std::int64_t offset, std::size_t length);

private:
    // Up to size bytes from offset on, 0 past the end; each system's file
    // defines it, a refusal being a StreamRefusal (StreamFile.h).
    std::size_t readAt(std::int64_t offset, char* buffer, std::size_t size);

    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::string path_;
    std::int64_t start_ = 0;  // where offset 0 lies in the file: standard input may stand further on
    std::int64_t size_ = 0;
    std::vector<char> buffer_;
};

}  // namespace gearset
