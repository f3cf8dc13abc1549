// Linux implementation of the OS corner: glibc's dynamic loader (dlfcn),
// /proc for the executable's path and the tracer, clock_gettime for the clock.
#include "common/platform/os.h"

#include <dlfcn.h>
#include <link.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string_view>
#include <system_error>

namespace quilo::os {

namespace {

// The message of this thread's last failed loader call, and the error number
// it left behind. The message stays the thread's last error as long as no
// later failure changed the error number; a successful loader call clears it.
thread_local std::string tLoaderError;
thread_local int tLoaderErrno = 0;

void RecordLoaderFailure() {
    const char* message = dlerror();
    tLoaderError = message ? message : "unknown dynamic loader error";
    tLoaderErrno = errno;
}

void* RecordLoaderResult(void* result) {
    if (result == nullptr) {
        RecordLoaderFailure();
    } else {
        tLoaderError.clear();
    }
    return result;
}

std::string ErrnoText(int code) { return std::system_category().message(code); }

constexpr int kLibraryFlags = RTLD_NOW | RTLD_LOCAL;

}  // namespace

int64_t SystemTimeNs() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

std::filesystem::path ExecutablePath(std::string* error) {
    // readlink does not say whether it cut the name: a result that fills the
    // buffer may have been cut, so the buffer grows until the name fits.
    std::string buffer(1024, '\0');
    for (;;) {
        const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) {
            if (error) *error = ErrnoText(errno);
            return {};
        }
        if (static_cast<size_t>(length) < buffer.size()) {
            buffer.resize(static_cast<size_t>(length));
            return buffer;
        }
        buffer.resize(buffer.size() * 2);
    }
}

bool FindModule(const void* address, Module* module, std::string* error) {
    Dl_info info{};
    link_map* map = nullptr;
    if (dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0 || map == nullptr) {
        if (error) *error = "no loaded module contains the address";
        return false;
    }
    // The loader keeps an empty name for the executable itself.
    module->isExecutable = map->l_name == nullptr || map->l_name[0] == '\0';
    module->loaderName = module->isExecutable ? std::string() : std::string(map->l_name);
    return true;
}

std::filesystem::path ModuleFileName(const Module& module, std::string* error) {
    if (module.isExecutable) return ExecutablePath(error);
    std::error_code ec;
    auto path = std::filesystem::canonical(module.loaderName, ec);
    if (ec) {
        if (error) *error = ec.message();
        return {};
    }
    return path;
}

const void* AddressInThisLibrary() {
    static const int marker = 0;
    return &marker;
}

std::filesystem::path MachineDataDirectory() {
    const std::filesystem::path path("/var/lib");
    std::error_code ec;
    return std::filesystem::is_directory(path, ec) ? path : std::filesystem::path();
}

std::string LastErrorText() {
    const int code = errno;
    if (!tLoaderError.empty() && code == tLoaderErrno) return tLoaderError;
    return code == 0 ? std::string() : ErrnoText(code);
}

bool DebuggerPresent() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        constexpr std::string_view kKey = "TracerPid:";
        if (line.compare(0, kKey.size(), kKey) == 0) {
            return std::strtol(line.c_str() + kKey.size(), nullptr, 10) != 0;
        }
    }
    return false;
}

void SleepMilliseconds(unsigned milliseconds) {
    timespec remaining{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1'000'000};
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

std::string LibraryFileName(const std::string& name) { return name + ".so"; }

// Narrow names are the file system's own bytes.
std::filesystem::path PathFromNarrow(const std::string& text) { return text; }

std::string NarrowFromPath(const std::filesystem::path& path) { return path.native(); }

void* OpenLibrary(const std::filesystem::path& path) {
    // A name without a slash would make dlopen search; "./" keeps it a path.
    std::string file = path.string();
    if (file.find('/') == std::string::npos) file = "./" + file;
    return RecordLoaderResult(dlopen(file.c_str(), kLibraryFlags));
}

void* OpenLibraryBySearch(const std::string& fileName) {
    return RecordLoaderResult(dlopen(fileName.c_str(), kLibraryFlags));
}

void* LibrarySymbol(void* library, const char* name) {
    // dlsym's own result can legitimately be null; a pending message tells the
    // failure apart, so the old one is cleared first.
    dlerror();
    void* symbol = dlsym(library, name);
    if (symbol == nullptr) {
        RecordLoaderFailure();
    } else {
        tLoaderError.clear();
    }
    return symbol;
}

void CloseLibrary(void* library) {
    if (library != nullptr && dlclose(library) != 0) RecordLoaderFailure();
}

}  // namespace quilo::os
