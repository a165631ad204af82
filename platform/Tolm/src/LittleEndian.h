// 32-bit words as the framework's files and archives store them: four bytes,
// least significant first. Private to Tolmbase.
#pragma once

#include <cstdint>

namespace Tolm::detail {

inline std::uint32_t loadLittleEndian32(const unsigned char bytes[4]) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

inline void storeLittleEndian32(std::uint32_t value, unsigned char bytes[4]) {
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<unsigned char>(value >> (8 * i));
}

}  // namespace Tolm::detail
