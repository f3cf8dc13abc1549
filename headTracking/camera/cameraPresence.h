// Whether the camera the engine is made for is plugged in. Reads the system's
// device list on each call; any thread; false on every failure.
#pragma once

#include "common/export.h"

namespace quilo::head {

// A RealSense camera is present: the same answer as quilo::isRealSenseConnected.
QUILO_API bool IsRealsenseCameraConnected();
// The engine's camera is present: the same answer as IsRealsenseCameraConnected.
QUILO_API bool IsCameraConnected();

}  // namespace quilo::head
