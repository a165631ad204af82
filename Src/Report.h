// The one way the library reports a broken precondition.
//
//     if (pattern.IsEmpty()) {
//         KORVAN_REPORT_BROKEN_PRECONDITION();
//         return -1;
//     }
//
// The report goes to Tolm::GenerateInternalError with type 0, two empty
// texts, the source file's path relative to the library's root without
// extension and with backslashes ("Src\FileDataStorage"), the line of the
// check and code 0. The framework decides what follows (see Tolm/Error.h):
// outside a static part it normally throws; a test handler may return, and the
// code after the report must then be safe.
#pragma once

namespace Korvan::detail {

// sourceFile is __FILE__; it is reduced to the library-relative form.
void reportBrokenPrecondition(const char* sourceFile, int line);

}  // namespace Korvan::detail

#define KORVAN_REPORT_BROKEN_PRECONDITION() ::Korvan::detail::reportBrokenPrecondition(__FILE__, __LINE__)
