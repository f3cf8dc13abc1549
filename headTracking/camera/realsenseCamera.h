// The Intel RealSense camera: an 8-bit infrared stream with aligned depth,
// captured on a background thread and delivered to a Camera::Listener.
//
// The camera is available only when the engine library was built against
// Intel's librealsense2 (2.50 or later); otherwise CreateRealsenseCamera and
// UpdateRealsenseCameraDynamicConfiguration throw quilo::Exception saying that
// this build has no RealSense support. This header does not depend on
// librealsense2.
#pragma once

#include <cstdint>
#include <memory>

#include <fmt/format.h>

#include "common/export.h"
#include "headTracking/camera/camera.h"
#include "headTracking/common/format.h"

namespace quilo::head {

// Sensor settings of the depth module, applied when the pipeline starts and by
// UpdateRealsenseCameraDynamicConfiguration. The defaults are those the engine
// uses.
struct RealsenseCameraDynamicConfiguration {
    bool emitter = false;      // infrared dot-pattern emitter on (skipped when the sensor has none)
    bool autoExposure = true;  // the sensor chooses exposure and gain itself
    float exposure = 9000.0f;  // written only when autoExposure is false, unchecked
    float gain = 50.0f;        // written only when autoExposure is false, unchecked
};

// The first four fields are those of Camera::Configuration and print with its
// text form.
struct RealsenseCameraConfiguration {
    int32_t width = 0;           // infrared image width; 0 selects 848
    int32_t height = 0;          // infrared image height; 0 selects 480
    int32_t fps = 0;             // infrared frame rate; 0 selects 90
    float binningFactor = 0.0f;  // carried with the engine's settings; not read
    RealsenseCameraDynamicConfiguration dynamicConfiguration;
};

// Opens the camera: starts a pipeline streaming depth and 8-bit infrared at the
// configured size and rate, applies `configuration.dynamicConfiguration`, and
// calls the listener's OnCameraIntrinsicsChange once, on this thread, with the
// infrared stream's intrinsics (isMirrored true). Capture starts with
// StartCapture; frames then arrive on the camera's own capture thread.
//
// `listener` must be non-null and outlive the camera. Throws quilo::Exception
// for a null listener or when this build has no RealSense support, and the
// library's rs2::error (or std::runtime_error when the started pipeline has no
// infrared stream) when the device cannot be opened; nothing is left open then.
//
// Camera calls (StartCapture, StopCapture, UpdateRealsenseCameraDynamicConfiguration,
// destruction) must come from one thread at a time, never from inside the
// listener: StopCapture there throws std::system_error (resource deadlock).
// StopCapture waits for the frame in hand and, when no frames arrive, for the
// library's 15 s wait time-out. A lost camera ends capture with a critical log
// line; StopCapture then returns at once.
QUILO_API std::unique_ptr<Camera> CreateRealsenseCamera(Camera::Listener* listener,
                                                        const RealsenseCameraConfiguration& configuration);

// Applies new sensor settings to a camera made by CreateRealsenseCamera (any
// other camera is outside the contract): stops capture if it runs, applies the
// settings, and restarts capture. On a library failure the error is logged and
// rethrown (rs2::error), and capture stays stopped. Throws quilo::Exception for
// a null camera or when this build has no RealSense support. The settings are
// not stored in the camera.
QUILO_API void UpdateRealsenseCameraDynamicConfiguration(Camera* camera,
                                                         const RealsenseCameraDynamicConfiguration& configuration);

}  // namespace quilo::head

namespace quilo::detail {
template <typename Out>
Out FormatTo(Out out, const head::RealsenseCameraConfiguration& c) {
    return FormatTo(out, head::CameraConfiguration{c.width, c.height, c.fps, c.binningFactor});
}
}  // namespace quilo::detail

QUILO_DECLARE_FORMATTER(quilo::head::RealsenseCameraConfiguration);
