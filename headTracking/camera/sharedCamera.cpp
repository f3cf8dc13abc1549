#include "headTracking/camera/sharedCamera.h"

#include "common/exception.h"
#include "common/threadScope.h"

namespace quilo::head {

namespace {
using DeliveryScope = ThreadScope<SharedCamera>;
}  // namespace

SharedCamera::SharedCamera(Camera::Listener* listener, SharedCameraSink* sink) : listener_(listener), sink_(sink) {
    sink_->onFrameAvailable = [this](const ImageDesc& image, Timestamp timestamp) {
        Deliver([&]() QUILO_REQUIRES(delivery_) {
            const TrivialCameraFrame frame(image, timestamp);
            listener_->OnCameraFrameAvailable(this, frame);
        });
    };
    sink_->onIntrinsicsChange = [this](const CameraIntrinsics& intrinsics) {
        Deliver([&]() QUILO_REQUIRES(delivery_) {
            intrinsics_ = intrinsics;
            listener_->OnCameraIntrinsicsChange(this, intrinsics);
        });
    };
    sink_->onDepthFrameAvailable = [this](const ImageDesc& image, const DepthImageDesc* depth, Timestamp timestamp) {
        Deliver([&]() QUILO_REQUIRES(delivery_) {
            const PinholeCameraFrame frame(image, depth, timestamp, intrinsics_);
            listener_->OnCameraFrameAvailable(this, frame);
        });
    };
}

SharedCamera::~SharedCamera() {
    sink_->onFrameAvailable = nullptr;
    sink_->onIntrinsicsChange = nullptr;
    sink_->onDepthFrameAvailable = nullptr;
}

template <typename Call>
void SharedCamera::Deliver(const Call& call) {
    if (DeliveryScope::IsInside(this)) {
        QUILO_THROW(
            "An image was pushed from inside the processing of another image of the same camera; push "
            "it after the callback has returned, or from another thread");
    }
    const MutexLock lock(delivery_);
    const DeliveryScope scope(this);
    call();
}

void SharedCamera::StopCapture() {
    if (DeliveryScope::IsInside(this)) {
        QUILO_THROW("Capture was stopped from inside the processing of an image of the same camera");
    }
    // Taking the lock once is enough: the frame in progress has returned.
    const MutexLock lock(delivery_);
}

}  // namespace quilo::head
