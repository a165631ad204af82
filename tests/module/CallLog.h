// Records, in one ordered log, every module call the framework sees and every
// broken-precondition report, so that tests can assert the exact order of a
// load or unload. The framework's seams are process-wide: one CallLog at a
// time, on the test's thread.
#pragma once

#include <Tolm/Error.h>
#include <Tolm/Module.h>

#include <string>
#include <vector>

namespace ModuleTests {

struct Entry {
    std::string call;       // the module call, or "report" for a broken precondition
    HINSTANCE module;       // the module argument; nullptr for calls without one
    std::string file;       // reports only: the file named by the report
    bool insideStaticPart;  // reports only
};

// How a report returns to its caller.
enum class ReportOutcome { returns, throws };

class CallLog {
public:
    explicit CallLog(ReportOutcome outcome = ReportOutcome::returns) {
        entries().clear();
        throwOnReport() = outcome == ReportOutcome::throws;
        previousObserver_ = Tolm::SetModuleCallObserver(&observe);
        previousHandler_ = Tolm::SetInternalErrorHandler(&handle);
    }
    ~CallLog() {
        Tolm::SetModuleCallObserver(previousObserver_);
        Tolm::SetInternalErrorHandler(previousHandler_);
        Tolm::SetTolmworksVersionForTesting(0);
    }
    CallLog(const CallLog&) = delete;
    CallLog& operator=(const CallLog&) = delete;

    // The call names (and "report") in order.
    std::vector<std::string> Calls() const {
        std::vector<std::string> calls;
        for (const Entry& entry : entries()) calls.push_back(entry.call);
        return calls;
    }
    std::vector<Entry> Reports() const {
        std::vector<Entry> reports;
        for (const Entry& entry : entries()) {
            if (entry.call == "report") reports.push_back(entry);
        }
        return reports;
    }
    // The module argument of every call that takes one.
    std::vector<HINSTANCE> ModulesPassed() const {
        std::vector<HINSTANCE> modules;
        for (const Entry& entry : entries()) {
            if (entry.call.find("Module") != std::string::npos) modules.push_back(entry.module);
        }
        return modules;
    }
    void Clear() { entries().clear(); }

private:
    static std::vector<Entry>& entries() {
        static std::vector<Entry> all;
        return all;
    }
    static bool& throwOnReport() {
        static bool value = false;
        return value;
    }
    static void observe(const char* call, HINSTANCE module) {
        entries().push_back({call, module, {}, false});
    }
    static bool handle(const Tolm::InternalErrorReport& report) {
        entries().push_back({"report", nullptr, report.file, report.insideStaticPart});
        if (throwOnReport())
            throw new Tolm::CException(Tolm::CException::Kind::internal, "broken precondition");
        return false;
    }

    Tolm::ModuleCallObserver previousObserver_ = nullptr;
    Tolm::InternalErrorHandler previousHandler_ = nullptr;
};

}  // namespace ModuleTests
