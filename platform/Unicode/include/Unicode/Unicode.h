// Character properties.
//
// GetDigits(): the set of decimal digit characters: "0".."9" and the other
// decimal-digit blocks of the Basic Multilingual Plane (Arabic-Indic,
// Devanagari, fullwidth and the like). The set is built once and shared;
// thread-safe.
#pragma once

#include <Tolm/String.h>
#include <Tolm/Types.h>

#ifdef UNICODE_BUILDING
#define UNICODE_API TOLM_EXPORT_API
#else
#define UNICODE_API TOLM_IMPORT_API
#endif

namespace Unicode {

UNICODE_API const Tolm::CUnicodeSet& GetDigits();

}  // namespace Unicode
