// Test helpers of the framework's tests: a recorder of internal-error reports
// (installed for the life of the object, so a test can count reports and go on
// after them) and a catcher of framework exceptions.
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
    // True when the last report names a source file of the framework itself.
    bool lastFromFramework() const { return last().file.find("platform/Tolm/src/") != std::string::npos; }
    inline static std::vector<Tolm::InternalErrorReport> reports;

private:
    static bool record(const Tolm::InternalErrorReport& report) {
        reports.push_back(report);
        return false;
    }
    Tolm::InternalErrorHandler previous_;
};

// What a call threw; the message stays empty when it threw nothing.
struct Thrown {
    Tolm::CException::Kind kind{};
    std::string message;
    int systemError = 0;
};
template <class Call>
Thrown catchFrom(Call call) {
    try {
        call();
    } catch (Tolm::CException* error) {
        Thrown result{error->GetKind(), error->GetMessage(), error->GetSystemError()};
        error->Delete();
        return result;
    }
    return {};
}

}  // namespace TolmTest
