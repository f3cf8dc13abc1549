// <windows.h> as the Windows files of the platform layer (and of the tests'
// support) include it: without the min and max macros, which clash with
// std::min and std::max, and without the rarely used parts of the API.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
