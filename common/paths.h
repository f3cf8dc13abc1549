// Paths of the executable, of the engine library and of its logs folder.
// An empty path means failure; the failure has been logged.
#pragma once

#include <filesystem>
#include <string>

#include "common/export.h"

namespace quilo {

// Full path of the process's executable file.
QUILO_API std::filesystem::path GetExecutablePath();
// Full path of the module (executable or shared library) that contains
// `address`; null means the engine library itself.
QUILO_API std::filesystem::path GetLibraryPath(const void* address);
// Full path of the module that contains the engine's code.
QUILO_API std::filesystem::path GetLibraryPath();
// The folder of the engine library joined with "VARDOLogs"; the relative
// "VARDOLogs" when the library path is unknown.
QUILO_API std::filesystem::path GetDefaultLogsDirectory();
// The machine-wide application-data folder; empty when unknown.
QUILO_API std::filesystem::path GetAppDataPath();
// The text of the calling thread's last system error; empty when there is none.
QUILO_API std::string GetLastErrorAsString();

}  // namespace quilo
