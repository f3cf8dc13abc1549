// The exports of the CPU face detector plugin library.
#include "plugins/blinkDetectorCpu/blinkDetectorCpu.h"

#include "common/export.h"
#include "common/log.h"

// A new detector, with its model files read through `assets` during the call.
// Null without an asset manager; throws a std::exception when an asset is
// missing or unusable or the detector options are bad.
QUILO_PLUGIN_EXPORT quilo::head::FaceDetector* Plugin_CreateBlinkDetector(
    const quilo::head::BlinkDetectorConfiguration& configuration, quilo::AssetManager* assets) {
    if (assets == nullptr) {
        QUILO_LOG_ERROR("[BlinkDetectorCpu] cannot create a detector without an asset manager");
        return nullptr;
    }
    return quilo::head::cpu::CreateBlinkDetectorCpu(configuration, *assets).release();
}

// Destroys a detector made by Plugin_CreateBlinkDetector; null is ignored.
QUILO_PLUGIN_EXPORT void Plugin_DeleteBlinkDetector(quilo::head::FaceDetector* detector) {
    delete static_cast<quilo::head::cpu::BlinkDetectorCpu*>(detector);
}
