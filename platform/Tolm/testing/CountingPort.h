// Wraps the port in force for tests and benchmarks: counts the system calls
// of every file opened through it (reads, writes, length changes), keeps the
// file bytes each write covered, and can fail a chosen write, as an
// error-injecting Env does. Installs itself while
// it lives and puts the port it wrapped back after.
//
//     Tolm::testing::CountingPort counting;
//     counting.FailWriteAfter(1, ENOSPC);  // the second system write fails
#pragma once

#include "SystemPort.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

namespace Tolm::testing {

class CountingPort final : public detail::PortWrapper {
public:
    struct Counts {
        std::int64_t reads = 0;
        std::int64_t writes = 0;  // failed ones included
        std::int64_t lengthChanges = 0;
    };

    CountingPort();
    ~CountingPort() override;

    Counts counts() const;
    // The file bytes of every system write since the last reset, in order
    // (a failed write covers none).
    std::vector<detail::FileRange> WrittenRanges() const;
    // The file bytes every reserve the system granted set room aside for,
    // since the last reset, in order.
    std::vector<detail::FileRange> ReservedRanges() const;
    void ResetCounts();
    // The next successfulWrites system writes succeed, the one after fails
    // with error (e.g. ENOSPC) and the fault turns itself off; -1 turns it off
    // at once. Because writes are buffered, the failure surfaces at the call
    // that writes out: Flush, Close, a large Write, or a far move.
    void FailWriteAfter(int successfulWrites, int error);

    std::unique_ptr<detail::SystemFile> open(const std::string& path,
                                             const detail::SystemOpenRequest& request, int& error) override;

private:
    class File;
    // True when this system write is the one to fail.
    bool isInjectedFault();

    std::atomic<std::int64_t> reads_{0};
    std::atomic<std::int64_t> writes_{0};
    std::atomic<std::int64_t> lengthChanges_{0};
    std::atomic<int> writesBeforeFault_{-1};
    std::atomic<int> faultError_{0};
    mutable std::mutex rangesLock_;
    std::vector<detail::FileRange> written_;
    std::vector<detail::FileRange> reserved_;
};

}  // namespace Tolm::testing
