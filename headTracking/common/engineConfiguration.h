// The engine's configuration and construction arguments.
#pragma once

#include <functional>

#include "headTracking/common/format.h"
#include "headTracking/common/types.h"

namespace quilo {
class Platform;
class AssetManager;
struct SharedCameraSink;
}  // namespace quilo

namespace quilo::head {

class FaceTracker;
class CameraFrame;
class FrameAdapter;
struct FaceDetectorOutput;

struct EngineConfiguration {
    FaceTrackerConfiguration faceTracker;
    FaceDetectorConfiguration faceDetector;
    CameraConfiguration camera;
    // true: the detector is created when tracking starts, and the detector and
    // the RealSense camera are released when it stops; a host's own camera
    // (a shared-camera sink) stays for the next session.
    bool initializeFaceDetectorLazily = false;
    bool profiling = false;  // initial state of per-frame profiling
};

// Called on the camera's delivery thread after every tracker update.
using EngineFrameCallback = std::function<void(const FaceTracker&, const FaceDetectorOutput&, const CameraFrame&)>;
// Lets the host add or substitute faces every frame; returns true when it
// filled the context.
using VirtualFaceHook = std::function<bool(VirtualFaceHookContext*)>;

struct EngineInitArgs {
    EngineConfiguration configuration;
    Platform* platform = nullptr;                  // required; must outlive the engine
    AssetManager* assetManager = nullptr;          // optional; a temporary one is made per detector otherwise
    EngineFrameCallback frameCallback;             // at least one of frameCallback and frameAdapter
    FrameAdapter* frameAdapter = nullptr;          // optional; must outlive the engine
    SharedCameraSink* sharedCameraSink = nullptr;  // optional: take images from the host
    VirtualFaceHook virtualFaceHook;
};

}  // namespace quilo::head

namespace quilo::detail {
template <typename Out>
Out FormatTo(Out out, const head::EngineConfiguration& c) {
    return fmt::format_to(out, "{{.faceTracker={}, .camera={}, faceDetector={}, .initializeFaceDetectorLazily={}}}",
                          c.faceTracker, c.camera, c.faceDetector, c.initializeFaceDetectorLazily);
}
}  // namespace quilo::detail

QUILO_DECLARE_FORMATTER(quilo::head::EngineConfiguration);
