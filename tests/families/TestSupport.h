// Helpers shared by the family and image-saving tests; what every test shares
// is in GearsetTesting.h.
#pragma once

#include "GearsetTesting.h"

#include <Korvan/BasicTools.h>

#include <vector>

namespace Korvan::testing {

inline CByteArray bytes(const std::vector<int>& values) {
    CByteArray array;
    for (const int value : values) array.Add(static_cast<unsigned char>(value));
    return array;
}

}  // namespace Korvan::testing
