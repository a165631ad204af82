// Modules: libraries that announce themselves to the framework.
//
// A library's load runs inside a static part (BeginStaticPart ..
// EndStaticPart): internal errors reported while a static part is open are
// recorded rather than thrown, and HasStaticPartError() answers whether the
// static part last closed saw any. Static parts nest; the error flag is reset
// when the outermost one opens. A static part belongs to the thread that opened
// it (a library loads and unloads on one thread): reports on other threads are
// not taken for errors of that load.
//
// RegisterModule/UnregisterModule and AddNotUnloadingResourceModule/
// RemoveResourceModule keep the framework's lists of modules; IsModuleRegistered
// lets a host tell whether a library's load completed.
//
// Test seams: a call observer sees every module call by name, in order
// ("BeginStaticPart", "EndStaticPart", "HasStaticPartError", "RegisterModule",
// "UnregisterModule", "AddNotUnloadingResourceModule", "RemoveResourceModule",
// "GetTolmworksVersion"); SetTolmworksVersionForTesting makes
// GetTolmworksVersion answer another number (0 restores 12014).
// The module lists, the observer and the version seam are process-wide and
// thread-safe. RegisterModule calls init once the module is listed, and
// UnregisterModule calls term once it is withdrawn.
#pragma once

#include <Tolm/Types.h>

namespace Tolm {

inline constexpr int kTolmworksVersion = 12014;

using ModuleCallback = void (*)();

TOLM_API void BeginStaticPart();
TOLM_API void EndStaticPart();
TOLM_API bool HasStaticPartError();
TOLM_API bool IsInsideStaticPart();
TOLM_API void RegisterModule(HINSTANCE module, ModuleCallback init, ModuleCallback term);
TOLM_API void UnregisterModule(HINSTANCE module);
TOLM_API bool IsModuleRegistered(HINSTANCE module);
TOLM_API void AddNotUnloadingResourceModule(HINSTANCE module);
TOLM_API void RemoveResourceModule(HINSTANCE module);
TOLM_API bool IsResourceModule(HINSTANCE module);
TOLM_API int GetTolmworksVersion();
// The handle of the process's main program, as the system gives it (on Linux
// its base address, of the same kind as a library's handle from dladdr); null
// when the system cannot tell.
TOLM_API HINSTANCE GetMainProgramHandle() noexcept;

using ModuleCallObserver = void (*)(const char* call, HINSTANCE module);
TOLM_API ModuleCallObserver SetModuleCallObserver(ModuleCallObserver observer) noexcept;
TOLM_API void SetTolmworksVersionForTesting(int version) noexcept;

}  // namespace Tolm
