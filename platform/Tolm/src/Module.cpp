#include <Tolm/Module.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

#include "Internal.h"
#include "SystemPort.h"

namespace Tolm {

namespace {

// A static part belongs to the thread that opened it: a library loads and
// unloads on one thread, and a broken precondition on another thread must
// not be mistaken for a failure of that load.
struct StaticPartState {
    int depth = 0;
    bool error = false;
};
thread_local StaticPartState staticPart;

struct ModuleEntry {
    HINSTANCE module;
    ModuleCallback init;
    ModuleCallback term;
};

struct ModuleLists {
    std::mutex mutex;
    std::vector<ModuleEntry, CAllocator<ModuleEntry>> modules;
    std::vector<HINSTANCE, CAllocator<HINSTANCE>> resourceModules;
};

ModuleLists& lists() { return detail::leakedSingleton<ModuleLists>(); }

std::atomic<ModuleCallObserver> callObserver{nullptr};
std::atomic<int> versionForTesting{0};

void observe(const char* call, HINSTANCE module) {
    if (ModuleCallObserver observer = callObserver.load(std::memory_order_acquire)) observer(call, module);
}

}  // namespace

namespace detail {
void recordStaticPartError() noexcept { staticPart.error = true; }
}  // namespace detail

void BeginStaticPart() {
    observe("BeginStaticPart", nullptr);
    if (staticPart.depth++ == 0) staticPart.error = false;
}

void EndStaticPart() {
    observe("EndStaticPart", nullptr);
    if (staticPart.depth == 0) {
        TOLM_REPORT_INTERNAL(u"static part closed without being opened", u"");
        return;
    }
    --staticPart.depth;
}

bool HasStaticPartError() {
    observe("HasStaticPartError", nullptr);
    return staticPart.error;
}

bool IsInsideStaticPart() { return staticPart.depth > 0; }

void RegisterModule(HINSTANCE module, ModuleCallback init, ModuleCallback term) {
    observe("RegisterModule", module);
    {
        ModuleLists& all = lists();
        std::lock_guard lock(all.mutex);
        const auto found =
            std::find_if(all.modules.begin(), all.modules.end(),
                         [module](const ModuleEntry& entry) { return entry.module == module; });
        if (found != all.modules.end()) {
            *found = {module, init, term};
            return;
        }
        all.modules.push_back({module, init, term});
    }
    // Outside the lock: a callback may call back into the framework.
    if (init) init();
}

void UnregisterModule(HINSTANCE module) {
    observe("UnregisterModule", module);
    ModuleCallback term = nullptr;
    {
        ModuleLists& all = lists();
        std::lock_guard lock(all.mutex);
        const auto found =
            std::find_if(all.modules.begin(), all.modules.end(),
                         [module](const ModuleEntry& entry) { return entry.module == module; });
        if (found == all.modules.end()) return;
        term = found->term;
        all.modules.erase(found);
    }
    if (term) term();
}

bool IsModuleRegistered(HINSTANCE module) {
    ModuleLists& all = lists();
    std::lock_guard lock(all.mutex);
    return std::any_of(all.modules.begin(), all.modules.end(),
                       [module](const ModuleEntry& entry) { return entry.module == module; });
}

void AddNotUnloadingResourceModule(HINSTANCE module) {
    observe("AddNotUnloadingResourceModule", module);
    ModuleLists& all = lists();
    std::lock_guard lock(all.mutex);
    // Counted: each addition is undone by one removal.
    all.resourceModules.push_back(module);
}

void RemoveResourceModule(HINSTANCE module) {
    observe("RemoveResourceModule", module);
    ModuleLists& all = lists();
    std::lock_guard lock(all.mutex);
    const auto found = std::find(all.resourceModules.begin(), all.resourceModules.end(), module);
    if (found != all.resourceModules.end()) all.resourceModules.erase(found);
}

bool IsResourceModule(HINSTANCE module) {
    ModuleLists& all = lists();
    std::lock_guard lock(all.mutex);
    return std::find(all.resourceModules.begin(), all.resourceModules.end(), module) !=
           all.resourceModules.end();
}

int GetTolmworksVersion() {
    observe("GetTolmworksVersion", nullptr);
    const int version = versionForTesting.load(std::memory_order_acquire);
    return version != 0 ? version : kTolmworksVersion;
}

ModuleCallObserver SetModuleCallObserver(ModuleCallObserver observer) noexcept {
    return callObserver.exchange(observer, std::memory_order_acq_rel);
}

void SetTolmworksVersionForTesting(int version) noexcept {
    versionForTesting.store(version, std::memory_order_release);
}

HINSTANCE GetMainProgramHandle() noexcept { return detail::systemPort().mainProgramHandle(); }

}  // namespace Tolm
