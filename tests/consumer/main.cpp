// A host that formats glm vectors its own way, beside the engine's headers.
#include <cstdio>

#include <fmt/format.h>
#include <glm/glm.hpp>

#include "common/platform.h"
#include "headTracking/capi/quiloHeadTracking.h"
#include "headTracking/common/format.h"
#include "headTracking/engine/blinkDetector.h"
#include "headTracking/engine/engine.h"

template <>
struct fmt::formatter<glm::vec3> : fmt::formatter<float> {
    template <typename Context>
    auto format(const glm::vec3& v, Context& ctx) const {
        return fmt::format_to(ctx.out(), "<{} {} {}>", v.x, v.y, v.z);
    }
};

int main() {
    const auto platform = quilo::Platform::Create({});
    quilo::head::FaceTrackerConfiguration configuration;
    configuration.cameraPosition = {1.0f, 2.0f, 3.0f};
    const std::string host = fmt::format("{}", configuration.cameraPosition);
    const std::string record = fmt::format("{}", configuration);
    std::printf("engine %s\nhost's vector %s\nengine's record %s\n", quiloHeadTrackingGetVersion(), host.c_str(),
                record.c_str());
    bool detector = true;
#ifdef QUILO_CONSUMER_EXPECT_CPU_DETECTOR
    // A host that takes the engine in gets a face detector with it.
    detector = quilo::head::IsBlinkDetectorBackendSupported(kQuiloFaceDetectorBackendCPU);
    std::printf("CPU face detector beside the engine: %s\n", detector ? "yes" : "no");
#endif
    return platform && detector && host == "<1 2 3>" && record.find(".cameraPosition={1, 2, 3}") != std::string::npos
               ? 0
               : 1;
}
