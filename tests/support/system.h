// What the system says and where it searches, for tests whose expectations
// depend on the operating system. Each system implements these in
// support/platform/<os>/system.cpp.
#pragma once

#include <filesystem>
#include <string>
#include <utility>

namespace quilo::test {

// The loader's text for a library file `fileName` that is nowhere to be found.
std::string LibraryNotFoundText(const std::string& fileName);
// The loader's text for the file `path` that is not a library.
std::string NotALibraryText(const std::filesystem::path& path);
// The loader's text for the export `symbol` that the library at `path` lacks.
std::string MissingExportText(const std::filesystem::path& path, const std::string& symbol);

// Whether the loader refuses a library that needs a symbol no loaded module
// has (an import that cannot be built on systems that link every import).
bool CanBuildLibrariesWithUnresolvedSymbols();

// Makes `error` (none, or access denied) the calling thread's last system
// error; and the system's text for it.
enum class SystemError { kNone, kAccessDenied };
void SetLastSystemError(SystemError error);
std::string SystemErrorText(SystemError error);

// The environment variable, and its value for a child process, that adds
// `folder` in front of the folders the loader searches for libraries.
std::pair<std::string, std::string> LibrarySearchPathWith(const std::filesystem::path& folder);

// An address inside a shared library other than the engine and the test
// program, and the start of that library's file name.
const void* AddressInAnotherLibrary();
std::string AnotherLibraryFileNamePrefix();

// The machine-wide application-data folder as the system names it.
std::filesystem::path ExpectedMachineDataDirectory();

// The exit code a parent sees for a program whose main returned -1.
int ExitCodeOfMinusOne();

}  // namespace quilo::test
