#include "WindowBuffer.h"

#include <Tolm/Memory.h>

#include <algorithm>
#include <cstring>

namespace Tolm::detail {

void WindowBuffer::noteUsed(std::int64_t low, std::int64_t high) {
    if (!isUsed()) {
        usedLow = low;
        usedHigh = high;
    } else {
        usedLow = std::min(usedLow, low);
        usedHigh = std::max(usedHigh, high);
    }
}

void WindowBuffer::noteDirty(std::int64_t low, std::int64_t high) {
    if (!isDirty()) {
        dirtyLow = low;
        dirtyHigh = high;
    } else {
        dirtyLow = std::min(dirtyLow, low);
        dirtyHigh = std::max(dirtyHigh, high);
    }
}

void WindowBuffer::put(const unsigned char* bytes, std::int64_t fileLow, std::int64_t count) {
    const std::int64_t low = fileLow - base;
    CopyBytes(buffer + low, bytes, static_cast<std::size_t>(count));
    setBits(known, low, low + count);
    setBits(dirty, low, low + count);
    noteUsed(low, low + count);
    noteDirty(low, low + count);
}

void WindowBuffer::copyUnknown(const unsigned char* source, std::int64_t low, std::int64_t high) {
    for (std::int64_t at = low; at < high;) {
        const std::int64_t runLow = findBit(known, at, high, false);
        const std::int64_t runHigh = findBit(known, runLow, high, true);
        CopyBytes(buffer + runLow, source + (runLow - low), static_cast<std::size_t>(runHigh - runLow));
        at = runHigh;
    }
}

void WindowBuffer::forgetFrom(std::int64_t fileOffset, bool dirtyToo) {
    if (!isUsed() || fileOffset >= base + usedHigh) return;
    const std::int64_t cut = std::max(fileOffset - base, usedLow);
    clearBits(known, cut, usedHigh);
    if (dirtyToo) clearBits(dirty, cut, usedHigh);
    usedHigh = cut;
    if (usedHigh <= usedLow) usedLow = usedHigh = 0;
    if (dirtyToo && isDirty()) {
        dirtyHigh = std::min(dirtyHigh, cut);
        if (dirtyHigh <= dirtyLow) dirtyLow = dirtyHigh = 0;
    }
}

void WindowBuffer::clear() {
    if (isUsed()) {
        // Nothing is dirty, so the dirty map is already clear: the flush
        // before cleared each run it wrote, and clearing it again would cost
        // a quarter as much as the data again.
        const UsedWords used = usedWords();
        std::memset(known + used.first, 0, used.bytes());
    }
    usedLow = usedHigh = dirtyLow = dirtyHigh = 0;
}

void WindowBuffer::relocate(std::int64_t newBase, std::int64_t newCapacity) {
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
    const std::int64_t shift = base - newBase;  // a multiple of kAlign
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

void WindowBuffer::shiftInPlace(std::int64_t newBase) {
    const std::int64_t shift = base - newBase;  // a multiple of kAlign
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
void WindowBuffer::moveRanges(std::int64_t shift) {
    usedLow += shift;
    usedHigh += shift;
    if (isDirty()) {
        dirtyLow += shift;
        dirtyHigh += shift;
    }
}

unsigned char* WindowBuffer::scratchOf(std::int64_t count) {
    if (scratchSize < count) {
        doFree(scratch);
        scratch = nullptr;
        scratchSize = 0;
        const std::int64_t size = std::max(count, kMinScratchBytes);
        scratch = static_cast<unsigned char*>(doAlloc(static_cast<std::size_t>(size)));
        scratchSize = size;
    }
    return scratch;
}

void WindowBuffer::release() noexcept {
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

}  // namespace Tolm::detail
