// The memory of CFile's write-back window: a buffer that stands for the file
// bytes [base, base + capacity), and two bit maps over it, of the bytes it
// knows and of those still to be written. It moves and grows keeping what it
// holds; WriteBackWindow decides where it goes and keeps the rules (1)-(6) of
// WriteBackWindow.cpp. Offsets are relative to base unless named file*.
// Private to Tolmbase; one per open file.
#pragma once

#include "BitRange.h"
#include "ReadAhead.h"

#include <cstdint>

namespace Tolm::detail {

struct WindowBuffer {
    // base and every move are multiples of this, so that the maps move by
    // whole words (rule 6).
    static constexpr std::int64_t kAlign = 4096;
    // A scratch buffer takes a whole read-ahead block, so that one serves
    // every load.
    static constexpr std::int64_t kMinScratchBytes = ReadAhead::kMaxReadAheadBytes;

    WindowBuffer() = default;
    WindowBuffer(const WindowBuffer&) = delete;
    WindowBuffer& operator=(const WindowBuffer&) = delete;
    ~WindowBuffer() { release(); }

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

    bool hasWindow() const { return capacity > 0; }
    bool isUsed() const { return usedLow < usedHigh; }
    bool isDirty() const { return dirtyLow < dirtyHigh; }
    bool contains(std::int64_t fileLow, std::int64_t fileHigh) const {
        return fileLow >= base && fileHigh <= base + capacity;
    }
    bool knows(std::int64_t fileLow, std::int64_t fileHigh) const {
        return contains(fileLow, fileHigh) && allBitsSet(known, fileLow - base, fileHigh - base);
    }
    bool isDirtyWithin(std::int64_t fileLow, std::int64_t fileHigh) const {
        return isDirty() && fileLow < base + dirtyHigh && fileHigh > base + dirtyLow;
    }
    void noteUsed(std::int64_t low, std::int64_t high);
    void noteDirty(std::int64_t low, std::int64_t high);

    // Copies count bytes in at fileLow, known and dirty; they must fit.
    void put(const unsigned char* bytes, std::int64_t fileLow, std::int64_t count);
    // Copies source[i - low] to buffer[i] for every unknown i in [low, high).
    void copyUnknown(const unsigned char* source, std::int64_t low, std::int64_t high);
    // Forgets the known bytes from fileOffset on; with dirty, the dirty ones too.
    void forgetFrom(std::int64_t fileOffset, bool dirtyToo);
    // Forgets every byte; nothing may be dirty.
    void clear();
    // Moves to newBase with room for newCapacity bytes, keeping every known
    // and dirty byte. The used range must fit the new place.
    void relocate(std::int64_t newBase, std::int64_t newCapacity);
    // Room for count bytes read aside, kept for the next such read.
    unsigned char* scratchOf(std::int64_t count);
    void release() noexcept;

private:
    // The words of the maps that cover the used range.
    struct UsedWords {
        std::int64_t first;
        std::int64_t end;
        std::size_t bytes() const { return static_cast<std::size_t>(end - first) * sizeof(Word); }
    };
    UsedWords usedWords() const {
        return {usedLow / kBitsPerWord, (usedHigh + kBitsPerWord - 1) / kBitsPerWord};
    }
    void shiftInPlace(std::int64_t newBase);
    void moveRanges(std::int64_t shift);
};

}  // namespace Tolm::detail
