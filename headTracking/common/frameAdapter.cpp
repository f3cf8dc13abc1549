#include "headTracking/common/frameAdapter.h"

#include "common/exception.h"

namespace quilo::head {

namespace {

template <typename T>
std::vector<T> CopyOf(Slice<T> slice) {
    return std::vector<T>(slice.begin(), slice.end());
}

template <typename T>
std::vector<T> TakeFrom(std::vector<T>& source) {
    std::vector<T> taken;
    taken.swap(source);
    return taken;
}

}  // namespace

BufferedFrame::BufferedFrame(const Frame& frame)
    : faces_(CopyOf(frame.faces())),
      timestamp_(frame.timestamp()),
      trackingStarted_(frame.trackingStarted()),
      signalValue_(frame.signalValue()),
      rawFaces_(CopyOf(frame.rawFaces())),
      detections_(CopyOf(frame.detections())),
      profiling_(frame.profiling()),
      timing_(frame.timing()) {}

BufferedFrame::BufferedFrame(BufferedFrame&& other) noexcept
    : Frame(other),
      faces_(TakeFrom(other.faces_)),
      timestamp_(other.timestamp_),
      trackingStarted_(other.trackingStarted_),
      signalValue_(other.signalValue_),
      rawFaces_(TakeFrom(other.rawFaces_)),
      detections_(TakeFrom(other.detections_)),
      profiling_(other.profiling_),
      timing_(other.timing_) {}

BufferedFrame& BufferedFrame::operator=(BufferedFrame&& other) noexcept {
    if (this != &other) {
        faces_ = TakeFrom(other.faces_);
        timestamp_ = other.timestamp_;
        trackingStarted_ = other.trackingStarted_;
        signalValue_ = other.signalValue_;
        rawFaces_ = TakeFrom(other.rawFaces_);
        detections_ = TakeFrom(other.detections_);
        profiling_ = other.profiling_;
        timing_ = other.timing_;
    }
    return *this;
}

FrameAdapter::FrameAdapter(Callback callback, bool enablePolling) : callback_(std::move(callback)) {
    if (!callback_ && !enablePolling) {
        QUILO_THROW(
            "FrameAdapter incorrect configuration: neither callback set nor polling enabled. "
            "What's the point then?");
    }
    if (enablePolling) polling_ = std::make_unique<Polling>();
}

FrameAdapter::~FrameAdapter() = default;

void FrameAdapter::OnFrame(const Frame& frame) {
    if (callback_) callback_(frame);
    if (!polling_) return;

    BufferedFrame copy(frame);
    {
        const MutexLock lock(polling_->mutex);
        swap(polling_->latest, copy);
    }
    // `copy` now holds the frame published before, released here, outside the lock.
}

BufferedFrame FrameAdapter::GetFrame() const {
    if (!polling_) QUILO_THROW("FrameAdapter::GetFrame: polling API is not enabled");
    const MutexLock lock(polling_->mutex);
    return polling_->latest;
}

WrappedFrame::~WrappedFrame() = default;

std::unique_ptr<WrappedFrame> WrapFrame(BufferedFrame&& frame) {
    return std::make_unique<WrappedBufferedFrame>(std::move(frame));
}

std::unique_ptr<WrappedFrame> WrapFrame(const Frame& frame) { return std::make_unique<WrappedFrameReference>(&frame); }

}  // namespace quilo::head
