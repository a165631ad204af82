#include "WriteBackWindow.h"

#include <Tolm/File.h>

#include <algorithm>
#include <cstring>

// Design notes on the window.
//
// The record store moves a page as a seek, three 4-byte writes and one data
// write, pages going backwards within groups of five and forwards from group to
// group, with the file lengthened five pages at a time. One system call per
// call would make it syscall-bound, so CFile keeps one window: a buffer that
// stands for the file bytes [base, base + capacity), and two bit maps over it.
//
//  (1) A byte of the window is "known" when the buffer holds its current
//      content: written through this object, or read from the disk. Reads are
//      served from known bytes only.
//  (2) A byte is "dirty" when it was written and not yet given to the system.
//      Every dirty byte is known.
//  (3) length is the file's logical length; diskLength the length of the file
//      on the disk as far as this object has made it. diskLength <= length
//      always: lengthening through SetLength is only noted and reaches the
//      disk (ftruncate) at the next flush, so the store's refills cost nothing.
//  (4) A byte at or beyond diskLength that is not dirty reads as zero; a known
//      byte there holds zero in the buffer.
//  (5) A flush writes each run of dirty bytes with one pwrite. Two runs are
//      written as one when the gap between them is short and every gap byte is
//      either known (rewriting it changes nothing) or at or beyond diskLength
//      (it is zero, and zero is written). Bytes the window does not know are
//      never written, so a flush cannot put stale bytes over the file, and it
//      never lengthens the file beyond a byte that was written or a length
//      that was set.
//  (6) base and every relocation are multiples of WindowBuffer::kAlign, so the
//      bit maps move by whole words.
//  (7) The system keeps a file's cached pages in blocks of up to
//      kWholeBlockBytes when one write covers such a block whole, and then
//      maps it into a view with a single entry: the first touch of a view
//      costs one fault per block instead of one per few pages. So a window of
//      two blocks or more starts at a block boundary, and a flush widens a run
//      to the boundary on either side with zero bytes at or beyond diskLength
//      (as (5) bridges a gap), where that completes the block within the
//      window and the file's length. A file written front to back then
//      reaches the disk in whole blocks.
// Transfers of kDirectIoBytes or more bypass the window (after writing out
// what of it they overlap), so large sequential transfers are not copied twice.

