// The byte array of the library's byte and text services.
#pragma once

#include <Tolm/Array.h>

namespace Korvan {

// Bytes of a PDF string: the first 32 live inside the array object itself.
using CByteArray = Tolm::CFastArray<unsigned char, 32, Tolm::CurrentMemoryManager>;

}  // namespace Korvan
