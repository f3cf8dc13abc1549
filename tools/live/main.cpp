// quiloHeadTrackingLive: tracks heads live from a webcam, a video file, a
// recorded sequence or the RealSense camera, and sends the result to
// opentrack, to WebSocket clients and to a head-coupled demo page.
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include "common/log.h"
#include "common/paths.h"
#include "tools/live/outputs.h"
#include "tools/live/source.h"
#include "tools/live/statusLine.h"
#include "tools/live/tracker.h"
#include "tools/replay/commandLine.h"
#include "tools/replay/options.h"
#include "tools/replay/recorder.h"

namespace fs = std::filesystem;
using namespace quilo::live;

namespace {

// Hands images from the capture thread to the tracking thread. A live
// source's image replaces one not yet taken (the tracker always gets the
// newest); a file read as fast as it goes waits for its image to be taken.
class Mailbox {
public:
    explicit Mailbox(bool dropOld) : dropOld_(dropOld) {}

    // false when the reader has gone.
    bool Put(CapturedImage image) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!dropOld_) changed_.wait(lock, [&] { return !slot_ || closed_; });
        if (closed_) return false;
        if (slot_) ++dropped_;
        slot_ = std::move(image);
        changed_.notify_all();
        return true;
    }
    // The source has ended, with `error` when it failed.
    void Finish(std::string error) {
        const std::lock_guard<std::mutex> lock(mutex_);
        finished_ = true;
        error_ = std::move(error);
        changed_.notify_all();
    }
    // The reader stops taking images.
    void Close() {
        const std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
        changed_.notify_all();
    }
    // An image, or nothing when none came within `wait` or the source has ended.
    std::optional<CapturedImage> Take(std::chrono::milliseconds wait) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, wait, [&] { return slot_ || finished_; });
        std::optional<CapturedImage> image = std::move(slot_);
        slot_.reset();
        changed_.notify_all();
        return image;
    }
    bool Ended(std::string* error) {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (finished_ && !slot_) *error = error_;
        return finished_ && !slot_;
    }
    uint64_t dropped() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return dropped_;
    }

private:
    const bool dropOld_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<CapturedImage> slot_;
    bool finished_ = false, closed_ = false;
    std::string error_;
    uint64_t dropped_ = 0;
};

// Reads the source on a thread of its own until it ends, fails or is told
// to stop; joined when destroyed.
class CaptureThread {
public:
    CaptureThread(FrameSource& source, Mailbox& mailbox, uint64_t limit)
        : mailbox_(mailbox), thread_([this, &source, limit] {
              std::string error;
              try {
                  for (uint64_t n = 0; !stop_.load() && (limit == 0 || n < limit); ++n) {
                      std::optional<CapturedImage> image = source.Next();
                      if (!image || !mailbox_.Put(std::move(*image))) break;
                  }
              } catch (const std::exception& e) {
                  error = e.what();
              }
              mailbox_.Finish(error);
          }) {}
    ~CaptureThread() {
        stop_.store(true);
        mailbox_.Close();
        thread_.join();
    }
    CaptureThread(const CaptureThread&) = delete;
    CaptureThread& operator=(const CaptureThread&) = delete;

private:
    Mailbox& mailbox_;
    std::atomic<bool> stop_{false};
    std::thread thread_;  // last: started when the rest exists
};

fs::path DefaultDemoFolder() { return quilo::GetExecutablePath().parent_path() / "liveDemo"; }

struct Settings {
    std::string webcam, video, sequence;
    bool realsense = false;
    GeometryOptions geometry;
    double webcamFps = 0.0;
    bool fast = false, loop = false;
    uint64_t frames = 0;
    std::optional<std::string> opentrack;
    int32_t websocketPort = -1, httpPort = -1;
    std::string bind = "127.0.0.1";
    std::string demoFolder;
    TrackerOptions tracker;
    bool quiet = false;
};

