// Frames (one engine result per camera frame), their owning copies, the frame
// adapter that delivers them to the host, and the frame handles of the C
// interface.
#pragma once

#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "common/export.h"
#include "common/threadSafety.h"
#include "headTracking/common/detection.h"
#include "headTracking/common/types.h"

namespace quilo::head {

// A read-only result of one camera frame. The slices stay valid as long as
// the frame object lives unchanged. Frames are never destroyed through this
// interface.
class QUILO_API Frame {
public:
    // Tracked faces, main face first.
    virtual Slice<Face> faces() const = 0;
    // Timestamp of the camera frame the result belongs to.
    virtual Timestamp timestamp() const = 0;
    // The face tracker's tracking flag.
    virtual bool trackingStarted() const = 0;
    // A value carried with the frame; the engine sets 0.
    virtual float signalValue() const = 0;
    virtual Slice<RawFace> rawFaces() const = 0;
    // The detector's detections as the tracker consumed them.
    virtual Slice<DetectedFace> detections() const = 0;
    // All 0 when the frame was not profiled.
    virtual FrameProfiling profiling() const = 0;
    // Exposure and publish times; every frame the engine makes has both. All
    // 0 in an empty BufferedFrame and from a host's frame class that does not
    // override this (one written before frames carried their times).
    virtual FrameTiming timing() const { return {}; }

protected:
    Frame() = default;
    Frame(const Frame&) = default;
    Frame& operator=(const Frame&) = default;
    ~Frame() = default;
};

// A frame that owns a deep copy of everything it returns. Default-constructed
// it is empty: no faces, raw faces or detections, every scalar zero.
class QUILO_API BufferedFrame final : public Frame {
public:
    BufferedFrame() = default;
    // Copies every element of every slice and every value of `frame`.
    explicit BufferedFrame(const Frame& frame);
    BufferedFrame(const BufferedFrame& other) = default;
    BufferedFrame& operator=(const BufferedFrame& other) = default;
    // Takes over the arrays, leaving `other`'s empty; copies the scalars.
    BufferedFrame(BufferedFrame&& other) noexcept;
    BufferedFrame& operator=(BufferedFrame&& other) noexcept;
    ~BufferedFrame() = default;
    // Exchanges the arrays and the scalars; allocates and frees nothing.
    friend void swap(BufferedFrame& a, BufferedFrame& b) noexcept {
        using std::swap;
        swap(a.faces_, b.faces_);
        swap(a.timestamp_, b.timestamp_);
        swap(a.trackingStarted_, b.trackingStarted_);
        swap(a.signalValue_, b.signalValue_);
        swap(a.rawFaces_, b.rawFaces_);
        swap(a.detections_, b.detections_);
        swap(a.profiling_, b.profiling_);
        swap(a.timing_, b.timing_);
    }

    Slice<Face> faces() const override { return {faces_.data(), static_cast<int64_t>(faces_.size())}; }
    Timestamp timestamp() const override { return timestamp_; }
    bool trackingStarted() const override { return trackingStarted_; }
    float signalValue() const override { return signalValue_; }
    Slice<RawFace> rawFaces() const override { return {rawFaces_.data(), static_cast<int64_t>(rawFaces_.size())}; }
    Slice<DetectedFace> detections() const override {
        return {detections_.data(), static_cast<int64_t>(detections_.size())};
    }
    FrameProfiling profiling() const override { return profiling_; }
    FrameTiming timing() const override { return timing_; }

private:
    std::vector<Face> faces_;
    Timestamp timestamp_;
    bool trackingStarted_ = false;
    float signalValue_ = 0.0f;
    std::vector<RawFace> rawFaces_;
    std::vector<DetectedFace> detections_;
    FrameProfiling profiling_;
    FrameTiming timing_;
};

// Delivers the engine's frames to the host: to a callback, and, with polling
// enabled, as the latest frame for GetFrame.
class QUILO_API FrameAdapter {
public:
    using Callback = std::function<void(const Frame&)>;

    // Throws quilo::Exception when `callback` is empty and polling is not
    // enabled: such an adapter would deliver nothing.
    FrameAdapter(Callback callback, bool enablePolling);
    ~FrameAdapter();

    FrameAdapter(const FrameAdapter&) = delete;
    FrameAdapter& operator=(const FrameAdapter&) = delete;

    // One processed frame: calls the callback with it, synchronously, then
    // with polling publishes a deep copy as the latest frame. An exception of
    // the callback propagates and the frame is not published. Called by one
    // thread at a time (the engine's processing thread); it holds the lock only
    // to publish, never while the callback runs or while it copies.
    void OnFrame(const Frame& frame);

    // A copy of the latest published frame; an empty frame before the first.
    // Any thread, also while OnFrame runs; holds the lock while it copies.
    // Throws quilo::Exception when polling is not enabled.
    BufferedFrame GetFrame() const;

private:
    // OnFrame copies a frame without the lock, then swaps it in under the
    // lock and releases the one it replaced after dropping it. Readers copy
    // the latest frame and hold the lock while they do, so it is never
    // replaced while it is being read.
    struct Polling {
        Mutex mutex;  // guards `latest`
        BufferedFrame latest QUILO_GUARDED_BY(mutex);
    };

    Callback callback_;
    std::unique_ptr<Polling> polling_;  // null without polling
};

// A frame handle of the C interface, destroyed through this base.
class QUILO_API WrappedFrame {
public:
    virtual ~WrappedFrame();
    // The frame the handle stands for; see the implementations for how long.
    virtual const Frame* frame() const = 0;
};

// A handle that refers to a frame it does not own; valid only while that
// frame lives.
class QUILO_API WrappedFrameReference final : public WrappedFrame {
public:
    explicit WrappedFrameReference(const Frame* frame) : frame_(frame) {}
    const Frame* frame() const override { return frame_; }

private:
    const Frame* frame_;
};

// A handle that owns its frame.
class QUILO_API WrappedBufferedFrame final : public WrappedFrame {
public:
    explicit WrappedBufferedFrame(BufferedFrame&& frame) : frame_(std::move(frame)) {}
    const Frame* frame() const override { return &frame_; }

private:
    BufferedFrame frame_;
};

// An owning handle; `frame` is left with empty arrays.
QUILO_API std::unique_ptr<WrappedFrame> WrapFrame(BufferedFrame&& frame);
// A handle referring to `frame`, valid only while `frame` lives.
QUILO_API std::unique_ptr<WrappedFrame> WrapFrame(const Frame& frame);

}  // namespace quilo::head
