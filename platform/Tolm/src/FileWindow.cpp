#include "FileWindow.h"

#include "BitRange.h"
#include "FileSupport.h"

#include <Tolm/File.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <limits>
#include <vector>

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
//  (6) base and every relocation are multiples of kWindowAlign, so the bit
//      maps move by whole words.
// Transfers of kDirectIoBytes or more bypass the window (after writing out
// what of it they overlap), so large sequential transfers are not copied twice.
//
// Reads the window does not know are served from read-only views of the file
// (kViewBytes each, mapped when first needed and kept) where that is safe, and
// by reads at an offset otherwise. A view is read only below diskLength, after
// writing out the dirty bytes the read touches, so a read sees every earlier
// write. Touching a mapped byte the file no longer holds kills the process,
// so views are used only for a file that has lost its name (the record store's
// file): nobody but its holders can cut it, and this object cuts it only through
// SetLength, which lowers diskLength with the cut. A file with a name may be cut by
// anyone at any moment; it is read with reads at an offset, which see the cut.

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

constexpr std::int64_t kInitialBufferBytes = 256 << 10;
constexpr std::int64_t kWindowAlign = 4096;
// A read the window cannot serve loads the aligned block of readAhead bytes
// around it. readAhead starts at the minimum, so that a lone small read (one
// page of a record picked at random) costs one page of disk; it doubles while
// each load lands within kMaxReadAheadBytes of the one before (the other pages
// of a record, forwards or backwards, the next record, a sequential scan) and
// falls back to the minimum after a jump.
constexpr std::int64_t kMinReadAheadBytes = 4 << 10;
constexpr std::int64_t kMaxReadAheadBytes = 128 << 10;
// Transfers this large go straight between the caller's bytes and the disk.
constexpr std::int64_t kDirectIoBytes = 256 << 10;
// Dirty runs closer than this are written as one when the gap allows it (5).
constexpr std::int64_t kBridgeBytes = 16 << 10;
// Views are this large, so that a 32-bit process can hold several, and at most
// kMaxViews are mapped at once (beyond, all are let go and mapped anew): half a
// GiB of address space in a 32-bit process, 16 GiB of a 64-bit one's, so that
// a large store is not mapped again and again.
constexpr std::int64_t kViewBytes = 64 << 20;
constexpr std::size_t kMaxViews = sizeof(void*) >= 8 ? 256 : 8;
// A file that still has its name is asked again after this many reads that
// could have used a view (it may lose the name after it was opened).
constexpr int kNameCheckInterval = 256;

static_assert(kDirectIoBytes * 2 <= CFile::kMaxBufferBytes, "a buffered transfer must fit half a window");
static_assert(kMaxReadAheadBytes <= kInitialBufferBytes / 2, "a read-ahead block must fit a fresh window");
static_assert(kInitialBufferBytes % (kWindowAlign) == 0 && kWindowAlign % kBitsPerWord == 0);

std::int64_t alignDown(std::int64_t value, std::int64_t unit) { return value - value % unit; }

}  // namespace

struct FileWindow::State {
    TOLM_HEAP_THROUGH_FRAMEWORK

    CUnicodeString path;
    std::unique_ptr<SystemFile> system;  // null once closed
    bool canRead = false;
    bool canWrite = false;
    std::int64_t position = 0;
    std::int64_t length = 0;
    std::int64_t diskLength = 0;

    // The window; offsets below are relative to base unless named file*.
    unsigned char* buffer = nullptr;
    Word* known = nullptr;
    Word* dirty = nullptr;
    std::int64_t base = 0;
    std::int64_t capacity = 0;
    std::int64_t usedLow = 0;  // bytes outside [usedLow, usedHigh) are neither known nor dirty
    std::int64_t usedHigh = 0;
    std::int64_t dirtyLow = 0;  // bytes outside [dirtyLow, dirtyHigh) are not dirty
    std::int64_t dirtyHigh = 0;
    unsigned char* scratch = nullptr;  // for reads that must not overwrite known bytes
    std::int64_t scratchSize = 0;
    // Read-ahead state (file offsets of the last load from the disk).
    std::int64_t readAhead = kMinReadAheadBytes;
    std::int64_t lastLoadLow = -1;
    std::int64_t lastLoadHigh = -1;

