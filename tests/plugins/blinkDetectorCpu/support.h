// Test data and helpers for the tests and benchmarks of the CPU face
// detector: grey images from the photographs the repository carries and from
// the outside test data, their eye annotations, an asset manager over a
// folder, and camera frames with depth.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "common/assetManager.h"
#include "headTracking/camera/camera.h"
#include "plugins/blinkDetectorCpu/blinkDetectorCpu.h"

namespace quilo::head::cpu::test {

// Sanitizer builds run the long sequences on fewer frames.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// A file of the outside test data, which may be missing (see
// support/outsideData.h): only programs that declare what they need read it.
std::filesystem::path TestData(const std::string& relative);

// A file the repository carries, relative to its root (see tests/data/README.md).
std::filesystem::path ProjectData(const std::string& relative);
inline constexpr const char* kAstronautPhoto = "tools/replay/sample/astronaut.png";
inline constexpr const char* kAstronautEyes = "tools/replay/sample/astronaut-eyes.csv";

// An 8-bit grey image: colour pixels become the mean of their three channels,
// as dlib makes them (its models and the annotations were made that way).
// Empty when the file cannot be read.
cv::Mat LoadGrey(const std::filesystem::path& path);

struct EyeAnnotation {
    std::string image;
    int faceIndex = 0;
    cv::Point2d rightEye;  // the person's right eye
    cv::Point2d leftEye;
    double EyeDistance() const { return cv::norm(leftEye - rightEye); }
};

// The rows of an eye annotation file (image,face_index,right_eye_x,...);
// none when it cannot be read.
std::vector<EyeAnnotation> LoadEyeAnnotations(const std::filesystem::path& csv);

// Reads assets from one folder; a missing file throws like the engine's manager.
class FolderAssetManager : public AssetManager {
public:
    explicit FolderAssetManager(std::filesystem::path folder) : folder_(std::move(folder)) {}
    AssetBuffer ReadBytes(const std::string& name, AssetLocation* location) override;
    std::string ReadText(const std::string& name, AssetLocation* location) override;
    std::filesystem::path GetAssetPath(const std::string& name, AssetLocation* location) override;

private:
    std::filesystem::path folder_;
};

// The assets folder the build fills beside the engine library.
std::filesystem::path BuildAssets();

// One landmark model for the whole test program: reading it takes a while.
std::shared_ptr<const LandmarkModel> SharedModel();

// The landmarks the detectors of MakeDetector use: $QUILO_TEST_LANDMARKS
// (mediapipe or dlib68, as in the detector's options), else the default.
// Each test suite runs on either pipeline.
LandmarkScheme TestedScheme();

// A placer of the scheme's models from the build's assets.
std::shared_ptr<const LandmarkPlacer> MakePlacer(LandmarkScheme scheme);

// Settings with the full searches on the frame's thread: a face is reported
// from the first frame that shows it.
BlinkDetectorSettings InlineSettings();

// Settings with the full searches on the detector's worker that give the same
// results on every run: each search's faces are taken by the frame after the
// one it started on, which waits for them.
BlinkDetectorSettings DeterministicSettings();

// A detector on the tested scheme's models and the build's cascade.
std::unique_ptr<BlinkDetectorCpu> MakeDetector(BlinkDetectorSettings settings = InlineSettings());
// The same with the models of `scheme`.
std::unique_ptr<BlinkDetectorCpu> MakeDetector(BlinkDetectorSettings settings, LandmarkScheme scheme);

// Calls `done` again and again until it returns true, or `limit` has passed;
// whether it did. For the faces of a detector's background search reached
// through an interface without a hook to wait on (the plugin, the engine):
// each call processes a frame, so no time is slept away.
bool Eventually(const std::function<bool()>& done, std::chrono::seconds limit = std::chrono::seconds(60));

// Intrinsics of a camera with square pixels and the principal point in the
// middle of its `width` x `height` images.
CameraIntrinsics CentredIntrinsics(int width, int height, float focalLength, bool mirrored = false);

// A frame of one grey image (which must outlive it; an empty image makes a
// frame without images) whose depth, when given, comes from `depthAt`
// (metres; return false for no reading at that pixel).
class TestFrame : public CameraFrame {
public:
    using DepthFunction = std::function<bool(glm::dvec2 pixel, float* depth)>;
    explicit TestFrame(const cv::Mat& grey, DepthFunction depthAt = nullptr, double ms = 0.0);

    Timestamp timestamp() const override { return {Timestamp::Space::System, ms_}; }
    Slice<ImageDesc> imageDescs() const override { return {&image_, image_.data != nullptr ? 1 : 0}; }
    bool GetDepth(glm::dvec2 pixel, float* depth) const override;
    bool DeprojectPixelToPoint(glm::dvec2, float, glm::vec3*) const override { return false; }
    bool ProjectPointToPixel(const glm::vec3&, glm::dvec2*, float*) const override { return false; }

private:
    ImageDesc image_;
    DepthFunction depthAt_;
    double ms_;
};

// `image` pasted into a grey canvas of `size` at `topLeft` after scaling by `scale`.
cv::Mat Compose(const cv::Size& size, uint8_t background,
                const std::vector<std::tuple<cv::Mat, double, cv::Point>>& pieces);

}  // namespace quilo::head::cpu::test
