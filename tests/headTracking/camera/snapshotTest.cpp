// Camera-frame snapshots, checked by decoding the written file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <stb_image.h>

#include "headTracking/camera/snapshot.h"
#include "support/tempFolder.h"

using namespace quilo;
using namespace quilo::head;

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> ReadBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// An infrared-like image whose every row and column differ.
std::vector<uint8_t> Pattern(int width, int height) {
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            pixels[static_cast<size_t>(y) * width + x] = static_cast<uint8_t>(x * 7 + y * 13);
    return pixels;
}

// The header fields of a PNG file.
struct PngHeader {
    uint32_t width = 0;
    uint32_t height = 0;
    int bitDepth = -1;
    int colourType = -1;
    int interlace = -1;
};

PngHeader ReadPngHeader(const std::vector<uint8_t>& png) {
    static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    PngHeader header;
    if (png.size() < 29 || !std::equal(kSignature, kSignature + 8, png.begin()) ||
        std::string(png.begin() + 12, png.begin() + 16) != "IHDR")
        return header;
    auto be32 = [&png](size_t at) {
        return uint32_t{png[at]} << 24 | uint32_t{png[at + 1]} << 16 | uint32_t{png[at + 2]} << 8 | png[at + 3];
    };
    header.width = be32(16);
    header.height = be32(20);
    header.bitDepth = png[24];
    header.colourType = png[25];
    header.interlace = png[28];
    return header;
}

struct Decoded {
    int width = 0;
    int height = 0;
    int channels = 0;
    std::vector<uint8_t> pixels;
};

Decoded Decode(const std::vector<uint8_t>& png) {
    Decoded image;
    std::unique_ptr<stbi_uc, void (*)(void*)> pixels(
        stbi_load_from_memory(png.data(), static_cast<int>(png.size()), &image.width, &image.height, &image.channels,
                              0),
        stbi_image_free);
    if (pixels)
        image.pixels.assign(pixels.get(),
                            pixels.get() + static_cast<size_t>(image.width) * image.height * image.channels);
    return image;
}

// A frame that reports no images at all.
class ImagelessFrame : public CameraFrame {
public:
    Timestamp timestamp() const override { return {}; }
    Slice<ImageDesc> imageDescs() const override { return {}; }
    bool GetDepth(glm::dvec2, float*) const override { return false; }
    bool DeprojectPixelToPoint(glm::dvec2, float, glm::vec3*) const override { return false; }
    bool ProjectPointToPixel(const glm::vec3&, glm::dvec2*, float*) const override { return false; }
};

class Snapshot : public ::testing::Test {
protected:
    test::TempFolder folder;
    std::vector<uint8_t> pixels = Pattern(848, 480);
    // The image's rotation is written down, not applied.
    TrivialCameraFrame frame{ImageDesc{848, 480, 90, pixels.data()}, Timestamp{}};
};

TEST_F(Snapshot, AnInfraredFrameBecomesAnEightBitGreyscalePng) {
    const fs::path file = folder / "frame.png";
    ASSERT_TRUE(SaveCameraFrame(frame, file.string().c_str()));

    const std::vector<uint8_t> png = ReadBytes(file);
    const PngHeader header = ReadPngHeader(png);
    EXPECT_EQ(header.width, 848u);
    EXPECT_EQ(header.height, 480u);
    EXPECT_EQ(header.bitDepth, 8);
    EXPECT_EQ(header.colourType, 0);  // greyscale
    EXPECT_EQ(header.interlace, 0);

    const Decoded image = Decode(png);
    EXPECT_EQ(image.width, 848);
    EXPECT_EQ(image.height, 480);
    EXPECT_EQ(image.channels, 1);
    EXPECT_TRUE(image.pixels == pixels) << "the decoded pixels differ from the frame's";
}

TEST_F(Snapshot, AnExistingFileIsReplacedWhole) {
    const fs::path fresh = folder / "fresh.png";
    ASSERT_TRUE(SaveCameraFrame(frame, fresh.string().c_str()));

    const fs::path file = folder / "old.png";
    std::ofstream(file, std::ios::binary) << std::string(2'000'000, 'x');  // longer than the new image
    ASSERT_TRUE(SaveCameraFrame(frame, file.string().c_str()));
    EXPECT_EQ(ReadBytes(file), ReadBytes(fresh));
    EXPECT_TRUE(Decode(ReadBytes(file)).pixels == pixels);
}

TEST_F(Snapshot, AMissingFolderGivesFalse) {
    const fs::path file = folder / "missing" / "frame.png";
    EXPECT_FALSE(SaveCameraFrame(frame, file.string().c_str()));
    EXPECT_FALSE(fs::exists(folder / "missing"));
}

TEST_F(Snapshot, AFrameWithoutPixelsWritesNoFile) {
    const fs::path file = folder / "frame.png";
    EXPECT_FALSE(SaveCameraFrame(ImagelessFrame{}, file.string().c_str()));
    EXPECT_FALSE(
        SaveCameraFrame(TrivialCameraFrame{ImageDesc{848, 480, 0, nullptr}, Timestamp{}}, file.string().c_str()));
    EXPECT_FALSE(
        SaveCameraFrame(TrivialCameraFrame{ImageDesc{0, 480, 0, pixels.data()}, Timestamp{}}, file.string().c_str()));
    EXPECT_FALSE(
        SaveCameraFrame(TrivialCameraFrame{ImageDesc{848, -1, 0, pixels.data()}, Timestamp{}}, file.string().c_str()));
    // Sizes the encoder cannot count are refused before a pixel is read.
    EXPECT_FALSE(SaveCameraFrame(TrivialCameraFrame{ImageDesc{1 << 16, 1 << 16, 0, pixels.data()}, Timestamp{}},
                                 file.string().c_str()));
    EXPECT_FALSE(SaveCameraFrame(frame, nullptr));
    EXPECT_TRUE(fs::is_empty(folder.path()));
}

TEST_F(Snapshot, AFailedWriteIsNotReportedAsSuccess) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full to run out of space on";
    EXPECT_FALSE(SaveCameraFrame(frame, "/dev/full"));
}

TEST(SnapshotRows, RowsAreWrittenTopToBottomAtTheImageWidth) {
    test::TempFolder folder;
    const std::vector<uint8_t> pixels{0, 1, 2, 10, 11, 12};  // two rows of three
    const fs::path file = folder / "small.png";
    ASSERT_TRUE(
        SaveCameraFrame(TrivialCameraFrame{ImageDesc{3, 2, 0, pixels.data()}, Timestamp{}}, file.string().c_str()));
    const Decoded image = Decode(ReadBytes(file));
    EXPECT_EQ(image.width, 3);
    EXPECT_EQ(image.height, 2);
    EXPECT_EQ(image.pixels, pixels);
}

}  // namespace