    // Mapped views by index (offset / kViewBytes); null where not mapped.
    std::vector<const unsigned char*> views;
    std::size_t mappedViews = 0;
    bool viewsRefused = false;  // the system gave no view, or views are off for this file
    int readsUntilNameCheck = 0;

    ~State() {
        releaseViews();
        releaseWindow();
    }

    void releaseViews() noexcept {
        for (const unsigned char*& view : views) {
            if (view) system->unmapView(view, kViewBytes);
            view = nullptr;
        }
        views.clear();
        mappedViews = 0;
    }

    // True when the file's bytes below diskLength may be read through views.
    bool viewsAllowed() {
        if (viewsRefused || !system) return false;
        if (!views.empty()) return true;  // decided when the first view was mapped
        if (readsUntilNameCheck > 0) {
            --readsUntilNameCheck;
            return false;
        }
        SystemFileStatus status;
        if (const int error = system->status(status)) fail("cannot get the status of", error);
        if (!status.isRegular) {
            viewsRefused = true;
            return false;
        }
        if (status.hasName) {
            readsUntilNameCheck = kNameCheckInterval;
            return false;
        }
        return true;
    }
    // The view holding fileOffset, mapped if need be; null when refused.
    const unsigned char* viewAt(std::int64_t fileOffset) {
        const auto index = static_cast<std::size_t>(fileOffset / kViewBytes);
        if (index < views.size() && views[index]) return views[index];
        if (mappedViews >= kMaxViews) releaseViews();
        if (views.size() <= index) views.resize(index + 1, nullptr);
        // The view may reach beyond the file's end; those bytes are never read.
        const unsigned char* view =
            system->mapView(static_cast<std::int64_t>(index) * kViewBytes, kViewBytes);
        if (!view) {
            releaseViews();
            viewsRefused = true;
            return nullptr;
        }
        views[index] = view;
        ++mappedViews;
        return view;
    }
    // Copies the file bytes [fileLow, fileLow + count) from views; false,
    // with nothing copied, when views cannot serve them.
    bool readFromViews(unsigned char* target, std::int64_t fileLow, std::int64_t count) {
        if (!viewsAllowed()) return false;
        if (isDirty() && fileLow < base + dirtyHigh && fileLow + count > base + dirtyLow) flushWindow();
        if (fileLow + count > diskLength) return false;
        for (std::int64_t done = 0; done < count;) {
            const std::int64_t at = fileLow + done;
            const unsigned char* view = viewAt(at);
            if (!view) return false;  // the bytes copied so far are read again
            const std::int64_t inView = at % kViewBytes;
            const std::int64_t n = std::min(count - done, kViewBytes - inView);
            std::memcpy(target + done, view + inView, static_cast<std::size_t>(n));
            done += n;
        }
        return true;
    }

    [[noreturn]] void fail(const std::string& what, int systemError) const {
        throwSystemFileError(what + " " + quotedPath(path), systemError);
    }
    void checkOpen() const {
        if (!system) ThrowFileError("file " + quotedPath(path) + " is closed", EBADF);
    }

    // --- system calls
    void writeAll(const unsigned char* bytes, std::int64_t count, std::int64_t fileOffset) {
        while (count > 0) {
            std::int64_t written;
            int error = 0;
            systemWriteCount.fetch_add(1, std::memory_order_relaxed);
            if (isInjectedFault()) {
                error = faultError.load(std::memory_order_relaxed);
                written = -1;
            } else {
                written = system->writeAt(bytes, count, fileOffset, error);
            }
            if (written <= 0) {
                fail("cannot write " + std::to_string(count) + " bytes at offset " +
                         std::to_string(fileOffset) + " of",
                     error);
            }
            bytes += written;
            count -= written;
            fileOffset += written;
            diskLength = std::max(diskLength, fileOffset);
        }
    }
    // Reads up to count bytes; fewer only at the end of the file on the disk.
    std::int64_t readUpTo(unsigned char* bytes, std::int64_t count, std::int64_t fileOffset) {
        std::int64_t done = 0;
        while (done < count) {
            systemReadCount.fetch_add(1, std::memory_order_relaxed);
            int error = 0;
            const std::int64_t got = system->readAt(bytes + done, count - done, fileOffset + done, error);
            if (got < 0) {
                fail("cannot read " + std::to_string(count) + " bytes at offset " +
                         std::to_string(fileOffset) + " of",
                     error);
            }
            if (got == 0) break;
            done += got;
        }
        return done;
    }
    void truncateTo(std::int64_t newLength) {
        lengthChangeCount.fetch_add(1, std::memory_order_relaxed);
        // Windows cuts no file under a mapped view; the views are mapped
        // again when next read.
        if (newLength < diskLength) releaseViews();
        if (const int error = system->setLength(newLength))
            fail("cannot set the length to " + std::to_string(newLength) + " of", error);
        diskLength = newLength;
    }

