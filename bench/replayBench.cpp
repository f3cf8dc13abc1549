// The whole pipeline on real video: the webcam sequence of a moving head
// (1337 frames, 400 x 300, 25 frames per second) replayed through the engine
// with the CPU face detector, as quiloHeadTrackingReplay runs it. Counters:
// frames per second of the whole run (reading the PNG files included), the
// share of frames with a tracked face, the detector's median time per frame,
// and the jitter of the main face while the head is still.
#include <benchmark/benchmark.h>

#include <filesystem>

#include <fmt/format.h>

#include "tools/replay/replay.h"

namespace {

namespace fs = std::filesystem;
using namespace quilo::replay;

// The webcam frames, with a manifest, in a folder of the system's temporary
// folder (the frames are linked, not copied).
fs::path WebcamSequence() {
    const fs::path source = fs::path(QUILO_TESTDATA_DIR) / "webcam-head-motion";
    const fs::path folder = fs::temp_directory_path() / "quiloReplayBench-webcam";
    fs::remove_all(folder);
    fs::create_directories(folder);
    Sequence sequence;
    sequence.description = "webcam head motion";
    sequence.intrinsics.width = 400;
    sequence.intrinsics.height = 300;
    // A field of view of about 60 degrees, the camera's own being unknown.
    sequence.intrinsics.fx = sequence.intrinsics.fy = 346.0f;
    sequence.intrinsics.ppx = 200.0f;
    sequence.intrinsics.ppy = 150.0f;
    for (int i = 1;; ++i) {
        const std::string name = fmt::format("{:05}.png", i);
        if (!fs::exists(source / name)) break;
        fs::create_symlink(source / name, folder / name);
        sequence.frames.push_back({name, 40.0 * i, std::nullopt, std::nullopt});
    }
    WriteSequence(folder, sequence);
    return folder;
}

void BM_ReplayWebcam(benchmark::State& state) {
    const fs::path folder = WebcamSequence();
    const Sequence sequence = ReadSequence(folder);
    ReplayStatistics statistics;
    for (auto _ : state) {
        statistics = ComputeStatistics(Replay(folder, sequence, ReplayOptions{}));
    }
    state.counters["frames"] = static_cast<double>(statistics.frames);
    state.counters["fps"] = statistics.framesPerSecond;
    state.counters["tracked%"] =
        100.0 * static_cast<double>(statistics.framesWithFace) / static_cast<double>(statistics.frames);
    state.counters["detectorMs"] = statistics.detectorMedianMs;
    state.counters["detectorP99Ms"] = statistics.detectorP99Ms;
    state.counters["engineMs"] = statistics.engineMedianMs;
    state.counters["stillJitterMm"] = statistics.jitterMm;
    state.counters["stillFrames"] = static_cast<double>(statistics.jitterFrames);
    fs::remove_all(folder);
}
BENCHMARK(BM_ReplayWebcam)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
