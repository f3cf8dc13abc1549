// Logs the engine's default configuration through the library logger.
#include "common/log.h"
#include "headTracking/common/engineConfiguration.h"

int main() {
    quilo::CreateDefaultLogger();
    quilo::head::EngineConfiguration configuration;
    QUILO_LOG_INFO("[Engine] configuration: {}", configuration);
    quilo::GetDefaultLogger()->flush();
    return 0;
}
