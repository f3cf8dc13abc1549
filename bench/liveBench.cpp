// The live program's costs: what its outputs add to every frame (the
// opentrack datagram, the JSON message to a WebSocket client) with 1 to 3
// faces, and the latency from having an image to its result reaching the
// outputs, over the bundled sample pushed at the program's pace.
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <vector>

#include <benchmark/benchmark.h>

#include "common/paths.h"
#include "netClients.h"
#include "tools/live/outputs.h"
#include "tools/live/source.h"
#include "tools/live/tracker.h"
#include "tools/replay/replay.h"

namespace {

using namespace quilo::live;
using Clock = std::chrono::steady_clock;

LiveFrame FrameWith(int faces) {
    LiveFrame frame;
    frame.captureTimeMs = 1.7e12;
    frame.latencyMs = 12.3456;
    for (int i = 0; i < faces; ++i) {
        LiveFace face;
        face.head = {12.345 + 200.0 * i, -33.21, 654.321};
        face.rightEye = face.head + glm::dvec3(31.7, 0.4, -1.2);
        face.leftEye = face.head - glm::dvec3(31.7, 0.4, -1.2);
        face.velocity = {0.0123, -0.0045, 0.1};
        face.yawDeg = 3.21;
        face.pitchDeg = -1.23;
        face.rollDeg = 0.5;
        frame.faces.push_back(face);
    }
    return frame;
}

// Every output, as the program publishes a frame: the datagram to a socket
// on 127.0.0.1 and the message to one connected WebSocket client.
void BM_OutputsPerFrame(benchmark::State& state) {
    quilo::test::UdpReceiver receiver;  // never read: the datagrams queue or drop there
    OpentrackSender opentrack("127.0.0.1", receiver.port());
    FeedServer::Options options;
    options.websocketPort = 0;
    FeedServer feed(options);
    quilo::test::WebSocketClient client("ws://127.0.0.1:" + std::to_string(feed.websocketPort()) + "/");
    if (!client.WaitOpen(std::chrono::seconds(10))) {
        state.SkipWithError("no WebSocket connection");
        return;
    }
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (feed.clients() == 0 && Clock::now() < deadline) std::this_thread::yield();
    LiveFrame frame = FrameWith(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        ++frame.index;
        opentrack.Send(frame);
        feed.Send(frame);
    }
    state.counters["faces"] = static_cast<double>(state.range(0));
}
BENCHMARK(BM_OutputsPerFrame)->Arg(1)->Arg(3)->Unit(benchmark::kMicrosecond);

void BM_EncodeJson(benchmark::State& state) {
    const LiveFrame frame = FrameWith(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(EncodeJson(frame));
}
BENCHMARK(BM_EncodeJson)->Arg(3)->Unit(benchmark::kMicrosecond);

// The bundled sample through the engine and the CPU detector as the program
// pushes it, the outputs being an opentrack socket and the JSON encoding:
// latency from having the image to the outputs (median and 99th
// percentile), and the frame rate one pushing thread keeps up with.
void BM_LiveLatency(benchmark::State& state) {
    const std::filesystem::path sample = quilo::GetExecutablePath().parent_path() / "replaySample";
    std::unique_ptr<FrameSource> source;
    try {
        source = OpenSequence(sample, /*fast=*/true, /*loop=*/false);
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return;
    }
    std::vector<CapturedImage> images;
    while (auto image = source->Next()) images.push_back(std::move(*image));

    quilo::test::UdpReceiver receiver;
    OpentrackSender opentrack("127.0.0.1", receiver.port());
    std::vector<double> latencies, pushes;
    TrackerOptions options;
    LiveTracker tracker(options, [&](LiveFrame& frame) {
        opentrack.Send(frame);
        benchmark::DoNotOptimize(EncodeJson(frame));
        latencies.push_back(frame.latencyMs);
    });
    tracker.SetIntrinsics(source->Intrinsics());
    for (auto _ : state) {
        for (CapturedImage& image : images) {
            image.captured = Clock::now();
            tracker.Push(image);
            pushes.push_back(std::chrono::duration<double, std::milli>(Clock::now() - image.captured).count());
        }
    }
    state.counters["latency_median_ms"] = quilo::replay::Quantile(latencies, 0.5);
    state.counters["latency_p99_ms"] = quilo::replay::Quantile(latencies, 0.99);
    state.counters["frame_median_ms"] = quilo::replay::Quantile(pushes, 0.5);
    state.counters["frame_p99_ms"] = quilo::replay::Quantile(pushes, 0.99);
    state.counters["sustained_fps"] = 1000.0 / quilo::replay::Quantile(pushes, 0.5);
}
BENCHMARK(BM_LiveLatency)->Iterations(2)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
