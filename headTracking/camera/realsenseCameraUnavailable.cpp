// The RealSense camera of a build made without librealsense2: every entry
// point says so.
#include "common/exception.h"
#include "headTracking/camera/realsenseCamera.h"

namespace quilo::head {

std::unique_ptr<Camera> CreateRealsenseCamera(Camera::Listener*, const RealsenseCameraConfiguration&) {
    QUILO_THROW("This build has no RealSense support: it was made without librealsense2 (2.50 or later)");
}

void UpdateRealsenseCameraDynamicConfiguration(Camera*, const RealsenseCameraDynamicConfiguration&) {
    QUILO_THROW("This build has no RealSense support: it was made without librealsense2 (2.50 or later)");
}

}  // namespace quilo::head
