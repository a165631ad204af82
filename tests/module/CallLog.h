// One ordered log of the module calls the framework sees and of the broken-
// precondition reports (as "report"), so that tests can assert the exact order
// of a load or unload. The framework's seams are process-wide: one CallLog at a
// time, on the test's thread.
#pragma once

#include <Tolm/Error.h>
#include <Tolm/Module.h>

#include <string>
#include <vector>

namespace ModuleTests {

using Calls = std::vector<std::string>;

inline const Calls kLoadCalls = {"BeginStaticPart",     "AddNotUnloadingResourceModule",
                                 "GetTolmworksVersion", "RegisterModule",
                                 "EndStaticPart",       "HasStaticPartError"};
inline const Calls kUnloadCalls = {"BeginStaticPart", "UnregisterModule", "RemoveResourceModule",
                                   "EndStaticPart"};

inline Calls joined(Calls first, const Calls& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}
// A load whose version check reports: the one report comes before
// RegisterModule, and the failed load is undone at once.
inline Calls failedLoadCalls() {
    Calls calls = joined(kLoadCalls, kUnloadCalls);
    calls.insert(calls.begin() + 3, "report");
    return calls;
}

// Reports and module calls of the process, from construction to destruction.
class CallLog {
public:
    // throwOnReport: reports throw, as the framework's default does outside a static part.
    explicit CallLog(bool throwOnReport = false) {
        Clear();
        throwing = throwOnReport;
        Tolm::SetModuleCallObserver(&observe);
        Tolm::SetInternalErrorHandler(&handle);
    }
    ~CallLog() {
        Tolm::SetModuleCallObserver(nullptr);
        Tolm::SetInternalErrorHandler(nullptr);
        Tolm::SetTolmworksVersionForTesting(0);
    }
    CallLog(const CallLog&) = delete;
    CallLog& operator=(const CallLog&) = delete;
    static void Clear() {
        failingCall.clear();
        calls.clear();
        modules.clear();
        reports.clear();
    }

    inline static Calls calls;                           // module calls by name, and "report"
    inline static std::vector<Tolm::HINSTANCE> modules;  // the argument of each call that takes one
    inline static std::vector<Tolm::InternalErrorReport> reports;
    // A module call of this name throws once it is logged, as a framework
    // call that fails would.
    inline static std::string failingCall;

private:
    inline static bool throwing = false;
    static void observe(const char* call, Tolm::HINSTANCE module) {
        calls.emplace_back(call);
        if (calls.back().find("Module") != std::string::npos) modules.push_back(module);
        if (calls.back() == failingCall)
            throw new Tolm::CException(Tolm::CException::Kind::internal, "refused");
    }
    static bool handle(const Tolm::InternalErrorReport& report) {
        calls.emplace_back("report");
        reports.push_back(report);
        if (throwing) throw new Tolm::CException(Tolm::CException::Kind::internal, "broken precondition");
        return false;
    }
};

}  // namespace ModuleTests
