// Shared pieces of the RealSense camera tests: a log capture, a listener that
// records what it receives, and a fixture over the simulated device.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>

#include "fakeRealsense.h"
#include "headTracking/camera/realsenseCamera.h"

namespace realsenseTest {

using namespace std::chrono_literals;

// Upper bound for waiting on another thread; reached only when a test fails.
inline constexpr auto kPatience = 20s;

// A frame set whose size does not matter to the test: infrared and depth,
// small enough to keep sanitizer runs quick.
inline fakeRealsense::FrameSet SmallSet(rs2_time_t timestamp) {
    return fakeRealsense::InfraredAndDepth(64, 48, timestamp);
}

struct LogLine {
    spdlog::level::level_enum level;
    std::string message;
};

// Installs, for its lifetime, a default logger at trace level that keeps every
// line; restores the previous default logger afterwards.
class LogCapture {
public:
    LogCapture() : previous_(spdlog::default_logger()), sink_(std::make_shared<Sink>()) {
        auto logger = std::make_shared<spdlog::logger>("test", sink_);
        logger->set_level(spdlog::level::trace);
        spdlog::set_default_logger(logger);
    }
    ~LogCapture() { spdlog::set_default_logger(previous_); }

    std::vector<LogLine> Lines() const { return sink_->Lines(); }
    // Lines of `level` containing `text`.
    int Count(spdlog::level::level_enum level, const std::string& text) const {
        const auto lines = Lines();
        return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const LogLine& l) {
            return l.level == level && l.message.find(text) != std::string::npos;
        }));
    }
    // Messages containing `text`, in order.
    std::vector<std::string> Matching(const std::string& text) const {
        std::vector<std::string> out;
        for (const auto& l : Lines()) {
            if (l.message.find(text) != std::string::npos) out.push_back(l.message);
        }
        return out;
    }
    // Waits until a line of `level` containing `text` was logged.
    bool WaitFor(spdlog::level::level_enum level, const std::string& text) const {
        return sink_->WaitUntil([&](const std::vector<LogLine>& lines) {
            return std::any_of(lines.begin(), lines.end(), [&](const LogLine& l) {
                return l.level == level && l.message.find(text) != std::string::npos;
            });
        });
    }

private:
    class Sink : public spdlog::sinks::base_sink<std::mutex> {
    public:
        std::vector<LogLine> Lines() {
            std::lock_guard<std::mutex> lock(mutex_);
            return lines_;
        }
        template <typename Pred>
        bool WaitUntil(Pred pred) {
            std::unique_lock<std::mutex> lock(mutex_);
            return logged_.wait_for(lock, kPatience, [&] { return pred(lines_); });
        }

    protected:
        void sink_it_(const spdlog::details::log_msg& msg) override {
            lines_.push_back({msg.level, std::string(msg.payload.data(), msg.payload.size())});
            logged_.notify_all();
        }
        void flush_() override {}

    private:
        std::vector<LogLine> lines_;
        std::condition_variable logged_;
    };

    std::shared_ptr<spdlog::logger> previous_;
    std::shared_ptr<Sink> sink_;
};

// What the listener kept of one frame.
struct DeliveredFrame {
    std::thread::id thread;
    quilo::head::Camera* camera = nullptr;
    std::vector<quilo::ImageDesc> images;
    std::vector<uint8_t> pixels;  // copy of the first image
    quilo::Timestamp timestamp;
};

struct IntrinsicsReport {
    std::thread::id thread;
    quilo::head::Camera* camera = nullptr;
    quilo::CameraIntrinsics intrinsics;
};

// Records every call; `onFrame`, when set, runs inside each frame call first,
// under the listener's lock, so what it writes may be read after WaitForFrames.
class RecordingListener : public quilo::head::Camera::Listener {
public:
    std::function<void(quilo::head::Camera*, const quilo::head::CameraFrame&)> onFrame;

    void OnCameraFrameAvailable(quilo::head::Camera* camera, const quilo::head::CameraFrame& frame) override {
        std::lock_guard<std::mutex> lock(mutex_);
        DeliveredFrame delivered;
        delivered.thread = std::this_thread::get_id();
        delivered.camera = camera;
        if (onFrame) onFrame(camera, frame);
        const auto images = frame.imageDescs();
        delivered.images.assign(images.begin(), images.end());
        if (!images.empty() && images[0].data) {
            delivered.pixels.assign(images[0].data,
                                    images[0].data + static_cast<size_t>(images[0].width) * images[0].height);
        }
        delivered.timestamp = frame.timestamp();
        frames_.push_back(std::move(delivered));
        changed_.notify_all();
    }
    void OnCameraIntrinsicsChange(quilo::head::Camera* camera, const quilo::CameraIntrinsics& intrinsics) override {
        std::lock_guard<std::mutex> lock(mutex_);
        intrinsics_.push_back({std::this_thread::get_id(), camera, intrinsics});
    }

    bool WaitForFrames(size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kPatience, [&] { return frames_.size() >= count; });
    }
    std::vector<DeliveredFrame> Frames() {
        std::lock_guard<std::mutex> lock(mutex_);
        return frames_;
    }
    std::vector<IntrinsicsReport> Intrinsics() {
        std::lock_guard<std::mutex> lock(mutex_);
        return intrinsics_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<DeliveredFrame> frames_;
    std::vector<IntrinsicsReport> intrinsics_;
};

// A fresh simulated device per test; checks that every library object the
// test made was freed.
class RealsenseFixture : public ::testing::Test {
protected:
    void SetUp() override {
        fakeRealsense::Reset();
        liveObjectsBefore_ = fakeRealsense::LiveObjects();
    }
    void TearDown() override {
        if (camera) {
            fakeRealsense::TimeOutIdleWaits(true);
            camera.reset();
        }
        EXPECT_EQ(fakeRealsense::LiveObjects(), liveObjectsBefore_) << "library objects left behind";
    }

    void Open(const quilo::head::RealsenseCameraConfiguration& configuration = {}) {
        camera = quilo::head::CreateRealsenseCamera(&listener, configuration);
    }
    // Stops capture while no frames arrive: the pending wait times out at once.
    void StopCapture() {
        fakeRealsense::TimeOutIdleWaits(true);
        camera->StopCapture();
        fakeRealsense::TimeOutIdleWaits(false);
    }

    LogCapture log;
    RecordingListener listener;
    std::unique_ptr<quilo::head::Camera> camera;

private:
    int liveObjectsBefore_ = 0;
};

}  // namespace realsenseTest
