// CFile's write-back window: a bounded stretch of the file held in memory
// (WindowBuffer), the file's logical length and its length on the disk, and
// the moves that keep the rules (1)-(6) of WriteBackWindow.cpp: placing the
// window, loading what a read needs, writing out what is dirty, and transfers
// too large to pass through it. Private to Tolmbase; one per open file.
#pragma once

#include "FileCalls.h"
#include "ReadAhead.h"
#include "WindowBuffer.h"

#include <cstdint>

namespace Tolm::detail {

class WriteBackWindow {
public:
    // Transfers this large go straight between the caller's bytes and the disk.
    static constexpr std::int64_t kDirectIoBytes = 256 << 10;

    // Over a file of the given length; a writer's length is its own, a
    // reader's follows the disk.
    WriteBackWindow(FileCalls& calls, bool canWrite, std::int64_t length);
    WriteBackWindow(const WriteBackWindow&) = delete;
    WriteBackWindow& operator=(const WriteBackWindow&) = delete;

    std::int64_t length() const { return length_; }
    std::int64_t diskLength() const { return diskLength_; }
    const WindowBuffer& memory() const { return memory_; }

    // Makes the file bytes [fileLow, fileHigh) addressable in the window
    // (fewer than kDirectIoBytes), writing out what it held if need be.
    void place(std::int64_t fileLow, std::int64_t fileHigh);
    // Loads the block around a read that ends at fileHigh, with one read:
    // its bytes the window does not know, within the window and below length
    // but reaching fileHigh (the read's bytes must be placed). The range
    // loaded.
    FileRange load(FileRange block, std::int64_t fileHigh);
    // Puts count bytes at fileLow: into the window, or straight to the disk
    // when they are many.
    void write(const unsigned char* bytes, std::int64_t fileLow, std::int64_t count);
    // Reads count bytes at fileLow straight from the disk, after writing out
    // the dirty ones among them; the bytes below length, fewer when the file
    // turns out to end sooner.
    std::int64_t readDirect(unsigned char* target, std::int64_t fileLow, std::int64_t count);

    // Writes out every dirty byte (rule 5); on failure what was not written
    // stays dirty.
    void flush();
    void flushWithin(std::int64_t fileLow, std::int64_t fileHigh) {
        if (memory_.isDirtyWithin(fileLow, fileHigh)) flush();
    }
    // flush, then the disk lengthened to length (rule 3).
    void flushAll();

    // The logical length set. A length below the disk's is a cut the caller
    // makes first (cutDisk), with nothing of the file mapped.
    void setLength(std::int64_t length);
    void cutDisk(std::int64_t length);
    // A reader's length as the system gives it now (rule 3).
    void refreshLength();
    void release() noexcept { memory_.release(); }

private:
    bool bridgeGap(std::int64_t gapLow, std::int64_t gapHigh);
    FileRange widenToBlocks(FileRange run);
    void zeroNewFile(std::int64_t low, std::int64_t high);
    void noteEndFound(std::int64_t fileEnd);

    FileCalls& calls_;
    const bool canWrite_;
    std::int64_t length_ = 0;
    std::int64_t diskLength_ = 0;
    WindowBuffer memory_;
};

}  // namespace Tolm::detail
