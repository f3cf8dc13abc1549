// A full search: every face in the whole image, with landmarks placed on
// each face the followed ones do not explain.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include <opencv2/core.hpp>

#include "plugins/blinkDetectorCpu/faceFinder.h"
#include "plugins/blinkDetectorCpu/landmarkPlacer.h"

namespace quilo::head::cpu {

// What one full search looks at.
struct SearchJob {
    cv::Mat image;
    bool inBetween = false;         // the sizes between those of the last search (see FindCandidates)
    float roll = 0.0f;              // of a turned copy scanned besides the upright image; 0: none
    bool normalise = false;         // the contrast equalised locally
    int64_t generation = 0;         // of the image size; a later size voids the result
    std::vector<FaceBox> followed;  // the followed faces in the image
};

// A face a full search found, in the image it searched.
struct Found {
    FaceBox box;
    float roll = 0.0f;
};

// Sets the view of `job` for the search after `count` others of `image`:
// the sizes alternate, every other search also scans a copy turned for
// rolled heads, and every fourth one (every one, in a dim image) equalises
// the contrast.
void ChooseView(int32_t count, const cv::Mat& image, SearchJob* job);

class FaceSearch {
public:
    // Searches for faces whose eye distance is at least `minEyeDistance`
    // pixels, placing at most `maxFound`.
    FaceSearch(std::shared_ptr<const LandmarkPlacer> model, FaceFinder finder, float minEyeDistance, size_t maxFound);

    // The faces in `job.image`, largest first: a followed face where the
    // cascade sees it comes back as its followed box, every other face as the
    // box of the landmarks placed on it. One thread at a time (the finder
    // keeps scratch memory).
    std::vector<Found> Run(const SearchJob& job);

private:
    std::shared_ptr<const LandmarkPlacer> model_;
    FaceFinder finder_;
    float minEyeDistance_;
    size_t maxFound_;
};

}  // namespace quilo::head::cpu
