// Log levels of the library and access to the process-wide default logger.
//
// Every log line of the engine goes through the logging library's default
// logger, fetched anew for each line, so a host that replaces the default
// logger redirects the next line.
#pragma once

#include <memory>

#include <spdlog/spdlog.h>

#include "common/export.h"

// Library log levels; values are stable.
typedef enum quilo_log_level_e {
    kQuiloLogLevelDefault = 0,  // info
    kQuiloLogLevelTrace = 1,
    kQuiloLogLevelDebug = 2,
    kQuiloLogLevelInfo = 3,
    kQuiloLogLevelWarn = 4,
    kQuiloLogLevelError = 5,
    kQuiloLogLevelCritical = 6,
    kQuiloLogLevelOff = 7,
} quilo_log_level_e;

// "Default", "Trace", ..., "Off"; "Unknown" outside 0..7. Never null.
extern "C" QUILO_API const char* quilo_log_level_to_string(int level);

namespace quilo {

// Name and version used for the logger and the start-up line.
inline constexpr const char* kLibraryName = "HeadTracking";

// 1..7 select trace..off; everything else selects info.
QUILO_API spdlog::level::level_enum ToSpdlog(int level);
// The library level of the same name (trace -> 1, ..., off -> 7).
QUILO_API int FromSpdlog(spdlog::level::level_enum level);

// The logging library's current default logger; empty when none is installed.
QUILO_API std::shared_ptr<spdlog::logger> GetDefaultLogger();

// Builds the library logger (coloured console on stdout, plus HeadTracking.txt
// in the default logs directory, truncated) and installs it as the default
// logger. When the file cannot be created, logs to the console alone and
// says so in one warning line naming the folder and the reason.
QUILO_API void CreateDefaultLogger();

}  // namespace quilo

// Logging through the current default logger; a missing logger drops the line.
#define QUILO_LOG(lvl, ...)                                       \
    do {                                                          \
        if (auto quiloLogger_ = ::quilo::GetDefaultLogger()) {    \
            quiloLogger_->log(::spdlog::level::lvl, __VA_ARGS__); \
        }                                                         \
    } while (false)
#define QUILO_LOG_TRACE(...) QUILO_LOG(trace, __VA_ARGS__)
#define QUILO_LOG_DEBUG(...) QUILO_LOG(debug, __VA_ARGS__)
#define QUILO_LOG_INFO(...) QUILO_LOG(info, __VA_ARGS__)
#define QUILO_LOG_WARN(...) QUILO_LOG(warn, __VA_ARGS__)
#define QUILO_LOG_ERROR(...) QUILO_LOG(err, __VA_ARGS__)
#define QUILO_LOG_CRITICAL(...) QUILO_LOG(critical, __VA_ARGS__)
