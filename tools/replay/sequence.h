// Recorded image sequences: the manifest, sequence.json, with the frames'
// timestamps, the camera's intrinsics and the truth (sequenceManifest.h), and
// the frames' images and depth images (sequenceImages.h).
#pragma once

#include "tools/replay/sequenceImages.h"
#include "tools/replay/sequenceManifest.h"
