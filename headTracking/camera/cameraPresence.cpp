#include "headTracking/camera/cameraPresence.h"

#include "common/presence.h"

namespace quilo::head {

bool IsRealsenseCameraConnected() { return isRealSenseConnected(); }

bool IsCameraConnected() { return IsRealsenseCameraConnected(); }

}  // namespace quilo::head
