#include <Tolm/File.h>

#include "FileSupport.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace Tolm {

// The block grows by at least the grow step and by at least half of what it
// holds, so that a file written in small pieces is copied O(n) times in all,
// not once per grow step.

CMemoryFile::CMemoryFile(int growStep) : growStep_(growStep) {
    if (growStep < 1)
        ThrowArgumentError("memory file grow step " + std::to_string(growStep) + " is not positive");
}

CMemoryFile::~CMemoryFile() { doFree(data_); }

void CMemoryFile::reserve(std::int64_t capacity) {
    if (capacity <= capacity_) return;
    // The bytes must stay addressable as one block by an int-sized count.
    if (capacity > std::numeric_limits<int>::max()) {
        ThrowFileError("memory file cannot grow to " + std::to_string(capacity) + " bytes", EFBIG);
    }
    std::int64_t wanted = std::max(capacity, capacity_ + capacity_ / 2);
    wanted = (wanted + growStep_ - 1) / growStep_ * growStep_;
    wanted = std::min<std::int64_t>(wanted, std::numeric_limits<int>::max());
    auto* block = static_cast<unsigned char*>(doAlloc(static_cast<std::size_t>(wanted)));
    if (length_ > 0) std::memcpy(block, data_, static_cast<std::size_t>(length_));
    doFree(data_);
    data_ = block;
    capacity_ = wanted;
}

int CMemoryFile::Read(void* buffer, int count) {
    if (count < 0) ThrowArgumentError("negative byte count " + std::to_string(count) + " to read");
    if (count == 0 || position_ >= length_) return 0;
    if (buffer == nullptr) ThrowArgumentError("no buffer to read into");
    const auto n = static_cast<int>(std::min<std::int64_t>(count, length_ - position_));
    std::memcpy(buffer, data_ + position_, static_cast<std::size_t>(n));
    position_ += n;
    return n;
}

void CMemoryFile::Write(const void* buffer, int count) {
    if (count < 0) ThrowArgumentError("negative byte count " + std::to_string(count) + " to write");
    if (count == 0) return;
    if (buffer == nullptr) ThrowArgumentError("no bytes to write");
    const std::int64_t writeEnd = position_ + count;
    reserve(writeEnd);
    // A write past the end leaves a gap that reads as zero.
    if (position_ > length_) std::memset(data_ + length_, 0, static_cast<std::size_t>(position_ - length_));
    std::memcpy(data_ + position_, buffer, static_cast<std::size_t>(count));
    position_ = writeEnd;
    length_ = std::max(length_, writeEnd);
}

std::int64_t CMemoryFile::Seek(std::int64_t offset, int origin) {
    position_ = detail::seekTarget(
        offset, origin, position_, [this] { return length_; }, [] { return std::string("the memory file"); });
    return position_;
}

void CMemoryFile::SetLength(std::int64_t length) {
    if (length < 0) ThrowArgumentError("negative length " + std::to_string(length) + " for a memory file");
    if (length > length_) {
        reserve(length);
        std::memset(data_ + length_, 0, static_cast<std::size_t>(length - length_));
    }
    length_ = length;
}

}  // namespace Tolm
