// How the image library marks what it exports: as the framework does
// (Tolm/Types.h).
#pragma once

#include <Tolm/Types.h>

#ifdef IMAGE_BUILDING
#define IMAGE_API TOLM_EXPORT_API
#else
#define IMAGE_API TOLM_IMPORT_API
#endif
