// The address space that views of files may hold, shared by every file of the
// process (rule (5) of ViewCache.cpp): a file takes room before it maps a
// view and gives it back when it lets the view go. Thread-safe. Private to
// Tolmbase (exported for the framework's own tests, which make small ones).
#pragma once

#include <Tolm/Types.h>

#include <atomic>
#include <cstdint>

namespace Tolm::detail {

// A 32-bit process has 2 GiB of address space for everything: views take at
// most an eighth. A 64-bit one has room to spare, and a large store is then
// not mapped again and again.
inline constexpr std::int64_t kViewBudgetBytes =
    sizeof(void*) == 4 ? std::int64_t{256} << 20 : std::int64_t{16} << 30;

class TOLM_API ViewBudget {
public:
    explicit ViewBudget(std::int64_t limit) : limit_(limit) {}
    ViewBudget(const ViewBudget&) = delete;
    ViewBudget& operator=(const ViewBudget&) = delete;

    // The budget of every file of the process: kViewBudgetBytes.
    static ViewBudget& forProcess();

    // True, with the bytes taken, when they fit; false, with nothing taken.
    bool tryTake(std::int64_t bytes);
    void giveBack(std::int64_t bytes) { used_.fetch_sub(bytes, std::memory_order_relaxed); }
    std::int64_t used() const { return used_.load(std::memory_order_relaxed); }
    std::int64_t limit() const { return limit_; }

private:
    const std::int64_t limit_;
    std::atomic<std::int64_t> used_{0};
};

}  // namespace Tolm::detail
