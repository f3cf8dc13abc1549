// Detection entries for scripted detectors: a face looking straight at the
// camera with its eyes 40 px apart, centred on pixel (cx, cy), at `depth`
// metres.
#pragma once

#include "headTracking/common/detection.h"

namespace quilo::test {

inline head::DetectedFace FaceAt(double cx, double cy = 240.0, float depth = 0.6f, float yaw = 0.0f) {
    head::DetectedFace d;
    d.rightEyePixel = {cx - 20.0, cy};
    d.leftEyePixel = {cx + 20.0, cy};
    d.rightEyeDepth = depth;
    d.leftEyeDepth = depth;
    d.angles = {0.0f, yaw, 0.0f};
    return d;
}

}  // namespace quilo::test
