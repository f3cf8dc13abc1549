// What a face detector reports for one frame: the detection entries and the
// output that holds them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <glm/glm.hpp>

namespace quilo::head {

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

}  // namespace quilo::head
