// Engine overhead per frame, from the camera's callback to the frame
// adapter's publication (polling and a C frame callback on, a scripted
// detector reporting three fixed faces, so detector time is negligible), and
// the cost of polling a frame through the C interface and reading it.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

#include "common/platform.h"
#include "fakeRealsense.h"
#include "headTracking/camera/sharedCamera.h"
#include "headTracking/capi/quiloHeadTracking.h"
#include "headTracking/common/eyePrediction.h"
#include "headTracking/common/frameAdapter.h"
#include "headTracking/engine/engine.h"
#include "headTracking/engine/testPlugins/scriptedDetector.h"
#include "support/detections.h"
#include "support/sandbox.h"

namespace {

void InstallScriptedDetector() {
    quilo::test::Sandbox::Install("quiloTestBlinkDetectorScripted", "quiloHeadTrackingBlinkDetectorcpu");
    quilo::test::DetectorScript script;
    script.maxNumOfFacesLimit = 3;
    for (double x : {224.0, 424.0, 624.0}) script.thereafter.push_back(quilo::test::FaceAt(x));
    quilo::test::ResetScriptedDetector(script);
}

void CountingCallback(quilo_head_tracking_frame* frame, void* user) {
    quilo_head_tracking_result_t result;
    quiloHeadTrackingFrameGetTrackingResult(frame, &result);
    *static_cast<int*>(user) += result.numFaces;
}

// An engine fed by a shared camera with 848 x 480 images (scripted detector,
// profiling on), tracking for its whole life; its frames go to `adapter`.
class SharedCameraEngine {
public:
    explicit SharedCameraEngine(quilo::head::FrameAdapter* adapter)
        : platform_((InstallScriptedDetector(), quilo::Platform::Create({}))), engine_(Args(adapter)) {
        quilo::CameraIntrinsics intrinsics;
        intrinsics.width = 848;
        intrinsics.height = 480;
        intrinsics.ppx = 424.0f;
        intrinsics.ppy = 240.0f;
        intrinsics.fx = intrinsics.fy = 420.0f;
        sink_.onIntrinsicsChange(intrinsics);
        engine_.StartTracking();
    }
    ~SharedCameraEngine() { engine_.StopTracking(); }

    void Push(quilo::Timestamp::Space space, double ms) {
        sink_.onFrameAvailable(quilo::ImageDesc{848, 480, 0, pixels_.data()}, quilo::Timestamp{space, ms});
    }

private:
    quilo::head::EngineInitArgs Args(quilo::head::FrameAdapter* adapter) {
        quilo::head::EngineInitArgs args;
        args.platform = platform_.get();
        args.frameAdapter = adapter;
        args.sharedCameraSink = &sink_;
        args.configuration.faceDetector.maxNumOfFaces = 3;
        args.configuration.profiling = true;
        return args;
    }

