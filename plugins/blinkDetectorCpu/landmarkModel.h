// dlib's 68-point face landmark model (the iBUG 300-W scheme), read with
// dlib's own deserialisers and evaluated as dlib evaluates it, from a compact
// copy of its regression trees: each cascade level's splits and leaves lie in
// contiguous arrays, and the leaves (tens of megabytes, read at random) are
// fetched ahead of use, which halves the time of a prediction. The
// landmarks come out in sub-pixel floats; dlib rounds them to whole pixels.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include <opencv2/core.hpp>

#include "plugins/blinkDetectorCpu/landmarkPlacer.h"

namespace quilo::head::cpu {

// Its training data (iBUG 300-W) excludes commercial use: the detector loads
// it only when a host asks for it by name.
class LandmarkModel final : public LandmarkPlacer {
public:
    // Reads a model in dlib's shape_predictor format with 68 points. Throws a
    // std::exception (dlib::serialization_error or std::runtime_error) when the
    // bytes are not such a model; nothing is kept then.
    LandmarkModel(const void* data, size_t size);

    // Places the landmarks of the face in `box` on the 8-bit grey `image`.
    // `roll` (radians, positive clockwise in the image) turns the box about
    // its centre: the model then works in the frame of a face rolled by that
    // much, as on an upright copy of it, without resampling the image.
    // Pixels outside the image read as 0, as in dlib. Thread-safe: the model
    // is not changed.
    void Predict(const cv::Mat& image, const FaceBox& box, Landmarks* landmarks, float roll = 0.0f) const;

    // Predict; the model tells nothing of whether a face is there.
    float Place(const cv::Mat& image, const FaceBox& box, float roll, Origin origin, Landmarks* landmarks,
                FaceMemory* memory = nullptr) const override;
    const char* Description() const override;

    // The box the model expects around a face with these landmarks, rolled
    // by `roll`: the box of dlib's face detector it was trained on, as a
    // function of the landmarks' centroid and spread (the box's centre and
    // size; a rolled box is this one turned about its centre).
    static FaceBox BoxAround(const Landmarks& landmarks, float roll = 0.0f);

private:
    struct Level {
        int32_t treeCount = 0;
        int32_t splitsPerTree = 0;         // a full tree: leaves = splits + 1
        std::vector<uint16_t> splitFirst;  // feature indices of each split, tree after tree
        std::vector<uint16_t> splitSecond;
        std::vector<float> splitThreshold;
        std::vector<float> leaves;       // kLandmarkCount * 2 values per leaf
        std::vector<uint16_t> anchor;    // landmark each feature pixel is placed from
        std::vector<cv::Point2f> delta;  // its offset in the normalised mean shape
    };

    void ReadLevels(std::istream& in);

    std::array<float, kLandmarkCount * 2> meanShape_{};
    std::vector<Level> levels_;
};

}  // namespace quilo::head::cpu
