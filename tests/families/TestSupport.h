// Helpers shared by the family and image-saving tests.
#pragma once

#include <Korvan/BasicTools.h>

#include <Tolm/Error.h>

#include <algorithm>
#include <string>
#include <vector>

namespace Korvan::testing {

inline CByteArray bytes(const std::vector<int>& values) {
    CByteArray array;
    for (const int value : values) array.Add(static_cast<unsigned char>(value));
    return array;
}

// Records the files that broken-precondition reports name, instead of letting
// the framework throw, so that tests can check what the library does after a
// report returns. One recorder at a time; the handler is process-wide.
class CReportRecorder {
public:
    CReportRecorder() { files.clear(); }
    ~CReportRecorder() { Tolm::SetInternalErrorHandler(previous_); }
    CReportRecorder(const CReportRecorder&) = delete;
    CReportRecorder& operator=(const CReportRecorder&) = delete;

    // Reports naming the source file (such as "Src\\BasicTools"), or all reports.
    int Count(const std::string& file = {}) const {
        return static_cast<int>(file.empty() ? files.size() : std::count(files.begin(), files.end(), file));
    }

private:
    inline static std::vector<std::string> files;
    Tolm::InternalErrorHandler previous_ = Tolm::SetInternalErrorHandler(
        [](const Tolm::InternalErrorReport& report) { return files.emplace_back(report.file), false; });
};

}  // namespace Korvan::testing