    std::unique_ptr<quilo::Platform> platform_;
    quilo::SharedCameraSink sink_;
    quilo::head::Engine engine_;
    std::vector<uint8_t> pixels_ = std::vector<uint8_t>(848 * 480, 100);
};

// Runs one frame per iteration through a SharedCameraEngine, stamped in
// `space`; the frame adapter hands every frame to `onFrame`.
void RunSharedCameraFrames(benchmark::State& state, quilo::Timestamp::Space space,
                           std::function<void(const quilo::head::Frame&)> onFrame) {
    quilo::head::FrameAdapter adapter(std::move(onFrame), /*enablePolling=*/true);
    SharedCameraEngine engine(&adapter);
    double ms = 1000.0;
    for (auto _ : state) {
        engine.Push(space, ms);
        ms += 11.0;
    }
}

void BM_EngineFrameOverhead(benchmark::State& state) {
    int faces = 0;
    // The C interface's callback path: a frame handle wrapping the engine's frame.
    RunSharedCameraFrames(state, quilo::Timestamp::Space::System, [&](const quilo::head::Frame& frame) {
        const auto handle = quilo::head::WrapFrame(frame);
        CountingCallback(reinterpret_cast<quilo_head_tracking_frame*>(handle.get()), &faces);
    });
    state.counters["faces/frame"] = benchmark::Counter(static_cast<double>(faces) / state.iterations());
}
BENCHMARK(BM_EngineFrameOverhead);

void BM_PollAndReadFrame(benchmark::State& state) {
    InstallScriptedDetector();
    fakeRealsense::Reset();
    quilo_head_tracking_engine_init_args_t args{};
    args.maxNumOfFaces = 3;
    args.logLevel = 7;
    args.enablePolling = 1;
    quilo_head_tracking_engine* engine = nullptr;
    if (quiloHeadTrackingEngineInitArgs(&args, &engine) != 0) {
        state.SkipWithError("engine creation failed");
        return;
    }
    quiloHeadTrackingEngineStartTracking(engine);
    for (int i = 0; i < 3; ++i) fakeRealsense::PushFrameSet(fakeRealsense::InfraredAndDepth(848, 480, 1000.0 + 11 * i));
    fakeRealsense::WaitUntilIdle();

    quilo_head_tracking_result_t result;
    quilo_head_tracking_raw_faces_t raw;
    quilo_head_tracking_detected_faces_t detected;
    quilo_head_tracking_frame_profiling_t profiling;
    for (auto _ : state) {
        quilo_head_tracking_frame* frame = nullptr;
        quiloHeadTrackingEngineGetLatestFrame(engine, &frame);
        quiloHeadTrackingFrameGetTrackingResult(frame, &result);
        quiloHeadTrackingFrameGetRawFaces(frame, &raw);
        quiloHeadTrackingFrameGetDetectedFaces(frame, &detected);
        quiloHeadTrackingFrameGetProfiling(frame, &profiling);
        quiloHeadTrackingFrameRelease(frame);
        benchmark::DoNotOptimize(result);
    }
    state.counters["faces"] = result.numFaces;
    fakeRealsense::TimeOutIdleWaits(true);
    quiloHeadTrackingEngineRelease(engine);
}
BENCHMARK(BM_PollAndReadFrame);

// Exposure to result: every frame's own times, the image stamped in an
// unknown clock so that its exposure is its arrival, as with a host that
// pushes each image as it is exposed. Counters: the median and 99th
// percentile of publish minus exposure, with and without the (scripted,
// near-zero) detector's time, in microseconds.
void BM_ExposureToResultLatency(benchmark::State& state) {
    std::vector<double> latencies, withoutDetector;
    latencies.reserve(1 << 20);
    withoutDetector.reserve(1 << 20);
    RunSharedCameraFrames(state, quilo::Timestamp::Space::Unknown, [&](const quilo::head::Frame& frame) {
        const auto timing = frame.timing();
        const auto profiling = frame.profiling();
        const auto latency = static_cast<double>(timing.publishTime - timing.exposureTime) / 1000.0;
        latencies.push_back(latency);
        withoutDetector.push_back(
            latency - static_cast<double>(profiling.faceDetectorEndTime - profiling.faceDetectorStartTime) / 1000.0);
    });
    const auto quantile = [](std::vector<double> values, double q) {
        if (values.empty()) return 0.0;
        std::sort(values.begin(), values.end());
        return values[static_cast<size_t>(q * static_cast<double>(values.size() - 1))];
    };
    state.counters["p50_us"] = quantile(latencies, 0.5);
    state.counters["p99_us"] = quantile(latencies, 0.99);
    state.counters["p50_no_detector_us"] = quantile(withoutDetector, 0.5);
    state.counters["p99_no_detector_us"] = quantile(withoutDetector, 0.99);
}
BENCHMARK(BM_ExposureToResultLatency);

// A polled frame of three faces in the system clock, for the prediction's cost.
quilo::head::BufferedFrame PolledFrame() {
    quilo::head::FrameAdapter adapter(nullptr, /*enablePolling=*/true);
    {
        SharedCameraEngine engine(&adapter);
        for (int i = 0; i < 3; ++i) engine.Push(quilo::Timestamp::Space::System, 1.7e12 + 11.0 * i);
    }
    return adapter.GetFrame();
}

constexpr int64_t kTargetNs = static_cast<int64_t>(1.7e12 + 22.0 + 35.0) * 1000000;

void BM_PredictEyes(benchmark::State& state) {
    const quilo::head::BufferedFrame frame = PolledFrame();
    if (frame.faces().size == 0) {
        state.SkipWithError("no face");
        return;
    }
    for (auto _ : state) {
        auto prediction = quilo::head::PredictEyes(frame, 0, kTargetNs);
        benchmark::DoNotOptimize(prediction);
    }
}
BENCHMARK(BM_PredictEyes);

// The same through the C interface, on a polled frame handle.
void BM_CPredictEyes(benchmark::State& state) {
    auto handle = quilo::head::WrapFrame(PolledFrame());
    auto* frame = reinterpret_cast<quilo_head_tracking_frame*>(handle.get());
    quilo_head_tracking_eye_prediction_t prediction;
    if (quiloHeadTrackingFramePredictEyes(frame, 0, kTargetNs, &prediction) != 0) {
        state.SkipWithError("not predicted");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(quiloHeadTrackingFramePredictEyes(frame, 0, kTargetNs, &prediction));
    }
}
BENCHMARK(BM_CPredictEyes);

}  // namespace

