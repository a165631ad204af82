#include "CountingPort.h"

namespace Tolm::testing {

class CountingPort::File final : public detail::SystemFile {
public:
    File(CountingPort& port, std::unique_ptr<detail::SystemFile> file)
        : port_(port), file_(std::move(file)) {}

    std::int64_t readAt(void* bytes, std::int64_t count, std::int64_t offset, int& error) override {
        port_.reads_.fetch_add(1, std::memory_order_relaxed);
        return file_->readAt(bytes, count, offset, error);
    }
    std::int64_t writeAt(const void* bytes, std::int64_t count, std::int64_t offset, int& error) override {
        port_.writes_.fetch_add(1, std::memory_order_relaxed);
        if (port_.isInjectedFault()) {
            error = port_.faultError_.load(std::memory_order_relaxed);
            return -1;
        }
        const std::int64_t written = file_->writeAt(bytes, count, offset, error);
        if (written > 0) {
            const std::lock_guard<std::mutex> lock(port_.rangesLock_);
            port_.written_.push_back({offset, offset + written});
        }
        return written;
    }
    int setLength(std::int64_t length) override {
        port_.lengthChanges_.fetch_add(1, std::memory_order_relaxed);
        return file_->setLength(length);
    }
    int status(detail::SystemFileStatus& status) override { return file_->status(status); }
    int close() override { return file_->close(); }
    const unsigned char* mapView(std::int64_t offset, std::int64_t count) override {
        return file_->mapView(offset, count);
    }
    void unmapView(const unsigned char* view, std::int64_t count) override { file_->unmapView(view, count); }
    std::int64_t viewAlignment() const override { return file_->viewAlignment(); }
    bool setsRoomAside() const override { return file_->setsRoomAside(); }
    bool reserve(std::int64_t low, std::int64_t high) override {
        if (!file_->reserve(low, high)) return false;
        const std::lock_guard<std::mutex> lock(port_.rangesLock_);
        port_.reserved_.push_back({low, high});
        return true;
    }

private:
    CountingPort& port_;
    std::unique_ptr<detail::SystemFile> file_;
};

CountingPort::CountingPort() : PortWrapper(detail::systemPort()) { detail::setSystemPort(this); }

CountingPort::~CountingPort() {
    detail::setSystemPort(&target() == &detail::platformPort() ? nullptr : &target());
}

CountingPort::Counts CountingPort::counts() const {
    return {reads_.load(std::memory_order_relaxed), writes_.load(std::memory_order_relaxed),
            lengthChanges_.load(std::memory_order_relaxed)};
}

std::vector<detail::FileRange> CountingPort::WrittenRanges() const {
    const std::lock_guard<std::mutex> lock(rangesLock_);
    return written_;
}

std::vector<detail::FileRange> CountingPort::ReservedRanges() const {
    const std::lock_guard<std::mutex> lock(rangesLock_);
    return reserved_;
}

void CountingPort::ResetCounts() {
    {
        const std::lock_guard<std::mutex> lock(rangesLock_);
        written_.clear();
        reserved_.clear();
    }
    reads_.store(0, std::memory_order_relaxed);
    writes_.store(0, std::memory_order_relaxed);
    lengthChanges_.store(0, std::memory_order_relaxed);
}

void CountingPort::FailWriteAfter(int successfulWrites, int error) {
    faultError_.store(error, std::memory_order_relaxed);
    writesBeforeFault_.store(successfulWrites < 0 ? -1 : successfulWrites, std::memory_order_relaxed);
}

bool CountingPort::isInjectedFault() {
    int remaining = writesBeforeFault_.load(std::memory_order_relaxed);
    while (remaining >= 0) {
        const int next = remaining == 0 ? -1 : remaining - 1;
        if (writesBeforeFault_.compare_exchange_weak(remaining, next, std::memory_order_relaxed))
            return remaining == 0;
    }
    return false;
}

std::unique_ptr<detail::SystemFile> CountingPort::open(const std::string& path,
                                                       const detail::SystemOpenRequest& request, int& error) {
    std::unique_ptr<detail::SystemFile> file = target().open(path, request, error);
    return file ? std::make_unique<File>(*this, std::move(file)) : nullptr;
}

}  // namespace Tolm::testing
