// The CPU face detector: finds faces with a boosted cascade, places 68
// landmarks on each with dlib's landmark model, and follows them from frame
// to frame.
//
// Per frame, every face found before is refined from its previous landmarks
// (tracking mode) and confirmed by the cascade in the region around it; the
// cascade searches the whole image only every few frames, when no face is
// followed, or right after a face was lost. A face the cascade fails to
// confirm for more than `maxMisses` frames in a row, or whose region turns
// flat (a covered or black image), is dropped.
//
// What DetectFaces reports for each face (largest faces first, at most the
// face count in force):
// - the person's right and left eye centres (the mean of each eye's six
//   landmarks) in image pixels; with mirrored intrinsics the labels follow
//   the mirror image;
// - each eye's depth in metres: the median of the valid depths the frame
//   gives in a small window around the eye, else in the face's middle, else
//   the estimate from the eye distance in the image, the focal length and
//   a mean eye distance of 63 mm (see headPose.h);
// - `angles` (pitch, yaw, roll) in radians as described in headPose.h, from a
//   fit of a generic 3D face to the landmarks;
// - `headPosition`: the point midway between the eyes in camera space, in
//   metres (the frame's deprojection, or the pinhole camera when the frame
//   cannot deproject).
// A face whose eyes fall outside the image, or that has no positive, finite
// depth, is not reported. Only the frame's first image is read, as it is
// delivered (its `rotation` is not applied).
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
#include "plugins/blinkDetectorCpu/faceFinder.h"
#include "plugins/blinkDetectorCpu/headPose.h"
#include "plugins/blinkDetectorCpu/landmarkModel.h"

namespace quilo::head::cpu {

// The assets the detector reads.
inline constexpr const char* kLandmarkModelAsset = "shape_predictor_68_face_landmarks.dat";
inline constexpr const char* kFaceCascadeAsset = "haarcascade_frontalface_alt2.xml";

struct BlinkDetectorSettings {
    // The face count asked for; the detector settles on it clamped to 1..3.
    int32_t maxNumOfFaces = 1;
    // The smallest eye distance, in pixels, a full search looks for: 14 px is
    // a viewer about 2 m from an 848 x 480 RealSense infrared imager.
    float minEyeDistance = 14.0f;
    // Frames between full searches while faces are followed (1: every frame).
    int32_t detectionInterval = 10;
    // Frames in a row a followed face may go unconfirmed before it is dropped.
    int32_t maxMisses = 10;
};

// `settings` with the options of `text` applied: "name=value" pairs separated
// by commas, semicolons or blanks, with the names minEyeDistance (pixels,
// 4..1000), detectionInterval (frames, 1..1000) and maxMisses (frames,
// 0..1000). An empty text changes nothing. Throws std::invalid_argument
// naming the first pair that is malformed, unknown or out of range.
BlinkDetectorSettings ParseDetectorOptions(const std::string& text, BlinkDetectorSettings settings);

class BlinkDetectorCpu final : public FaceDetector {
public:
    static constexpr int32_t kMaxNumOfFacesLimit = 3;
    // Frames whose first image has a side outside these bounds give no faces.
    static constexpr int32_t kMinImageSide = 32;
    static constexpr int32_t kMaxImageSide = 8192;

    BlinkDetectorCpu(const BlinkDetectorSettings& settings,
                     std::shared_ptr<const LandmarkModel> model, FaceFinder finder);
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
    // Never throws for a bad frame: a frame without images, without pixels,
    // or with a side outside [kMinImageSide, kMaxImageSide] gives no faces
    // and ends the following of every face.
    Output& DetectFaces(const CameraFrame& frame) override;

    // Every face in an 8-bit grey image, found by a full search, with the
    // landmarks a new face gets: the pipeline of a full detection without
    // tracking and without the face count. Largest first.
    std::vector<Landmarks> FindAllFaces(const cv::Mat& image);

    // How frames were processed so far; for the detecting thread.
    struct Statistics {
        int64_t frames = 0;        // DetectFaces calls
        int64_t fullSearches = 0;  // frames with a search of the whole image
        int64_t followed = 0;      // faces followed from one frame to the next
        int64_t unconfirmed = 0;   // ... of which the cascade did not confirm
        int64_t lost = 0;          // followed faces dropped
    };
    const Statistics& statistics() const { return statistics_; }

private:
    struct Track {
        Landmarks landmarks;
        FaceBox box;         // where the landmarks are placed from in the next frame
        HeadPose pose;       // the previous fit, the start of the next one
        int32_t misses = 0;  // frames in a row without confirmation
    };

    bool FollowTracks(const cv::Mat& image);
    void SearchFaces(const cv::Mat& image);
    void Report(const CameraFrame& frame, const ImageDesc& image, const Pinhole& camera);

    BlinkDetectorSettings settings_;
    std::shared_ptr<const LandmarkModel> model_;
    FaceFinder finder_;
    std::atomic<int32_t> maxNumOfFaces_;  // read by host threads at any time
    CameraIntrinsics intrinsics_;
    std::vector<Track> tracks_;
    int32_t imageWidth_ = 0;  // size of the frames the tracks belong to
    int32_t imageHeight_ = 0;
    int32_t framesSinceSearch_ = 0;
    bool searchInBetween_ = false;  // alternates the sizes of successive searches
    Statistics statistics_;
    Output output_;
};

// A detector with the landmark model and the cascade read through `assets`
// and the options of `configuration.detectorOptions`. Throws a std::exception
// when an asset is missing or unusable or the options are bad.
std::unique_ptr<BlinkDetectorCpu> CreateBlinkDetectorCpu(
    const BlinkDetectorConfiguration& configuration, AssetManager& assets);

}  // namespace quilo::head::cpu
