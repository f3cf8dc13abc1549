#include "common/paths.h"

#include "common/log.h"
#include "common/platform/os.h"

namespace quilo {

std::filesystem::path GetLibraryPath(const void* address) {
    std::string error;
    auto path = os::ModulePath(address ? address : os::AddressInThisLibrary(), &error);
    if (path.empty()) QUILO_LOG_ERROR("Failed to query module handle: ec={}", error);
    return path;
}

std::filesystem::path GetLibraryPath() { return GetLibraryPath(nullptr); }

std::filesystem::path GetDefaultLogsDirectory() {
    return GetLibraryPath().parent_path() / "VARDOLogs";
}

}  // namespace quilo