    // --- window bookkeeping
    bool hasWindow() const { return capacity > 0; }
    bool isUsed() const { return usedLow < usedHigh; }
    bool isDirty() const { return dirtyLow < dirtyHigh; }
    void noteUsed(std::int64_t low, std::int64_t high) {
        if (!isUsed()) {
            usedLow = low;
            usedHigh = high;
        } else {
            usedLow = std::min(usedLow, low);
            usedHigh = std::max(usedHigh, high);
        }
    }
    void noteDirty(std::int64_t low, std::int64_t high) {
        if (!isDirty()) {
            dirtyLow = low;
            dirtyHigh = high;
        } else {
            dirtyLow = std::min(dirtyLow, low);
            dirtyHigh = std::max(dirtyHigh, high);
        }
    }
    bool contains(std::int64_t fileLow, std::int64_t fileHigh) const {
        return fileLow >= base && fileHigh <= base + capacity;
    }

    void releaseWindow() noexcept {
        doFree(buffer);
        doFree(known);
        doFree(dirty);
        doFree(scratch);
        buffer = nullptr;
        known = dirty = nullptr;
        scratch = nullptr;
        capacity = scratchSize = 0;
        usedLow = usedHigh = dirtyLow = dirtyHigh = 0;
    }

    // The words of the known and dirty maps that cover the used range.
    struct UsedWords {
        std::int64_t first;
        std::int64_t end;
        std::size_t bytes() const { return static_cast<std::size_t>(end - first) * sizeof(Word); }
    };
    UsedWords usedWords() const {
        return {usedLow / kBitsPerWord, (usedHigh + kBitsPerWord - 1) / kBitsPerWord};
    }

    // Forgets every byte of the window; nothing may be dirty.
    void clearWindow() {
        if (isUsed()) {
            const UsedWords used = usedWords();
            std::memset(known + used.first, 0, used.bytes());
            std::memset(dirty + used.first, 0, used.bytes());
        }
        usedLow = usedHigh = dirtyLow = dirtyHigh = 0;
    }

    // Moves the window to newBase with room for newCapacity bytes, keeping
    // every known and dirty byte. The used range must fit the new window.
    void relocate(std::int64_t newBase, std::int64_t newCapacity) {
        if (newCapacity == capacity) {
            shiftInPlace(newBase);
            return;
        }
        const std::size_t words = static_cast<std::size_t>(newCapacity / kBitsPerWord);
        auto* newBuffer = static_cast<unsigned char*>(doAlloc(static_cast<std::size_t>(newCapacity)));
        auto* newKnown = static_cast<Word*>(doAlloc(words * sizeof(Word)));
        auto* newDirty = static_cast<Word*>(doAlloc(words * sizeof(Word)));
        std::memset(newKnown, 0, words * sizeof(Word));
        std::memset(newDirty, 0, words * sizeof(Word));
        const std::int64_t shift = base - newBase;  // a multiple of kWindowAlign
        if (isUsed()) {
            std::memcpy(newBuffer + usedLow + shift, buffer + usedLow,
                        static_cast<std::size_t>(usedHigh - usedLow));
            const UsedWords used = usedWords();
            const std::int64_t wordShift = shift / kBitsPerWord;
            std::memcpy(newKnown + used.first + wordShift, known + used.first, used.bytes());
            std::memcpy(newDirty + used.first + wordShift, dirty + used.first, used.bytes());
        }
        doFree(buffer);
        doFree(known);
        doFree(dirty);
        buffer = newBuffer;
        known = newKnown;
        dirty = newDirty;
        if (isUsed()) moveRanges(shift);
        base = newBase;
        capacity = newCapacity;
    }

