#include <Tolm/Error.h>

#include <Tolm/Memory.h>

#include <cstdlib>

namespace Tolm {

void* doAlloc(std::size_t bytes) {
    // malloc(0) may answer null or a shared pointer; one byte keeps every
    // block unique and non-null.
    void* block = std::malloc(bytes == 0 ? 1 : bytes);
    if (!block) ThrowMemoryError(bytes);
    return block;
}

void doFree(void* block) noexcept { std::free(block); }

}  // namespace Tolm
