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
// Windows: DllMain passes process attach and detach to RunLoad and RunUnload
// with the loader's hInstance. Returning FALSE when RunLoad fails makes
// LoadLibraryW fail; RunLoad has then undone its steps already, and the
// process detach that the loader sends after a refused attach does nothing.
// Thread notifications do nothing. The static objects of the module frame
// live in raw storage that RunLoad and RunUnload build and destroy, so the
// early hook comes before them and after them whatever the runtime's own
// order of construction is.
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

#else

namespace {

HINSTANCE ownModule = nullptr;
bool isRegistered = false;

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            ownModule = module;
            isRegistered = Korvan::ModuleFrame::RunLoad(module);
            return isRegistered ? TRUE : FALSE;
        case DLL_PROCESS_DETACH:
            if (isRegistered) {
                isRegistered = false;
                Korvan::ModuleFrame::RunUnload(ownModule);
            }
            return TRUE;
        default:
            return TRUE;
    }
}

#endif
