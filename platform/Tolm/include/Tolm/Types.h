// Basic platform types of the framework.
//
// The framework speaks the types of its home platform (module handles,
// FILETIME) as Tolm::HINSTANCE, Tolm::DWORD and Tolm::FILETIME: there the
// system's own, elsewhere defined here with the same layout, so that the
// library's code reads the same everywhere. The one other thing that differs
// by system here is the type of a shared reference count.
#pragma once

#include <atomic>
#include <cstdint>

#ifdef _WIN32
// The framework's names (GetMessage, min, max) must stay the framework's.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#undef GetMessage

namespace Tolm {
using ::DWORD;
using ::FILETIME;
using ::HINSTANCE;
namespace detail {
// The reference count of an object shared between threads: a LONG of the
// system's interlocked calls.
using ReferenceCount = volatile long;
}  // namespace detail
}  // namespace Tolm
#else
// In the framework's namespace, so that a host with types of these names of
// its own is not disturbed.
namespace Tolm {

using HINSTANCE = void*;
using DWORD = std::uint32_t;

// 100-ns ticks since 1 January 1601, split in two 32-bit halves.
struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

namespace detail {
using ReferenceCount = std::atomic<int>;
}  // namespace detail

}  // namespace Tolm
#endif

// How every library of the project marks what it exports and imports; each
// defines its own API macro from these two (TOLM_API below, KORVAN_API,
// IMAGE_API, UNICODE_API).
#if defined(_WIN32)
#define TOLM_EXPORT_API __declspec(dllexport)
#define TOLM_IMPORT_API __declspec(dllimport)
#else
#define TOLM_EXPORT_API __attribute__((visibility("default")))
#define TOLM_IMPORT_API __attribute__((visibility("default")))
#endif

#ifdef TOLMBASE_BUILDING
#define TOLM_API TOLM_EXPORT_API
#else
#define TOLM_API TOLM_IMPORT_API
#endif
