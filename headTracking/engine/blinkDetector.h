// Face detectors from plugin libraries: one library per backend,
// "quiloHeadTrackingBlinkDetectorcpu.so" and "quiloHeadTrackingBlinkDetectorgpu.so",
// looked for beside the engine library first (see quilo::PluginLibrary).
//
// A plugin library exports, with C linkage (QUILO_PLUGIN_EXPORT):
//   quilo::head::FaceDetector* Plugin_CreateBlinkDetector(
//       const quilo::head::BlinkDetectorConfiguration& configuration, quilo::AssetManager* assets);
//     A new detector, or null when it cannot make one; may throw a standard
//     exception. `assets` may be used during the call only.
//   void Plugin_DeleteBlinkDetector(quilo::head::FaceDetector* detector);
//     Destroys a detector its create function returned.
// The plugin and the engine exchange standard-library objects, so both are
// built against the same standard library.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/export.h"
#include "common/plugin.h"
#include "headTracking/common/types.h"
#include "headTracking/engine/faceDetector.h"

namespace quilo {
class AssetManager;
}

namespace quilo::head {

// The argument of a plugin's create function.
struct BlinkDetectorConfiguration {
    // The face count the caller wants (the detector may settle on another and
    // report it) and the backend.
    const FaceDetector::Configuration& settings;
    std::string detectorOptions;  // empty as the engine builds it
};

using CreateBlinkDetectorFunction = FaceDetector*(const BlinkDetectorConfiguration&, AssetManager*);
using DeleteBlinkDetectorFunction = void(FaceDetector*);

// One loaded plugin library with its two exports; unloading happens when the
// object goes.
class QUILO_API BlinkDetectorPlugin {
public:
    // Loads the library of `backend` (the CPU one, after an error line, for a
    // value other than CPU and GPU) and looks up the create, then the delete
    // export. Throws quilo::Exception when the library or an export cannot be
    // found; nothing stays loaded then.
    explicit BlinkDetectorPlugin(quilo_face_detector_backend_e backend);

    BlinkDetectorPlugin(const BlinkDetectorPlugin&) = delete;
    BlinkDetectorPlugin& operator=(const BlinkDetectorPlugin&) = delete;

    PluginLibrary library;
    PluginFunction<CreateBlinkDetectorFunction> create;   // "Plugin_CreateBlinkDetector"
    PluginFunction<DeleteBlinkDetectorFunction> destroy;  // "Plugin_DeleteBlinkDetector"
};

// A new detector from the plugin of `configuration.settings.backend`, or empty
// when the library cannot be loaded, lacks an export, or its create function
// returns null or throws (all but the null result are logged). The plugin
// library stays loaded exactly as long as the detector: dropping the last
// reference hands the detector to the plugin's delete function, on the
// dropping thread, and then unloads the library. Never throws a standard
// exception. Each call loads the library again.
QUILO_API std::shared_ptr<FaceDetector> CreateBlinkDetector(const BlinkDetectorConfiguration& configuration,
                                                            AssetManager* assetManager);

// Whether the plugin library of `backend` loads and has both exports; it is
// unloaded again at once, and nothing is cached.
QUILO_API bool IsBlinkDetectorBackendSupported(quilo_face_detector_backend_e backend);

// Bit 1: the CPU backend is supported; bit 2: the GPU backend (CPU tested first).
QUILO_API uint32_t GetSupportedFaceDetectorBackends();

}  // namespace quilo::head
