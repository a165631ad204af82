#include "ViewBudget.h"

namespace Tolm::detail {

ViewBudget& ViewBudget::forProcess() {
    static ViewBudget budget(kViewBudgetBytes);
    return budget;
}

bool ViewBudget::tryTake(std::int64_t bytes) {
    std::int64_t used = used_.load(std::memory_order_relaxed);
    do {
        if (bytes > limit_ - used) return false;
    } while (!used_.compare_exchange_weak(used, used + bytes, std::memory_order_relaxed));
    return true;
}

}  // namespace Tolm::detail
