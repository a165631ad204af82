#include "WindowedScan.h"

#include <Korvan/BasicTools.h>

#include <algorithm>
#include <limits>

namespace gearset {
namespace {

// ScanTo and ScanBackTo count in int: a window plus its overlap must stay
// below 2 GiB, and a window must hold the pattern for the scan to advance.
std::int64_t usableWindow(std::int64_t windowBytes, int patternLength) {
    const std::int64_t limit = std::numeric_limits<int>::max() - patternLength;
    return std::clamp<std::int64_t>(windowBytes, patternLength, limit);
}

}  // namespace

std::int64_t FindFirst(FileWindows& file, const Tolm::CString& pattern, std::int64_t windowBytes,
                       const ScanProgress& progress) {
    const int k = pattern.GetLength();
    const std::int64_t size = file.Size();
    const std::int64_t window = usableWindow(windowBytes, k);
    for (std::int64_t start = 0; start + k <= size; start += window) {
        const std::int64_t length = std::min(window + k - 1, size - start);
        const char* bytes = file.View(start, static_cast<std::size_t>(length));
        const int found = Korvan::ScanTo(bytes, static_cast<int>(length), pattern);
        if (found >= 0) return start + found;
        if (progress) progress(std::min(start + window, size));
    }
    return -1;
}

std::int64_t FindLast(FileWindows& file, const Tolm::CString& pattern, std::int64_t lastByte,
                      std::int64_t windowBytes, const ScanProgress& progress) {
    const int k = pattern.GetLength();
    const std::int64_t window = usableWindow(windowBytes, k);
    std::int64_t end = std::min(lastByte, file.Size() - 1);  // last byte a match may occupy
    const std::int64_t total = end + 1;
    while (end >= k - 1) {
        const std::int64_t start = std::max<std::int64_t>(0, end + 1 - window);
        const std::int64_t length = end - start + 1;
        const char* bytes = file.View(start, static_cast<std::size_t>(length));
        const int found = Korvan::ScanBackTo(bytes, static_cast<int>(length - 1), pattern);
        if (found >= 0) return start + found;
        if (start == 0) break;
        if (progress) progress(total - start);
        // Every match that starts at or after `start` has been seen.
        end = start + k - 2;
    }
    return -1;
}

}  // namespace gearset
