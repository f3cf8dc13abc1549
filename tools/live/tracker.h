// The engine as the live program runs it: with the CPU face detector, fed
// either by the host (images pushed into its shared-camera sink) or by its
// own RealSense camera, every result turned into a LiveFrame for the outputs.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "headTracking/common/types.h"
#include "tools/live/liveFrame.h"
#include "tools/live/source.h"

namespace quilo::live {

struct TrackerOptions {
    int32_t maxFaces = 1;  // 1 to the detector's limit (3)
    // Tracked eyes, filter and the camera's pose on the display.
    head::FaceTrackerConfiguration tracker;
    int32_t logLevel = 4;  // a quilo_log_level_e; warnings and errors by default
    // The engine's own RealSense camera instead of pushed images.
    bool realsense = false;
};

// Figures for the status line, over the last second or so.
struct TrackerStatus {
    uint64_t frames = 0;  // results delivered in all
    double framesPerSecond = 0.0;
    size_t faces = 0;                    // in the last frame
    std::optional<glm::dvec3> mainHead;  // mm, display space
    double latencyMs = 0.0;              // of the last frame
    // Exposure (capture) to result over the frames of the last second.
    double latencyMedianMs = 0.0;
    double latencyP99Ms = 0.0;
};

class LiveTracker {
public:
    // Gets each frame's result on the thread that delivers it (the pushing
    // thread, or the RealSense camera's), with `latencyMs` measured up to the
    // call. Must not push into or stop this tracker.
    using Output = std::function<void(LiveFrame&)>;

    // Creates the engine and loads the detector. Throws quilo::Exception or
    // another std::exception when either cannot be made (no RealSense
    // camera, no detector model).
    LiveTracker(const TrackerOptions& options, Output output);
    // Stops tracking.
    ~LiveTracker();
    LiveTracker(const LiveTracker&) = delete;
    LiveTracker& operator=(const LiveTracker&) = delete;

    // The geometry of the images to come; before the first Push.
    void SetIntrinsics(const CameraIntrinsics& intrinsics);
    // Runs one image through the engine, which delivers its result before
    // this returns. Not with the RealSense camera.
    void Push(const CapturedImage& image);

    TrackerStatus Status() const;

private:
    void OnFrame(const head::Frame& frame);

    struct Engine;
    TrackerOptions options_;
    Output output_;
    // Set by Push for the frame it delivers (no RealSense frame has one).
    const CapturedImage* pushing_ = nullptr;
    uint64_t index_ = 0;
    mutable std::mutex statusMutex_;
    TrackerStatus status_;
    std::vector<std::chrono::steady_clock::time_point> recent_;  // delivery times, last second
    std::vector<double> recentLatencies_;                        // their frames' latencies, ms
    std::unique_ptr<Engine> engine_;                             // last: it calls into the members above
};

}  // namespace quilo::live
