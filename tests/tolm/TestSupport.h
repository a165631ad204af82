// Test helpers of the framework's tests: a recorder of internal-error reports
// (installed for the life of the object, so that a test can count reports and
// go on after them), a catcher of framework exceptions and readable printing of
// framework strings.
#pragma once

#include <Tolm/Error.h>
#include <Tolm/String.h>

#include <ostream>
#include <string>
#include <vector>

namespace Tolm {
inline void PrintTo(const CUnicodeString& text, std::ostream* out) { *out << '"' << text.ToUtf8() << '"'; }
}  // namespace Tolm

namespace TolmTest {

class ReportRecorder {
public:
    ReportRecorder() : previous_(Tolm::SetInternalErrorHandler(&record)) { reports.clear(); }
    ~ReportRecorder() { Tolm::SetInternalErrorHandler(previous_); }
    ReportRecorder(const ReportRecorder&) = delete;
    ReportRecorder& operator=(const ReportRecorder&) = delete;

    int count() const { return static_cast<int>(reports.size()); }
    const Tolm::InternalErrorReport& last() const { return reports.back(); }
    inline static std::vector<Tolm::InternalErrorReport> reports;

private:
    static bool record(const Tolm::InternalErrorReport& report) {
        reports.push_back(report);
        return false;
    }
    Tolm::InternalErrorHandler previous_;
};

// True when the report names a source file of the framework itself.
inline bool fromFramework(const Tolm::InternalErrorReport& report) {
    return report.file.find("platform/Tolm/src/") != std::string::npos;
}

// What a call threw; thrown is false when it threw nothing.
struct Thrown {
    bool thrown = false;
    Tolm::CException::Kind kind{};
    std::string message;
    int systemError = 0;
};
template <class Call>
Thrown catchFrom(Call call) {
    try {
        call();
    } catch (Tolm::CException* error) {
        Thrown result{true, error->GetKind(), error->GetMessage(), error->GetSystemError()};
        error->Delete();
        return result;
    }
    return {};
}

}  // namespace TolmTest
