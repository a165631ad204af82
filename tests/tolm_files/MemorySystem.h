// Files in memory under CFile, through the framework's seam to the system:
// every call is counted, and any chosen one fails with a chosen error, so a
// test can put a fault at every step of a sequence. Files made after
// Nameless() have lost their name and give views of their first kViewRoom
// bytes (a refused view is no fault, so views are not counted). As on
// Windows, a file is not cut while a view of it is mapped.
#pragma once

#include "SystemFile.h"

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace Tolm::testing {

class MemorySystem {
public:
    using Bytes = std::vector<unsigned char>;

    // Installs itself under every CFile opened until it is destroyed.
    MemorySystem() {
        current() = this;
        detail::setSystemFileOpener(&open);
    }
    ~MemorySystem() {
        detail::setSystemFileOpener(nullptr);
        current() = nullptr;
    }
    MemorySystem(const MemorySystem&) = delete;
    MemorySystem& operator=(const MemorySystem&) = delete;

    // The call numbered callNumber (counting from 0 over every file) fails;
    // -1 fails none.
    void FailCall(long callNumber, int error) {
        failAt_ = callNumber;
        error_ = error;
    }
    void Nameless() { nameless_ = true; }
    long Calls() const { return calls_; }
    bool Failed() const { return failed_; }
    Bytes& Contents(const std::string& native) { return files_[native]; }

private:
    class File final : public detail::SystemFile {
    public:
        File(MemorySystem& system, Bytes& bytes) : system_(system), bytes_(bytes) {}
        std::int64_t readAt(void* bytes, std::int64_t count, std::int64_t offset, int& error) override {
            if (system_.fails(error)) return -1;
            const auto size = static_cast<std::int64_t>(bytes_.size());
            const std::int64_t n = offset >= size ? 0 : std::min(count, size - offset);
            if (n > 0) std::memcpy(bytes, bytes_.data() + offset, static_cast<std::size_t>(n));
            return n;
        }
        std::int64_t writeAt(const void* bytes, std::int64_t count, std::int64_t offset,
                             int& error) override {
            if (system_.fails(error)) return -1;
            if (bytes_.size() < static_cast<std::size_t>(offset + count))
                bytes_.resize(static_cast<std::size_t>(offset + count));
            std::memcpy(bytes_.data() + offset, bytes, static_cast<std::size_t>(count));
            return count;
        }
        int setLength(std::int64_t length) override {
            int error = 0;
            if (system_.fails(error)) return error;
            if (mappedViews_ > 0 && static_cast<std::size_t>(length) < bytes_.size()) return EBUSY;
            bytes_.resize(static_cast<std::size_t>(length));
            return 0;
        }
        int status(detail::SystemFileStatus& status) override {
            int error = 0;
            if (system_.fails(error)) return error;
            status.isRegular = true;
            status.hasName = !system_.nameless_;
            status.length = static_cast<std::int64_t>(bytes_.size());
            return 0;
        }
        const unsigned char* mapView(std::int64_t offset, std::int64_t count) override {
            // The bytes never move: they were reserved for the whole view room.
            if (!system_.nameless_ || offset + count > static_cast<std::int64_t>(bytes_.capacity()))
                return nullptr;
            ++mappedViews_;
            return bytes_.data() + offset;
        }
        void unmapView(const unsigned char*, std::int64_t) override { --mappedViews_; }
        int close() override {
            int error = 0;
            system_.fails(error);
            return error;
        }

    private:
        MemorySystem& system_;
        Bytes& bytes_;
        int mappedViews_ = 0;
    };

    static MemorySystem*& current() {
        static MemorySystem* system = nullptr;
        return system;
    }
    static std::unique_ptr<detail::SystemFile> open(const std::string& native,
                                                    const detail::SystemOpenRequest& request, int& error) {
        MemorySystem& system = *current();
        if (system.fails(error)) return nullptr;
        const bool exists = system.files_.count(native) != 0;
        if (!exists && !request.create) {
            error = ENOENT;
            return nullptr;
        }
        if (exists && request.create && request.exclusive) {
            error = EEXIST;
            return nullptr;
        }
        Bytes& bytes = system.files_[native];
        if (request.truncate) bytes.clear();
        if (system.nameless_) bytes.reserve(kViewRoom);
        return std::make_unique<File>(system, bytes);
    }

    bool fails(int& error) {
        if (calls_++ != failAt_) return false;
        failed_ = true;
        error = error_;
        return true;
    }

    std::map<std::string, Bytes> files_;
    long calls_ = 0;
    static constexpr std::size_t kViewRoom = std::size_t{64} << 20;
    bool nameless_ = false;
    long failAt_ = -1;
    int error_ = EIO;
    bool failed_ = false;
};

}  // namespace Tolm::testing
