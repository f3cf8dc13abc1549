// The operating-system corner of the engine. Everything the engine needs from
// the OS goes through these functions; each OS has its implementation files in
// its own folder (common/platform/linux/, common/platform/windows/), and
// nothing else includes OS headers. Internal: not installed as part of the
// interface.
//
// All functions may be called from any thread. Failures are reported through
// the calling thread's last error (LastErrorText) or an `error` text.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace quilo {
class Platform;
}

namespace quilo::os {

// The OS's Platform implementation.
std::unique_ptr<Platform> CreatePlatform();

// Nanoseconds of the system (wall) clock since 1970-01-01 00:00 UTC.
int64_t SystemTimeNs();

// Full path of the process's executable; empty on failure, with `error` set
// to the system's text or error code.
std::filesystem::path ExecutablePath(std::string* error);

// A loaded module (the executable or a shared library), as found by an
// address inside it.
struct Module {
    bool isExecutable = false;
    std::string loaderName;  // the name the loader knows a shared library by, where it has one
    void* handle = nullptr;  // the loader's handle of a shared library, where it has one
};

// Finds the loaded module that contains `address`, without changing its
// reference count. False when no module contains it, with `error` set to the
// system's text or error code.
bool FindModule(const void* address, Module* module, std::string* error);

// Canonical absolute path of the module's file; empty on failure, with
// `error` set to the system's text or error code.
std::filesystem::path ModuleFileName(const Module& module, std::string* error);

// An address inside the engine library.
const void* AddressInThisLibrary();

// The machine-wide folder for application data; empty when it is missing.
std::filesystem::path MachineDataDirectory();

// The text of the calling thread's last error: the dynamic loader's message
// when the thread's last failure was a library call below, otherwise the
// system's text for the thread's error number; empty when there is none.
std::string LastErrorText();

// True when a debugger (or any other tracer) is attached to the process.
bool DebuggerPresent();

// Suspends the calling thread for at least `milliseconds`.
void SleepMilliseconds(unsigned milliseconds);

// The file name of the shared library with base name `name`, e.g. "name.so".
std::string LibraryFileName(const std::string& name);

// A narrow file name or path as a path, read in the code page the system's
// file functions use for narrow names; and back. Throw std::system_error when
// the text cannot be converted.
std::filesystem::path PathFromNarrow(const std::string& text);
std::string NarrowFromPath(const std::filesystem::path& path);

// Loads the shared library at `path` (a path, never searched for). All of its
// symbols are resolved at load time and kept local to it. Null on failure.
void* OpenLibrary(const std::filesystem::path& path);
// Loads the shared library `fileName` (no directory) through the loader's own
// search: LD_LIBRARY_PATH, the run path of the engine library, the system
// folders. Same binding as OpenLibrary. Null on failure.
void* OpenLibraryBySearch(const std::string& fileName);
// The address of an exported symbol of a loaded library; null when missing.
void* LibrarySymbol(void* library, const char* name);
// Drops one reference to a loaded library; the last one unloads it.
void CloseLibrary(void* library);

}  // namespace quilo::os
