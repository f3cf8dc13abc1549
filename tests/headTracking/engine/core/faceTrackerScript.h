// Scripted input for driving a FaceTracker frame by frame: a detector that
// only answers its face count, a camera frame whose deprojection is exact, and
// detections placed by where their eyes are in that frame's camera space.
#pragma once

#include <cstdint>

#include "headTracking/camera/camera.h"
#include "headTracking/engine/faceDetector.h"

namespace quilo::head::script {

// The tracker only asks a detector for its face count.
class FixedCountDetector final : public FaceDetector {
public:
    explicit FixedCountDetector(int32_t maxFaces) : maxFaces_(maxFaces) {}
    int32_t GetMaxNumOfDetectedFacesLimit() const override { return maxFaces_; }
    int32_t GetMaxNumOfDetectedFaces() const override { return maxFaces_; }
    void SetMaxNumOfDetectedFaces(int32_t n) override { maxFaces_ = n; }
    quilo_face_detector_backend_e GetBackend() const override { return kQuiloFaceDetectorBackendCPU; }
    void OnCameraIntrinsicsChange(const CameraIntrinsics&) override {}
    Output& DetectFaces(const CameraFrame&) override { return output_; }

private:
    int32_t maxFaces_;
    Output output_;
};

constexpr int32_t kImageWidth = 640;
constexpr int32_t kImageHeight = 480;

// A 640 x 480 frame. When it deprojects, a pixel's offset from the image
// centre is its x, y in millimetres and the depth is z, so whole-millimetre
// eye positions come out exact. It counts its deprojection requests.
class ScriptFrame final : public CameraFrame {
public:
    explicit ScriptFrame(double ms) : time{Timestamp::Space::System, ms} {}

    Timestamp timestamp() const override { return time; }
    Slice<ImageDesc> imageDescs() const override { return {&image, hasImage ? 1 : 0}; }
    bool GetDepth(glm::dvec2, float*) const override { return false; }
    bool DeprojectPixelToPoint(glm::dvec2 pixel, float depth, glm::vec3* point) const override {
        ++deprojections;
        if (!deprojects) return false;
        *point = glm::vec3(static_cast<float>((pixel.x - kImageWidth / 2) / 1000.0),
                           static_cast<float>((pixel.y - kImageHeight / 2) / 1000.0), depth);
        return true;
    }
    bool ProjectPointToPixel(const glm::vec3&, glm::dvec2*, float*) const override { return false; }

    Timestamp time;
    ImageDesc image{kImageWidth, kImageHeight, 0, nullptr};
    bool hasImage = true;
    bool deprojects = true;
    mutable int deprojections = 0;
};

// A detection whose eye midpoint lies at `midpoint` (mm, ScriptFrame camera
// space), eyes `spacing` mm apart along x, the right eye at the smaller x.
inline DetectedFace FaceAt(glm::vec3 midpoint, float spacing = 60.0f, float yaw = 0.0f) {
    DetectedFace face;
    const double half = spacing / 2.0;
    face.rightEyePixel = {kImageWidth / 2 + midpoint.x - half, kImageHeight / 2 + midpoint.y};
    face.leftEyePixel = {kImageWidth / 2 + midpoint.x + half, kImageHeight / 2 + midpoint.y};
    face.rightEyeDepth = face.leftEyeDepth = midpoint.z / 1000.0f;
    face.angles = {0.0f, yaw, 0.0f};
    return face;
}

}  // namespace quilo::head::script
