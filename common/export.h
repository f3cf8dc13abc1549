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

// Marks the exported functions of a plugin library: C linkage, visible.
#if defined(_WIN32)
#define QUILO_PLUGIN_EXPORT extern "C" __declspec(dllexport)
#else
#define QUILO_PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))
#endif
