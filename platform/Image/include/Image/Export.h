#pragma once

#if defined(_WIN32)
#ifdef IMAGE_BUILDING
#define IMAGE_API __declspec(dllexport)
#else
#define IMAGE_API __declspec(dllimport)
#endif
#else
#define IMAGE_API __attribute__((visibility("default")))
#endif
