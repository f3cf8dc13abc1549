// The Linux platform object.
#include "common/platform.h"

#include "common/platform/os.h"

namespace quilo {

namespace {

class LinuxPlatform final : public Platform {
public:
    int64_t GetSystemTimeNs() const override { return os::SystemTimeNs(); }
};

}  // namespace

std::unique_ptr<Platform> os::CreatePlatform() { return std::make_unique<LinuxPlatform>(); }

}  // namespace quilo
