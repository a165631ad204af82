// Bytes between two inaccessible pages, so that a read one byte before the
// first or one past the last faults at once: Place copies a buffer to the
// start or to the end of the room, and the bytes placed before may be
// overwritten.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

#include <cstddef>
#include <cstring>
#include <stdexcept>
#include <string>

namespace Korvan::testing {

class GuardedBytes {
public:
    explicit GuardedBytes(std::size_t capacity) {
#ifdef _WIN32
        SYSTEM_INFO system{};
        GetSystemInfo(&system);
        page_ = system.dwPageSize;
#else
        page_ = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
#endif
        inner_ = (capacity + page_ - 1) / page_ * page_;
        const std::size_t total = inner_ + 2 * page_;
#ifdef _WIN32
        base_ = static_cast<char*>(VirtualAlloc(nullptr, total, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        if (base_ == nullptr) throw std::runtime_error("VirtualAlloc failed");
        DWORD was = 0;
        VirtualProtect(base_, page_, PAGE_NOACCESS, &was);
        VirtualProtect(base_ + page_ + inner_, page_, PAGE_NOACCESS, &was);
#else
        void* mapped = mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapped == MAP_FAILED) throw std::runtime_error("mmap failed");
        base_ = static_cast<char*>(mapped);
        mprotect(base_, page_, PROT_NONE);
        mprotect(base_ + page_ + inner_, page_, PROT_NONE);
#endif
    }
    ~GuardedBytes() {
#ifdef _WIN32
        VirtualFree(base_, 0, MEM_RELEASE);
#else
        munmap(base_, inner_ + 2 * page_);
#endif
    }
    GuardedBytes(const GuardedBytes&) = delete;
    GuardedBytes& operator=(const GuardedBytes&) = delete;

    // The first `length` bytes of `bytes`, right after the leading guard page,
    // or ending right before the trailing one.
    const char* Place(const std::string& bytes, std::size_t length, bool atEnd) {
        if (length > inner_ || length > bytes.size()) throw std::length_error("GuardedBytes: too long");
        char* at = base_ + page_ + (atEnd ? inner_ - length : 0);
        std::memcpy(at, bytes.data(), length);
        return at;
    }

private:
    std::size_t page_ = 0, inner_ = 0;
    char* base_ = nullptr;
};

}  // namespace Korvan::testing
