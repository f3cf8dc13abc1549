// Linked into the console program to run it without hardware: before main
// starts, the scripted detector is installed beside the engine library and the
// simulated RealSense device streams infrared and depth at about 90 frames per
// second with one face in view, until the program ends.
#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "common/plugin.h"
#include "fakeRealsense.h"
#include "headTracking/engine/testPlugins/scriptedDetector.h"

namespace {

class SimulatedCamera {
public:
    SimulatedCamera() {
        const std::filesystem::path sandbox = QUILO_TEST_SANDBOX_DIR;
        const auto plugin = sandbox / quilo::PluginLibrary::FileName("quiloHeadTrackingBlinkDetectorcpu");
        std::filesystem::remove(plugin);
        std::filesystem::copy_file(std::filesystem::path(QUILO_TEST_PLUGIN_DIR) /
                                       quilo::PluginLibrary::FileName("quiloTestBlinkDetectorScripted"),
                                   plugin);

        quilo::head::DetectedFace face;
        face.rightEyePixel = {404.0, 240.0};
        face.leftEyePixel = {444.0, 240.0};
        face.rightEyeDepth = face.leftEyeDepth = 0.6f;
        quilo::test::DetectorScript script;
        script.thereafter = {face};
        quilo::test::ResetScriptedDetector(script);

        fakeRealsense::Reset();
        streamer_ = std::thread([this] {
            double ms = 1000.0;
            while (!stop_) {
                // The simulated sensor's frame period, not a wait for a condition.
                std::this_thread::sleep_for(std::chrono::milliseconds(11));
                if (fakeRealsense::PendingWaitResults() < 2) {
                    fakeRealsense::PushFrameSet(fakeRealsense::InfraredAndDepth(848, 480, ms));
                    ms += 11.0;
                }
            }
        });
    }
    ~SimulatedCamera() {
        stop_ = true;
        streamer_.join();
        fakeRealsense::TimeOutIdleWaits(true);
    }

private:
    std::atomic<bool> stop_{false};
    std::thread streamer_;
};

const SimulatedCamera simulatedCamera;

}  // namespace
