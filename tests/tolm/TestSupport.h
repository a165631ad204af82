// Test helpers of the framework's tests: a recorder of internal-error reports
// (installed for the life of the object, so that a test can count reports and
// go on after them) and readable printing of framework strings.
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
    ReportRecorder() : previous_(Tolm::SetInternalErrorHandler(&record)) { reports().clear(); }
    ~ReportRecorder() { Tolm::SetInternalErrorHandler(previous_); }
    ReportRecorder(const ReportRecorder&) = delete;
    ReportRecorder& operator=(const ReportRecorder&) = delete;

    static std::vector<Tolm::InternalErrorReport>& reports() {
        static std::vector<Tolm::InternalErrorReport> all;
        return all;
    }
    int count() const { return static_cast<int>(reports().size()); }
    const Tolm::InternalErrorReport& last() const { return reports().back(); }

private:
    static bool record(const Tolm::InternalErrorReport& report) {
        reports().push_back(report);
        return false;
    }
    Tolm::InternalErrorHandler previous_;
};

// True when the report names a source file of the framework itself.
inline bool fromFramework(const Tolm::InternalErrorReport& report) {
    return report.file.find("platform/Tolm/src/") != std::string::npos;
}

}  // namespace TolmTest
