// Records broken-precondition reports instead of letting the framework throw,
// so that tests can check what the library does after a report returns.
// One recorder at a time; the handler is process-wide.
#pragma once

#include <Tolm/Error.h>

#include <string>
#include <vector>

namespace Korvan::testing {

class CReportRecorder {
public:
    CReportRecorder() : previous_(Tolm::SetInternalErrorHandler(&record)) { reports().clear(); }
    ~CReportRecorder() { Tolm::SetInternalErrorHandler(previous_); }
    CReportRecorder(const CReportRecorder&) = delete;
    CReportRecorder& operator=(const CReportRecorder&) = delete;

    int Count() const { return static_cast<int>(reports().size()); }
    // Number of reports naming the source file, such as "Src\\BasicTools".
    int CountFrom(const std::string& file) const {
        int count = 0;
        for (const auto& report : reports()) count += report.file == file ? 1 : 0;
        return count;
    }

private:
    static std::vector<Tolm::InternalErrorReport>& reports() {
        static std::vector<Tolm::InternalErrorReport> all;
        return all;
    }
    static bool record(const Tolm::InternalErrorReport& report) {
        reports().push_back(report);
        return false;
    }

    Tolm::InternalErrorHandler previous_;
};

}  // namespace Korvan::testing