    void shiftInPlace(std::int64_t newBase) {
        const std::int64_t shift = base - newBase;  // a multiple of kWindowAlign
        if (isUsed() && shift != 0) {
            std::memmove(buffer + usedLow + shift, buffer + usedLow,
                         static_cast<std::size_t>(usedHigh - usedLow));
            const UsedWords used = usedWords();
            const std::int64_t firstWord = used.first;
            const std::int64_t endWord = used.end;
            const std::int64_t wordShift = shift / kBitsPerWord;
            std::memmove(known + firstWord + wordShift, known + firstWord, used.bytes());
            std::memmove(dirty + firstWord + wordShift, dirty + firstWord, used.bytes());
            // Words the move left behind (outside the new place) are cleared.
            const std::int64_t clearLow = shift > 0 ? firstWord : std::max(firstWord, endWord + wordShift);
            const std::int64_t clearHigh = shift > 0 ? std::min(endWord, firstWord + wordShift) : endWord;
            if (clearLow < clearHigh) {
                const auto clearBytes = static_cast<std::size_t>(clearHigh - clearLow) * sizeof(Word);
                std::memset(known + clearLow, 0, clearBytes);
                std::memset(dirty + clearLow, 0, clearBytes);
            }
            moveRanges(shift);
        }
        base = newBase;
    }

    // The used and dirty ranges follow their bytes when the window moves by
    // shift (nothing is dirty outside the used range).
    void moveRanges(std::int64_t shift) {
        usedLow += shift;
        usedHigh += shift;
        if (isDirty()) {
            dirtyLow += shift;
            dirtyHigh += shift;
        }
    }

    // Makes the file bytes [fileLow, fileHigh) addressable in the window
    // (fileHigh - fileLow < kDirectIoBytes). A window of clean bytes only is
    // forgotten and placed anew. One with dirty bytes is moved (or grown)
    // while what it holds spans at most half of it; otherwise it is written
    // out and placed anew around the new bytes.
    void ensureWindow(std::int64_t fileLow, std::int64_t fileHigh) {
        if (hasWindow() && contains(fileLow, fileHigh)) return;
        if (!isUsed()) {
            // Empty: a quarter of the room behind the new bytes, the rest ahead.
            std::int64_t newCapacity = std::max(capacity, kInitialBufferBytes);
            while (newCapacity < 2 * (fileHigh - fileLow) && newCapacity < CFile::kMaxBufferBytes)
                newCapacity *= 2;
            const std::int64_t newBase =
                alignDown(std::max<std::int64_t>(0, fileLow - newCapacity / 4), kWindowAlign);
            if (newCapacity != capacity) {
                relocate(newBase, newCapacity);
            } else {
                base = newBase;
            }
            return;
        }
        if (!isDirty()) {
            // Only clean copies of the disk: cheaper to forget than to move.
            clearWindow();
            ensureWindow(fileLow, fileHigh);
            return;
        }
        const std::int64_t spanLow = std::min(base + usedLow, fileLow);
        const std::int64_t spanHigh = std::max(base + usedHigh, fileHigh);
        const std::int64_t span = spanHigh - spanLow;
        std::int64_t newCapacity = capacity;
        while (newCapacity < 2 * span && newCapacity < CFile::kMaxBufferBytes) newCapacity *= 2;
        if (2 * span <= newCapacity) {
            // Centre what is held, leaving room to move either way.
            const std::int64_t newBase =
                alignDown(std::max<std::int64_t>(0, spanLow - (newCapacity - span) / 2), kWindowAlign);
            relocate(newBase, newCapacity);
            return;
        }
        flushWindow();
        clearWindow();
        ensureWindow(fileLow, fileHigh);  // now empty: placed (and grown) around the new bytes
    }