int Run(const Settings& settings) {
    // From the start: Ctrl-C while the detector loads ends as cleanly.
    quilo::replay::CatchStopSignals();
    // The outputs first: a port in use or a host that does not resolve is
    // found before the detector takes seconds to load.
    std::optional<OpentrackSender> opentrack;
    if (settings.opentrack) {
        const auto [host, port] = SplitHostPort(*settings.opentrack);
        opentrack.emplace(host, port);
    }
    std::optional<FeedServer> feed;
    if (settings.websocketPort >= 0 || settings.httpPort >= 0) {
        FeedServer::Options options;
        options.bindAddress = settings.bind;
        options.websocketPort = settings.websocketPort;
        options.httpPort = settings.httpPort;
        options.demoFolder = settings.demoFolder.empty() ? DefaultDemoFolder() : fs::path(settings.demoFolder);
        // The page needs the feed.
        if (options.httpPort >= 0 && options.websocketPort < 0) options.websocketPort = 0;
        feed.emplace(options);
    }

    std::unique_ptr<FrameSource> source;
    if (!settings.webcam.empty()) source = OpenWebcam(settings.webcam, settings.geometry, settings.webcamFps);
    if (!settings.video.empty()) {
        source = OpenVideo(settings.video, settings.geometry, settings.fast, settings.loop);
    }
    if (!settings.sequence.empty()) source = OpenSequence(settings.sequence, settings.fast, settings.loop);

    if (opentrack) fmt::print("sending to {}\n", opentrack->Describe());
    if (feed && feed->websocketPort() != 0) {
        fmt::print("websocket: ws://{}:{}/\n", settings.bind, feed->websocketPort());
    }
    if (feed && feed->httpPort() != 0) fmt::print("demo page: http://{}:{}/\n", settings.bind, feed->httpPort());
    fmt::print("loading the face detector...\n");
    std::fflush(stdout);

    const auto publish = [&](LiveFrame& frame) {
        if (opentrack) opentrack->Send(frame);
        if (feed) feed->Send(frame);
    };
    LiveTracker tracker(settings.tracker, publish);
    fmt::print("tracking from {} (Ctrl-C stops)\n", source ? source->Describe() : std::string("the RealSense camera"));
    std::fflush(stdout);
    StatusLine status(stdout, !settings.quiet);

    std::string error;
    uint64_t dropped = 0;
    if (!source) {
        // The engine's own camera delivers on its thread.
        while (!quilo::replay::StopRequested()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            status.Update(tracker.Status());
            if (settings.frames > 0 && tracker.Status().frames >= settings.frames) break;
        }
    } else {
        tracker.SetIntrinsics(source->Intrinsics());
        Mailbox mailbox(source->Live());
        CaptureThread capture(*source, mailbox, settings.frames);
        while (!quilo::replay::StopRequested()) {
            if (std::optional<CapturedImage> image = mailbox.Take(std::chrono::milliseconds(100))) {
                tracker.Push(*image);
            } else if (mailbox.Ended(&error)) {
                break;
            }
            status.Update(tracker.Status());
        }
        dropped = mailbox.dropped();
    }
    quilo::replay::RestoreStopSignals();
    status.Break();
    const TrackerStatus last = tracker.Status();
    fmt::print("{} frames tracked{}", last.frames,
               dropped > 0 ? fmt::format(", {} images dropped while the tracker was busy", dropped) : "");
    if (opentrack) fmt::print(", {} opentrack packets sent", opentrack->sent());
    fmt::print("\n");
    std::fflush(stdout);
    if (!error.empty()) {
        fmt::print(stderr, "error: {}\n", error);
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "Tracks heads live with the head-tracking engine and the CPU face detector, from a webcam,\n"
        "a video file, a recorded sequence or the RealSense camera, and sends the main face to\n"
        "opentrack, every face to WebSocket clients as JSON, and serves a head-coupled demo page.\n"
        "Listening sockets bind to 127.0.0.1 unless --bind says otherwise."};
    Settings settings;
    std::string eyes = "both";
    std::vector<float> cameraPosition, cameraRotation;
    std::vector<std::string> filterSettings;
    bool verbose = false;

    auto* sources = app.add_option_group("source", "Where the images come from (one of them)");
    sources->add_option("--webcam", settings.webcam, "Webcam number or V4L2 device path (e.g. 0 or /dev/video0)");
    sources->add_option("--video", settings.video, "Video file, anything OpenCV reads");
    sources->add_option("--sequence", settings.sequence, "Sequence folder as the replay tool reads it");
    sources->add_flag("--realsense", settings.realsense, "The RealSense camera");
    sources->require_option(1);

    app.add_option("--fov", settings.geometry.fovDeg, "Horizontal field of view of a webcam or video, degrees")
        ->capture_default_str()
        ->check(CLI::Range(1.0, 179.0));
    app.add_option("--calibration", settings.geometry.calibration,
                   "Calibration file of a webcam or video (JSON: width, height, fx, fy, ppx, ppy)")
        ->check(CLI::ExistingFile);
    app.add_option("--camera-fps", settings.webcamFps, "Frame rate to ask the webcam for")->check(CLI::PositiveNumber);
    app.add_flag("--fast", settings.fast, "Read a video or sequence as fast as it goes, every image");
    app.add_flag("--loop", settings.loop, "Start a video or sequence again at its end");
    app.add_option("--frames", settings.frames, "Stop after this many images (0: no limit)")->capture_default_str();

    app.add_option("--opentrack", settings.opentrack, "Send to opentrack's \"UDP over network\" input at HOST:PORT")
        ->expected(0, 1)
        ->default_str("127.0.0.1:4242");
    app.add_option("--websocket", settings.websocketPort, "Serve the JSON feed over WebSocket on this port")
        ->check(CLI::Range(0, 65535));
    app.add_option("--http", settings.httpPort, "Serve the demo page on this port")->check(CLI::Range(0, 65535));
    app.add_option("--bind", settings.bind, "Address the WebSocket and HTTP servers listen on")->capture_default_str();
    app.add_option("--demo-folder", settings.demoFolder,
                   "Folder of the demo page (default: liveDemo beside this program)");

    app.add_option("--max-faces", settings.tracker.maxFaces, "Faces to track, 1 to the detector's limit (3)")
        ->capture_default_str()
        ->check(CLI::Range(1, 3));
    app.add_option("--eyes", eyes, "Eyes to track: left, right or both (their midpoint)")
        ->check(CLI::IsMember({"left", "right", "both"}))
        ->capture_default_str();
    app.add_option("--camera-position", cameraPosition, "Camera position in the display's space, mm: X Y Z")
        ->expected(3)
        ->delimiter(',');
    app.add_option("--camera-rotation", cameraRotation,
                   "Camera rotation: a rotation vector in degrees (3 numbers) or a matrix, column by column (9)")
        ->expected(3, 9)
        ->delimiter(',');
    app.add_option("--filter", filterSettings,
                   "Filter setting KEY=VALUE, repeatable; keys: " + quilo::replay::FilterSettingKeys())
        ->take_all();
    app.add_flag("-q,--quiet", settings.quiet, "No status line");
    app.add_flag("-v,--verbose", verbose, "Show the engine's information log lines");
    if (const auto exitCode = quilo::replay::ParseCommandLine(app, argc, argv)) return *exitCode;

    try {
        // "--opentrack" alone takes the default address.
        if (app.count("--opentrack") > 0 && (!settings.opentrack || settings.opentrack->empty())) {
            settings.opentrack = "127.0.0.1:4242";
        }
        settings.tracker.logLevel = verbose ? kQuiloLogLevelInfo : kQuiloLogLevelWarn;
        settings.tracker.realsense = settings.realsense;
        settings.tracker.tracker.trackLeftEye = eyes != "right";
        settings.tracker.tracker.trackRightEye = eyes != "left";
        if (!cameraPosition.empty()) {
            settings.tracker.tracker.cameraPosition = quilo::replay::CameraPositionFromValues(cameraPosition);
        }
        if (!cameraRotation.empty()) {
            settings.tracker.tracker.cameraRotation = quilo::replay::CameraRotationFromValues(cameraRotation);
        }
        for (const std::string& setting : filterSettings) {
            quilo::replay::ApplyFilterSetting(settings.tracker.tracker.filterProperties, setting);
        }
        return Run(settings);
    } catch (const std::exception& e) {
        std::fflush(stdout);
        fmt::print(stderr, "error: {}\n", e.what());
        return 1;
    }
}
