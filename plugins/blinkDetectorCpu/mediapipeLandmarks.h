// MediaPipe's face mesh (468 points) and iris models (71 eye-contour and 5
// iris points per eye), Apache-2.0, run with OpenCV's dnn module from their
// ONNX conversions, their points mapped onto the 68-point scheme the rest of
// the detector reads. The eye points are those of the iris model's contour,
// chosen so that their mean is the contour's centre, as in the 68-point
// scheme (not the pupil, which sits about 0.025 eye distances higher).
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include <opencv2/core.hpp>
#include <opencv2/dnn.hpp>

#include "plugins/blinkDetectorCpu/landmarkPlacer.h"

namespace quilo::head::cpu {

// An ONNX file's bytes and the asset name to blame when they are unusable.
struct OnnxModel {
    std::string name;
    const uint8_t* data = nullptr;
    size_t size = 0;
};

class MediaPipeLandmarks final : public LandmarkPlacer {
public:
    // Reads both networks and runs each once on a blank input. Throws
    // std::runtime_error naming the model's asset when it does not load or
    // does not give the outputs these models give.
    MediaPipeLandmarks(const OnnxModel& faceMesh, const OnnxModel& iris);

    // A face from a detector's box gets a second face mesh pass on the region
    // its first landmarks give; a followed face one pass. Both eyes go
    // through the iris model in one call. Callers are serialised: the
    // networks keep their buffers between calls.
    // With `memory`, a followed face takes the face mesh alone, its eye
    // centres corrected by the offsets measured before, and the iris model
    // looks at one of its eyes every few frames to keep them current.
    float Place(const cv::Mat& image, const FaceBox& box, float roll, Origin origin, Landmarks* landmarks,
                FaceMemory* memory = nullptr) const override;
    const char* Description() const override;

    // The square of the image a model looks at, turned by `roll`.
    struct Region {
        cv::Point2f centre;
        float side = 0.0f;
        float roll = 0.0f;
    };

    // `region` of the 8-bit grey `image` resampled to `size` x `size`
    // (mirrored left to right with `mirror`): shrunk with area averaging
    // first where it is much larger, so that fine detail does not alias;
    // beyond the image's borders they repeat.
    static cv::Mat Crop(const cv::Mat& image, const Region& region, int size, bool mirror = false);
    // A point of a crop of `size` (pixel edges at whole numbers, as the models
    // give them) in the image (pixel centres at whole numbers).
    static cv::Point2f ToImage(const Region& region, int size, bool mirror, cv::Point2f inCrop);

private:
    // The face mesh's 468 points of the face in `region`, in the image, and
    // the face flag (0..1).
    float Mesh(const cv::Mat& image, const Region& region, std::vector<cv::Point2f>* points) const;

    // Guards the networks, whose forward passes keep state in them.
    mutable std::mutex mutex_;
    mutable cv::dnn::Net mesh_;
    mutable cv::dnn::Net iris_;
    mutable uint32_t newFaces_ = 0;  // faces placed anew, for the iris model's turns
};

}  // namespace quilo::head::cpu
