// The face detector as the engine and the tracker see it. Detectors live in
// plugin libraries; only the plugin's delete function destroys one.
#pragma once

#include <cstdint>

#include "headTracking/common/detection.h"
#include "headTracking/common/types.h"

namespace quilo::head {

class CameraFrame;

class FaceDetector {
public:
    using Configuration = FaceDetectorConfiguration;
    using Output = FaceDetectorOutput;

    // Slots 0, 1 and 3 may be called from host threads at any time, also while
    // DetectFaces runs. Slots 2, 4 and 5 come from the camera's delivery thread.

    // The largest face count the detector supports.
    virtual int32_t GetMaxNumOfDetectedFacesLimit() const = 0;
    // The face count in force.
    virtual int32_t GetMaxNumOfDetectedFaces() const = 0;
    // Report at most n detections per frame; 1 <= n <= the limit.
    virtual void SetMaxNumOfDetectedFaces(int32_t n) = 0;
    virtual quilo_face_detector_backend_e GetBackend() const = 0;
    // The geometry of the images that follow.
    virtual void OnCameraIntrinsicsChange(const CameraIntrinsics& intrinsics) = 0;
    // Detects faces on the frame's images.
    virtual Output& DetectFaces(const CameraFrame& frame) = 0;

protected:
    // Never destroyed through this interface.
    ~FaceDetector() = default;
};

}  // namespace quilo::head
