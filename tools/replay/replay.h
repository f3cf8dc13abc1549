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

#include "headTracking/common/eyePrediction.h"
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
    // Predicts the main face's eyes this many ms past each frame's timestamp
    // (0 to head::kMaxPredictionHorizonMs), as a display that shows the
    // picture that much later would ask for them.
    std::optional<double> predictMs;
};

// One frame's result.
struct FrameResult {
    size_t index = 0;
    double timestampMs = 0.0;
    bool delivered = false;         // whether the engine produced a result for it
    std::vector<head::Face> faces;  // display space, main face first
    std::vector<head::RawFace> rawFaces;
    std::vector<head::DetectedFace> detections;
    double detectorMs = 0.0;  // time in the face detector
    double engineMs = 0.0;    // the rest of the engine's work on the frame
    // The point the tracker follows (per the tracked eyes) in display space,
    // from the sequence's truth.
    std::optional<glm::dvec3> truth;
    // From the image's push to the result's publication, the engine's
    // exposure-to-result latency for an image handed over as it is exposed.
    double latencyMs = 0.0;
    // Both eyes' truth in display space at the frame's time and, with
    // predictMs, at the frame's time plus predictMs (where the sequence's
    // truth reaches that far).
    std::optional<EyeTruth> eyeTruth;
    std::optional<EyeTruth> eyeTruthAhead;
    // With predictMs and a main face: its eyes predicted that far.
    std::optional<head::EyePrediction> prediction;
};

struct ReplayResult {
    std::optional<double> predictMs;  // as the options asked
    std::vector<FrameResult> frames;
    double startupSeconds = 0.0;  // creating the engine and loading the detector
    double seconds = 0.0;         // wall time of the frames, images read included
};

// Called after every frame with the number of frames done and the total.
using ReplayProgress = std::function<void(size_t done, size_t total)>;

// Replays `sequence` (read from `folder`) through a new engine with the CPU
// face detector. Throws std::invalid_argument, before any work, for a
// predictMs outside 0 to head::kMaxPredictionHorizonMs. Every image is checked with CheckFrameImage before the
// engine is made. Throws SequenceError for an image that cannot be read or
// whose size differs from the intrinsics', and quilo::Exception or another
// std::exception when the engine or the detector cannot be created; the
// frames replayed so far are lost then.
ReplayResult Replay(const std::filesystem::path& folder, const Sequence& sequence, const ReplayOptions& options,
                    const ReplayProgress& progress = nullptr);

// The camera-space point `cameraMm` (mm) in the display's space, as the
// tracker places it with `configuration`'s camera pose.
glm::dvec3 ToDisplaySpace(const head::FaceTrackerConfiguration& configuration, const glm::dvec3& cameraMm);

// Both eyes of the sequence's truth at `ms`: cubic (Catmull-Rom) between
// the frames around it, exact at a frame's timestamp. nullopt outside the
// first and last frames' times, or when a frame it needs has no truth.
std::optional<EyeTruth> TruthAt(const Sequence& sequence, double ms);

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
    // Exposure-to-result latency (FrameResult::latencyMs) over delivered frames.
    double latencyMedianMs = 0.0, latencyP99Ms = 0.0;

    // With a prediction: the main face's eyes against the truth, mean 3D
    // error of both eyes (mm), over the frames with truth at both times.
    // `now`: its eyes at the frame's time against the truth then; `held`:
    // the same eyes against the truth predictMs later (no prediction);
    // `predicted`: the predicted eyes against that truth. Jitter as above,
    // of the eyes' error vectors. `stillWorst`: the largest error of the
    // predicted eyes over frames where the truth is still at both times
    // (after a stop, the overshoot), and of the held eyes.
    std::optional<double> predictMs;
    size_t predictionFrames = 0;
    size_t predictionsDeclined = 0;  // frames whose prediction was refused
    double eyeErrorNowMm = 0.0, eyeErrorHeldMm = 0.0, eyeErrorPredictedMm = 0.0;
    double eyeJitterHeldMm = 0.0, eyeJitterPredictedMm = 0.0;
    double stillWorstHeldMm = 0.0, stillWorstPredictedMm = 0.0;
    size_t stillFrames = 0;
};

// Speed below which a face counts as still, mm per ms (5 cm/s).
inline constexpr double kStillSpeed = 0.05;

ReplayStatistics ComputeStatistics(const ReplayResult& result);

// With a prediction, fills the still-head figures of `statistics`, which
// need the sequence's truth between frames.
void AddStillFigures(const Sequence& sequence, const ReplayResult& result, ReplayStatistics& statistics);

// The q-quantile (0..1) of `values` by linear interpolation; NaN when empty.
double Quantile(std::vector<double> values, double q);

}  // namespace quilo::replay
