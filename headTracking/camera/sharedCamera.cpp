#include "headTracking/camera/sharedCamera.h"

namespace quilo::head {

SharedCamera::SharedCamera(Camera::Listener* listener, SharedCameraSink* sink)
    : listener_(listener), sink_(sink) {
    sink_->onFrameAvailable = [this](const ImageDesc& image, Timestamp timestamp) {
        const TrivialCameraFrame frame(image, timestamp);
        listener_->OnCameraFrameAvailable(this, frame);
    };
    sink_->onIntrinsicsChange = [this](const CameraIntrinsics& intrinsics) {
        listener_->OnCameraIntrinsicsChange(this, intrinsics);
    };
}

SharedCamera::~SharedCamera() {
    sink_->onFrameAvailable = nullptr;
    sink_->onIntrinsicsChange = nullptr;
}

}  // namespace quilo::head