BENCHMARK_MAIN();

// A host's own camera through the C interface: one 848 x 480 push per
// iteration, processed before it returns (scripted detector, polling on).
// Compare with BM_EngineFrameOverhead, the same frame through the C++ sink:
// the difference is the push's own cost (checks, intrinsics comparison, the
// row packing of a padded image). Arguments: depth image (0/1), padded rows
// (0/1).
void BM_CPushFrame(benchmark::State& state) {
    InstallScriptedDetector();
    const bool withDepth = state.range(0) != 0;
    const int stride = state.range(1) != 0 ? 896 : 848;
    quilo_head_tracking_engine_init_args_t args{};
    args.maxNumOfFaces = 3;
    args.logLevel = 7;
    args.enablePolling = 1;
    quilo_head_tracking_engine* engine = nullptr;
    if (quiloHeadTrackingEngineInitArgsWithOwnCamera(&args, &engine) != 0) {
        state.SkipWithError("engine creation failed");
        return;
    }
    quiloHeadTrackingEngineStartTracking(engine);
    std::vector<uint8_t> pixels(static_cast<size_t>(stride) * 480, 100);
    std::vector<uint16_t> depthValues(848 * 480, 600);
    const quilo_head_tracking_image_t image{848, 480, stride, 0, pixels.data(), pixels.size()};
    const quilo_head_tracking_depth_image_t depth{
        848, 480, 2 * 848, 0.001f, depthValues.data(), depthValues.size() * 2};
    const quilo_head_tracking_camera_intrinsics_t intrinsics{848,    480,    424.0f,          240.0f,
                                                             420.0f, 420.0f, {0, 0, 0, 0, 0}, 0};
    double ms = 1000.0;
    for (auto _ : state) {
        if (quiloHeadTrackingEnginePushFrame(engine, &image, withDepth ? &depth : nullptr, &intrinsics, ms) != 0) {
            state.SkipWithError("push failed");
            break;
        }
        ms += 11.0;
    }
    quiloHeadTrackingEngineStopTracking(engine);
    quiloHeadTrackingEngineRelease(engine);
}
BENCHMARK(BM_CPushFrame)->ArgNames({"depth", "padded"})->Args({0, 0})->Args({1, 0})->Args({0, 1});
