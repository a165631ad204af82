// CFile's private helper over one file of the system: a write-back window
// over a bounded stretch of the file (its rules numbered (1)-(6) in
// WriteBackWindow.cpp), read-ahead, and views of a nameless file (rules in
// ViewCache.cpp), composed. Private to Tolmbase (exported for the framework's own
// tests, which put it over a file of their own). Not thread-safe.
#pragma once

#include "SystemFile.h"

#include <Tolm/String.h>

#include <cstdint>
#include <memory>

namespace Tolm::detail {

class TOLM_API FileWindow {
public:
    // Over an open file of the given length; path names it in messages.
    FileWindow(const CUnicodeString& path, std::unique_ptr<SystemFile> system, bool canRead, bool canWrite,
               std::int64_t length);
    ~FileWindow();
    FileWindow(const FileWindow&) = delete;
    FileWindow& operator=(const FileWindow&) = delete;

    bool isOpen() const;
    std::int64_t position() const;
    void moveTo(std::int64_t position);
    // The length as last seen, and as the system gives it now to a reader.
    std::int64_t lengthAsKnown() const;
    std::int64_t length();

    // As CFile's calls of the same names, on checked arguments (count > 0,
    // a buffer, the access the file was opened for).
    int read(void* buffer, int count);
    void write(const void* buffer, int count);
    // As CFile::Lend, on checked arguments (count > 0, readable file).
    struct Lent {
        const unsigned char* bytes;
        int count;
        std::int64_t before = 0;  // file bytes around them in the same memory
        std::int64_t after = 0;
        bool isInView = false;
    };
    Lent lend(std::int64_t offset, int count, unsigned char* scratch);
    void prefetch(std::int64_t offset) const noexcept;
    std::uint64_t viewsLetGo() const noexcept;
    void setLength(std::int64_t length);
    void flush();
    // Writes out and closes; after a failed write-out the file is closed all
    // the same and the error thrown.
    void close();

private:
    struct State;
    std::unique_ptr<State> s_;
};

}  // namespace Tolm::detail
