// Errors of the framework.
//
// Failures are thrown as a pointer to a CException made with new; whoever
// catches one owns it and disposes of it with Delete():
//
//     try { file.Write(data, size); }
//     catch (Tolm::CException* error) { log(error->GetMessage()); error->Delete(); }
//
// Messages are UTF-8 and name what failed and where, for example
// "cannot open '/tmp/a.jpg' for writing: Permission denied".
//
// Broken preconditions ("internal errors") are reported with
// GenerateInternalError. What happens then depends on where the report is made:
//   - inside an open static part (BeginStaticPart .. EndStaticPart, see
//     Module.h) the report is recorded, so that HasStaticPartError() answers
//     true, written to stderr, and the call returns false;
//   - outside, it throws a CException of kind internal whose message carries
//     the file and line of the check.
// A process-wide handler (SetInternalErrorHandler) replaces that behaviour; tests
// use it to record reports and return, so that the code after a failed check
// can be exercised. A report inside a static part marks the static part as
// failed (HasStaticPartError) whether or not a handler is installed.
// Thread-safe; the handler may be called on any thread.
#pragma once

#include <Tolm/Memory.h>

#include <cstdint>
#include <string>

namespace Tolm {

class CUnicodeString;

class TOLM_API CException {
public:
    enum class Kind { file, archive, memory, internal, argument };

    CException(Kind kind, std::string message, int systemError = 0);
    CException(const CException&) = delete;
    CException& operator=(const CException&) = delete;

    Kind GetKind() const noexcept { return kind_; }
    const char* GetMessage() const noexcept { return message_.c_str(); }
    // errno (or the platform's error code) behind a file error; 0 when none.
    int GetSystemError() const noexcept { return systemError_; }
    // Destroys the exception; the pointer must not be used afterwards.
    void Delete() noexcept;

    TOLM_HEAP_THROUGH_FRAMEWORK

private:
    ~CException() = default;
    Kind kind_;
    std::string message_;
    int systemError_;
};

// Throw helpers; each throws a new CException and never returns.
[[noreturn]] TOLM_API void ThrowFileError(const std::string& what, int systemError);
[[noreturn]] TOLM_API void ThrowArchiveError(const std::string& what);
[[noreturn]] TOLM_API void ThrowMemoryError(std::size_t bytesWanted);
[[noreturn]] TOLM_API void ThrowArgumentError(const std::string& what);

enum TInternalErrorType : int {
    ieBrokenPrecondition = 0,
};

// One report of GenerateInternalError, as a handler sees it.
struct InternalErrorReport {
    TInternalErrorType type;
    std::string text;    // UTF-8 of the first text
    std::string detail;  // UTF-8 of the second text
    std::string file;    // as given, e.g. "Src\\FileDataStorage"
    int line;
    std::uint32_t code;
    bool insideStaticPart;  // a static part was open when the report was made
};

// Reports a broken precondition. Returns false when the report returns (see the
// header comment); the library never reads the result.
TOLM_API bool GenerateInternalError(TInternalErrorType type, const CUnicodeString& text,
                                    const CUnicodeString& detail, const char* file, int line,
                                    std::uint32_t code);

// A handler replaces the default behaviour for every report in the process. It
// may throw (a CException*) or return; its result is what GenerateInternalError
// returns. Pass nullptr to restore the default. Returns the previous handler.
using InternalErrorHandler = bool (*)(const InternalErrorReport& report);
TOLM_API InternalErrorHandler SetInternalErrorHandler(InternalErrorHandler handler) noexcept;

}  // namespace Tolm
