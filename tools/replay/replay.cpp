#include "tools/replay/replay.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <stdexcept>

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

// Whole milliseconds apart from the rest: a double of nanoseconds since 1970
// is too coarse.
int64_t Nanoseconds(double ms) {
    const double whole = std::floor(ms);
    return static_cast<int64_t>(whole) * 1000000 + std::llround((ms - whole) * 1e6);
}

EyeTruth InDisplaySpace(const head::FaceTrackerConfiguration& configuration, const EyeTruth& eyes) {
    return {ToDisplaySpace(configuration, eyes.rightEye), ToDisplaySpace(configuration, eyes.leftEye)};
}

// Mean distance of both eyes from their truth, and the error vectors.
double EyeError(const glm::vec3& right, const glm::vec3& left, const EyeTruth& truth) {
    return 0.5 * (glm::distance(glm::dvec3(right), truth.rightEye) + glm::distance(glm::dvec3(left), truth.leftEye));
}

// The truth's midpoint speed at `ms`, mm per ms; nullopt without truth there.
std::optional<double> TruthSpeed(const Sequence& sequence, double ms) {
    const auto before = TruthAt(sequence, ms - 1.0);
    const auto after = TruthAt(sequence, ms + 1.0);
    if (!before || !after) return std::nullopt;
    const glm::dvec3 a = (before->rightEye + before->leftEye) * 0.5;
    const glm::dvec3 b = (after->rightEye + after->leftEye) * 0.5;
    return glm::distance(a, b) / 2.0;
}

double Mean(const std::vector<double>& values) {
    if (values.empty()) return std::numeric_limits<double>::quiet_NaN();
    double sum = 0.0;
    for (const double v : values) sum += v;
    return sum / static_cast<double>(values.size());
}

}  // namespace

std::optional<EyeTruth> TruthAt(const Sequence& sequence, double ms) {
    const auto& frames = sequence.frames;
    if (frames.empty() || !(ms >= frames.front().timestampMs && ms <= frames.back().timestampMs)) {
        return std::nullopt;
    }
    // The first frame after `ms` (or the last): the segment is [i - 1, i].
    const auto after = std::upper_bound(frames.begin(), frames.end(), ms,
                                        [](double t, const SequenceFrame& f) { return t < f.timestampMs; });
    const size_t i = std::clamp<size_t>(static_cast<size_t>(after - frames.begin()), 1, frames.size() - 1);
    if (frames.size() == 1) return frames[0].truth;
    const size_t i0 = i - 1;
    const size_t im = i0 > 0 ? i0 - 1 : i0;
    const size_t ip = i + 1 < frames.size() ? i + 1 : i;
    for (const size_t k : {im, i0, i, ip}) {
        if (!frames[k].truth) return std::nullopt;
    }
    const double t0 = frames[i0].timestampMs, t1 = frames[i].timestampMs;
    const double u = (ms - t0) / (t1 - t0);
    // Catmull-Rom with the tangents of non-uniform spacing, one side at the ends.
    const auto point = [&](const glm::dvec3& pm, double tm, const glm::dvec3& p0, const glm::dvec3& p1,
                           const glm::dvec3& pp, double tp) {
        const double h = t1 - t0;
        const glm::dvec3 m0 = tm < t0 ? (p1 - pm) / (t1 - tm) * h : (p1 - p0);
        const glm::dvec3 m1 = tp > t1 ? (pp - p0) / (tp - t0) * h : (p1 - p0);
        const double u2 = u * u, u3 = u2 * u;
        return (2 * u3 - 3 * u2 + 1) * p0 + (u3 - 2 * u2 + u) * m0 + (-2 * u3 + 3 * u2) * p1 + (u3 - u2) * m1;
    };
    const double tm = frames[im].timestampMs, tp = frames[ip].timestampMs;
    EyeTruth out;
    out.rightEye = point(frames[im].truth->rightEye, tm, frames[i0].truth->rightEye, frames[i].truth->rightEye,
                         frames[ip].truth->rightEye, tp);
    out.leftEye = point(frames[im].truth->leftEye, tm, frames[i0].truth->leftEye, frames[i].truth->leftEye,
                        frames[ip].truth->leftEye, tp);
    return out;
}

glm::dvec3 ToDisplaySpace(const head::FaceTrackerConfiguration& configuration, const glm::dvec3& cameraMm) {
    return head::CameraToDisplay(glm::dmat3(configuration.cameraRotation), glm::dvec3(configuration.cameraPosition),
                                 cameraMm);
}

