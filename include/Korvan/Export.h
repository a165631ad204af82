#pragma once

#if defined(_WIN32)
#ifdef KORVAN_GEARSET_BUILDING
#define KORVAN_API __declspec(dllexport)
#else
#define KORVAN_API __declspec(dllimport)
#endif
#else
#define KORVAN_API __attribute__((visibility("default")))
#endif
