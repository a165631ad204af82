#include "ModuleFrame.h"

#include <Korvan/Export.h>
#include <Tolm/Error.h>
#include <Tolm/Module.h>

#include <cstdio>
#include <exception>
#include <new>
#include <utility>

#include "Report.h"

// Only an entry of the export table, by which the framework and hosts tell a
// library built on the framework; never read or written here.
extern "C" {
KORVAN_API int __TolmbaseUsed = 0;
}

namespace Korvan::ModuleFrame {
namespace {

HINSTANCE storedModule = nullptr;

// Writes the failure being handled to stderr and disposes of it. Call only
// inside a catch block.
void disposeOfCurrentFailure(const char* step) noexcept {
    try {
        throw;
    } catch (Tolm::CException* error) {
        std::fprintf(stderr, "Korvan.Gearset: %s: %s\n", step, error->GetMessage());
        error->Delete();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "Korvan.Gearset: %s: %s\n", step, error.what());
    } catch (...) {
        std::fprintf(stderr, "Korvan.Gearset: %s: unknown exception\n", step);
    }
}

// The module frame reports at load and unload time, where nothing may throw
// to the loader; a report that throws is treated like one that returns.
template <class Report>
void reportAndGoOn(Report report) noexcept {
    try {
        report();
    } catch (...) {
        disposeOfCurrentFailure("broken precondition");
    }
}

// Runs one step of a load or unload; false when it threw.
template <class Step>
bool runStep(const char* name, Step step) noexcept {
    try {
        step();
        return true;
    } catch (...) {
        disposeOfCurrentFailure(name);
        return false;
    }
}

void doNothing() {}

// Raw static storage for an object whose lifetime the module frame controls.
// Trivially destructible, so the runtime registers no teardown of its own.
template <class T>
class CInPlace {
public:
    constexpr CInPlace() = default;
    CInPlace(const CInPlace&) = delete;
    CInPlace& operator=(const CInPlace&) = delete;

    // Leaves nothing built when T's constructor throws.
    void Construct() {
        if (object_ == nullptr) object_ = new (static_cast<void*>(bytes_)) T();
    }
    void Destroy() noexcept {
        if (object_ != nullptr) std::exchange(object_, nullptr)->~T();
    }

private:
    alignas(T) unsigned char bytes_[sizeof(T)] = {};
    T* object_ = nullptr;
};

// First static object: the library is a resource module of the framework for
// as long as it is loaded. A zero handle is reported and passed on all the same.
class CResourceModuleRegistration {
public:
    CResourceModuleRegistration() {
        const HINSTANCE module = GetModuleInstance();
        if (module == nullptr) {
            reportAndGoOn([] { KORVAN_REPORT_BROKEN_PRECONDITION(); });
        }
        Tolm::AddNotUnloadingResourceModule(module);
    }
    ~CResourceModuleRegistration() {
        try {
            const HINSTANCE module = GetModuleInstance();
            if (module == nullptr) {
                reportAndGoOn([] { KORVAN_REPORT_BROKEN_PRECONDITION(); });
            }
            Tolm::RemoveResourceModule(module);
        } catch (...) {
            disposeOfCurrentFailure("resource-module removal");
        }
    }
    CResourceModuleRegistration(const CResourceModuleRegistration&) = delete;
    CResourceModuleRegistration& operator=(const CResourceModuleRegistration&) = delete;
};

// Second static object: all its work is the check at construction.
class CTolmworksVersionCheck {
public:
    CTolmworksVersionCheck() {
        if (Tolm::GetTolmworksVersion() != kRequiredTolmworksVersion) {
            reportAndGoOn([] { KORVAN_REPORT_BROKEN_PRECONDITION(); });
        }
    }
    CTolmworksVersionCheck(const CTolmworksVersionCheck&) = delete;
    CTolmworksVersionCheck& operator=(const CTolmworksVersionCheck&) = delete;
};

constinit CInPlace<CResourceModuleRegistration> resourceModuleRegistration;
constinit CInPlace<CTolmworksVersionCheck> versionCheck;

}  // namespace

int EarlyHook(HINSTANCE module, DWORD reason, void* /*reserved*/) {
    if (reason == kProcessAttach) {
        if (storedModule != nullptr && storedModule != module) {
            reportAndGoOn([] { KORVAN_REPORT_BROKEN_PRECONDITION(); });
        }
        storedModule = module;
        Tolm::BeginStaticPart();
    } else if (reason == kProcessDetach) {
        Tolm::EndStaticPart();
    }
    return 1;
}

int MainEntry(HINSTANCE module, DWORD reason, void* /*reserved*/) {
    if (reason == kProcessAttach) {
        // The static part the early hook opened is closed whatever happens here.
        const bool registered =
            runStep("module registration", [module] { Tolm::RegisterModule(module, doNothing, doNothing); });
        Tolm::EndStaticPart();
        if (!registered || Tolm::HasStaticPartError()) return 0;
    } else if (reason == kProcessDetach) {
        Tolm::BeginStaticPart();
        Tolm::UnregisterModule(module);
    }
    return 1;
}

HINSTANCE GetModuleInstance() {
    if (storedModule == nullptr) storedModule = Tolm::GetMainProgramHandle();
    return storedModule;
}

bool RunLoad(HINSTANCE module) noexcept {
    // Every step runs even after one threw, so that the static part opened in
    // step 1 is closed in step 4; a step that threw then fails the load.
    bool stepsHeld = runStep("early hook (load)", [module] { EarlyHook(module, kProcessAttach, nullptr); });
    stepsHeld &= runStep("resource-module registration", [] { resourceModuleRegistration.Construct(); });
    stepsHeld &= runStep("framework version check", [] { versionCheck.Construct(); });
    bool isRegistered = false;
    stepsHeld &= runStep("main entry (load)", [module, &isRegistered] {
        isRegistered = MainEntry(module, kProcessAttach, nullptr) != 0;
    });
    if (stepsHeld && isRegistered) return true;
    RunUnload(module);
    return false;
}

void RunUnload(HINSTANCE module) noexcept {
    runStep("main entry (unload)", [module] { MainEntry(module, kProcessDetach, nullptr); });
    versionCheck.Destroy();
    resourceModuleRegistration.Destroy();
    runStep("early hook (unload)", [module] { EarlyHook(module, kProcessDetach, nullptr); });
}

void ForgetModuleInstanceForTesting() noexcept { storedModule = nullptr; }

}  // namespace Korvan::ModuleFrame
