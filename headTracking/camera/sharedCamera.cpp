#include "headTracking/camera/sharedCamera.h"

namespace quilo::head {

SharedCamera::SharedCamera(Camera::Listener* listener, SharedCameraSink* sink)
    : listener_(listener), sink_(sink) {
    sink_->onFrameAvailable = [this](const ImageDesc& image, Timestamp timestamp) {
        const TrivialCameraFrame frame(image, timestamp);
        listener_->OnCameraFrameAvailable(this, frame);
    };
    sink_->onIntrinsicsChange = [this](const CameraIntrinsics& intrinsics) {
        intrinsics_ = intrinsics;
        listener_->OnCameraIntrinsicsChange(this, intrinsics);
    };
    sink_->onDepthFrameAvailable = [this](const ImageDesc& image, const DepthImageDesc* depth,
                                          Timestamp timestamp) {
        const PinholeCameraFrame frame(image, depth, timestamp, intrinsics_);
        listener_->OnCameraFrameAvailable(this, frame);
    };
}

SharedCamera::~SharedCamera() {
    sink_->onFrameAvailable = nullptr;
    sink_->onIntrinsicsChange = nullptr;
    sink_->onDepthFrameAvailable = nullptr;
}

}  // namespace quilo::head
