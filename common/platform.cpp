#include "common/platform.h"

#include <spdlog/cfg/env.h>

#include "common/buildInfo.h"
#include "common/log.h"
#include "common/platform/os.h"

namespace quilo {

namespace {

// The default logger the library found or made at start-up; dropped at
// shutdown. Start-up and shutdown run on the host's creating thread and are
// not guarded against concurrent calls.
std::shared_ptr<spdlog::logger> gLibraryLogger;

// The logging library installs an unnamed console logger of its own when it
// starts; that one stands for "no logger" and is replaced by the library's.
bool IsInstalledLogger(const std::shared_ptr<spdlog::logger>& logger) {
    return logger != nullptr && !logger->name().empty();
}

const char* LibraryVersion() {
    constexpr const char* kVersion = QUILO_HEAD_TRACKING_VERSION;
    return kVersion[0] != '\0' ? kVersion : "UNSPECIFIED";
}

}  // namespace

Platform::~Platform() = default;

std::unique_ptr<Platform> Platform::Create(const PlatformInitArgs& args) {
    if (!IsInstalledLogger(spdlog::default_logger())) OnLibraryLoad();
    spdlog::set_level(ToSpdlog(args.logLevel));
    return os::CreatePlatform();
}

void Platform::OnLibraryLoad() {
    gLibraryLogger = spdlog::default_logger();
    if (IsInstalledLogger(gLibraryLogger)) return;

    CreateDefaultLogger();
    gLibraryLogger = spdlog::default_logger();
    spdlog::cfg::load_env_levels();  // SPDLOG_LEVEL; an empty value changes nothing
    QUILO_LOG_INFO("version: {} ({} - {})", LibraryVersion(), QUILO_BUILD_GIT_REF, QUILO_BUILD_GIT_COMMIT);
}

void Platform::OnLibraryUnload() {
    if (!gLibraryLogger) return;
    gLibraryLogger.reset();

    // Held by the registry twice (as the default and by name) and by this copy:
    // nobody else uses it, so logging ends with the library.
    auto logger = spdlog::default_logger();
    if (logger == nullptr || logger.use_count() <= 3) {
        spdlog::apply_all([](const std::shared_ptr<spdlog::logger>& l) { l->flush(); });
        spdlog::set_default_logger(nullptr);
        spdlog::shutdown();
    }
}

}  // namespace quilo
