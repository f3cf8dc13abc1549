// Exercises the engine through its C interface: creates an engine for an
// 848 x 480 infrared stream at 90 frames per second with polling and a frame
// callback, starts tracking, and over ten iterations two seconds apart polls
// the latest frame, moves the camera and changes a filter property, stopping
// and restarting tracking half-way. Every call's status goes to the log.
// At the end it logs the frames' exposure-to-result latency (median, 99th
// percentile). Exit code 0 after the ten iterations, -1 when the engine
// cannot be created or first started.
#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "common/log.h"
#include "common/threadSafety.h"
#include "headTracking/capi/quiloHeadTracking.h"

namespace {

struct EngineRelease {
    void operator()(quilo_head_tracking_engine* engine) const { quiloHeadTrackingEngineRelease(engine); }
};
struct FrameRelease {
    void operator()(quilo_head_tracking_frame* frame) const { quiloHeadTrackingFrameRelease(frame); }
};
using EngineHandle = std::unique_ptr<quilo_head_tracking_engine, EngineRelease>;
using FrameHandle = std::unique_ptr<quilo_head_tracking_frame, FrameRelease>;

void ReportStatus(const char* operation, int status) {
    if (status == kQuiloHeadTrackingStatusSuccess) {
        spdlog::info("Succeeded {}", operation);
        return;
    }
    const char* text = status == kQuiloHeadTrackingStatusErrorInvalidInstance ? "Invalid instance error"
                       : status == kQuiloHeadTrackingStatusErrorUnknown       ? "Unknown error"
                                                                              : "Unknown status";
    spdlog::error("{} failed with status: {}", operation, text);
}

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Every frame's exposure-to-result latency, ms: written by the processing
// thread, read by main once tracking has stopped; the lock keeps the two apart.
quilo::Mutex latencyMutex;
std::vector<double> latencies QUILO_GUARDED_BY(latencyMutex);

// The q-quantile (0..1) of `values`, nearest rank; 0 when empty.
double Quantile(std::vector<double> values, double q) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    return values[static_cast<size_t>(q * static_cast<double>(values.size() - 1) + 0.5)];
}

// Runs on the engine's processing thread, one frame at a time.
void HandleFrame(quilo_head_tracking_frame* frame, void*) {
    static quilo_head_tracking_result_t trackingResult;

    quilo_head_tracking_frame_timing_t timing;
    if (quiloHeadTrackingFrameGetTiming(frame, &timing) == kQuiloHeadTrackingStatusSuccess) {
        const quilo::MutexLock lock(latencyMutex);
        latencies.push_back(static_cast<double>(timing.publishTime - timing.exposureTime) / 1e6);
    }

    quilo_head_tracking_frame_profiling_t profiling;
    if (quiloHeadTrackingFrameGetProfiling(frame, &profiling) == kQuiloHeadTrackingStatusSuccess) {
        const int64_t now = NowNs();
        spdlog::info("API latency: {}us", static_cast<double>(now - profiling.apiTimestamp) / 1000.0);
        spdlog::info("Frame latency: {}ms", static_cast<double>(now - profiling.cameraExposureTime) / 1000000.0);
        spdlog::info("Blink detection time: {}ms",
                     static_cast<double>(profiling.faceDetectorEndTime - profiling.faceDetectorStartTime) / 1000000.0);
    }

    quilo_head_tracking_raw_faces_t rawFaces;
    quilo_head_tracking_detected_faces_t detectedFaces;
    quiloHeadTrackingFrameGetRawFaces(frame, &rawFaces);
    quiloHeadTrackingFrameGetDetectedFaces(frame, &detectedFaces);

    if (quiloHeadTrackingFrameGetTrackingResult(frame, &trackingResult) != kQuiloHeadTrackingStatusSuccess) return;
    static double previousMs = trackingResult.timestamp.ms;
    const double fps = 1000.0 / (trackingResult.timestamp.ms - previousMs);
    previousMs = trackingResult.timestamp.ms;
    spdlog::info("FPS: {:.2f}; Num faces: {}", fps, trackingResult.numFaces);
}

}  // namespace

