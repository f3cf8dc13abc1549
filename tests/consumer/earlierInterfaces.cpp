// Host classes written against the first release of the interfaces, with
// exactly the methods each interface had then. A virtual method added to an
// interface since must come with a default implementation, or this program no
// longer compiles; keep these classes as they are when the interfaces grow.
#include <cstdio>
#include <vector>

#include "headTracking/camera/camera.h"
#include "headTracking/common/frameAdapter.h"
#include "headTracking/engine/faceDetector.h"

namespace {

using namespace quilo;
using namespace quilo::head;

class HostFrame final : public Frame {
public:
    Slice<Face> faces() const override { return {faces_.data(), static_cast<int64_t>(faces_.size())}; }
    Timestamp timestamp() const override { return {Timestamp::Space::System, 1500.0}; }
    bool trackingStarted() const override { return true; }
    float signalValue() const override { return 0.0f; }
    Slice<RawFace> rawFaces() const override { return {}; }
    Slice<DetectedFace> detections() const override { return {}; }
    FrameProfiling profiling() const override { return {}; }

private:
    std::vector<Face> faces_ = std::vector<Face>(1);
};

class HostCamera final : public Camera {
public:
    void StartCapture() override { capturing_ = true; }
    void StopCapture() override { capturing_ = false; }
    int GetFps() override { return 30; }
    bool SetFps(int) override { return false; }
    Slice<int> GetSupportedFps() override { return {}; }
    bool capturing() const { return capturing_; }

private:
    bool capturing_ = false;
};

class HostCameraFrame final : public CameraFrame {
public:
    Timestamp timestamp() const override { return {Timestamp::Space::Unknown, 10.0}; }
    Slice<ImageDesc> imageDescs() const override { return {&image_, 1}; }
    bool GetDepth(glm::dvec2, float*) const override { return false; }
    bool DeprojectPixelToPoint(glm::dvec2, float, glm::vec3*) const override { return false; }
    bool ProjectPointToPixel(const glm::vec3&, glm::dvec2*, float*) const override { return false; }

private:
    ImageDesc image_{};
};

class HostDetector final : public FaceDetector {
public:
    int32_t GetMaxNumOfDetectedFacesLimit() const override { return 4; }
    int32_t GetMaxNumOfDetectedFaces() const override { return count_; }
    void SetMaxNumOfDetectedFaces(int32_t n) override { count_ = n; }
    quilo_face_detector_backend_e GetBackend() const override { return kQuiloFaceDetectorBackendCPU; }
    void OnCameraIntrinsicsChange(const CameraIntrinsics&) override {}
    Output& DetectFaces(const CameraFrame& frame) override {
        output_.detections.assign(frame.imageDescs().size, DetectedFace{});
        return output_;
    }

private:
    int32_t count_ = 1;
    Output output_;
};

}  // namespace

int main() {
    // The engine's own code copies a host frame whole, timing included.
    const HostFrame frame;
    const BufferedFrame copy(frame);
    HostCamera camera;
    camera.StartCapture();
    const HostCameraFrame cameraFrame;
    HostDetector detector;
    detector.SetMaxNumOfDetectedFaces(2);
    const bool ok = copy.faces().size == 1 && copy.timestamp().ms == 1500.0 && camera.capturing() &&
                    detector.DetectFaces(cameraFrame).detections.size() == 1 &&
                    detector.GetMaxNumOfDetectedFaces() == 2;
    std::printf("host classes of the earlier interfaces: %s\n", ok ? "ok" : "wrong");
    return ok ? 0 : 1;
}
