// Helpers shared by the image library's tests: byte arrays and the kind of
// a thrown framework exception.
#pragma once

#include <Tolm/Error.h>

#include <optional>
#include <string>
#include <vector>

namespace ImageTest {

using Bytes = std::vector<unsigned char>;
using Kind = Tolm::CException::Kind;

// The kind of the CException that call throws, or none; the message goes to
// *message when given.
template <class F>
std::optional<Kind> thrownKind(F&& call, std::string* message = nullptr) {
    try {
        call();
    } catch (Tolm::CException* error) {
        const auto kind = error->GetKind();
        if (message) *message = error->GetMessage();
        error->Delete();
        return kind;
    }
    return std::nullopt;
}

}  // namespace ImageTest
