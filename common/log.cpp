#include "common/log.h"

#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/sinks/stdout_color_sinks.h>

#include "common/paths.h"

extern "C" const char* quilo_log_level_to_string(int level) {
    switch (level) {
        case kQuiloLogLevelDefault: return "Default";
        case kQuiloLogLevelTrace: return "Trace";
        case kQuiloLogLevelDebug: return "Debug";
        case kQuiloLogLevelInfo: return "Info";
        case kQuiloLogLevelWarn: return "Warn";
        case kQuiloLogLevelError: return "Error";
        case kQuiloLogLevelCritical: return "Critical";
        case kQuiloLogLevelOff: return "Off";
        default: return "Unknown";
    }
}

namespace quilo {

spdlog::level::level_enum ToSpdlog(int level) {
    if (level >= kQuiloLogLevelTrace && level <= kQuiloLogLevelOff) {
        return static_cast<spdlog::level::level_enum>(level - 1);
    }
    return spdlog::level::info;
}

int FromSpdlog(spdlog::level::level_enum level) { return static_cast<int>(level) + 1; }

std::shared_ptr<spdlog::logger> GetDefaultLogger() { return spdlog::default_logger(); }

void CreateDefaultLogger() {
    auto console = std::make_shared<spdlog::sinks::stdout_color_sink_mt>(spdlog::color_mode::automatic);
    console->set_pattern("[%H:%M:%S.%e] [%n] [%^%l%$] %v");
    auto path = GetDefaultLogsDirectory() / fmt::format("{}.txt", kLibraryName);
    auto file = std::make_shared<spdlog::sinks::basic_file_sink_mt>(path.string(), /*truncate=*/true);
    auto logger = std::make_shared<spdlog::logger>(kLibraryName, spdlog::sinks_init_list{console, file});
    spdlog::set_default_logger(std::move(logger));
}

}  // namespace quilo