int main(int, char**) {
    spdlog::set_default_logger(quilo::GetDefaultLogger());

    quilo_head_tracking_engine_init_args_t init_args{};
    init_args.width = 848;
    init_args.height = 480;
    init_args.fps = 90;
    init_args.binningFactor = 1.0f;
    init_args.maxNumOfFaces = 1;
    init_args.logLevel = 7;
    auto& filter = init_args.filterProperties;
    filter.restartThreshold = 0.0f;
    filter.maxTrackGap = 600.0f;
    filter.velDampingTime = 100.0f;
    filter.minFitDist = 40.0f;
    filter.maxFitDist = 2000.0f;
    filter.angleYMax = 0.7853975f;
    filter.interocularDistanceMin = 30.0f;
    filter.interocularDistanceMax = 80.0f;
    filter.bufferLim = 600.0f;
    filter.mainFaceSkew = {0.0f, 0.0f, 0.0f};
    filter.mainFaceScale = {4.0f, 4.0f, 1.0f};
    filter.kalman.a = {0.02f, 0.05f, 0.2f};
    filter.kalman.b = {0.1f, 0.1f, 0.1f};
    init_args.frameCallback = HandleFrame;
    init_args.frameCallbackUserData = nullptr;
    init_args.enablePolling = 1;
    init_args.virtualFaceHook = nullptr;
    init_args.virtualFaceHookUserData = nullptr;

    quilo_head_tracking_engine* created = nullptr;
    const int initStatus = quiloHeadTrackingEngineInitArgs(&init_args, &created);
    if (initStatus != kQuiloHeadTrackingStatusSuccess) {
        ReportStatus("Init", initStatus);
        return -1;
    }
    EngineHandle engine(created);

    const quilo_head_tracking_vec3_t cameraPosition{0.0f, 0.0f, 0.0f};
    const quilo_head_tracking_vec3_t cameraRotation{0.0f, 0.0f, 0.0f};
    ReportStatus("quiloHeadTrackingEngineSetCameraTransform(engine.get(), cameraPosition, cameraRotation)",
                 quiloHeadTrackingEngineSetCameraTransform(engine.get(), &cameraPosition, &cameraRotation));

    const int startStatus = quiloHeadTrackingEngineStartTracking(engine.get());
    if (startStatus != kQuiloHeadTrackingStatusSuccess) {
        ReportStatus("StartTracking", startStatus);
        return -1;
    }

    for (int i = 0; i < 10; ++i) {
        std::this_thread::sleep_until(std::chrono::steady_clock::now() + std::chrono::seconds(2));

        if (init_args.enablePolling != 0) {
            quilo_head_tracking_frame* polled = nullptr;
            const int pollStatus = quiloHeadTrackingEngineGetLatestFrame(engine.get(), &polled);
            if (pollStatus != kQuiloHeadTrackingStatusSuccess) {
                ReportStatus("GetLatestFrame", pollStatus);
            } else {
                FrameHandle frame(polled);
                quilo_head_tracking_result_t trackingResult;
                ReportStatus("quiloHeadTrackingFrameGetTrackingResult(frame.get(), &trackingResult)",
                             quiloHeadTrackingFrameGetTrackingResult(frame.get(), &trackingResult));
                quilo_head_tracking_raw_faces_t rawFaces;
                const int rawStatus = quiloHeadTrackingFrameGetRawFaces(frame.get(), &rawFaces);
                spdlog::info("Raw pos is {}", rawStatus == kQuiloHeadTrackingStatusSuccess && rawFaces.numFaces > 0
                                                  ? "valid"
                                                  : "invalid");
            }
        }

        if (i == 4) {
            ReportStatus("quiloHeadTrackingEngineStopTracking(engine.get())",
                         quiloHeadTrackingEngineStopTracking(engine.get()));
        }
        ReportStatus("quiloHeadTrackingEngineSetCameraPosition(engine.get(), float(i) / 20.0f, 0.0f, 0.0f)",
                     quiloHeadTrackingEngineSetCameraPosition(engine.get(), float(i) / 20.0f, 0.0f, 0.0f));
        init_args.filterProperties.mainFaceSkew.x += 10.0f;
        ReportStatus("quiloHeadTrackingEngineSetFilterProperties(engine.get(), &init_args.filterProperties)",
                     quiloHeadTrackingEngineSetFilterProperties(engine.get(), &init_args.filterProperties));
        if (i == 4) {
            ReportStatus("quiloHeadTrackingEngineStartTracking(engine.get())",
                         quiloHeadTrackingEngineStartTracking(engine.get()));
        }
    }
    ReportStatus("quiloHeadTrackingEngineStopTracking(engine.get())",
                 quiloHeadTrackingEngineStopTracking(engine.get()));
    const quilo::MutexLock lock(latencyMutex);
    spdlog::info("Exposure-to-result latency: median {:.3f} ms, 99th percentile {:.3f} ms over {} frames",
                 Quantile(latencies, 0.5), Quantile(latencies, 0.99), latencies.size());
    return 0;
}
