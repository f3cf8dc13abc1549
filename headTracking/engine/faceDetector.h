// The face detector as the engine and the tracker see it. Detectors live in
// plugin libraries; only the plugin's delete function destroys one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <glm/glm.hpp>

#include "headTracking/common/types.h"

namespace quilo::head {

class CameraFrame;

// One detected face, 72 bytes. Pixels are image coordinates, depths metres.
struct DetectedFace {
    glm::dvec2 rightEyePixel{0.0};  // the person's right eye
    float rightEyeDepth = 0.0f;
    int32_t padding0 = 0;
    glm::dvec2 leftEyePixel{0.0};
    float leftEyeDepth = 0.0f;
    int32_t padding1 = 0;
    glm::vec3 headPosition{0.0f};  // passed through; read by no engine component
    glm::vec3 angles{0.0f};        // radians; y is the yaw
};
static_assert(sizeof(DetectedFace) == 72, "detection entry layout");
static_assert(offsetof(DetectedFace, rightEyePixel) == 0, "detection entry layout");
static_assert(offsetof(DetectedFace, rightEyeDepth) == 16, "detection entry layout");
static_assert(offsetof(DetectedFace, leftEyePixel) == 24, "detection entry layout");
static_assert(offsetof(DetectedFace, leftEyeDepth) == 40, "detection entry layout");
static_assert(offsetof(DetectedFace, headPosition) == 48, "detection entry layout");
static_assert(offsetof(DetectedFace, angles) == 60, "detection entry layout");

// What DetectFaces returns; owned by the detector and valid, untouched by it,
// until its next DetectFaces. The engine trims and extends `detections` in
// place during a frame, so a detector rebuilds it at every call.
struct FaceDetectorOutput {
    std::vector<DetectedFace> detections;
};

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
