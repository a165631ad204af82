// The module frame of Korvan.Gearset: what runs when a host process loads and
// unloads the library. It announces the library to the framework Tolm as a
// module and as a resource module, checks the framework's version, and
// withdraws both again on unload. Internal to the library; nothing here is
// exported except the marker __TolmbaseUsed.
//
// Load, on the loading thread, in this order:
//   1. EarlyHook(attach): store the module handle (reporting a second,
//      different one), Tolm::BeginStaticPart().
//   2. First static object: Tolm::AddNotUnloadingResourceModule(handle).
//   3. Second static object: a report unless Tolm::GetTolmworksVersion() is
//      12014; nothing else. Whether a wrong version fails the load is the
//      framework's decision, through HasStaticPartError() in step 4.
//   4. MainEntry(attach): Tolm::RegisterModule(handle, f, f) with one
//      do-nothing f, Tolm::EndStaticPart(), then failure if
//      Tolm::HasStaticPartError().
//   5. After a failure, U1 to U3 at once: the library ends up not registered.
// Unload:
//   U1. MainEntry(detach): Tolm::BeginStaticPart(), Tolm::UnregisterModule(handle).
//   U2. First static object destroyed: Tolm::RemoveResourceModule(handle).
//   U3. EarlyHook(detach): Tolm::EndStaticPart().
// Thread attach and detach: both entry points answer success and do nothing.
//
// The two "static objects" are not C++ objects of static storage duration:
// they live in raw static storage and RunLoad/RunUnload build and destroy them
// explicitly. On Linux the runtime destroys static-storage objects (their
// destructors registered with __cxa_atexit) before it runs the library's
// destructor functions, which would put U2 before U1; explicit lifetimes keep
// the order above on every platform. The library keeps no other static object
// whose construction or destruction calls the framework.
//
// No exception leaves RunLoad or RunUnload: a loader cannot take one. A report
// of a broken precondition made outside a static part throws by default; the
// module frame writes such a failure to stderr, disposes of it and goes on
// with the next step, as it would after a report that returns. A step that
// throws on load counts as failure, so the load is undone.
//
// Binding to the loader (LoaderBinding.cpp): on Linux one constructor function
// of the library calls RunLoad with the library's own base address as module
// handle, and one destructor function calls RunUnload when the load had
// succeeded. A constructor function cannot make dlopen fail: after a failed
// load the library stays mapped but unregistered, and a host tells by
// Tolm::IsModuleRegistered(handle) answering false, where handle is the
// dli_fbase that dladdr gives for the marker __TolmbaseUsed.
//
// Threads: all of this runs on the thread that loads or unloads the library,
// which the loader serialises; the module frame takes no lock.
#pragma once

#include <Tolm/Types.h>

namespace Korvan::ModuleFrame {

using Tolm::DWORD;
using Tolm::HINSTANCE;

// The loader's notification reasons (the values of the Windows loader).
inline constexpr DWORD kProcessDetach = 0;
inline constexpr DWORD kProcessAttach = 1;
inline constexpr DWORD kThreadAttach = 2;
inline constexpr DWORD kThreadDetach = 3;

// The one framework version the library is built for.
inline constexpr int kRequiredTolmworksVersion = 12014;

// The entry points; reserved is the loader's pointer and is not used. Both
// return non-zero on success. EarlyHook runs before the static objects are
// built and after they are destroyed, MainEntry after they are built and
// before they are destroyed.
int EarlyHook(HINSTANCE module, DWORD reason, void* reserved);
int MainEntry(HINSTANCE module, DWORD reason, void* reserved);

// The module handle stored by the early hook. Before any load stored one it is
// the handle of the process's main executable (then stored), so that it is
// never zero on a working platform.
HINSTANCE GetModuleInstance();

// Steps 1 to 5 with the given handle. True when the library ended up
// registered; after false, steps U1 to U3 have already run. Never throws.
bool RunLoad(HINSTANCE module) noexcept;

// Steps U1 to U3. Call only after RunLoad answered true. Never throws.
void RunUnload(HINSTANCE module) noexcept;

// Tests only: forget the stored module handle, as in a fresh process.
void ForgetModuleInstanceForTesting() noexcept;

}  // namespace Korvan::ModuleFrame
