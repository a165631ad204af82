#include "SystemPort.h"

#include <atomic>

namespace Tolm::detail {

namespace {
std::atomic<SystemPort*> replacement{nullptr};
}  // namespace

SystemPort::~SystemPort() = default;

SystemPort& systemPort() {
    SystemPort* const port = replacement.load(std::memory_order_acquire);
    return port ? *port : platformPort();
}

void setSystemPort(SystemPort* port) { replacement.store(port, std::memory_order_release); }

}  // namespace Tolm::detail
