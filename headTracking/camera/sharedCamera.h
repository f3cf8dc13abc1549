// A camera fed by the host: the host owns a SharedCameraSink and pushes every
// image (and the image geometry) into it; the engine's SharedCamera turns each
// push into a frame for its listener, synchronously, on the host's thread.
#pragma once

#include <functional>

#include "common/export.h"
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
// std::bad_function_call. Do not call the members while the engine is being
// constructed or destroyed, nor while a tracking session starts or stops.
struct SharedCameraSink {
    std::function<void(const ImageDesc&, Timestamp)> onFrameAvailable;
    std::function<void(const CameraIntrinsics&)> onIntrinsicsChange;
    std::function<void(const ImageDesc&, const DepthImageDesc*, Timestamp)> onDepthFrameAvailable;
};

namespace head {

// Forwards the sink's calls to its listener. No thread, no lock, no log:
// listener calls run on whatever thread calls the sink. Capture start and stop
// do nothing; delivery is under the host's control alone.
class QUILO_API SharedCamera final : public Camera {
public:
    // Both non-null. Replaces whatever callables the sink held.
    SharedCamera(Camera::Listener* listener, SharedCameraSink* sink);
    // Empties the sink's members.
    ~SharedCamera() override;

    SharedCamera(const SharedCamera&) = delete;
    SharedCamera& operator=(const SharedCamera&) = delete;

    void StartCapture() override {}
    void StopCapture() override {}
    int GetFps() override { return 0; }
    bool SetFps(int) override { return false; }
    Slice<int> GetSupportedFps() override { return {}; }

private:
    Camera::Listener* listener_;
    SharedCameraSink* sink_;
    CameraIntrinsics intrinsics_;  // the last the host gave
};

}  // namespace head
}  // namespace quilo
