#include "support/system.h"

#include "common/platform/windows/windowsHeaders.h"
#include "common/platform/windows/errorText.h"

#include <cstdlib>

namespace quilo::test {

// The loader's and the system's texts, as the engine reads them: they differ
// between Windows versions and languages, so they are asked for, not written here.
std::string LibraryNotFoundText(const std::string& /*fileName: not named by the system*/) {
    return os::ErrorCodeText(ERROR_MOD_NOT_FOUND);
}

std::string NotALibraryText(const std::filesystem::path& /*path: not named by the system*/) {
    return os::ErrorCodeText(ERROR_BAD_EXE_FORMAT);
}

std::string MissingExportText(const std::filesystem::path& /*path*/, const std::string& /*symbol*/) {
    return os::ErrorCodeText(ERROR_PROC_NOT_FOUND);
}

bool CanBuildLibrariesWithUnresolvedSymbols() { return false; }

void SetLastSystemError(SystemError error) {
    SetLastError(error == SystemError::kNone ? ERROR_SUCCESS : ERROR_ACCESS_DENIED);
}

std::string SystemErrorText(SystemError error) {
    return error == SystemError::kNone ? std::string() : os::ErrorCodeText(ERROR_ACCESS_DENIED);
}

std::pair<std::string, std::string> LibrarySearchPathWith(const std::filesystem::path& folder) {
    // PATH also leads to the DLLs the test programs need: keep what is there.
    const char* path = std::getenv("PATH");
    return {"PATH", folder.string() + (path ? ";" + std::string(path) : std::string())};
}

const void* AddressInAnotherLibrary() {
    return reinterpret_cast<const void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetTickCount"));
}

std::string AnotherLibraryFileNamePrefix() { return "kernel32"; }

std::filesystem::path ExpectedMachineDataDirectory() {
    // The environment names the same folder for programs that read no shell folders.
    const char* programData = std::getenv("ProgramData");
    return programData ? programData : "";
}

int ExitCodeOfMinusOne() { return -1; }

}  // namespace quilo::test
