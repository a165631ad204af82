#include <Tolm/Array.h>

#include <string>

#include "Internal.h"

namespace Tolm::detail {

void reportArrayMisuse(const char* what, long long value, long long limit) {
    const std::string detail = std::to_string(value) + " (limit " + std::to_string(limit) + ")";
    TOLM_REPORT_INTERNAL(CUnicodeString::FromUtf8(what ? what : "array misuse"),
                         CUnicodeString::FromUtf8(detail));
}

}  // namespace Tolm::detail
