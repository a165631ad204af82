// Binds the module frame's load and unload to the platform's loader.
//
// Linux: one constructor function runs the whole load (RunLoad) when dlopen or
// the program's start maps the library, and one destructor function runs the
// whole unload (RunUnload) when dlclose or the program's end removes it.
// Priority 101 puts the load before any other initialiser of the library, so
// that the early hook stores the library's own handle before anything asks for
// it, and the unload after the library's other destructor functions.
//
// A constructor function cannot make dlopen fail: after a failed load the
// library stays mapped, unregistered, and its destructor function then does
// nothing.
//
// Windows (not built yet): DllMain passes process attach and detach to RunLoad
// and RunUnload with its hInstance, returning FALSE when RunLoad fails, and
// thread notifications to EarlyHook and MainEntry.
#include "ModuleFrame.h"

#ifndef _WIN32

#include <dlfcn.h>

namespace {

// Any object of the library serves to find its base address.
const char baseAnchor = 0;

Tolm::HINSTANCE ownModule = nullptr;
bool isRegistered = false;

Tolm::HINSTANCE ownModuleHandle() noexcept {
    Dl_info info{};
    if (dladdr(&baseAnchor, &info) == 0) return nullptr;
    return info.dli_fbase;
}

__attribute__((constructor(101))) void loadGearset() noexcept {
    ownModule = ownModuleHandle();
    isRegistered = Korvan::ModuleFrame::RunLoad(ownModule);
}

__attribute__((destructor(101))) void unloadGearset() noexcept {
    if (!isRegistered) return;
    isRegistered = false;
    Korvan::ModuleFrame::RunUnload(ownModule);
}

}  // namespace

#endif
