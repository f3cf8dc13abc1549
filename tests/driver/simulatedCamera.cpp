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
#include "support/detections.h"
#include "support/sandbox.h"

namespace {

class SimulatedCamera {
public:
    SimulatedCamera() {
        quilo::test::Sandbox::Install("quiloTestBlinkDetectorScripted", "quiloHeadTrackingBlinkDetectorcpu");
        quilo::test::DetectorScript script;
        script.thereafter = {quilo::test::FaceAt(424.0)};
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
