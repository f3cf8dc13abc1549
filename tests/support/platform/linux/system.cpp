#include "support/system.h"

#include <cerrno>
#include <cstdlib>

#include <spdlog/spdlog.h>

namespace quilo::test {

std::string LibraryNotFoundText(const std::string& fileName) { return fileName + ": cannot open shared object file"; }

std::string NotALibraryText(const std::filesystem::path& path) { return path.string() + ": invalid ELF header"; }

std::string MissingExportText(const std::filesystem::path& path, const std::string& symbol) {
    return path.string() + ": undefined symbol: " + symbol;
}

bool CanBuildLibrariesWithUnresolvedSymbols() { return true; }

void SetLastSystemError(SystemError error) { errno = error == SystemError::kNone ? 0 : EACCES; }

std::string SystemErrorText(SystemError error) {
    return error == SystemError::kNone ? std::string() : std::string("Permission denied");
}

std::pair<std::string, std::string> LibrarySearchPathWith(const std::filesystem::path& folder) {
    // Read when a process starts: the test's own value is not needed.
    return {"LD_LIBRARY_PATH", folder.string()};
}

const void* AddressInAnotherLibrary() { return reinterpret_cast<const void*>(&spdlog::default_logger); }

std::string AnotherLibraryFileNamePrefix() { return "libspdlog.so"; }

std::filesystem::path ExpectedMachineDataDirectory() { return "/var/lib"; }

int ExitCodeOfMinusOne() { return 255; }

}  // namespace quilo::test
