// The frame the engine hands to its frame adapter: a view on the live
// tracker, the detector output and the frame's profiling record. Built on the
// delivery thread's stack for one OnFrame call; copies nothing. Internal.
#pragma once

#include "headTracking/common/frameAdapter.h"
#include "headTracking/engine/core/faceTracker.h"
#include "headTracking/engine/faceDetector.h"

namespace quilo::head {

class EngineFrame final : public Frame {
public:
    EngineFrame(const FaceTracker* tracker, const FaceDetector::Output* detections, const FrameProfiling& profiling,
                const FrameTiming& timing)
        : tracker_(tracker), detections_(detections), profiling_(profiling), timing_(timing) {}

    Slice<Face> faces() const override { return tracker_->faces(); }
    Timestamp timestamp() const override { return tracker_->timestamp(); }
    bool trackingStarted() const override { return tracker_->trackingStarted(); }
    float signalValue() const override { return signalValue_; }
    Slice<RawFace> rawFaces() const override { return tracker_->rawFaces(); }
    Slice<DetectedFace> detections() const override {
        return {detections_->detections.data(), static_cast<int64_t>(detections_->detections.size())};
    }
    FrameProfiling profiling() const override { return profiling_; }
    FrameTiming timing() const override { return timing_; }

private:
    const FaceTracker* tracker_;
    const FaceDetector::Output* detections_;
    FrameProfiling profiling_;
    FrameTiming timing_;
    float signalValue_ = 0.0f;
};

}  // namespace quilo::head
