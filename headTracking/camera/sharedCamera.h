// A camera fed by the host: the host owns a SharedCameraSink and pushes every
// image (and the image geometry) into it; the engine's SharedCamera turns each
// push into a frame for its listener, synchronously, on the host's thread.
#pragma once

#include <functional>

#include "common/export.h"
#include "common/threadSafety.h"
#include "headTracking/camera/camera.h"
#include "headTracking/camera/pinholeCameraFrame.h"
#include "headTracking/common/types.h"

namespace quilo {

// Owned by the host, which must keep it alive longer than the engine using it.
// The engine installs both members when it is created and empties them when it
// is destroyed; the host only calls them:
//   - onIntrinsicsChange once with the camera geometry before the first image,
//     and again whenever it changes;
//   - onFrameAvailable for every image; its pixels must stay valid until the
//     call returns. The frame knows nothing of depth or projection;
//   - or onDepthFrameAvailable, which also takes an optional depth image
//     (null: none) aligned with the image at its size; that frame answers
//     depth lookup from it and projection with the last intrinsics given.
// Calling an empty member (before the engine exists, after it is gone) throws
// std::bad_function_call. Any host thread may call the members, also while a
// tracking session starts or stops: calls from several threads are delivered
// one at a time. A call made from inside the engine's processing of a pushed
// frame (its callbacks and hook) throws quilo::Exception and delivers nothing,
// since it would wait for itself. Do not call the members while the engine is
// being constructed or destroyed.
struct SharedCameraSink {
    std::function<void(const ImageDesc&, Timestamp)> onFrameAvailable;
    std::function<void(const CameraIntrinsics&)> onIntrinsicsChange;
    std::function<void(const ImageDesc&, const DepthImageDesc*, Timestamp)> onDepthFrameAvailable;
};

namespace head {

// Forwards the sink's calls to its listener, on whatever thread calls the
// sink, one call at a time. No thread and no log of its own. Capture start does
// nothing and every push reaches the listener, in a session or not; the
// listener decides what to do with frames outside a session.
class QUILO_API SharedCamera final : public Camera {
public:
    // Both non-null. Replaces whatever callables the sink held.
    SharedCamera(Camera::Listener* listener, SharedCameraSink* sink);
    // Empties the sink's members.
    ~SharedCamera() override;

    SharedCamera(const SharedCamera&) = delete;
    SharedCamera& operator=(const SharedCamera&) = delete;

    void StartCapture() override {}
    // Waits for the delivery in progress, if any, to return; deliveries that
    // begin later see whatever the listener set before the call. Throws
    // quilo::Exception when called from inside a delivery of this camera.
    void StopCapture() override;
    int GetFps() override { return 0; }
    bool SetFps(int) override { return false; }
    Slice<int> GetSupportedFps() override { return {}; }

private:
    // Runs one listener call under `delivery_`; refuses a call from inside
    // one. The call is marked QUILO_REQUIRES(delivery_).
    template <typename Call>
    void Deliver(const Call& call) QUILO_EXCLUDES(delivery_);

    Camera::Listener* listener_;
    SharedCameraSink* sink_;
    // Held for the whole of each listener call: the listener takes one frame
    // at a time, and StopCapture waits on it for the frame in progress.
    // Guards `intrinsics_`.
    Mutex delivery_;
    CameraIntrinsics intrinsics_ QUILO_GUARDED_BY(delivery_);  // the last the host gave
};

}  // namespace head
}  // namespace quilo