namespace Tolm::detail {

namespace {

constexpr std::int64_t kInitialBufferBytes = 256 << 10;
// Dirty runs closer than this are written as one when the gap allows it (5).
constexpr std::int64_t kBridgeBytes = 16 << 10;
// The block the system caches whole when one write covers it (rule 7).
constexpr std::int64_t kWholeBlockBytes = 2 << 20;

static_assert(WriteBackWindow::kDirectIoBytes * 2 <= CFile::kMaxBufferBytes,
              "a buffered transfer must fit half a window");
static_assert(ReadAhead::kMaxReadAheadBytes <= kInitialBufferBytes / 2,
              "a read-ahead block must fit a fresh window");
static_assert(kInitialBufferBytes % WindowBuffer::kAlign == 0 && WindowBuffer::kAlign % kBitsPerWord == 0);

std::int64_t alignDown(std::int64_t value, std::int64_t unit) { return value - value % unit; }
std::int64_t alignUp(std::int64_t value, std::int64_t unit) { return alignDown(value + unit - 1, unit); }

}  // namespace

WriteBackWindow::WriteBackWindow(FileCalls& calls, bool canWrite, std::int64_t length)
    : calls_(calls), canWrite_(canWrite), length_(length), diskLength_(length) {}

// A window of clean bytes only is forgotten and placed anew. One with dirty
// bytes is moved (or grown) while what it holds spans at most half of it;
// otherwise it is written out and placed anew around the new bytes.
void WriteBackWindow::place(std::int64_t fileLow, std::int64_t fileHigh) {
    WindowBuffer& m = memory_;
    if (m.hasWindow() && m.contains(fileLow, fileHigh)) return;
    if (!m.isUsed()) {
        // Empty: a quarter of the room behind the new bytes, the rest ahead.
        std::int64_t newCapacity = std::max(m.capacity, kInitialBufferBytes);
        while (newCapacity < 2 * (fileHigh - fileLow) && newCapacity < CFile::kMaxBufferBytes)
            newCapacity *= 2;
        const std::int64_t unit =
            newCapacity >= 2 * kWholeBlockBytes ? kWholeBlockBytes : WindowBuffer::kAlign;
        const std::int64_t newBase = alignDown(std::max<std::int64_t>(0, fileLow - newCapacity / 4), unit);
        if (newCapacity != m.capacity) {
            m.relocate(newBase, newCapacity);
        } else {
            m.base = newBase;
        }
        return;
    }
    if (!m.isDirty()) {
        // Only clean copies of the disk: cheaper to forget than to move.
        m.clear();
        place(fileLow, fileHigh);
        return;
    }
    const std::int64_t spanLow = std::min(m.base + m.usedLow, fileLow);
    const std::int64_t spanHigh = std::max(m.base + m.usedHigh, fileHigh);
    const std::int64_t span = spanHigh - spanLow;
    std::int64_t newCapacity = m.capacity;
    while (newCapacity < 2 * span && newCapacity < CFile::kMaxBufferBytes) newCapacity *= 2;
    if (2 * span <= newCapacity) {
        // Centre what is held, leaving room to move either way.
        const std::int64_t newBase =
            alignDown(std::max<std::int64_t>(0, spanLow - (newCapacity - span) / 2), WindowBuffer::kAlign);
        m.relocate(newBase, newCapacity);
        return;
    }
    flush();
    m.clear();
    place(fileLow, fileHigh);  // now empty: placed (and grown) around the new bytes
}

FileRange WriteBackWindow::load(FileRange block, std::int64_t fileHigh) {
    WindowBuffer& m = memory_;
    std::int64_t low = std::max(block.low, m.base) - m.base;
    std::int64_t high = std::max(std::min({block.high, m.base + m.capacity, length_}), fileHigh) - m.base;
    // Narrow to the unknown bytes at both ends.
    low = findBit(m.known, low, high, false);
    high = findLastBit(m.known, low, high, false) + 1;
    const std::int64_t diskEnd = std::clamp(diskLength_ - m.base, low, high);
    if (low < diskEnd) {
        const std::int64_t count = diskEnd - low;
        const bool isAllUnknown = findBit(m.known, low, diskEnd, true) == diskEnd;
        // Known bytes inside (some may be dirty) must not be overwritten:
        // then the bytes are read aside and only the unknown ones taken.
        unsigned char* target = isAllUnknown ? m.buffer + low : m.scratchOf(count);
        const std::int64_t got = calls_.readUpTo(target, count, m.base + low);
        if (got < count) {
            std::memset(target + got, 0, static_cast<std::size_t>(count - got));
            noteEndFound(m.base + low + got);
        }
        if (!isAllUnknown) m.copyUnknown(target, low, diskEnd);
    }
    // Beyond the disk's end every byte that is not dirty is zero (rule 4).
    for (std::int64_t at = diskEnd; at < high;) {
        const std::int64_t zeroLow = findBit(m.known, at, high, false);
        const std::int64_t zeroHigh = findBit(m.known, zeroLow, high, true);
        std::memset(m.buffer + zeroLow, 0, static_cast<std::size_t>(zeroHigh - zeroLow));
        at = zeroHigh;
    }
    setBits(m.known, low, high);
    m.noteUsed(low, high);
    return {m.base + low, m.base + high};
}

void WriteBackWindow::write(const unsigned char* bytes, std::int64_t fileLow, std::int64_t count) {
    WindowBuffer& m = memory_;
    const std::int64_t fileHigh = fileLow + count;
    if (count >= kDirectIoBytes) {
        if (m.isUsed() && fileLow < m.base + m.usedHigh && fileHigh > m.base + m.usedLow) {
            // The window's copy of these bytes is about to be stale.
            flush();
            clearBits(m.known, std::max(fileLow - m.base, m.usedLow),
                      std::min(fileHigh - m.base, m.usedHigh));
        }
        calls_.writeAll(bytes, count, fileLow, diskLength_);
    } else {
        place(fileLow, fileHigh);
        m.put(bytes, fileLow, count);
    }
    length_ = std::max(length_, fileHigh);
}

std::int64_t WriteBackWindow::readDirect(unsigned char* target, std::int64_t fileLow, std::int64_t count) {
    // Bytes the window knows may be newer than the disk only if dirty, and
    // those are written out first; known clean bytes equal it.
    flushWithin(fileLow, fileLow + count);
    const std::int64_t fromDisk = std::clamp(diskLength_ - fileLow, std::int64_t{0}, count);
    const std::int64_t got = fromDisk > 0 ? calls_.readUpTo(target, fromDisk, fileLow) : 0;
    if (got < fromDisk) noteEndFound(fileLow + got);
    count = std::min(count, std::max<std::int64_t>(0, length_ - fileLow));
    if (got < count) std::memset(target + got, 0, static_cast<std::size_t>(count - got));
    return count;
}

void WriteBackWindow::flush() {
    WindowBuffer& m = memory_;
    if (!m.isDirty()) return;
    std::int64_t at = m.dirtyLow;
    const std::int64_t end = m.dirtyHigh;
    while (at < end) {
        const std::int64_t runLow = findBit(m.dirty, at, end, true);
        if (runLow >= end) break;
        std::int64_t runHigh = findBit(m.dirty, runLow, end, false);
        for (;;) {
            const std::int64_t next = findBit(m.dirty, runHigh, end, true);
            if (next >= end || !bridgeGap(runHigh, next)) break;
            runHigh = findBit(m.dirty, next, end, false);
        }
        m.dirtyLow = runLow;  // what stays dirty if this write fails
        const FileRange written = widenToBlocks({runLow, runHigh});
        calls_.writeAll(m.buffer + written.low, written.high - written.low, m.base + written.low,
                        diskLength_);
        clearBits(m.dirty, runLow, runHigh);
        at = runHigh;
    }
    m.dirtyLow = m.dirtyHigh = 0;
}

// True when the clean bytes [gapLow, gapHigh) may be written with the dirty
// runs around them (rule 5); zeroes the part beyond the disk's end.
bool WriteBackWindow::bridgeGap(std::int64_t gapLow, std::int64_t gapHigh) {
    WindowBuffer& m = memory_;
    if (gapHigh - gapLow > kBridgeBytes) return false;
    const std::int64_t diskEnd = std::clamp(diskLength_ - m.base, gapLow, gapHigh);
    if (!allBitsSet(m.known, gapLow, diskEnd)) return false;
    if (diskEnd < gapHigh) {
        std::memset(m.buffer + diskEnd, 0, static_cast<std::size_t>(gapHigh - diskEnd));
        setBits(m.known, diskEnd, gapHigh);
    }
    return true;
}

// The run [low, high) (offsets in the window) widened on each side to a block boundary
// with zero bytes of new file, where the boundary lies within the window and
// the file's length and no dirty byte lies between (rule 7).
FileRange WriteBackWindow::widenToBlocks(FileRange run) {
    WindowBuffer& m = memory_;
    const std::int64_t diskEnd = diskLength_ - m.base;
    const std::int64_t blockLow = alignDown(m.base + run.low, kWholeBlockBytes) - m.base;
    if (blockLow < run.low && blockLow >= 0 && blockLow >= diskEnd) {
        zeroNewFile(blockLow, run.low);
        run.low = blockLow;
    }
    const std::int64_t blockHigh = alignUp(m.base + run.high, kWholeBlockBytes) - m.base;
    if (run.high < blockHigh && run.high >= diskEnd && blockHigh <= m.capacity &&
        m.base + blockHigh <= length_ && findBit(m.dirty, run.high, blockHigh, true) == blockHigh) {
        zeroNewFile(run.high, blockHigh);
        run.high = blockHigh;
    }
    return run;
}

// Known zero bytes at [low, high), all at or beyond the disk's end (rule 4).
void WriteBackWindow::zeroNewFile(std::int64_t low, std::int64_t high) {
    WindowBuffer& m = memory_;
    std::memset(m.buffer + low, 0, static_cast<std::size_t>(high - low));
    setBits(m.known, low, high);
    m.noteUsed(low, high);
}

void WriteBackWindow::flushAll() {
    flush();
    if (length_ > diskLength_) {
        calls_.setLength(length_);
        diskLength_ = length_;
    }
}

void WriteBackWindow::setLength(std::int64_t length) {
    if (length >= length_) {
        // Noted only; the disk follows at the next flush (rule 3).
        length_ = length;
        return;
    }
    // Cutting: bytes of the window beyond the new end are forgotten.
    memory_.forgetFrom(length, true);
    if (length < diskLength_) {
        calls_.setLength(length);
        diskLength_ = length;
    }
    length_ = length;
}

// The file ends at fileEnd, before where this object thought: someone else cut
// it. Its bytes beyond are gone; a reader sees the new end (a writer keeps its
// own length, and the missing bytes read as zero by rule 4).
void WriteBackWindow::noteEndFound(std::int64_t fileEnd) {
    diskLength_ = fileEnd;
    if (!canWrite_) length_ = std::min(length_, fileEnd);
}

// A file open for reading only may change under us. Bytes known from where the
// old and new lengths part are forgotten, since they may no longer be the file's.
void WriteBackWindow::refreshLength() {
    if (canWrite_) return;  // a writer's length is its own (rule 3)
    const std::int64_t size = calls_.status("get the length of").length;
    if (size == diskLength_ && size == length_) return;
    memory_.forgetFrom(std::min(size, diskLength_), false);
    length_ = diskLength_ = size;
}

}  // namespace Tolm::detail
