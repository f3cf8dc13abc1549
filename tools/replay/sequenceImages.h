// The images of recorded sequences: 8-bit grey images (PNG or binary PGM;
// colour read as grey) and 16-bit depth PNGs, checked against the sequence
// before their pixels are decoded; and the writing of PNGs.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "tools/replay/sequenceManifest.h"

namespace quilo::replay {

// An 8-bit grey image, rows top to bottom without padding.
struct GreyImage {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> pixels;
};

// A 16-bit depth image, rows top to bottom without padding.
struct DepthImage {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint16_t> values;
};

// How colour pixels become grey: stb's weighted luminance, or the mean of
// the three channels (truncated), as dlib converts colour images.
enum class ColourToGrey { Luminance, ChannelMean };

// Reads a PNG or binary PGM (or PPM) file as grey. Throws SequenceError
// naming the file and the reason when it is missing, not a regular file,
// neither kind of image, truncated (a PGM shorter than its header declares,
// a PNG without its end), or its pixels cannot be decoded.
GreyImage ReadGreyImage(const std::filesystem::path& path, ColourToGrey conversion = ColourToGrey::Luminance);

// The file of `frame`'s image in `folder`. Throws SequenceError naming it
// when, through a symbolic link, it lies outside the folder.
std::filesystem::path FrameImagePath(const std::filesystem::path& folder, const SequenceFrame& frame);

// Checks the image of `frame` without decoding its pixels: a regular file
// inside `folder` whose header is sound, declares the size of the
// sequence's intrinsics and, for PGM, whose pixels are all there. Checks the
// frame's depth image the same way, which must also be a 16-bit grey PNG.
// Throws SequenceError naming the file otherwise. Quick: reads the files'
// starts.
void CheckFrameImage(const std::filesystem::path& folder, const Sequence& sequence, const SequenceFrame& frame);

// Reads the image of `frame` as ReadGreyImage does, after the checks of
// CheckFrameImage, so an image of another size is refused before its
// pixels are decoded.
GreyImage ReadFrameImage(const std::filesystem::path& folder, const Sequence& sequence, const SequenceFrame& frame);

// Reads the depth image of `frame` (which must have one) after the checks
// of CheckFrameImage, and whole: a PNG without its end is refused.
DepthImage ReadFrameDepth(const std::filesystem::path& folder, const Sequence& sequence, const SequenceFrame& frame);

// Writes `depth` as a 16-bit grey PNG. Throws SequenceError when it cannot.
void WriteDepthPng(const std::filesystem::path& path, const DepthImage& depth);

// Writes `image` as an 8-bit grey PNG. Throws SequenceError when it cannot.
void WriteGreyPng(const std::filesystem::path& path, const GreyImage& image);

// Writes an 8-bit RGB image (3 bytes per pixel, rows without padding) as PNG.
// Throws SequenceError when it cannot.
void WriteRgbPng(const std::filesystem::path& path, int32_t width, int32_t height, const uint8_t* rgb);

}  // namespace quilo::replay
