// Runs a recorded sequence through the engine, frame by frame, as a host with
// its own camera would: the images go into the engine's shared-camera sink,
// the CPU face detector plugin finds the faces, and every frame's result is
// kept for the reports.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <glm/glm.hpp>

#include "headTracking/common/types.h"
#include "headTracking/engine/faceDetector.h"
#include "tools/replay/sequence.h"

namespace quilo::replay {

struct ReplayOptions {
    int32_t maxFaces = 1;  // 1 to the detector's limit
    // The tracker's configuration: tracked eyes, filter, camera pose in the
    // display's space (the engine's defaults unless changed).
    head::FaceTrackerConfiguration tracker;
    // Engine log level (a quilo_log_level_e); warnings and errors by default.
    int32_t logLevel = 4;
};

// One frame's result.
struct FrameResult {
    size_t index = 0;
    double timestampMs = 0.0;
    bool delivered = false;  // whether the engine produced a result for it
    std::vector<head::Face> faces;  // display space, main face first
    std::vector<head::RawFace> rawFaces;
    std::vector<head::DetectedFace> detections;
    double detectorMs = 0.0;  // time in the face detector
    double engineMs = 0.0;    // the rest of the engine's work on the frame
    // The point the tracker follows (per the tracked eyes) in display space,
    // from the sequence's truth.
    std::optional<glm::dvec3> truth;
};

struct ReplayResult {
    std::vector<FrameResult> frames;
    double startupSeconds = 0.0;  // creating the engine and loading the detector
    double seconds = 0.0;  // wall time of the frames, images read included
};

// Called after every frame with the number of frames done and the total.
using ReplayProgress = std::function<void(size_t done, size_t total)>;

// Replays `sequence` (read from `folder`) through a new engine with the CPU
// face detector. Every image is checked with CheckFrameImage before the
// engine is made. Throws SequenceError for an image that cannot be read or
// whose size differs from the intrinsics', and quilo::Exception or another
// std::exception when the engine or the detector cannot be created; the
// frames replayed so far are lost then.
ReplayResult Replay(const std::filesystem::path& folder, const Sequence& sequence,
                    const ReplayOptions& options, const ReplayProgress& progress = nullptr);

// The camera-space point `cameraMm` (mm) in the display's space, as the
// tracker places it with `configuration`'s camera pose.
glm::dvec3 ToDisplaySpace(const head::FaceTrackerConfiguration& configuration,
                          const glm::dvec3& cameraMm);

// The point the tracker follows for these eyes: one eye, or their midpoint
// when both (or neither) are tracked.
glm::dvec3 TrackedPoint(const head::FaceTrackerConfiguration& configuration, const EyeTruth& eyes);

// Figures over a replay.
struct ReplayStatistics {
    size_t frames = 0;
    size_t framesWithFace = 0;       // frames with at least one tracked face
    size_t framesWithDetection = 0;  // frames where the detector found a face
    size_t detections = 0;
    double detectorMedianMs = 0.0, detectorP99Ms = 0.0;
    double engineMedianMs = 0.0, engineP99Ms = 0.0;
    double framesPerSecond = 0.0;  // over the frames, images read included
    double startupSeconds = 0.0;
    // With truth: the main face's distance from the truth, over the frames
    // that have both (mm), and how many those are.
    size_t framesWithError = 0;
    double errorMeanMm = 0.0, errorP95Mm = 0.0;
    // High-frequency jitter of the main face, mm: with truth, the root mean
    // square of the frame-to-frame change of its error vector divided by √2
    // (the spread of an error that changes randomly from frame to frame);
    // without truth, the same measure of the change of its velocity (the
    // second difference of its positions divided by √6), over the frames
    // where it moves slower than `stillSpeed`. NaN without enough frames.
    double jitterMm = 0.0;
    size_t jitterFrames = 0;
    bool jitterFromTruth = false;
};

// Speed below which a face counts as still, mm per ms (5 cm/s).
inline constexpr double kStillSpeed = 0.05;

ReplayStatistics ComputeStatistics(const ReplayResult& result);

// The q-quantile (0..1) of `values` by linear interpolation; NaN when empty.
double Quantile(std::vector<double> values, double q);

}  // namespace quilo::replay
