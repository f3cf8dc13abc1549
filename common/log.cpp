#include "common/log.h"

#include <filesystem>
#include <string>
#include <vector>

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
    std::vector<spdlog::sink_ptr> sinks{console};
    // A folder that cannot be created or written (a system folder, a
    // read-only medium) costs the log file, never the library: the console
    // goes on alone and says why.
    std::filesystem::path folder;
    std::string failure;
    try {
        folder = GetDefaultLogsDirectory();
        const auto path = folder / fmt::format("{}.txt", kLibraryName);
        sinks.push_back(std::make_shared<spdlog::sinks::basic_file_sink_mt>(path.string(), /*truncate=*/true));
    } catch (const std::exception& e) {
        failure = e.what();
    }
    auto logger = std::make_shared<spdlog::logger>(kLibraryName, sinks.begin(), sinks.end());
    spdlog::set_default_logger(logger);
    if (!failure.empty()) {
        logger->warn("Logging to the console only: cannot write the log file in {}: {}", folder.string(), failure);
    }
}

}  // namespace quilo
