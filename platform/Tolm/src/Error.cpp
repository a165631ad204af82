#include <Tolm/Error.h>

#include <Tolm/Module.h>
#include <Tolm/String.h>

#include <atomic>
#include <cstdio>
#include <new>
#include <utility>

#include "Internal.h"

namespace Tolm {

CException::CException(Kind kind, std::string message, int systemError)
    : kind_(kind), message_(std::move(message)), systemError_(systemError) {}

void CException::Delete() noexcept { delete this; }

void ThrowFileError(const std::string& what, int systemError) {
    throw new CException(CException::Kind::file, what, systemError);
}

void ThrowArchiveError(const std::string& what) { throw new CException(CException::Kind::archive, what); }

void ThrowMemoryError(std::size_t bytesWanted) {
    // Building the exception needs memory too. Should that fail as well we
    // would recurse without end; fall back to the standard exception once.
    thread_local bool throwing = false;
    if (throwing) throw std::bad_alloc();
    throwing = true;
    CException* error = nullptr;
    try {
        error = new CException(CException::Kind::memory,
                               "out of memory allocating " + std::to_string(bytesWanted) + " bytes");
    } catch (...) {
        throwing = false;
        throw;
    }
    throwing = false;
    throw error;
}

void ThrowArgumentError(const std::string& what) { throw new CException(CException::Kind::argument, what); }

namespace {

std::atomic<InternalErrorHandler> internalErrorHandler{nullptr};

std::string describe(const InternalErrorReport& report) {
    std::string message = "internal error at " + report.file + ":" + std::to_string(report.line);
    if (!report.text.empty()) message += ": " + report.text;
    if (!report.detail.empty()) message += " (" + report.detail + ")";
    return message;
}

}  // namespace

bool GenerateInternalError(TInternalErrorType type, const CUnicodeString& text, const CUnicodeString& detail,
                           const char* file, int line, std::uint32_t code) {
    InternalErrorReport report{type, text.ToUtf8(), detail.ToUtf8(),     file ? file : "",
                               line, code,          IsInsideStaticPart()};
    // The static part keeps its error flag whoever handles the report: a host
    // that watches reports with a handler must still see a failed load fail.
    if (report.insideStaticPart) detail::recordStaticPartError();

    if (InternalErrorHandler handler = internalErrorHandler.load(std::memory_order_acquire))
        return handler(report);

    std::string message = describe(report);
    if (report.insideStaticPart) {
        std::fprintf(stderr, "%s\n", message.c_str());
        return false;
    }
    throw new CException(CException::Kind::internal, std::move(message));
}

InternalErrorHandler SetInternalErrorHandler(InternalErrorHandler handler) noexcept {
    return internalErrorHandler.exchange(handler, std::memory_order_acq_rel);
}

}  // namespace Tolm
