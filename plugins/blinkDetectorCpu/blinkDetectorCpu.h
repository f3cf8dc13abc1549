// The CPU face detector: finds faces with a boosted cascade, places 68
// landmarks on each with dlib's landmark model, and follows them from frame
// to frame. How and why: DESIGN.md beside this file.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "common/assetManager.h"
#include "headTracking/camera/camera.h"
#include "headTracking/engine/blinkDetector.h"
#include "headTracking/engine/faceDetector.h"
#include "plugins/blinkDetectorCpu/detectorSettings.h"
#include "plugins/blinkDetectorCpu/faceFinder.h"
#include "plugins/blinkDetectorCpu/facePlacement.h"
#include "plugins/blinkDetectorCpu/faceSearch.h"
#include "plugins/blinkDetectorCpu/headPose.h"
#include "plugins/blinkDetectorCpu/landmarkModel.h"

namespace quilo::head::cpu {

class SearchWorker;

// The assets the detector reads.
inline constexpr const char* kLandmarkModelAsset = "shape_predictor_68_face_landmarks.dat";
inline constexpr const char* kFaceMeshAsset = "face_landmark.onnx";
inline constexpr const char* kIrisAsset = "iris_landmark.onnx";
inline constexpr const char* kFaceCascadeAsset = "haarcascade_frontalface_alt2.xml";

class BlinkDetectorCpu final : public FaceDetector {
public:
    static constexpr int32_t kMaxNumOfFacesLimit = 3;
    // Frames whose first image has a side outside these bounds give no faces.
    static constexpr int32_t kMinImageSide = 32;
    static constexpr int32_t kMaxImageSide = 8192;

    // `finder` and `model` serve the frames; `searchFinder` and
    // `searchModel` (by default `model`) the full searches, on the worker
    // thread when they run in the background: a placer that serialises its
    // callers (MediaPipeLandmarks) should be a second one there.
    BlinkDetectorCpu(const BlinkDetectorSettings& settings, std::shared_ptr<const LandmarkPlacer> model,
                     FaceFinder finder, FaceFinder searchFinder,
                     std::shared_ptr<const LandmarkPlacer> searchModel = nullptr);
    // Stops the worker thread (waiting for a search in progress) and joins it.
    ~BlinkDetectorCpu();

    BlinkDetectorCpu(const BlinkDetectorCpu&) = delete;
    BlinkDetectorCpu& operator=(const BlinkDetectorCpu&) = delete;

    // Slots 0, 1 and 3 may be called from any thread at any time.
    int32_t GetMaxNumOfDetectedFacesLimit() const override;
    int32_t GetMaxNumOfDetectedFaces() const override;
    // Takes n clamped to 1..3; faces beyond it are dropped from the next frame on.
    void SetMaxNumOfDetectedFaces(int32_t n) override;
    quilo_face_detector_backend_e GetBackend() const override;
    // The focal length and principal point for the frames that follow, scaled
    // to their image size. Before the first call (or with unusable
    // intrinsics) the detector assumes the default field of view.
    void OnCameraIntrinsicsChange(const CameraIntrinsics& intrinsics) override;
    // The faces in the frame, largest first, at most the face count in force.
    // For each face:
    // - the person's right and left eye centres (the mean of each eye's six
    //   landmarks) in image pixels; with mirrored intrinsics the labels follow
    //   the mirror image;
    // - each eye's depth in metres: the median of the valid depths the frame
    //   gives in a small window around the eye, else in the face's middle,
    //   else the estimate from the eye distance in the image, the focal length
    //   and a mean eye distance of 63 mm (see headPose.h);
    // - `angles` (pitch, yaw, roll) in radians as described in headPose.h,
    //   from a fit of a generic 3D face to the landmarks;
    // - `headPosition`: the point midway between the eyes in camera space, in
    //   metres (the frame's deprojection, or the pinhole camera when the frame
    //   cannot deproject).
    // A face whose eyes fall outside the image, or that has no positive,
    // finite depth, is not reported; nor is one whose eyes come out swapped
    // or rolled past 70 degrees. Only the frame's first image is read, as it
    // is delivered (its `rotation` is not applied).
    //
    // Never throws for a bad frame: a frame without images, without pixels,
    // or with a side outside [kMinImageSide, kMaxImageSide] gives no faces
    // and ends the following of every face. With searches in the background
    // a frame with a followed face never waits for one (unless
    // `awaitSearch`): the image is copied for the worker, and a face the
    // search finds is reported from the first frame after the search has
    // ended, moving on as it moved meanwhile. A frame without followed faces
    // waits for a search of its own.
    Output& DetectFaces(const CameraFrame& frame) override;

