#include "support/system.h"

#include "common/platform/windows/windowsHeaders.h"

#include <cstdlib>

namespace quilo::test {
namespace {

// The system's message for `code`, as the engine reads it; the texts differ
// between Windows versions and languages, so they are asked for, not written here.
std::string MessageOf(DWORD code) {
    char* buffer = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
        MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
    std::string text(buffer ? buffer : "", buffer ? length : 0);
    LocalFree(buffer);
    return text;
}

}  // namespace

std::string LibraryNotFoundText(const std::string& /*fileName: not named by the system*/) {
    return MessageOf(ERROR_MOD_NOT_FOUND);
}

std::string NotALibraryText(const std::filesystem::path& /*path: not named by the system*/) {
    return MessageOf(ERROR_BAD_EXE_FORMAT);
}

std::string MissingExportText(const std::filesystem::path& /*path*/, const std::string& /*symbol*/) {
    return MessageOf(ERROR_PROC_NOT_FOUND);
}

bool CanBuildLibrariesWithUnresolvedSymbols() { return false; }

void SetLastSystemError(SystemError error) {
    SetLastError(error == SystemError::kNone ? ERROR_SUCCESS : ERROR_ACCESS_DENIED);
}

std::string SystemErrorText(SystemError error) {
    return error == SystemError::kNone ? std::string() : MessageOf(ERROR_ACCESS_DENIED);
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
