// The system's text for a Windows error code. Header-only, so that the tests'
// support, which links no engine library, expects exactly the texts the
// engine reports.
#pragma once

#include "common/platform/windows/windowsHeaders.h"

#include <string>

namespace quilo::os {

// The system's message for `code`, in the system's default language; empty
// when the system has none for it.
inline std::string ErrorCodeText(DWORD code) {
    char* buffer = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
        MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
    std::string text(buffer ? buffer : "", buffer ? length : 0);
    LocalFree(buffer);
    return text;
}

}  // namespace quilo::os