    // Every face in an 8-bit grey image, found by a full search, with the
    // landmarks a new face gets: the pipeline of a full detection without
    // tracking and without the face count. Largest first.
    std::vector<Landmarks> FindAllFaces(const cv::Mat& image);

    // How frames were processed so far; for the detecting thread.
    struct Statistics {
        int64_t frames = 0;         // DetectFaces calls
        int64_t fullSearches = 0;   // frames with a search of the whole image
        int64_t followed = 0;       // faces followed from one frame to the next
        int64_t unconfirmed = 0;    // ... of which the cascade did not confirm
        int64_t lost = 0;           // followed faces dropped
        int64_t realigned = 0;      // followed faces placed again where a face was found
        int64_t doubleChecked = 0;  // ... checked by dlib's detector after two misses
    };
    const Statistics& statistics() const { return statistics_; }

private:
    // A followed face: where its landmarks are, and how it moves.
    struct Track : Placement {
        cv::Point2f motion;  // of the box's centre over the last frame, when confirmed
        cv::Point2f step;    // of the box's centre over the last frame, when realigned
        HeadPose pose;       // the previous fit, the start of the next one
        int32_t misses = 0;  // frames in a row without confirmation by the cascade
        bool fresh = false;  // found in the last frame, its motion unknown
        FaceBox searched;    // the box in the image of the search in progress
        bool inSearch = false;
    };

    // The size of the frames the tracks belong to.
    struct FrameSize {
        int32_t width = 0;
        int32_t height = 0;
        int64_t generation = 0;  // counts the sizes seen
    };

    // When the whole image was searched.
    struct SearchSchedule {
        int32_t framesSince = 0;    // frames since the last search started or its faces were taken
        int32_t count = 0;          // searches started; chooses the view of the next one
        int64_t searchedFrame = 0;  // the frame (statistics_.frames) the last search looks at
    };

    // The first image of `frame`, or null (logged) when the frame gives no faces.
    static const ImageDesc* UsableImage(const CameraFrame& frame);
    // `desc`'s pixels; a new size ends the following of every face.
    cv::Mat ImageOf(const ImageDesc& desc);
    bool FollowTracks(const cv::Mat& image);
    bool Follow(const cv::Mat& image, Track* track);
    bool Seat(const cv::Mat& image, const FaceBox& from, float roll, Track* track,
              LandmarkPlacer::Origin origin = LandmarkPlacer::Origin::kDetector) const;
    // Takes the faces of a background search that has ended. While no face is
    // followed there is nothing a wait could delay: the frame waits for the
    // search in progress, or for a new one, and takes what it finds.
    void TakeBackgroundSearch(const cv::Mat& image);
    // Takes the faces of the worker's last search, if it has ended (or,
    // with `wait`, when it ends).
    void TakeSearchResult(const cv::Mat& image, bool wait);
    bool SearchDue(bool lost);
    void StartSearch(const cv::Mat& image);
    // `framesAgo`: how many frames before `image` the searched one came.
    void TakeFound(const cv::Mat& image, const std::vector<Found>& searched, int64_t framesAgo);
    // The largest faces first; the others are no longer followed.
    void KeepLargestFaces();
    void Report(const CameraFrame& frame, const ImageDesc& image, const Pinhole& camera);

    BlinkDetectorSettings settings_;
    std::shared_ptr<const LandmarkPlacer> model_;
    FaceFinder finder_;
    std::atomic<int32_t> maxNumOfFaces_;  // read by host threads at any time
    CameraIntrinsics intrinsics_;
    std::vector<Track> tracks_;
    FrameSize frameSize_;
    SearchSchedule schedule_;
    Statistics statistics_;
    Output output_;
    // The full searches: run by the worker while there is one (searches in
    // the background), else on the frame's thread.
    FaceSearch search_;
    std::unique_ptr<SearchWorker> worker_;  // last: stopped before what it uses goes
};

// A detector with the landmark model and the cascade read through `assets`
// and the options of `configuration.detectorOptions`. Throws a std::exception
// when an asset is missing or unusable or the options are bad.
std::unique_ptr<BlinkDetectorCpu> CreateBlinkDetectorCpu(const BlinkDetectorConfiguration& configuration,
                                                         AssetManager& assets);

}  // namespace quilo::head::cpu
