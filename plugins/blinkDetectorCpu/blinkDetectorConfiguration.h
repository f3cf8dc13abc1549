// The argument of a face detector plugin's create function, as the engine's
// plugin loader passes it.
#pragma once

#include <string>

#include "headTracking/engine/faceDetector.h"

namespace quilo::head {

struct BlinkDetectorConfiguration {
    const FaceDetector::Configuration& settings;
    std::string detectorOptions;
};

}  // namespace quilo::head
