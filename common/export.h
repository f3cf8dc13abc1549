// Symbol visibility of the engine library: everything is hidden unless marked.
#pragma once

#if defined(_WIN32)
#if defined(QUILO_BUILDING_LIBRARY)
#define QUILO_API __declspec(dllexport)
#else
#define QUILO_API __declspec(dllimport)
#endif
#else
#define QUILO_API __attribute__((visibility("default")))
#endif
