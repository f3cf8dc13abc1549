// The scripted face detector plugin: reports the detections its script gives
// and records every call (see scriptedDetector.h).
#include <algorithm>
#include <atomic>

#include "common/export.h"
#include "headTracking/camera/camera.h"
#include "scriptedDetector.h"

namespace {

using quilo::test::DetectorCall;
using quilo::test::DetectorOperation;
namespace scripted = quilo::test::scripted;
namespace head = quilo::head;

class ScriptedDetector final : public head::FaceDetector {
public:
    ScriptedDetector(const scripted::Created& created, const head::FaceDetectorConfiguration& settings)
        : id_(created.detector),
          limit_(created.maxNumOfFacesLimit),
          backend_(settings.backend),
          count_(std::clamp(settings.maxNumOfFaces, 1, std::max(created.maxNumOfFacesLimit, 1))) {}
    ~ScriptedDetector() = default;

    int32_t id() const { return id_; }

    int32_t GetMaxNumOfDetectedFacesLimit() const override {
        Record(DetectorOperation::GetMaxNumOfDetectedFacesLimit);
        return limit_;
    }
    int32_t GetMaxNumOfDetectedFaces() const override {
        Record(DetectorOperation::GetMaxNumOfDetectedFaces);
        return count_;
    }
    void SetMaxNumOfDetectedFaces(int32_t n) override {
        auto call = DetectorCall::Of(DetectorOperation::SetMaxNumOfDetectedFaces, id_);
        call.count = n;
        scripted::OnCall(call);
        count_ = n;
    }
    quilo_face_detector_backend_e GetBackend() const override {
        Record(DetectorOperation::GetBackend);
        return backend_;
    }
    void OnCameraIntrinsicsChange(const quilo::CameraIntrinsics& intrinsics) override {
        auto call = DetectorCall::Of(DetectorOperation::OnCameraIntrinsicsChange, id_);
        call.intrinsics = intrinsics;
        scripted::OnCall(call);
    }
    Output& DetectFaces(const head::CameraFrame& frame) override {
        if (auto hook = scripted::DetectFacesHook()) hook(frame);
        auto call = DetectorCall::Of(DetectorOperation::DetectFaces, id_);
        call.timestamp = frame.timestamp();
        output_.detections = scripted::NextDetections();
        if (output_.detections.size() > static_cast<size_t>(std::max(count_.load(), 0))) {
            output_.detections.resize(static_cast<size_t>(std::max(count_.load(), 0)));
        }
        scripted::OnCall(call);
        return output_;
    }

private:
    void Record(DetectorOperation operation) const { scripted::OnCall(DetectorCall::Of(operation, id_)); }

    const int32_t id_;
    const int32_t limit_;
    const quilo_face_detector_backend_e backend_;
    std::atomic<int32_t> count_;  // read by host threads while frames run
    Output output_;
};

}  // namespace

QUILO_PLUGIN_EXPORT head::FaceDetector* Plugin_CreateBlinkDetector(
    const head::BlinkDetectorConfiguration& configuration, quilo::AssetManager* assetManager) {
    return new ScriptedDetector(scripted::OnCreate(configuration, assetManager), configuration.settings);
}

QUILO_PLUGIN_EXPORT void Plugin_DeleteBlinkDetector(head::FaceDetector* detector) {
    auto* scriptedDetector = static_cast<ScriptedDetector*>(detector);
    scripted::OnDelete(scriptedDetector->id());
    delete scriptedDetector;
}

QUILO_PLUGIN_EXPORT const char* TestPlugin_Name() { return "scripted"; }
