// quiloHeadTrackingRecord: records the RealSense camera's infrared images,
// as the engine receives them, into a sequence folder that
// quiloHeadTrackingReplay replays. Stops after the given frames or seconds,
// or at Ctrl-C.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <exception>
#include <memory>
#include <mutex>
#include <string>

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include "common/log.h"
#include "common/platform.h"
#include "headTracking/common/engineConfiguration.h"
#include "headTracking/engine/core/faceTracker.h"
#include "headTracking/engine/engine.h"
#include "tools/replay/recorder.h"

namespace {

std::atomic<bool> interrupted{false};

extern "C" void OnInterrupt(int) { interrupted.store(true); }

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "Records the RealSense camera's images, as the head-tracking engine receives them, into\n"
        "a sequence folder for quiloHeadTrackingReplay."};
    std::string output;
    size_t frames = 300;
    double seconds = 0.0;
    std::string description = "recorded with quiloHeadTrackingRecord";
    app.add_option("output", output, "Folder to record into (created; must hold no sequence)")
        ->required();
    app.add_option("--frames", frames, "Frames to record (0: no limit)")->capture_default_str();
    app.add_option("--seconds", seconds, "Seconds to record (0: no limit)")->capture_default_str();
    app.add_option("--description", description, "Description written to the manifest")
        ->capture_default_str();
    CLI11_PARSE(app, argc, argv);

    try {
        // Made once the engine and its camera exist, so a missing camera
        // leaves no empty folder behind; frames come only after StartTracking.
        std::unique_ptr<quilo::replay::SequenceRecorder> recorder;
        quilo::PlatformInitArgs platformArgs;
        platformArgs.logLevel = kQuiloLogLevelWarn;
        const auto platform = quilo::Platform::Create(platformArgs);

        // Woken by every recorded frame, so the main thread sees the limit at once.
        std::mutex mutex;
        std::condition_variable recorded;
        quilo::head::EngineInitArgs args;
        args.platform = platform.get();
        args.frameCallback = [&](const quilo::head::FaceTracker& tracker,
                                 const quilo::head::FaceDetectorOutput&,
                                 const quilo::head::CameraFrame& frame) {
            recorder->Record(frame, tracker.intrinsics());
            const std::lock_guard<std::mutex> lock(mutex);
            recorded.notify_all();
        };
        quilo::head::Engine engine(args);
        recorder = std::make_unique<quilo::replay::SequenceRecorder>(output, description);

        std::signal(SIGINT, OnInterrupt);
        engine.StartTracking();
        fmt::print("recording into {} (Ctrl-C stops)\n", output);
        const auto start = std::chrono::steady_clock::now();
        {
            std::unique_lock<std::mutex> lock(mutex);
            while (!interrupted.load() && (frames == 0 || recorder->frames() < frames) &&
                   (seconds <= 0.0 ||
                    std::chrono::steady_clock::now() - start < std::chrono::duration<double>(seconds))) {
                // Timed, so an interrupt and the time limit are seen without a frame.
                recorded.wait_for(lock, std::chrono::milliseconds(100));
            }
        }
        engine.StopTracking();
        std::signal(SIGINT, SIG_DFL);
        recorder->Finish();
        fmt::print("recorded {} frames ({} dropped) into {}\n", recorder->frames(), recorder->dropped(),
                   output);
        return 0;
    } catch (const std::exception& e) {
        fmt::print(stderr, "error: {}\n", e.what());
        return 1;
    }
}
