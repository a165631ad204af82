// The gearset tool's few ties to the operating system: whether a stream is a
// terminal, read-only windows onto a file that may be larger than memory,
// files that can be read only once, and the modes new files get.
// Everything else the tool does goes through the library and the framework.
// A port to another system replaces Platform.cpp alone.
#pragma once

#include <Tolm/File.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

namespace gearset {

// A failure of the tool itself (not a usage mistake): the tool prints the
// message and exits 1.
class ToolFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

bool IsTerminal(std::FILE* stream);

// A path of the command line (UTF-8) as std::filesystem takes it, and back.
// Every path goes through these: std::filesystem reads a plain std::string in
// the ANSI code page on Windows, where a name beyond it would turn into
// another.
inline std::filesystem::path ToPath(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}
inline std::string FromPath(const std::filesystem::path& path) {
    const std::u8string utf8 = path.u8string();
    return std::string(utf8.begin(), utf8.end());
}

// All of standard input, to its end; a read error is a ToolFailure.
std::string ReadStandardInput();

// A source that can be read only once, from start to end, as a framework file:
// a pipe, a FIFO, a device, or a file whose length the system does not know
// beforehand (those of /proc say 0). "-" is standard input. Read fills the
// buffer unless the source ends; the length is what has been read so far, the
// whole source's once Read has come short. Only the current position can be
// sought, and nothing can be written. Read errors are ToolFailures.
std::unique_ptr<Tolm::CBaseFile> OpenSequentialFile(const std::string& path);

// Standard output as a framework file written once from start to end: only
// the current position can be sought, and nothing can be read. Write errors
// (a full disk, a closed pipe) are ToolFailures.
std::unique_ptr<Tolm::CBaseFile> OpenStandardOutput();

// Gives path the owner and group of model where the system allows it (as root,
// or a group the user is in); otherwise leaves path as it is.
void GiveOwnership(const std::string& model, const std::string& path);

// The permission bits a file created with `requested` gets: less the
// process's file-creation mask, as the system applies it.
unsigned NewFileMode(unsigned requested);

// Read-only views of a regular file, one window at a time, read into one
// reused buffer. Reading (pread) into a buffer that stays in the processor's
// cache costs less than touching a fresh mapping of the page cache, whose
// page faults dominate a scan.
//
//     FileWindows file("big.pdf");
//     const char* bytes = file.View(offset, length);  // valid until the next View
//
// Not for use by several threads at once.
class FileWindows {
public:
    // Opens the file; a missing, unreadable or non-regular file is a
    // ToolFailure naming the path and the system's reason. "-" is standard
    // input: read in place when it is a regular file (offsets count from the
    // file's start), otherwise first copied to an unnamed file in TMPDIR, since
    // a pipe can be read only once and the windows read any part at any time.
    explicit FileWindows(const std::string& path);
    ~FileWindows();
    FileWindows(const FileWindows&) = delete;
    FileWindows& operator=(const FileWindows&) = delete;

    std::int64_t Size() const noexcept { return size_; }
    // Bytes offset .. offset + length - 1, which must lie inside the file.
    // The pointer stays valid until the next View or the destruction.
    const char* View(std::int64_t offset, std::size_t length);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::string path_;
    std::int64_t size_ = 0;
};

}  // namespace gearset
