// Saving what a camera saw.
#pragma once

#include "common/export.h"
#include "headTracking/camera/camera.h"

namespace quilo::head {

// Writes the first image of `frame` to the file `path` (narrow encoding) as an
// 8-bit greyscale, non-interlaced PNG: rows of `width` bytes, top to bottom as
// they lie in memory, rotation not applied. An existing file is replaced.
// Call while the frame is valid, e.g. from OnCameraFrameAvailable.
//
// Returns true when the whole file was written. Returns false, without
// creating a file, for a null path, for a frame without images or whose first
// image has no pixels, no area or more than about 10^9 pixels, and when
// encoding fails. Returns false when the file cannot be opened, and when
// writing or closing it fails (an incomplete file may then remain). Nothing is
// logged. Any thread.
QUILO_API bool SaveCameraFrame(const CameraFrame& frame, const char* path);

}  // namespace quilo::head
