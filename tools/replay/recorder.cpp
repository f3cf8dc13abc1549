#include "tools/replay/recorder.h"

#include <atomic>
#include <cctype>
#include <cmath>
#include <csignal>
#include <optional>

#include <fmt/format.h>

#include "headTracking/camera/snapshot.h"

namespace quilo::replay {

namespace {

// Lock-free, so the handler may set it.
std::atomic<bool> stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnStopSignal(int) { stopRequested.store(true); }

// The frame's depth at every pixel of `image` in steps of the default unit,
// or nothing when the frame has no depth.
std::optional<DepthImage> FrameDepth(const head::CameraFrame& frame, const ImageDesc& image) {
    DepthImage depth;
    depth.width = image.width;
    depth.height = image.height;
    depth.values.resize(static_cast<size_t>(image.width) * static_cast<size_t>(image.height));
    try {
        for (int32_t y = 0; y < image.height; ++y) {
            for (int32_t x = 0; x < image.width; ++x) {
                float metres = 0.0f;
                if (!frame.GetDepth(glm::dvec2(x, y), &metres)) return std::nullopt;
                const double steps = std::round(static_cast<double>(metres) / kDefaultDepthUnit);
                // Unmeasured, negative or beyond the format's range: no measurement.
                depth.values[static_cast<size_t>(y) * static_cast<size_t>(image.width) + static_cast<size_t>(x)] =
                    std::isfinite(steps) && steps > 0.0 && steps <= 65535.0 ? static_cast<uint16_t>(steps) : 0;
            }
        }
    } catch (const std::exception&) {
        return std::nullopt;  // the camera library refused: no depth image in this frame
    }
    return depth;
}

}  // namespace

void CatchStopSignals() {
    stopRequested.store(false);
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
}

bool StopRequested() { return stopRequested.load(); }

void RestoreStopSignals() {
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
}

SequenceRecorder::SequenceRecorder(std::filesystem::path folder, std::string description) : folder_(std::move(folder)) {
    std::error_code error;
    std::filesystem::create_directories(folder_, error);
    if (error || !std::filesystem::is_directory(folder_, error)) {
        throw SequenceError(fmt::format("{}: cannot create the folder", folder_.string()));
    }
    if (std::filesystem::exists(folder_ / kManifestName, error)) {
        throw SequenceError(fmt::format("{}: the folder already holds a sequence", folder_.string()));
    }
    for (const auto& entry : std::filesystem::directory_iterator(folder_, error)) {
        std::string extension = entry.path().extension().string();
        for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (extension == ".png" || extension == ".pgm") {
            throw SequenceError(fmt::format("{}: the folder already holds images ({})", folder_.string(),
                                            entry.path().filename().string()));
        }
    }
    if (error) {
        throw SequenceError(fmt::format("{}: cannot list the folder ({})", folder_.string(), error.message()));
    }
    sequence_.description = std::move(description);
}

bool SequenceRecorder::Record(const head::CameraFrame& frame, const CameraIntrinsics& intrinsics) {
    const std::lock_guard<std::mutex> lock(mutex_);
    const Slice<ImageDesc> images = frame.imageDescs();
    const double ms = frame.timestamp().ms;
    CameraIntrinsics& fixed = sequence_.intrinsics;
    if (sequence_.frames.empty()) fixed = intrinsics;
    const bool usable = fixed.width > 0 && fixed.height > 0 && fixed.fx > 0.0f && fixed.fy > 0.0f;
    const bool fits = !images.empty() && images[0].width == fixed.width && images[0].height == fixed.height;
    const bool later = sequence_.frames.empty() || ms > sequence_.frames.back().timestampMs;
    if (!usable || !fits || !later || !std::isfinite(ms)) {
        ++dropped_;
        return false;
    }
    SequenceFrame entry;
    entry.image = fmt::format("{:05}.png", sequence_.frames.size());
    entry.timestampMs = ms;
    if (!head::SaveCameraFrame(frame, (folder_ / entry.image).string().c_str())) {
        ++dropped_;
        return false;
    }
    if (auto depth = FrameDepth(frame, images[0])) {
        const std::string name = fmt::format("{:05}-depth.png", sequence_.frames.size());
        try {
            WriteDepthPng(folder_ / name, *depth);
            entry.depth = name;
        } catch (const SequenceError&) {
            // The image is kept: the frame replays with estimated depth.
        }
    }
    sequence_.frames.push_back(std::move(entry));
    return true;
}

size_t SequenceRecorder::frames() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return sequence_.frames.size();
}

size_t SequenceRecorder::dropped() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return dropped_;
}

void SequenceRecorder::Finish() {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (sequence_.frames.empty()) {
        throw SequenceError(fmt::format("{}: no frame was recorded", folder_.string()));
    }
    WriteSequence(folder_, sequence_);
}

}  // namespace quilo::replay
