// Instruments of the framework's files, for tests and benchmarks: counters of
// the system calls that every CFile makes, and a fault that fails a chosen
// system write. Process-wide. Not part of the framework's interface: tests and
// benchmarks reach this header through the framework's source folder.
#pragma once

#include <Tolm/Types.h>

#include <cstdint>

namespace Tolm::detail {

// System calls since the last reset: reads, writes (failed ones included) and
// length changes.
struct FileIoCounts {
    std::int64_t reads = 0;
    std::int64_t writes = 0;
    std::int64_t lengthChanges = 0;
};
TOLM_API FileIoCounts fileIoCounts();
TOLM_API void resetFileIoCounts();

// The next successfulWrites system writes succeed, the one after fails with
// systemError (e.g. ENOSPC) and the fault turns itself off; -1 turns it off at
// once. Length changes are not affected. Because writes are buffered, the
// failure surfaces at the call that writes out: Flush, Close, a large Write,
// or a far move.
TOLM_API void failFileWriteAfter(int successfulWrites, int systemError);

}  // namespace Tolm::detail
