// Control of the scripted face detector, a test plugin
// (quiloTestBlinkDetectorScripted.so) that reports scripted detections and
// records every call it receives.
//
// The script and the record live in the shared library
// quiloTestScriptedDetector, which the plugin and the test both link, so one
// state serves the test and every loaded copy of the plugin. Install the
// plugin under a backend's file name (e.g. quiloHeadTrackingBlinkDetectorcpu.so)
// where the engine looks for it; see quilo_add_sandbox_test.
//
// All functions are thread-safe: detectors may be used on any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "headTracking/common/types.h"
#include "headTracking/engine/blinkDetector.h"
#include "headTracking/engine/faceDetector.h"

namespace quilo::test {

enum class DetectorOperation {
    Create,
    GetMaxNumOfDetectedFacesLimit,
    GetMaxNumOfDetectedFaces,
    SetMaxNumOfDetectedFaces,
    GetBackend,
    OnCameraIntrinsicsChange,
    DetectFaces,
    Delete,
};

// What scripted detectors do. Takes effect for detectors created after it is set.
struct DetectorScript {
    int32_t maxNumOfFacesLimit = 8;
    // Successive DetectFaces calls (of all detectors together) report these
    // lists in turn; once they are used up, every call reports `thereafter`.
    // A detector reports at most its face count of them.
    std::vector<std::vector<head::DetectedFace>> frames;
    std::vector<head::DetectedFace> thereafter;
    // Runs at the start of every DetectFaces on its thread, outside the
    // script's lock: it may wait, inspect the frame or throw (the exception
    // leaves DetectFaces).
    std::function<void(const head::CameraFrame&)> onDetectFaces;
    // Runs before every other call a detector records, on the caller's thread
    // and outside the script's lock; it may throw anything.
    std::function<void(DetectorOperation)> beforeCall;
    // Runs in Plugin_DeleteBlinkDetector before the detector is destroyed.
    std::function<void()> onDelete;
    // The create function reads this asset (ReadText) through the asset
    // manager it is given; a failure leaves the create function. Empty: none.
    std::string assetToRead;
};

struct DetectorCall {
    DetectorOperation operation = DetectorOperation::Create;
    int32_t detector = 0;         // 1, 2, ... in the order of creation
    int32_t count = 0;            // SetMaxNumOfDetectedFaces: n
    CameraIntrinsics intrinsics;  // OnCameraIntrinsicsChange
    Timestamp timestamp;          // DetectFaces: the frame's

    static DetectorCall Of(DetectorOperation operation, int32_t detector) {
        DetectorCall call;
        call.operation = operation;
        call.detector = detector;
        return call;
    }
};

struct DetectorRecord {
    std::vector<DetectorCall> calls;  // in the order they arrived
    int32_t created = 0;
    int32_t deleted = 0;
    // What the last create function call was given.
    head::FaceDetectorConfiguration settings;
    std::string detectorOptions;
    const AssetManager* assetManager = nullptr;
    std::string assetText;  // the asset the create function read

    int64_t Count(DetectorOperation operation) const;
};

// Installs `script` and clears the record and the detector numbering.
void ResetScriptedDetector(DetectorScript script = {});
// A copy of the record so far.
DetectorRecord GetScriptedDetectorRecord();
// Waits until `condition` holds for the record (checked at every call a
// detector receives) or `timeout` passes; returns whether it holds.
bool WaitForScriptedDetector(const std::function<bool(const DetectorRecord&)>& condition,
                             std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Used by the plugin.
namespace scripted {
struct Created {
    int32_t detector;
    int32_t maxNumOfFacesLimit;
};
Created OnCreate(const head::BlinkDetectorConfiguration& configuration, AssetManager* assetManager);
void OnCall(const DetectorCall& call);
void OnDelete(int32_t detector);
std::function<void(const head::CameraFrame&)> DetectFacesHook();
std::vector<head::DetectedFace> NextDetections();
}  // namespace scripted

}  // namespace quilo::test
