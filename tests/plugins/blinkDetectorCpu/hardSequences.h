// Hard sequences for the CPU face detector, made from the real photographs
// the repository carries, with a known truth: each face is a card cut from an annotated photograph around
// its eyes, scaled, rolled and moved along a path over a softly blotched
// background, with Gaussian sensor noise from a fixed seed. Frames are
// 848 x 480 grey images; the same photographs give the same bytes every run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

namespace quilo::head::cpu::test {

// A face photograph and where its eyes are (the person's right eye first).
struct CardPhoto {
    std::string name;
    cv::Mat grey;
    cv::Point2d rightEye, leftEye;
};

// The astronaut portrait, and Grace Hopper's (a different person, with
// glasses, another camera and light). Empty images when a file cannot be read.
CardPhoto Astronaut();
CardPhoto Hopper();

// One face in one frame: which card, where the midpoint of its eyes lands,
// its eye distance in pixels and its roll in degrees (positive: the head
// tilts clockwise in the image, as the detector reports roll).
struct ScenePlacement {
    int card = 0;
    cv::Point2d eyeMiddle;
    double eyeDistance = 40.0;
    double rollDegrees = 0.0;
};

// Where a face's eyes truly are in a frame.
struct EyeTruth {
    cv::Point2d rightEye, leftEye;
    double EyeDistance() const { return cv::norm(leftEye - rightEye); }
};

struct SceneFrame {
    cv::Mat image;
    std::vector<EyeTruth> truth;  // in the order of the placements
};

// Draws frames of placed cards.
class SceneRenderer {
public:
    static constexpr int kWidth = 848;
    static constexpr int kHeight = 480;

    explicit SceneRenderer(std::vector<CardPhoto> cards);

    // The placed faces over the background, every grey level then scaled by
    // `brightness` (1: as photographed), plus noise of `noiseSigma` grey
    // levels drawn from `seed`.
    SceneFrame Render(const std::vector<ScenePlacement>& faces, double brightness = 1.0, double noiseSigma = 2.0,
                      uint32_t seed = 1) const;

private:
    std::vector<CardPhoto> cards_;
    cv::Mat background_;
};

// A named path of placements, one entry per frame.
struct ScenePath {
    std::string name;
    std::vector<std::vector<ScenePlacement>> frames;
    double brightness = 1.0;
};

// The hard cases. `eyeDistance` is the face's size where the case does not
// fix it; card 0 is the main face, card 1 the second face of two.
// - a face still for `settle` frames, then one eye distance to the right, staying there;
ScenePath JumpPath(double eyeDistance, int settle, int after);
// - a face sweeping across the image at 30 px a frame and back;
ScenePath SweepPath(double eyeDistance);
// - a face rolling from 0 to +45 degrees, back through 0 to -45 and back to 0, by `step` degrees;
ScenePath RollPath(double eyeDistance, double step);
// - a face that appears rolled by `degrees`, then by -`degrees`, `frames` each;
ScenePath RolledPath(double eyeDistance, int frames, double degrees);
// - a still face cut by one border (0 top, 1 bottom, 2 left, 3 right) with
//   both eyes inside, about a fifth of an eye distance from the border;
ScenePath BorderPath(int border, double eyeDistance, int frames);
// - a still face at 25 % brightness;
ScenePath DimPath(double eyeDistance, int frames);
// - a face shrinking from `from` to 12 px between the eyes, then still at 12 px;
ScenePath ShrinkPath(double from, int frames, int still);
// - two faces of alike size crossing each other horizontally, one above the
//   other, the lower card hiding the upper one's chin where they cross.
ScenePath CrossingPath(double eyeDistance, int frames);

}  // namespace quilo::head::cpu::test
