// Records what a camera delivers as a sequence the replay tool reads: every
// frame's first image as a PNG file and its timestamp in the manifest, with
// the camera's intrinsics, and the frame's depth, where it has some, as a
// 16-bit PNG aligned with the image in millimetres.
#pragma once

#include <cstddef>
#include <filesystem>
#include <mutex>
#include <string>

#include "headTracking/camera/camera.h"
#include "tools/replay/sequence.h"

namespace quilo::replay {

class SequenceRecorder {
public:
    // Records into `folder`, created when missing. Throws SequenceError when
    // it cannot be created or already holds a sequence or images (PNG or
    // PGM files), whose names the frames could take.
    SequenceRecorder(std::filesystem::path folder, std::string description);

    SequenceRecorder(const SequenceRecorder&) = delete;
    SequenceRecorder& operator=(const SequenceRecorder&) = delete;

    // Saves the frame's first image as the next file and notes its timestamp.
    // When the frame gives depth (GetDepth at its image's pixels; the
    // RealSense frame reads its depth image, aligned with the infrared one)
    // it is saved beside the image in steps of kDefaultDepthUnit; a frame
    // without depth, or whose depth lookup fails, is saved without.
    // The first recorded frame fixes the intrinsics of the sequence. Returns
    // false, and counts the frame as dropped, when the intrinsics are not
    // known yet (no size or focal length), when the image's size differs
    // from theirs, when its timestamp does not come after the last one, or
    // when the image cannot be saved. Any thread; calls are serialised.
    bool Record(const head::CameraFrame& frame, const CameraIntrinsics& intrinsics);

    size_t frames() const;
    size_t dropped() const;

    // Writes the manifest of the frames recorded so far. Throws SequenceError
    // when there are none or it cannot be written.
    void Finish();

private:
    const std::filesystem::path folder_;
    // Guards everything below: frames may come from a camera thread while
    // the host asks for the counts.
    mutable std::mutex mutex_;
    Sequence sequence_;
    size_t dropped_ = 0;
};

// Turns Ctrl-C (SIGINT) and a polite request to end (SIGTERM) into a stop
// request that StopRequested() reports, so the recorder finishes the
// recording and writes its manifest instead of dying without one. Until
// RestoreStopSignals() puts the default handling back.
void CatchStopSignals();
bool StopRequested();
void RestoreStopSignals();

}  // namespace quilo::replay
