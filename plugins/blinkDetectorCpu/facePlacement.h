// Landmarks placed on a face, and the comparisons of face boxes: shared by
// the following of faces from frame to frame and by the full searches.
#pragma once

#include <opencv2/core.hpp>

#include "plugins/blinkDetectorCpu/landmarkModel.h"

namespace quilo::head::cpu {

// The landmarks placed on a face, with what they tell of it.
struct Placement {
    Landmarks landmarks;
    FaceBox box;        // where the landmarks are placed from in the next frame
    float roll = 0.0f;  // of the line of the eyes, radians, clockwise in the image
    // The placer's confidence that a face is there (kNoPresence: it gives none).
    float presence = kNoPresence;
    FaceMemory memory;  // the placer's, carried to the next placement
};

// Places `placer`'s landmarks on the face in `from` (rolled by `roll`) in the
// 8-bit grey `image`; a dim face on a copy of its region with the contrast
// stretched. False, with `placed` unchanged, when the eyes come out rolled
// past 70 degrees (or swapped) or outside the image. Thread-safe.
bool PlaceLandmarks(const LandmarkPlacer& placer, const cv::Mat& image, const FaceBox& from, float roll,
                    Placement* placed, LandmarkPlacer::Origin origin = LandmarkPlacer::Origin::kDetector);

// Whether `p` lies in an image `width` x `height`.
bool Inside(cv::Point2f p, int width, int height);

// Whether the grey values in `box` spread too little for a face (a black,
// covered or saturated image).
bool IsFlat(const cv::Mat& image, const FaceBox& box);

// Whether the landmarks and a face found at `found` tell the same place and
// size: centres within an eighth of the box (about a third of an eye
// distance) and sizes within a quarter.
bool Agree(const FaceBox& landmarksBox, const FaceBox& found);

// Whether two boxes show the same face: centres close and sizes alike.
bool SameFace(const FaceBox& a, const FaceBox& b);

}  // namespace quilo::head::cpu
