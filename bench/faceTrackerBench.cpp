// One FaceTracker::Update in steady state, with 1 and with 3 faces that
// jitter by a few millimetres between frames at 90 frames per second.
#include <benchmark/benchmark.h>

#include "headTracking/engine/core/faceTracker.h"
#include "tests/headTracking/engine/core/faceTrackerScript.h"

using namespace quilo::head;
using namespace quilo::head::script;

namespace {

void FaceTrackerUpdate(benchmark::State& state) {
    const auto count = static_cast<int>(state.range(0));
    const bool deprojects = state.range(1) != 0;
    FixedCountDetector detector(count);
    FaceTracker tracker(detector, FaceTracker::Configuration{});
    FaceDetector::Output outputs[2];
    for (int i = 0; i < count; ++i) {
        const float x = -150.0f + 150.0f * static_cast<float>(i);
        const float z = 600.0f + 100.0f * static_cast<float>(i);
        outputs[0].detections.push_back(FaceAt({x, 0, z}, 62.0f, 0.05f));
        outputs[1].detections.push_back(FaceAt({x + 3.0f, 2.0f, z - 4.0f}, 62.0f, 0.05f));
    }
    ScriptFrame frame(0.0);
    frame.deprojects = deprojects;
    // Without deprojection the tracker uses the pinhole model.
    tracker.CameraDidChange(
        quilo::CameraIntrinsics{kImageWidth, kImageHeight, 320.0f, 240.0f, 1000.0f, 1000.0f, {}, false});

    int64_t frameNumber = 0;
    auto step = [&] {
        frame.time.ms = 1000.0 + 11.1 * static_cast<double>(frameNumber);
        tracker.Update(outputs[frameNumber % 2], frame, 0.0f);
        ++frameNumber;
    };
    for (int i = 0; i < 100; ++i) step();  // past priming and the first restart
    for (auto _ : state) {
        step();
        benchmark::DoNotOptimize(tracker.faces().data);
    }
    if (tracker.faces().size != count) state.SkipWithError("not every face was tracked");
}

}  // namespace

BENCHMARK(FaceTrackerUpdate)->ArgNames({"faces", "deprojects"})->ArgsProduct({{1, 3}, {1, 0}});
BENCHMARK_MAIN();
