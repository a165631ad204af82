// Pattern search over a whole file through the library's ScanTo and
// ScanBackTo, one window at a time, so that files larger than memory (and
// larger than the int lengths those functions take) can be searched.
//
// Forward: windows start every `windowBytes` bytes and reach pattern length - 1
// bytes further, so a match that straddles two windows is seen whole in the
// first. Backward: each window ends where the previous one began plus pattern
// length - 2, for the same reason. Offsets are 64-bit.
#pragma once

#include "Platform.h"

#include <Tolm/String.h>

#include <cstdint>
#include <functional>

namespace gearset {

// 1 MiB: small enough to stay in the processor's cache between the read and
// the scan, large enough that a system call is a small share of the work.
inline constexpr std::int64_t kScanWindowBytes = std::int64_t{1} << 20;

// Reports the bytes searched so far; may be empty.
using ScanProgress = std::function<void(std::int64_t bytesDone)>;

// Offset of the first byte of the first match, or -1.
std::int64_t FindFirst(FileWindows& file, const Tolm::CString& pattern,
                       std::int64_t windowBytes = kScanWindowBytes, const ScanProgress& progress = {});

// Offset of the first byte of the last match that ends at or before
// `lastByte` (clamped to the file's last byte), or -1.
std::int64_t FindLast(FileWindows& file, const Tolm::CString& pattern, std::int64_t lastByte,
                      std::int64_t windowBytes = kScanWindowBytes, const ScanProgress& progress = {});

}  // namespace gearset
