#include "plugins/blinkDetectorCpu/faceSearch.h"

#include <algorithm>
#include <utility>

#include "plugins/blinkDetectorCpu/facePlacement.h"

namespace quilo::head::cpu {

namespace {

// Images darker than this on average are searched with their contrast
// equalised every time.
constexpr double kDimImageMean = 50.0;

// Turned copies are scanned for faces this many times the smallest eye
// distance of the upright scan.
constexpr float kTurnedMinEyeDistance = 1.5f;

}  // namespace

void ChooseView(int32_t count, const cv::Mat& image, SearchJob* job) {
    // Every search scans the upright image, alternating the sizes it scans
    // and, every fourth time (or always, in a dim image), with its contrast
    // equalised; every other search also scans a copy turned for rolled
    // heads. The cascade sees faces within about 12 degrees of upright, so
    // the copies turn by 30 and by 45 degrees, each way in turn: together
    // with the upright image they cover rolls up to about 55 degrees.
    constexpr float kDegree = static_cast<float>(CV_PI) / 180.0f;
    constexpr float kTurns[] = {30.0f * kDegree, -30.0f * kDegree, 45.0f * kDegree, -45.0f * kDegree};
    job->inBetween = count % 2 == 1;
    job->roll = count % 2 == 1 ? kTurns[(count / 2) % 4] : 0.0f;
    job->normalise = count % 4 == 2 || cv::mean(image)[0] < kDimImageMean;
}

FaceSearch::FaceSearch(std::shared_ptr<const LandmarkPlacer> model, FaceFinder finder, float minEyeDistance,
                       size_t maxFound)
    : model_(std::move(model)), finder_(std::move(finder)), minEyeDistance_(minEyeDistance), maxFound_(maxFound) {}

std::vector<Found> FaceSearch::Run(const SearchJob& job) {
    std::vector<Found> candidates;
    for (const FaceBox& box : finder_.FindCandidates(job.image, minEyeDistance_, job.inBetween, 0.0f, job.normalise)) {
        candidates.push_back({box, 0.0f});
    }
    if (job.roll != 0.0f) {
        // Rolled heads from a slightly larger size: the turned copy is the
        // larger image to scan.
        for (const FaceBox& box : finder_.FindCandidates(job.image, kTurnedMinEyeDistance * minEyeDistance_,
                                                         job.inBetween, job.roll, job.normalise)) {
            candidates.push_back({box, job.roll});
        }
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Found& a, const Found& b) { return a.box.width > b.box.width; });
    std::vector<Found> found;
    for (const Found& candidate : candidates) {
        // Enough faces placed for any face count: the rest are smaller.
        if (found.size() >= maxFound_) break;
        if (std::any_of(found.begin(), found.end(), [&](const Found& f) { return SameFace(f.box, candidate.box); })) {
            continue;
        }
        // A followed face where the cascade sees it needs no placing: it is
        // confirmed by the frame that takes the result.
        const auto agrees = std::find_if(job.followed.begin(), job.followed.end(),
                                         [&](const FaceBox& b) { return Agree(b, candidate.box); });
        if (agrees != job.followed.end()) {
            found.push_back({*agrees, candidate.roll});
            continue;
        }
        FaceBox box;
        if (!finder_.PlaceFace(job.image, candidate.box, &box, candidate.roll)) continue;
        Placement placed;
        if (!PlaceLandmarks(*model_, job.image, box, candidate.roll, &placed)) continue;
        if (std::any_of(found.begin(), found.end(), [&](const Found& f) { return SameFace(f.box, placed.box); })) {
            continue;
        }
        found.push_back({placed.box, placed.roll});
    }
    return found;
}

}  // namespace quilo::head::cpu
