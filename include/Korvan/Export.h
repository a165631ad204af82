// How the library marks what it exports: as the framework does (Tolm/Types.h).
#pragma once

#include <Tolm/Types.h>

#ifdef KORVAN_GEARSET_BUILDING
#define KORVAN_API TOLM_EXPORT_API
#else
#define KORVAN_API TOLM_IMPORT_API
#endif
