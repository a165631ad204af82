// How much the file window loads for a read it cannot serve: the aligned
// block of `size` bytes around it. The size starts at the minimum, so that a
// lone small read (one page of a record picked at random) costs one page of
// disk; it doubles while each load lands within kMaxReadAheadBytes of the one
// before (the other pages of a record, forwards or backwards, the next record,
// a sequential scan) and falls back to the minimum after a jump. Private to
// Tolmbase; one per open file.
#pragma once

#include "SystemFile.h"

#include <algorithm>
#include <cstdint>

namespace Tolm::detail {

class ReadAhead {
public:
    static constexpr std::int64_t kMinReadAheadBytes = 4 << 10;
    static constexpr std::int64_t kMaxReadAheadBytes = 128 << 10;

    // The block to load for a read of [fileLow, fileHigh) the window does not
    // know; the size grows or shrinks with this call.
    FileRange blockFor(std::int64_t fileLow, std::int64_t fileHigh) {
        const bool isNearLastLoad =
            fileLow < lastLoad_.high + kMaxReadAheadBytes && fileHigh + kMaxReadAheadBytes > lastLoad_.low;
        size_ = isNearLastLoad ? std::min(2 * size_, kMaxReadAheadBytes) : kMinReadAheadBytes;
        const std::int64_t low = fileLow - fileLow % size_;
        return {low, low + size_};
    }
    // What was loaded in the end (the block, cut to the window and to the
    // bytes it did not know).
    void noteLoaded(FileRange loaded) { lastLoad_ = loaded; }

private:
    std::int64_t size_ = kMinReadAheadBytes;
    FileRange lastLoad_{-1, -1};
};

}  // namespace Tolm::detail