    // Writes every dirty byte out, as rule (5) describes. On failure the runs
    // not yet written stay dirty, so a later flush tries them again.
    void flushWindow() {
        if (!isDirty()) return;
        std::int64_t at = dirtyLow;
        const std::int64_t end = dirtyHigh;
        while (at < end) {
            const std::int64_t runLow = findBit(dirty, at, end, true);
            if (runLow >= end) break;
            std::int64_t runHigh = findBit(dirty, runLow, end, false);
            for (;;) {
                const std::int64_t next = findBit(dirty, runHigh, end, true);
                if (next >= end || !bridgeGap(runHigh, next)) break;
                runHigh = findBit(dirty, next, end, false);
            }
            dirtyLow = runLow;  // what stays dirty if this write fails
            writeAll(buffer + runLow, runHigh - runLow, base + runLow);
            clearBits(dirty, runLow, runHigh);
            at = runHigh;
        }
        dirtyLow = dirtyHigh = 0;
    }

    // True when the clean bytes [gapLow, gapHigh) may be written with the
    // dirty runs around them (rule 5); zeroes the part beyond the disk's end.
    bool bridgeGap(std::int64_t gapLow, std::int64_t gapHigh) {
        if (gapHigh - gapLow > kBridgeBytes) return false;
        const std::int64_t diskEnd = std::clamp(diskLength - base, gapLow, gapHigh);
        if (!allBitsSet(known, gapLow, diskEnd)) return false;
        if (diskEnd < gapHigh) {
            std::memset(buffer + diskEnd, 0, static_cast<std::size_t>(gapHigh - diskEnd));
            setBits(known, diskEnd, gapHigh);
        }
        return true;
    }

    void flushAll() {
        flushWindow();
        if (length > diskLength) truncateTo(length);
    }

    // The file ends at fileEnd, before where this object thought: someone
    // else cut it. Its bytes beyond are gone; a reader sees the new end (a
    // writer keeps its own length, and the missing bytes read as zero by
    // rule 4).
    void noteEndFound(std::int64_t fileEnd) {
        diskLength = fileEnd;
        if (!canWrite) length = std::min(length, fileEnd);
    }

    // A file open for reading only may change under us: its length is the
    // one the system gives now. Bytes known from where the old and new
    // lengths part are forgotten, since they may no longer be the file's.
    void refreshLength() {
        if (canWrite) return;  // a writer's length is its own (rule 3)
        SystemFileStatus status;
        if (const int error = system->status(status)) fail("cannot get the length of", error);
        const std::int64_t size = status.length;
        if (size == diskLength && size == length) return;
        forgetFrom(std::min(size, diskLength));
        length = diskLength = size;
    }
    void forgetFrom(std::int64_t fileOffset) {
        if (!isUsed() || fileOffset >= base + usedHigh) return;
        const std::int64_t cut = std::max(fileOffset - base, usedLow);
        clearBits(known, cut, usedHigh);
        usedHigh = cut;
        if (usedHigh <= usedLow) usedLow = usedHigh = 0;
    }

