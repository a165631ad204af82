#include "SystemFile.h"

#include <atomic>

namespace Tolm::detail {

namespace {
std::atomic<SystemFileOpener> redirectedOpener{nullptr};
}  // namespace

std::unique_ptr<SystemFile> openSystemFile(const std::string& native, const SystemOpenRequest& request,
                                           int& error) {
    const SystemFileOpener opener = redirectedOpener.load(std::memory_order_acquire);
    return opener ? opener(native, request, error) : openPlatformFile(native, request, error);
}

void setSystemFileOpener(SystemFileOpener opener) {
    redirectedOpener.store(opener, std::memory_order_release);
}

}  // namespace Tolm::detail
