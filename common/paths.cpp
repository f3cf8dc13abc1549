#include "common/paths.h"

#include "common/log.h"
#include "common/platform/os.h"

namespace quilo {

namespace {

std::filesystem::path ModulePath(const os::Module& module) {
    std::string error;
    auto path = os::ModuleFileName(module, &error);
    if (path.empty()) QUILO_LOG_ERROR("Failed to query module filename: ec={}", error);
    return path;
}

}  // namespace

std::filesystem::path GetExecutablePath() { return ModulePath(os::Module{/*isExecutable=*/true, {}}); }

std::filesystem::path GetLibraryPath(const void* address) {
    os::Module module;
    std::string error;
    if (!os::FindModule(address ? address : os::AddressInThisLibrary(), &module, &error)) {
        QUILO_LOG_ERROR("Failed to query module handle: ec={}", error);
        return {};
    }
    return ModulePath(module);
}

std::filesystem::path GetLibraryPath() { return GetLibraryPath(nullptr); }

std::filesystem::path GetDefaultLogsDirectory() { return GetLibraryPath().parent_path() / "VARDOLogs"; }

std::filesystem::path GetAppDataPath() { return os::MachineDataDirectory(); }

std::string GetLastErrorAsString() { return os::LastErrorText(); }

}  // namespace quilo