    // Makes the file bytes [fileLow, fileHigh) known, loading the aligned
    // block around them with one read. The bytes must lie in the window and
    // below length.
    void loadKnown(std::int64_t fileLow, std::int64_t fileHigh) {
        std::int64_t low = fileLow - base;
        std::int64_t high = fileHigh - base;
        if (allBitsSet(known, low, high)) return;
        const bool isNearLastLoad =
            fileLow < lastLoadHigh + kMaxReadAheadBytes && fileHigh + kMaxReadAheadBytes > lastLoadLow;
        readAhead = isNearLastLoad ? std::min(2 * readAhead, kMaxReadAheadBytes) : kMinReadAheadBytes;
        const std::int64_t blockLow = alignDown(fileLow, readAhead);
        low = std::max(blockLow, base) - base;
        high = std::max(std::min({blockLow + readAhead, base + capacity, length}), fileHigh) - base;
        // Narrow to the unknown bytes at both ends.
        low = findBit(known, low, high, false);
        high = findLastBit(known, low, high, false) + 1;
        const std::int64_t diskEnd = std::clamp(diskLength - base, low, high);
        if (low < diskEnd) {
            const std::int64_t count = diskEnd - low;
            if (findBit(known, low, diskEnd, true) == diskEnd) {
                const std::int64_t got = readUpTo(buffer + low, count, base + low);
                if (got < count) {
                    std::memset(buffer + low + got, 0, static_cast<std::size_t>(count - got));
                    noteEndFound(base + low + got);
                }
            } else {
                // Known bytes inside (some may be dirty): read aside and
                // take only the bytes the window does not know.
                if (scratchSize < count) {
                    doFree(scratch);
                    scratch = nullptr;
                    scratchSize = 0;
                    const std::int64_t size = std::max(count, kMaxReadAheadBytes);
                    scratch = static_cast<unsigned char*>(doAlloc(static_cast<std::size_t>(size)));
                    scratchSize = size;
                }
                const std::int64_t got = readUpTo(scratch, count, base + low);
                if (got < count) {
                    std::memset(scratch + got, 0, static_cast<std::size_t>(count - got));
                    noteEndFound(base + low + got);
                }
                copyUnknown(scratch, low, diskEnd);
            }
        }
        // Beyond the disk's end every byte that is not dirty is zero (rule 4).
        for (std::int64_t at = diskEnd; at < high;) {
            const std::int64_t zeroLow = findBit(known, at, high, false);
            const std::int64_t zeroHigh = findBit(known, zeroLow, high, true);
            std::memset(buffer + zeroLow, 0, static_cast<std::size_t>(zeroHigh - zeroLow));
            at = zeroHigh;
        }
        setBits(known, low, high);
        noteUsed(low, high);
        lastLoadLow = base + low;
        lastLoadHigh = base + high;
    }

    // Copies source[i - low] to buffer[i] for every unknown i in [low, high).
    void copyUnknown(const unsigned char* source, std::int64_t low, std::int64_t high) {
        for (std::int64_t at = low; at < high;) {
            const std::int64_t runLow = findBit(known, at, high, false);
            const std::int64_t runHigh = findBit(known, runLow, high, true);
            std::memcpy(buffer + runLow, source + (runLow - low), static_cast<std::size_t>(runHigh - runLow));
            at = runHigh;
        }
    }

    void putInWindow(const unsigned char* bytes, std::int64_t fileLow, std::int64_t count) {
        const std::int64_t low = fileLow - base;
        std::memcpy(buffer + low, bytes, static_cast<std::size_t>(count));
        setBits(known, low, low + count);
        setBits(dirty, low, low + count);
        noteUsed(low, low + count);
        noteDirty(low, low + count);
    }

    // Reads count bytes at the position, fewer when the file turns out to
    // end sooner (cut by someone else): never bytes that are not there.
    int readSlow(unsigned char* target, std::int64_t count) {
        const std::int64_t fileLow = position;
        const std::int64_t fileHigh = position + count;
        if (readFromViews(target, fileLow, count)) {
            // Known clean bytes of the window equal the file's; dirty ones
            // were written out above.
        } else if (count >= kDirectIoBytes) {
            if (isDirty() && fileLow < base + dirtyHigh && fileHigh > base + dirtyLow) flushWindow();
            const std::int64_t fromDisk = std::clamp(diskLength - fileLow, std::int64_t{0}, count);
            const std::int64_t got = fromDisk > 0 ? readUpTo(target, fromDisk, fileLow) : 0;
            if (got < fromDisk) noteEndFound(fileLow + got);
            count = std::min(count, std::max<std::int64_t>(0, length - fileLow));
            if (got < count) std::memset(target + got, 0, static_cast<std::size_t>(count - got));
            // Bytes the window knows may be newer than the disk only if dirty,
            // and those were written out above; known clean bytes equal it.
        } else {
            ensureWindow(fileLow, fileHigh);
            loadKnown(fileLow, fileHigh);
            count = std::min(count, std::max<std::int64_t>(0, length - fileLow));
            std::memcpy(target, buffer + (fileLow - base), static_cast<std::size_t>(count));
        }
        position = fileLow + count;
        return static_cast<int>(count);
    }