glm::dvec3 TrackedPoint(const head::FaceTrackerConfiguration& configuration, const EyeTruth& eyes) {
    if (configuration.trackRightEye && !configuration.trackLeftEye) return eyes.rightEye;
    if (configuration.trackLeftEye && !configuration.trackRightEye) return eyes.leftEye;
    return (eyes.rightEye + eyes.leftEye) * 0.5;
}

ReplayResult Replay(const std::filesystem::path& folder, const Sequence& sequence, const ReplayOptions& options,
                    const ReplayProgress& progress) {
    // Every image's header first: a missing, foreign, truncated or wrongly
    // sized image stops the replay before the detector is loaded.
    for (const SequenceFrame& entry : sequence.frames) CheckFrameImage(folder, sequence, entry);

    if (options.predictMs && !(*options.predictMs >= 0.0 && *options.predictMs <= head::kMaxPredictionHorizonMs)) {
        throw std::invalid_argument(fmt::format("the prediction of {} ms is not from 0 to {} ms", *options.predictMs,
                                                head::kMaxPredictionHorizonMs));
    }
    const Clock::time_point startup = Clock::now();
    ReplayResult result;
    result.predictMs = options.predictMs;
    result.frames.reserve(sequence.frames.size());

    PlatformInitArgs platformArgs;
    platformArgs.logLevel = options.logLevel;
    const std::unique_ptr<Platform> platform = Platform::Create(platformArgs);

    // The engine delivers each frame's result synchronously, inside the push
    // into the sink, into the frame being replayed.
    FrameResult* current = nullptr;
    head::FrameAdapter adapter(
        [&current, &options](const head::Frame& frame) {
            if (current == nullptr) return;
            current->delivered = true;
            // First, as a host would: the publish time is the latency's end.
            if (options.predictMs && frame.faces().size > 0) {
                current->prediction =
                    head::PredictEyes(frame, 0, Nanoseconds(frame.timestamp().ms + *options.predictMs));
            }
            current->latencyMs = static_cast<double>(frame.timing().publishTime) / 1e6;
            const Slice<head::Face> faces = frame.faces();
            current->faces.assign(faces.begin(), faces.end());
            const Slice<head::RawFace> rawFaces = frame.rawFaces();
            current->rawFaces.assign(rawFaces.begin(), rawFaces.end());
            const Slice<head::DetectedFace> detections = frame.detections();
            current->detections.assign(detections.begin(), detections.end());
            const head::FrameProfiling profiling = frame.profiling();
            current->detectorMs =
                static_cast<double>(profiling.faceDetectorEndTime - profiling.faceDetectorStartTime) / 1e6;
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
                frame.eyeTruth = InDisplaySpace(options.tracker, *entry.truth);
            }
            if (options.predictMs) {
                if (const auto ahead = TruthAt(sequence, entry.timestampMs + *options.predictMs)) {
                    frame.eyeTruthAhead = InDisplaySpace(options.tracker, *ahead);
                }
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
            const int64_t pushedNs = platform->GetSystemTimeNs();
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
            if (frame.delivered) frame.latencyMs -= static_cast<double>(pushedNs) / 1e6;
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
    statistics.framesPerSecond = result.seconds > 0.0 ? static_cast<double>(statistics.frames) / result.seconds : 0.0;
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
            const glm::dvec3 change = (glm::dvec3(b->position) - *tb) - (glm::dvec3(a->position) - *ta);
            sumSquares += glm::dot(change, change) / 2.0;
            ++count;
        } else if (i + 1 < result.frames.size()) {
            const head::Face* a = mainFace(i - 1);
            const head::Face* b = mainFace(i);
            const head::Face* c = mainFace(i + 1);
            if (a == nullptr || b == nullptr || c == nullptr) continue;
            const auto still = [](const head::Face* f) { return glm::length(glm::dvec3(f->velocity)) < kStillSpeed; };
            if (!still(a) || !still(b) || !still(c)) continue;
            const glm::dvec3 bend = glm::dvec3(c->position) - 2.0 * glm::dvec3(b->position) + glm::dvec3(a->position);
            sumSquares += glm::dot(bend, bend) / 6.0;
            ++count;
        }
    }
    statistics.jitterFrames = count;
    statistics.jitterMm =
        count > 0 ? std::sqrt(sumSquares / static_cast<double>(count)) : std::numeric_limits<double>::quiet_NaN();

    std::vector<double> latencies;
    for (const FrameResult& frame : result.frames) {
        if (frame.delivered) latencies.push_back(frame.latencyMs);
    }
    statistics.latencyMedianMs = Quantile(latencies, 0.5);
    statistics.latencyP99Ms = Quantile(latencies, 0.99);

    statistics.predictMs = result.predictMs;
    if (!result.predictMs) return statistics;
    // The eyes a host would show: predicted, or the frame-time eyes the
    // prediction answers when it declines.
    std::vector<double> now, held, predicted;
    double heldSquares = 0.0, predictedSquares = 0.0;
    size_t jitterCount = 0;
    glm::dvec3 lastHeld[2], lastPredicted[2];
    bool haveLast = false;
    for (const FrameResult& frame : result.frames) {
        const bool usable =
            frame.delivered && !frame.faces.empty() && frame.prediction && frame.eyeTruth && frame.eyeTruthAhead;
        if (!usable) {
            haveLast = false;
            continue;
        }
        const head::Face& face = frame.faces[0];
        const head::EyePrediction& p = *frame.prediction;
        if (p.status != head::PredictionStatus::Predicted) ++statistics.predictionsDeclined;
        const EyeTruth& ahead = *frame.eyeTruthAhead;
        now.push_back(EyeError(face.rightEye, face.leftEye, *frame.eyeTruth));
        held.push_back(EyeError(face.rightEye, face.leftEye, ahead));
        predicted.push_back(EyeError(p.rightEye, p.leftEye, ahead));

        const glm::dvec3 heldError[2] = {glm::dvec3(face.rightEye) - ahead.rightEye,
                                         glm::dvec3(face.leftEye) - ahead.leftEye};
        const glm::dvec3 predictedError[2] = {glm::dvec3(p.rightEye) - ahead.rightEye,
                                              glm::dvec3(p.leftEye) - ahead.leftEye};
        if (haveLast) {
            for (int e = 0; e < 2; ++e) {
                const glm::dvec3 h = heldError[e] - lastHeld[e];
                const glm::dvec3 q = predictedError[e] - lastPredicted[e];
                heldSquares += glm::dot(h, h) / 2.0;
                predictedSquares += glm::dot(q, q) / 2.0;
            }
            jitterCount += 2;
        }
        std::copy(std::begin(heldError), std::end(heldError), std::begin(lastHeld));
        std::copy(std::begin(predictedError), std::end(predictedError), std::begin(lastPredicted));
        haveLast = true;
    }
    statistics.predictionFrames = now.size();
    statistics.eyeErrorNowMm = Mean(now);
    statistics.eyeErrorHeldMm = Mean(held);
    statistics.eyeErrorPredictedMm = Mean(predicted);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    statistics.eyeJitterHeldMm = jitterCount > 0 ? std::sqrt(heldSquares / static_cast<double>(jitterCount)) : nan;
    statistics.eyeJitterPredictedMm =
        jitterCount > 0 ? std::sqrt(predictedSquares / static_cast<double>(jitterCount)) : nan;
    return statistics;
}

