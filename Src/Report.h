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
// code after the report must then be safe. After a report that returns, each
// check does one of three things, by what its caller can be given:
//   - return a sentinel, where the function has an answer that says "nothing"
//     (-1 from the scans, WriteRecord and the cache's Add, 0 from a read of no
//     array, an empty text, false, the shortest month), or simply return where
//     it has no answer (FreeRecord of a dead number, a page write the store
//     itself got wrong, a folder path with no component, SaveImage without
//     its services);
//   - carry on, where the check guards a result already made and nothing
//     after it depends on the condition (CopyStream's length check, a page
//     read back with no bytes, a writer that is missing is then not called);
//   - report and then throw an argument error, where there is no safe way on
//     and no sentinel to give (a compressing store without its toolkit, a read
//     of a store that never had a file, a refill that added nothing).
#pragma once

namespace Korvan::detail {

// sourceFile is __FILE__; it is reduced to the library-relative form.
void reportBrokenPrecondition(const char* sourceFile, int line);

}  // namespace Korvan::detail

#define KORVAN_REPORT_BROKEN_PRECONDITION() ::Korvan::detail::reportBrokenPrecondition(__FILE__, __LINE__)
