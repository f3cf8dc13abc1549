#include "headTracking/camera/camera.h"

namespace quilo::head {

Camera::~Camera() = default;
CameraFrame::~CameraFrame() = default;

}  // namespace quilo::head
