// quiloHeadTrackingRecord: records the RealSense camera's infrared images,
// as the engine receives them, into a sequence folder that
// quiloHeadTrackingReplay replays. Stops after the given frames or seconds,
// or at Ctrl-C or SIGTERM, and writes the manifest of what it recorded.
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
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
#include "tools/replay/commandLine.h"
#include "tools/replay/recorder.h"

int main(int argc, char** argv) {
    CLI::App app{
        "Records the RealSense camera's images, as the head-tracking engine receives them, into\n"
        "a sequence folder for quiloHeadTrackingReplay."};
    std::string output;
    int64_t frames = 0;
    double seconds = 0.0;
    std::string description = "recorded with quiloHeadTrackingRecord";
    app.add_option("output", output, "Folder to record into (created; must hold no sequence)")->required();
    const CLI::Option* framesOption =
        app.add_option("--frames", frames, "Frames to record, at least 1 (default: 300 unless --seconds is given)");
    const CLI::Option* secondsOption =
        app.add_option("--seconds", seconds, "Seconds to record, more than 0 (default: no limit)");
    app.add_option("--description", description, "Description written to the manifest")->capture_default_str();
    if (const auto exitCode = quilo::replay::ParseCommandLine(app, argc, argv)) return *exitCode;
    if (framesOption->count() > 0 && frames < 1) {
        fmt::print(stderr, "error: --frames must be at least 1, not {}\n", frames);
        return 1;
    }
    if (secondsOption->count() > 0 && !(seconds > 0.0 && std::isfinite(seconds))) {
        fmt::print(stderr, "error: --seconds must be a finite number above 0, not {}\n", seconds);
        return 1;
    }
    // Without either limit a recording stops after 300 frames.
    if (framesOption->count() == 0 && secondsOption->count() == 0) frames = 300;

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
        args.frameCallback = [&](const quilo::head::FaceTracker& tracker, const quilo::head::FaceDetectorOutput&,
                                 const quilo::head::CameraFrame& frame) {
            recorder->Record(frame, tracker.intrinsics());
            const std::lock_guard<std::mutex> lock(mutex);
            recorded.notify_all();
        };
        quilo::head::Engine engine(args);
        recorder = std::make_unique<quilo::replay::SequenceRecorder>(output, description);

        quilo::replay::CatchStopSignals();
        engine.StartTracking();
        fmt::print("recording into {} (Ctrl-C stops)\n", output);
        const auto start = std::chrono::steady_clock::now();
        {
            std::unique_lock<std::mutex> lock(mutex);
            while (
                !quilo::replay::StopRequested() && (frames == 0 || recorder->frames() < static_cast<size_t>(frames)) &&
                (seconds <= 0.0 || std::chrono::steady_clock::now() - start < std::chrono::duration<double>(seconds))) {
                // Timed, so an interrupt and the time limit are seen without a frame.
                recorded.wait_for(lock, std::chrono::milliseconds(100));
            }
        }
        engine.StopTracking();
        quilo::replay::RestoreStopSignals();
        recorder->Finish();
        fmt::print("recorded {} frames ({} dropped) into {}\n", recorder->frames(), recorder->dropped(), output);
        return 0;
    } catch (const std::exception& e) {
        fmt::print(stderr, "error: {}\n", e.what());
        return 1;
    }
}
