// Heap memory of the framework and of everything built on it.
//
// doAlloc never returns null: when the system has no memory left it throws a
// CException of kind memory. doAlloc(0) returns a unique pointer that must be
// passed to doFree like any other. doFree(nullptr) does nothing.
// Thread-safe.
#pragma once

#include <Tolm/Types.h>

#include <cstddef>
#include <new>

namespace Tolm {

TOLM_API void* doAlloc(std::size_t bytes);
TOLM_API void doFree(void* block) noexcept;

// Copies count bytes between blocks that do not overlap, as memcpy does, in
// the way this system moves blocks of a page or more fastest: for the bytes
// of records and of file windows. The binding chooses it.
TOLM_API void CopyBytes(void* target, const void* source, std::size_t count) noexcept;
// True where a copy made in two CopyBytes calls costs about what it costs in
// one, and the processor carries other work on beside it: a vector loop's
// (the C library's memcpy). False where CopyBytes is the processor's string
// move, which pays its start-up again for each part.
TOLM_API bool CopyBytesSplitsCheaply() noexcept;

// The memory manager that containers take as a template argument.
struct CurrentMemoryManager {
    static void* Alloc(std::size_t bytes) { return doAlloc(bytes); }
    static void Free(void* block) noexcept { doFree(block); }
};

// A standard allocator over doAlloc/doFree, for standard containers that the
// framework and its users keep.
template <class T>
struct CAllocator {
    using value_type = T;
    CAllocator() noexcept = default;
    template <class U>
    CAllocator(const CAllocator<U>&) noexcept {}
    T* allocate(std::size_t count) { return static_cast<T*>(doAlloc(count * sizeof(T))); }
    void deallocate(T* block, std::size_t) noexcept { doFree(block); }
    template <class U>
    bool operator==(const CAllocator<U>&) const noexcept {
        return true;
    }
};

// Gives a class operator new/delete over doAlloc/doFree.
#define TOLM_HEAP_THROUGH_FRAMEWORK                                                 \
    static void* operator new(std::size_t bytes) { return ::Tolm::doAlloc(bytes); } \
    static void operator delete(void* block) noexcept { ::Tolm::doFree(block); }

}  // namespace Tolm
