// Shared by the fuzz targets: what a broken precondition report does while
// fuzzing, and how a framework exception is disposed of.
//
// Each target picks one of two handlers once, in LLVMFuzzerInitialize:
//   ThrowingReports  - a report throws a CException of kind internal naming
//                      the file and line, so it cannot fall through into code
//                      that assumed the check held;
//   ReturningReports - a report returns at once, so the code after a
//                      failed check runs (the path the library promises is
//                      still safe) and is fuzzed too.
// Nothing here keeps state between inputs.
#pragma once

#include <Tolm/Error.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzzsupport {

inline bool ThrowingReport(const Tolm::InternalErrorReport& report) {
    throw new Tolm::CException(Tolm::CException::Kind::internal,
                               "broken precondition at " + report.file + ":" + std::to_string(report.line) +
                                   ": " + report.text + " " + report.detail);
}

inline bool ReturningReport(const Tolm::InternalErrorReport&) { return false; }

inline void ThrowingReports() { Tolm::SetInternalErrorHandler(&ThrowingReport); }
inline void ReturningReports() { Tolm::SetInternalErrorHandler(&ReturningReport); }

// Disposes of a caught framework exception. A report of kind internal means
// the input drove the library into one of its own broken preconditions: with
// `internalIsFinding` that is a bug, and the run stops so libFuzzer keeps the
// input.
inline void Dispose(Tolm::CException* error, bool internalIsFinding) {
    const bool finding = internalIsFinding && error->GetKind() == Tolm::CException::Kind::internal;
    if (finding) std::fprintf(stderr, "internal error reached from input: %s\n", error->GetMessage());
    error->Delete();
    if (finding) std::abort();
}

// Fails the run with a message when a property does not hold.
#define FUZZ_CHECK(condition, ...)                                                                \
    do {                                                                                          \
        if (!(condition)) {                                                                       \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition); \
            std::fprintf(stderr, __VA_ARGS__);                                                    \
            std::fputc('\n', stderr);                                                             \
            std::abort();                                                                         \
        }                                                                                         \
    } while (false)

}  // namespace fuzzsupport