void AddStillFigures(const Sequence& sequence, const ReplayResult& result, ReplayStatistics& statistics) {
    if (!result.predictMs) return;
    statistics.stillFrames = 0;
    statistics.stillWorstHeldMm = statistics.stillWorstPredictedMm = 0.0;
    for (const FrameResult& frame : result.frames) {
        if (!frame.delivered || frame.faces.empty() || !frame.prediction || !frame.eyeTruthAhead) continue;
        const auto speedNow = TruthSpeed(sequence, frame.timestampMs);
        const auto speedAhead = TruthSpeed(sequence, frame.timestampMs + *result.predictMs);
        if (!speedNow || !speedAhead || *speedNow >= kStillSpeed || *speedAhead >= kStillSpeed) continue;
        ++statistics.stillFrames;
        const head::Face& face = frame.faces[0];
        const head::EyePrediction& p = *frame.prediction;
        statistics.stillWorstHeldMm =
            std::max(statistics.stillWorstHeldMm, EyeError(face.rightEye, face.leftEye, *frame.eyeTruthAhead));
        statistics.stillWorstPredictedMm =
            std::max(statistics.stillWorstPredictedMm, EyeError(p.rightEye, p.leftEye, *frame.eyeTruthAhead));
    }
}

}  // namespace quilo::replay
