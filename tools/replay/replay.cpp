#include "tools/replay/replay.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

#include <fmt/format.h>

#include "common/platform.h"
#include "headTracking/camera/sharedCamera.h"
#include "headTracking/common/engineConfiguration.h"
#include "headTracking/common/frameAdapter.h"
#include "headTracking/common/transforms.h"
#include "headTracking/engine/engine.h"

namespace quilo::replay {

namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

glm::dvec3 ToDisplaySpace(const head::FaceTrackerConfiguration& configuration,
                          const glm::dvec3& cameraMm) {
    return head::CameraToDisplay(glm::dmat3(configuration.cameraRotation), glm::dvec3(configuration.cameraPosition),
                                 cameraMm);
}

glm::dvec3 TrackedPoint(const head::FaceTrackerConfiguration& configuration, const EyeTruth& eyes) {
    if (configuration.trackRightEye && !configuration.trackLeftEye) return eyes.rightEye;
    if (configuration.trackLeftEye && !configuration.trackRightEye) return eyes.leftEye;
    return (eyes.rightEye + eyes.leftEye) * 0.5;
}

ReplayResult Replay(const std::filesystem::path& folder, const Sequence& sequence,
                    const ReplayOptions& options, const ReplayProgress& progress) {
    // Every image's header first: a missing, foreign, truncated or wrongly
    // sized image stops the replay before the detector is loaded.
    for (const SequenceFrame& entry : sequence.frames) CheckFrameImage(folder, sequence, entry);

    const Clock::time_point startup = Clock::now();
    ReplayResult result;
    result.frames.reserve(sequence.frames.size());

    PlatformInitArgs platformArgs;
    platformArgs.logLevel = options.logLevel;
    const std::unique_ptr<Platform> platform = Platform::Create(platformArgs);

    // The engine delivers each frame's result synchronously, inside the push
    // into the sink, into the frame being replayed.
    FrameResult* current = nullptr;
    head::FrameAdapter adapter(
        [&current](const head::Frame& frame) {
            if (current == nullptr) return;
            current->delivered = true;
            const Slice<head::Face> faces = frame.faces();
            current->faces.assign(faces.begin(), faces.end());
            const Slice<head::RawFace> rawFaces = frame.rawFaces();
            current->rawFaces.assign(rawFaces.begin(), rawFaces.end());
            const Slice<head::DetectedFace> detections = frame.detections();
            current->detections.assign(detections.begin(), detections.end());
            const head::FrameProfiling profiling = frame.profiling();
            current->detectorMs =
                static_cast<double>(profiling.faceDetectorEndTime - profiling.faceDetectorStartTime) /
                1e6;
        },
        false);

    SharedCameraSink sink;
    head::EngineInitArgs args;
    args.configuration.faceTracker = options.tracker;
    args.configuration.faceDetector.backend = kQuiloFaceDetectorBackendCPU;
    args.configuration.faceDetector.maxNumOfFaces = options.maxFaces;
    args.configuration.profiling = true;
    args.platform = platform.get();
    args.frameAdapter = &adapter;
    args.sharedCameraSink = &sink;
    head::Engine engine(args);
    engine.SetMaxNumOfDetectedFaces(options.maxFaces);

    sink.onIntrinsicsChange(sequence.intrinsics);
    engine.StartTracking();
    result.startupSeconds = MillisecondsSince(startup) / 1000.0;
    const Clock::time_point start = Clock::now();
    const size_t total = sequence.frames.size();
    try {
        for (size_t i = 0; i < total; ++i) {
            const SequenceFrame& entry = sequence.frames[i];
            const GreyImage image = ReadFrameImage(folder, sequence, entry);

            FrameResult& frame = result.frames.emplace_back();
            frame.index = i;
            frame.timestampMs = entry.timestampMs;
            if (entry.truth) {
                frame.truth = ToDisplaySpace(options.tracker, TrackedPoint(options.tracker, *entry.truth));
            }

            // Measured depth goes with the image where the sequence has it;
            // without it the frame knows nothing of depth, as before.
            std::optional<DepthImage> depth;
            if (entry.depth) depth = ReadFrameDepth(folder, sequence, entry);

            ImageDesc desc;
            desc.width = image.width;
            desc.height = image.height;
            desc.data = image.pixels.data();
            current = &frame;
            const Timestamp timestamp{Timestamp::Space::System, entry.timestampMs};
            const Clock::time_point pushed = Clock::now();
            if (depth) {
                DepthImageDesc depthDesc;
                depthDesc.width = depth->width;
                depthDesc.height = depth->height;
                depthDesc.stride = depth->width * static_cast<int32_t>(sizeof(uint16_t));
                depthDesc.unit = static_cast<float>(sequence.depthUnit);
                depthDesc.data = reinterpret_cast<const uint8_t*>(depth->values.data());
                sink.onDepthFrameAvailable(desc, &depthDesc, timestamp);
            } else {
                sink.onFrameAvailable(desc, timestamp);
            }
            const double engineMs = MillisecondsSince(pushed);
            current = nullptr;
            frame.engineMs = std::max(engineMs - frame.detectorMs, 0.0);
            if (progress) progress(i + 1, total);
        }
    } catch (...) {
        current = nullptr;
        engine.StopTracking();
        throw;
    }
    result.seconds = MillisecondsSince(start) / 1000.0;
    engine.StopTracking();
    return result;
}

double Quantile(std::vector<double> values, double q) {
    if (values.empty()) return std::numeric_limits<double>::quiet_NaN();
    std::sort(values.begin(), values.end());
    const double position = std::clamp(q, 0.0, 1.0) * static_cast<double>(values.size() - 1);
    const size_t below = static_cast<size_t>(std::floor(position));
    const size_t above = std::min(below + 1, values.size() - 1);
    const double fraction = position - static_cast<double>(below);
    return values[below] + (values[above] - values[below]) * fraction;
}

ReplayStatistics ComputeStatistics(const ReplayResult& result) {
    ReplayStatistics statistics;
    statistics.frames = result.frames.size();
    std::vector<double> detector, engine, errors;
    for (const FrameResult& frame : result.frames) {
        if (!frame.delivered) continue;
        detector.push_back(frame.detectorMs);
        engine.push_back(frame.engineMs);
        statistics.detections += frame.detections.size();
        if (!frame.detections.empty()) ++statistics.framesWithDetection;
        if (frame.faces.empty()) continue;
        ++statistics.framesWithFace;
        if (frame.truth) {
            errors.push_back(glm::length(glm::dvec3(frame.faces[0].position) - *frame.truth));
        }
    }
    statistics.detectorMedianMs = Quantile(detector, 0.5);
    statistics.detectorP99Ms = Quantile(detector, 0.99);
    statistics.engineMedianMs = Quantile(engine, 0.5);
    statistics.engineP99Ms = Quantile(engine, 0.99);
    statistics.startupSeconds = result.startupSeconds;
    statistics.framesPerSecond =
        result.seconds > 0.0 ? static_cast<double>(statistics.frames) / result.seconds : 0.0;
    statistics.framesWithError = errors.size();
    if (!errors.empty()) {
        double sum = 0.0;
        for (double e : errors) sum += e;
        statistics.errorMeanMm = sum / static_cast<double>(errors.size());
        statistics.errorP95Mm = Quantile(errors, 0.95);
    } else {
        statistics.errorMeanMm = statistics.errorP95Mm = std::numeric_limits<double>::quiet_NaN();
    }

    // Jitter over runs of consecutive frames that have a main face.
    auto mainFace = [&](size_t i) -> const head::Face* {
        const FrameResult& frame = result.frames[i];
        return frame.delivered && !frame.faces.empty() ? &frame.faces[0] : nullptr;
    };
    double sumSquares = 0.0;
    size_t count = 0;
    statistics.jitterFromTruth = statistics.framesWithError > 0;
    for (size_t i = 1; i < result.frames.size(); ++i) {
        if (statistics.jitterFromTruth) {
            const head::Face* a = mainFace(i - 1);
            const head::Face* b = mainFace(i);
            const auto& ta = result.frames[i - 1].truth;
            const auto& tb = result.frames[i].truth;
            if (a == nullptr || b == nullptr || !ta || !tb) continue;
            const glm::dvec3 change =
                (glm::dvec3(b->position) - *tb) - (glm::dvec3(a->position) - *ta);
            sumSquares += glm::dot(change, change) / 2.0;
            ++count;
        } else if (i + 1 < result.frames.size()) {
            const head::Face* a = mainFace(i - 1);
            const head::Face* b = mainFace(i);
            const head::Face* c = mainFace(i + 1);
            if (a == nullptr || b == nullptr || c == nullptr) continue;
            const auto still = [](const head::Face* f) {
                return glm::length(glm::dvec3(f->velocity)) < kStillSpeed;
            };
            if (!still(a) || !still(b) || !still(c)) continue;
            const glm::dvec3 bend = glm::dvec3(c->position) - 2.0 * glm::dvec3(b->position) +
                                    glm::dvec3(a->position);
            sumSquares += glm::dot(bend, bend) / 6.0;
            ++count;
        }
    }
    statistics.jitterFrames = count;
    statistics.jitterMm = count > 0 ? std::sqrt(sumSquares / static_cast<double>(count))
                                    : std::numeric_limits<double>::quiet_NaN();
    return statistics;
}

}  // namespace quilo::replay
