// Helpers shared by the family and image-saving tests.
#pragma once

#include <Korvan/BasicTools.h>

#include <Tolm/Error.h>

#include <string>
#include <vector>

namespace Korvan::testing {

inline CByteArray bytes(const std::vector<int>& values) {
    CByteArray array;
    for (const int value : values) array.Add(static_cast<unsigned char>(value));
    return array;
}

// Records broken-precondition reports instead of letting the framework throw,
// so that tests can check what the library does after a report returns.
// One recorder at a time; the handler is process-wide.
class CReportRecorder {
public:
    CReportRecorder() : previous_(Tolm::SetInternalErrorHandler(&record)) { reports.clear(); }
    ~CReportRecorder() { Tolm::SetInternalErrorHandler(previous_); }
    CReportRecorder(const CReportRecorder&) = delete;
    CReportRecorder& operator=(const CReportRecorder&) = delete;

    // Reports naming the source file (such as "Src\\BasicTools"), or all reports.
    int Count(const std::string& file = {}) const {
        int count = 0;
        for (const auto& report : reports) count += file.empty() || report.file == file ? 1 : 0;
        return count;
    }

private:
    static bool record(const Tolm::InternalErrorReport& report) {
        reports.push_back(report);
        return false;
    }

    inline static std::vector<Tolm::InternalErrorReport> reports;
    Tolm::InternalErrorHandler previous_;
};

}  // namespace Korvan::testing
