// Helpers shared by the framework's own sources; not part of the public API.
#pragma once

#include <Tolm/Error.h>
#include <Tolm/String.h>

#include <new>

// Reports a broken precondition from the framework's own source file. The
// report may return (inside a static part, or with a handler that returns),
// so callers go on with a safe fallback after it.
#define TOLM_REPORT_INTERNAL(text, detail) \
    ::Tolm::GenerateInternalError(::Tolm::ieBrokenPrecondition, (text), (detail), __FILE__, __LINE__, 0)

namespace Tolm::detail {

// A process-wide object that is built on first use and never destroyed, so that
// libraries torn down late at exit (their static destructors unregister
// classes and modules) still find it alive.
template <class T>
T& leakedSingleton() {
    alignas(T) static unsigned char storage[sizeof(T)];
    static T* instance = new (storage) T();
    return *instance;
}

// The reference counts of IObject, as the system's binding keeps them.
void incrementReferenceCount(ReferenceCount& count) noexcept;
// The count after the decrement.
long decrementReferenceCount(ReferenceCount& count) noexcept;
int readReferenceCount(const ReferenceCount& count) noexcept;

// Marks the static part open on this thread as having seen an internal error.
void recordStaticPartError() noexcept;

}  // namespace Tolm::detail
