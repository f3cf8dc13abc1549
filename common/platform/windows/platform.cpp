// The Windows platform object.
#include "common/platform.h"

#include "common/platform/os.h"

namespace quilo {

class WindowsPlatform final : public Platform {
public:
    int64_t GetSystemTimeNs() const override { return os::SystemTimeNs(); }
};

std::unique_ptr<Platform> os::CreatePlatform() { return std::make_unique<WindowsPlatform>(); }

}  // namespace quilo
