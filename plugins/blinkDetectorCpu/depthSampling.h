// The depths a frame measures at a face's eyes.
#pragma once

#include <opencv2/core.hpp>

#include "headTracking/camera/camera.h"
#include "plugins/blinkDetectorCpu/landmarkModel.h"

namespace quilo::head::cpu {

// Depths in metres; 0 where the frame measured none.
struct EyeDepths {
    float first = 0.0f;
    float second = 0.0f;
};

// The depths at the eye centres `first` and `second` of the face in `box`, in
// an image `width` x `height`: at each eye the median of the valid depths in a
// small window around it (a tenth of the eye distance each way, 1 to 8
// pixels), needing at least a quarter of the window's pixels valid. An eye
// without one takes the median over the face's middle, if the frame gave any
// depth at the eyes at all. Depths that are not finite, not positive or
// beyond 100 m are invalid readings.
EyeDepths MeasureEyeDepths(const CameraFrame& frame, cv::Point2f first, cv::Point2f second, const FaceBox& box,
                           int width, int height);

}  // namespace quilo::head::cpu
