// The CPU face detector's settings, and the options text that tunes them.
#pragma once

#include <cstdint>
#include <string>

namespace quilo::head::cpu {

// The models that place the landmarks.
enum class LandmarkScheme {
    // dlib's 68-point model: accurate, but trained on data that excludes
    // commercial use, so only when asked for by name.
    kDlib68,
    // MediaPipe's face mesh and iris models (Apache-2.0), where OpenCV's
    // dnn module is built in.
    kMediaPipe,
};

// The scheme a detector uses when the options name none.
LandmarkScheme DefaultLandmarkScheme();

struct BlinkDetectorSettings {
    // The face count asked for; the detector settles on it clamped to 1..3.
    int32_t maxNumOfFaces = 1;
    // The smallest eye distance, in pixels, a full search looks for: 12 px is
    // a viewer about 2.5 m from an 848 x 480 RealSense infrared imager.
    float minEyeDistance = 12.0f;
    // Frames between full searches while faces are followed (1: every frame).
    int32_t detectionInterval = 10;
    // Frames in a row a followed face may go unconfirmed by the cascade
    // before it is dropped (while dlib's detector still sees it there).
    int32_t maxMisses = 10;
    // Full searches on the detector's worker thread; otherwise on the
    // frame's thread, which then waits for them.
    bool searchInBackground = true;
    // With searches in the background: frames between taking a search's
    // faces and starting the next search while faces are followed. At 1 the
    // worker searches all the time, on a core of its own, so that a newcomer
    // is reported as soon as possible.
    int32_t backgroundInterval = 1;
    // With searches in the background: every frame first waits for the
    // search started before it, so that each search's faces are taken by the
    // frame after the one it looked at, whatever the machine's speed (for
    // tests and replays that must give the same results every run).
    bool awaitSearch = false;
    LandmarkScheme landmarks = DefaultLandmarkScheme();
};

// `settings` with the options of `text` applied: "name=value" pairs separated
// by commas, semicolons or blanks, with the names minEyeDistance (pixels,
// 4..1000), detectionInterval (frames, 1..1000), maxMisses (frames,
// 0..1000), searchInBackground (0 or 1), backgroundInterval (frames,
// 1..1000) and landmarks (mediapipe or dlib68; mediapipe only where the
// build has it). An empty text changes nothing. Throws std::invalid_argument
// naming the first pair that is malformed, unknown or out of range.
BlinkDetectorSettings ParseDetectorOptions(const std::string& text, BlinkDetectorSettings settings);

}  // namespace quilo::head::cpu
