// The platform object: the library's start-up and shutdown of logging, and
// the system clock the engine's profiling uses.
#pragma once

#include <cstdint>
#include <memory>

#include "common/export.h"

namespace quilo {

struct PlatformInitArgs {
    void* reserved0 = nullptr;  // not read on this platform
    void* reserved1 = nullptr;
    void* reserved2 = nullptr;
    int32_t logLevel = 0;  // a quilo_log_level_e
};

class QUILO_API Platform {
public:
    virtual ~Platform();
    // Nanoseconds of the system clock since 1970-01-01 00:00 UTC. Any thread.
    virtual int64_t GetSystemTimeNs() const = 0;

    // Installs the library logger when the process has none, then applies
    // args.logLevel to every logger. Meant for the thread that creates the engine.
    static std::unique_ptr<Platform> Create(const PlatformInitArgs& args);
    // Start and end of the library's use by a host.
    static void OnLibraryLoad();
    static void OnLibraryUnload();
};

}  // namespace quilo
