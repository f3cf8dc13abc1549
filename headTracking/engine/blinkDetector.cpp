#include "headTracking/engine/blinkDetector.h"

#include <exception>

#include <fmt/format.h>

#include "common/log.h"

namespace quilo::head {

namespace {

std::string PluginName(quilo_face_detector_backend_e backend) {
    const char* name = "cpu";
    if (backend == kQuiloFaceDetectorBackendGPU) {
        name = "gpu";
    } else if (backend != kQuiloFaceDetectorBackendCPU) {
        QUILO_LOG_ERROR("[BlinkDetectorLoader] unsupported backend: {}. Falling back to CPU.",
                        static_cast<int32_t>(backend));
    }
    return fmt::format("quiloHeadTrackingBlinkDetector{}{}", name, "");
}

// Owns the plugin on behalf of one detector. It hands the detector back to
// the plugin and then drops the plugin at once, so the library is unloaded
// when the detector goes even if weak references keep the control block.
struct DetectorDeleter {
    std::shared_ptr<BlinkDetectorPlugin> plugin;

    void operator()(FaceDetector* detector) {
        auto owner = std::move(plugin);
        owner->destroy(detector);
    }
};

}  // namespace

BlinkDetectorPlugin::BlinkDetectorPlugin(quilo_face_detector_backend_e backend)
    : library(PluginName(backend)),
      create(library, "Plugin_CreateBlinkDetector"),
      destroy(library, "Plugin_DeleteBlinkDetector") {}

std::shared_ptr<FaceDetector> CreateBlinkDetector(const BlinkDetectorConfiguration& configuration,
                                                  AssetManager* assetManager) {
    // The plugin outlives the handlers below: an exception thrown by its
    // create function may have its type's code in the plugin's library, so
    // the library stays loaded until the exception has been read and freed.
    std::shared_ptr<BlinkDetectorPlugin> plugin;
    try {
        plugin = std::make_shared<BlinkDetectorPlugin>(configuration.settings.backend);
        FaceDetector* detector = plugin->create(configuration, assetManager);
        if (detector == nullptr) return nullptr;
        // Should making the control block fail, the deleter still runs.
        return std::shared_ptr<FaceDetector>(detector, DetectorDeleter{std::move(plugin)});
    } catch (const std::exception& e) {
        QUILO_LOG_ERROR("[BlinkDetectorLoader] Failed to load: {}", e.what());
    } catch (...) {
        QUILO_LOG_ERROR("[BlinkDetectorLoader] Failed to load: unknown exception");
    }
    return nullptr;
}

bool IsBlinkDetectorBackendSupported(quilo_face_detector_backend_e backend) {
    try {
        BlinkDetectorPlugin plugin(backend);
        return true;
    } catch (const std::exception& e) {
        QUILO_LOG_DEBUG("[BlinkDetectorLoader] {} backend is not supported: {}",
                        quilo_face_detector_backend_to_string(backend), e.what());
        return false;
    }
}

uint32_t GetSupportedFaceDetectorBackends() {
    uint32_t mask = 0;
    for (auto backend : {kQuiloFaceDetectorBackendCPU, kQuiloFaceDetectorBackendGPU}) {
        if (IsBlinkDetectorBackendSupported(backend)) mask |= static_cast<uint32_t>(backend);
    }
    return mask;
}

}  // namespace quilo::head