    void writeSlow(const unsigned char* bytes, std::int64_t count) {
        const std::int64_t fileLow = position;
        const std::int64_t fileHigh = position + count;
        if (count >= kDirectIoBytes) {
            if (isUsed() && fileLow < base + usedHigh && fileHigh > base + usedLow) {
                // The window's copy of these bytes is about to be stale.
                flushWindow();
                const std::int64_t low = std::max(fileLow - base, usedLow);
                const std::int64_t high = std::min(fileHigh - base, usedHigh);
                clearBits(known, low, high);
            }
            writeAll(bytes, count, fileLow);
        } else {
            ensureWindow(fileLow, fileHigh);
            putInWindow(bytes, fileLow, count);
        }
        position = fileHigh;
        length = std::max(length, fileHigh);
    }
};

FileWindow::FileWindow(const CUnicodeString& path, std::unique_ptr<SystemFile> system, bool canRead,
                       bool canWrite, std::int64_t length)
    : s_(std::make_unique<State>()) {
    s_->path = path;
    s_->system = std::move(system);
    s_->canRead = canRead;
    s_->canWrite = canWrite;
    s_->length = s_->diskLength = length;
}

FileWindow::~FileWindow() = default;

bool FileWindow::isOpen() const { return s_->system != nullptr; }
std::int64_t FileWindow::position() const { return s_->position; }
void FileWindow::moveTo(std::int64_t position) { s_->position = position; }
std::int64_t FileWindow::lengthAsKnown() const { return s_->length; }
std::int64_t FileWindow::length() {
    s_->refreshLength();
    return s_->length;
}

int FileWindow::read(void* buffer, int count) {
    State& f = *s_;
    std::int64_t available = f.length - f.position;
    if (available <= 0) {
        // The end as last seen; a reader's file may have grown since.
        f.refreshLength();
        available = f.length - f.position;
        if (available <= 0) return 0;
    }
    const std::int64_t n = std::min<std::int64_t>(count, available);
    const std::int64_t low = f.position - f.base;
    // The common case: the bytes are known to the window.
    if (f.contains(f.position, f.position + n) && allBitsSet(f.known, low, low + n)) {
        std::memcpy(buffer, f.buffer + low, static_cast<std::size_t>(n));
        f.position += n;
        return static_cast<int>(n);
    }
    return f.readSlow(static_cast<unsigned char*>(buffer), n);
}

void FileWindow::write(const void* buffer, int count) {
    State& f = *s_;
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    // The common case: the bytes land in the window.
    if (f.contains(f.position, f.position + count) && count < kDirectIoBytes) {
        f.putInWindow(bytes, f.position, count);
        f.position += count;
        if (f.position > f.length) f.length = f.position;
        return;
    }
    f.writeSlow(bytes, count);
}

void FileWindow::setLength(std::int64_t length) {
    State& f = *s_;
    if (length >= f.length) {
        // Noted only; the disk follows at the next flush (rule 3).
        f.length = length;
        return;
    }
    // Cutting: bytes of the window beyond the new end are forgotten.
    if (f.isUsed() && length < f.base + f.usedHigh) {
        const std::int64_t cut = std::max(length - f.base, f.usedLow);
        clearBits(f.known, cut, f.usedHigh);
        clearBits(f.dirty, cut, f.usedHigh);
        f.usedHigh = cut;
        if (f.usedHigh <= f.usedLow) f.usedLow = f.usedHigh = 0;
        if (f.isDirty()) {
            f.dirtyHigh = std::min(f.dirtyHigh, cut);
            if (f.dirtyHigh <= f.dirtyLow) f.dirtyLow = f.dirtyHigh = 0;
        }
    }
    if (length < f.diskLength) f.truncateTo(length);
    f.length = length;
}

void FileWindow::flush() { s_->flushAll(); }

void FileWindow::close() {
    State& f = *s_;
    if (!f.system) return;
    try {
        if (f.canWrite) f.flushAll();
    } catch (...) {
        f.releaseViews();
        f.system->close();
        f.system.reset();
        f.releaseWindow();
        throw;
    }
    f.releaseViews();
    const int error = f.system->close();
    f.system.reset();
    f.releaseWindow();
    if (error != 0) throwSystemFileError("cannot close " + quotedPath(f.path), error);
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
