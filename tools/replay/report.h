// What a replay writes: the per-frame table, pictures of the frames with
// what the engine found drawn on them, a plot of the main face's path, and
// the summary for the console.
#pragma once

#include <filesystem>
#include <string>

#include "tools/replay/replay.h"
#include "tools/replay/sequence.h"

namespace quilo::replay {

// Writes one row per tracked face and frame (one row with empty face columns
// for a frame without faces) to `path`, comma-separated with a header row:
//   frame, timestamp_ms, face (0 = main), position_x/y/z (display space, mm),
//   velocity_x/y/z (mm per ms), yaw (radians), raw_right_x/y/z and
//   raw_left_x/y/z (the eyes of its detection in camera space, mm),
//   right_eye_px/py and left_eye_px/py (its detection's eye pixels),
//   truth_x/y/z (the tracked point's truth, display space, mm),
//   detector_ms, engine_ms, and, when the replay predicted,
//   predicted_right_x/y/z and predicted_left_x/y/z (the main face's eyes
//   predicted, display space, mm; empty on the other faces' rows).
// Columns without a value (a coasting face has no detection; a sequence
// without truth) are empty. Throws SequenceError when the file cannot be written.
void WriteFrameTable(const std::filesystem::path& path, const ReplayResult& result);

// An SVG plot of the main face's x, y and z (display space, mm) over time,
// one panel each, with the truth as a dashed line where the sequence has it.
// Throws SequenceError when the file cannot be written.
void WriteTrajectoryPlot(const std::filesystem::path& path, const ReplayResult& result, const std::string& title);

// Writes `folder`/NNNNN.png for every `every`-th frame (the first included):
// the frame's image in colour with each detection's eyes (right eye red, left
// eye blue), its face number (0 = main face) and, where the sequence has it,
// the truth's eye pixels (green crosses) drawn on it. Returns the number of
// pictures written. Throws SequenceError when an image cannot be read or a
// picture cannot be written.
size_t WriteOverlays(const std::filesystem::path& folder, const std::filesystem::path& sequenceFolder,
                     const Sequence& sequence, const ReplayResult& result, size_t every);

// The summary of a replay, several lines ending with a newline.
std::string FormatSummary(const ReplayStatistics& statistics);

}  // namespace quilo::replay
