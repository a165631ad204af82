// Helpers shared by the image library's tests: byte arrays and the kind of
// a thrown framework exception.
#pragma once

#include "GearsetTesting.h"

#include <Tolm/Error.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace ImageTest {

using Bytes = std::vector<unsigned char>;
using Kind = Tolm::CException::Kind;

// The kind of the CException that call throws, or none; the message goes to
// *message when given.
template <class F>
std::optional<Kind> thrownKind(F&& call, std::string* message = nullptr) {
    const GearsetTest::Caught caught = GearsetTest::Catch(std::forward<F>(call));
    if (message) *message = caught.message;
    return caught.thrown ? std::optional(caught.kind) : std::nullopt;
}

}  // namespace ImageTest
