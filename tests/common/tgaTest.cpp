#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <stb_image_write.h>

#include "common/tga.h"

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using Bytes = std::vector<std::uint8_t>;

namespace {

enum : std::uint8_t { kUncompressed = 2, kCompressed = 10 };

Bytes Header(std::uint8_t type, std::uint16_t width, std::uint16_t height, std::uint8_t bitsPerPixel) {
    Bytes h(18, 0);
    h[2] = type;
    h[12] = width & 0xff;
    h[13] = width >> 8;
    h[14] = height & 0xff;
    h[15] = height >> 8;
    h[16] = bitsPerPixel;
    return h;
}

Bytes Concat(Bytes a, std::initializer_list<std::uint8_t> b) {
    a.insert(a.end(), b);
    return a;
}

// A folder of this process's own, so that runs side by side never share a
// file; removed at exit.
std::string ScratchDir() {
    struct Folder {
        std::filesystem::path path;
        ~Folder() {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    };
    static const Folder folder{[] {
        auto path = std::filesystem::temp_directory_path() / ("quiloTgaTest-" + std::to_string(std::random_device{}()));
        std::filesystem::create_directories(path);
        return path;
    }()};
    return folder.path.string() + "/";
}

std::string WriteFile(const std::string& name, const Bytes& bytes) {
    const std::string path = ScratchDir() + name;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return path;
}

// The image as stb encodes it (run-length encoded unless
// stbi_write_tga_with_rle is 0).
Bytes EncodeWithStb(int w, int h, int comp, const void* data) {
    Bytes encoded;
    stbi_write_tga_to_func(
        [](void* context, void* bytes, int size) {
            auto* out = static_cast<Bytes*>(context);
            out->insert(out->end(), static_cast<std::uint8_t*>(bytes), static_cast<std::uint8_t*>(bytes) + size);
        },
        &encoded, w, h, comp, data);
    return encoded;
}

// Loads through the bounded overload from a heap block of exactly the given
// length, so that AddressSanitizer catches any read past it.
quilo::Tga FromMemory(const Bytes& bytes, bool keepRowOrder = true, bool* complete = nullptr) {
    quilo::Tga image;
    const bool ok = image.ReadFromData(bytes.data(), bytes.size(), keepRowOrder);
    if (complete) *complete = ok;
    return image;
}

// A 2 x 1 32-bit image with distinct bytes, to see what an edit or a load did
// not touch.
quilo::Tga SmallImage() { return FromMemory(Concat(Header(kUncompressed, 2, 1, 32), {1, 2, 3, 4, 5, 6, 7, 8})); }

void ExpectUnchanged(const quilo::Tga& image, const quilo::Tga& before) {
    EXPECT_EQ(image.pixels, before.pixels);
    EXPECT_EQ(image.width, before.width);
    EXPECT_EQ(image.height, before.height);
    EXPECT_EQ(image.size, before.size);
    EXPECT_EQ(image.bitsPerPixel, before.bitsPerPixel);
    EXPECT_EQ(image.compressed, before.compressed);
}

void ExpectEmpty(const quilo::Tga& image) { ExpectUnchanged(image, quilo::Tga()); }

}  // namespace

TEST(TgaFile, MissingOrUnreadableFilesThrowFileNotFound) {
    for (const std::string& path : {ScratchDir() + "missing.tga", ScratchDir()}) {
        try {
            quilo::Tga image(path.c_str());
            FAIL() << path;
        } catch (const std::invalid_argument& e) {
            EXPECT_STREQ(e.what(), "File Not Found.") << path;
        }
    }
    EXPECT_THROW(quilo::Tga image(nullptr), std::invalid_argument);
}

TEST(TgaFile, UncompressedImageKeepsStoredBytesAndPadsRowsToWords) {
    const Bytes file = Concat(Header(kUncompressed, 3, 1, 24), {1, 2, 3, 4, 5, 6, 7, 8, 9});
    const std::string path = WriteFile("uncompressed.tga", file);
    const quilo::Tga image(path.c_str());
    EXPECT_EQ(image.filePath, path);
    EXPECT_FALSE(image.compressed);
    EXPECT_EQ(image.width, 3u);
    EXPECT_EQ(image.height, 1u);
    EXPECT_EQ(image.bitsPerPixel, 24u);
    EXPECT_EQ(image.size, 12u);  // 9 bytes rounded up to 12
    EXPECT_THAT(image.pixels, ElementsAre(1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0));
}

TEST(TgaFile, UnsupportedDepthGivesHeaderFieldsAndZeroPixels) {
    const quilo::Tga image(WriteFile("depth16.tga", Concat(Header(kUncompressed, 3, 2, 16), {9, 9, 9, 9})).c_str());
    EXPECT_EQ(image.width, 3u);
    EXPECT_EQ(image.height, 2u);
    EXPECT_EQ(image.bitsPerPixel, 16u);
    EXPECT_EQ(image.size, 16u);  // 6 bytes a row, rounded up to 8
    EXPECT_EQ(image.pixels, Bytes(16, 0));

    // Run-length encoded: four zero bytes per pixel.
    const quilo::Tga rle(WriteFile("rle8.tga", Concat(Header(kCompressed, 3, 2, 8), {0x85, 7})).c_str());
    EXPECT_TRUE(rle.compressed);
    EXPECT_EQ(rle.pixels, Bytes(24, 0));
}

TEST(TgaFile, OtherHeadersLeaveTheImageEmpty) {
    Bytes withId = Concat(Header(kUncompressed, 1, 1, 24), {0, 1, 2, 3});
    withId[0] = 1;
    Bytes withOrigin = Concat(Header(kUncompressed, 1, 1, 24), {1, 2, 3});
    withOrigin[8] = 1;
    const Bytes colourMapped = Concat(Header(1, 1, 1, 24), {1, 2, 3});
    const Bytes shortFile = {0, 0, 2, 0, 0, 0, 0, 0};
    // Too large to allocate: 65535 x 65535 pixels of 4 bytes.
    const Bytes huge = Concat(Header(kUncompressed, 65535, 65535, 32), {1, 2, 3, 4});
    // Run-length encoded, 24 bits: 983 MB of rows, but 1.3 GB of buffer.
    const Bytes hugeRle = Concat(Header(kCompressed, 65535, 5000, 24), {0xff, 1, 2, 3});
    int n = 0;
    for (const Bytes& file : {withId, withOrigin, colourMapped, shortFile, huge, hugeRle, Bytes{}}) {
        const std::string path = WriteFile("other" + std::to_string(n++) + ".tga", file);
        const quilo::Tga image(path.c_str());
        SCOPED_TRACE(n);
        ExpectEmpty(image);
        EXPECT_EQ(image.filePath, path);
    }
}

TEST(TgaFile, TruncatedPixelDataReadsAsZero) {
    const quilo::Tga image(WriteFile("truncated.tga", Concat(Header(kUncompressed, 2, 2, 24), {1, 2, 3, 4})).c_str());
    EXPECT_EQ(image.size, 16u);
    EXPECT_THAT(image.pixels, ElementsAre(1, 2, 3, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0));
}

TEST(TgaFile, RunLengthPacketsDecodeToRedGreenBlue) {
    // Run packet 130: three copies of (b, g, r) = (1, 2, 3); raw packet 2:
    // three pixels stored in full.
    const Bytes file = Concat(Header(kCompressed, 3, 2, 24), {130, 1, 2, 3, 2, 10, 11, 12, 20, 21, 22, 30, 31, 32});
    const quilo::Tga image(WriteFile("rle24.tga", file).c_str());
    EXPECT_TRUE(image.compressed);
    EXPECT_EQ(image.size, 24u);
    // 24 bits fill the first three quarters of width * height * 4 bytes.
    EXPECT_THAT(image.pixels,
                ElementsAre(3, 2, 1, 3, 2, 1, 3, 2, 1, 12, 11, 10, 22, 21, 20, 32, 31, 30, 0, 0, 0, 0, 0, 0));
}

TEST(TgaFile, PacketRunningPastTheImageIsCut) {
    // A run of 128 pixels and a raw packet of 4 for a 2 x 1 image.
    const Bytes run = Concat(Header(kCompressed, 2, 1, 24), {255, 1, 2, 3});
    const quilo::Tga fromRun(WriteFile("overrun.tga", run).c_str());
    EXPECT_THAT(fromRun.pixels, ElementsAre(3, 2, 1, 3, 2, 1, 0, 0));
    // The stream also ends inside the packet, after the pixels the image needs.
    const Bytes raw = Concat(Header(kCompressed, 2, 1, 24), {3, 1, 2, 3, 4, 5, 6});
    const quilo::Tga fromRaw(WriteFile("overraw.tga", raw).c_str());
    EXPECT_THAT(fromRaw.pixels, ElementsAre(3, 2, 1, 6, 5, 4, 0, 0));
}

TEST(TgaMemory, RowsAreReversedUnlessKeptAndPaddingStaysZero) {
    const Bytes data = Concat(Header(kUncompressed, 3, 2, 24), {1, 1, 1, 2, 2, 2, 3,    3,    3,    4,    4,    4,
                                                                5, 5, 5, 6, 6, 6, 0xee, 0xee, 0xee, 0xee, 0xee, 0xee});
    bool complete = false;
    const quilo::Tga flipped = FromMemory(data, false, &complete);
    EXPECT_TRUE(complete);
    EXPECT_FALSE(flipped.compressed);
    EXPECT_EQ(flipped.size, 24u);
    EXPECT_THAT(flipped.pixels, ElementsAre(4, 4, 4, 5, 5, 5, 6, 6, 6, 1, 1, 1, 2, 2, 2, 3, 3, 3, 0, 0, 0, 0, 0, 0));

    // Kept order copies `size` bytes as stored.
    const quilo::Tga kept = FromMemory(data, true);
    EXPECT_EQ(kept.pixels, Bytes(data.begin() + 18, data.end()));

    // The pointer-only form reads the same.
    quilo::Tga unbounded;
    unbounded.ReadFromData(data.data(), false);
    EXPECT_EQ(unbounded.pixels, flipped.pixels);
}

TEST(TgaMemory, RunLengthImagesIgnoreRowOrder) {
    const Bytes data = Concat(Header(kCompressed, 1, 2, 24), {0, 1, 2, 3, 128, 4, 5, 6});
    bool complete = false;
    const quilo::Tga image = FromMemory(data, false, &complete);
    EXPECT_TRUE(complete);
    EXPECT_TRUE(image.compressed);
    EXPECT_THAT(image.pixels, ElementsAre(3, 2, 1, 6, 5, 4, 0, 0));
}

TEST(TgaMemory, ZeroSizedImagesLoadEmpty) {
    for (const Bytes& data : {Concat(Header(kUncompressed, 24, 0, 24), {1, 2, 3}), Header(kUncompressed, 0, 2, 32),
                              Concat(Header(kCompressed, 0, 5, 24), {130, 1, 2, 3})}) {
        for (bool keepRowOrder : {true, false}) {
            quilo::Tga image = SmallImage();
            EXPECT_TRUE(image.ReadFromData(data.data(), data.size(), keepRowOrder));
            EXPECT_TRUE(image.pixels.empty());
            EXPECT_EQ(image.size, 0u);
        }
    }
}

TEST(TgaMemory, UnreadableHeaderChangesNothing) {
    Bytes withId = Concat(Header(kUncompressed, 1, 1, 24), {0, 1, 2, 3});
    withId[0] = 1;
    const Bytes huge = Concat(Header(kCompressed, 40000, 40000, 32), {0xff, 1, 2, 3, 4});
    for (const Bytes& data : {withId, huge, Bytes(17, 0), Bytes{}}) {
        quilo::Tga image = SmallImage();
        const quilo::Tga before = image;
        EXPECT_FALSE(image.ReadFromData(data.data(), data.size(), true));
        ExpectUnchanged(image, before);
    }
    quilo::Tga image = SmallImage();
    EXPECT_FALSE(image.ReadFromData(nullptr, 100, true));
    ExpectUnchanged(image, SmallImage());
}

TEST(TgaMemory, UnsupportedDepthSetsOnlyTheHeaderFields) {
    quilo::Tga image = SmallImage();
    const Bytes data = Concat(Header(kCompressed, 5, 3, 16), {0x80, 1, 2});
    EXPECT_FALSE(image.ReadFromData(data.data(), data.size(), true));
    EXPECT_EQ(image.width, 5u);
    EXPECT_EQ(image.height, 3u);
    EXPECT_EQ(image.bitsPerPixel, 16u);
    EXPECT_EQ(image.size, 36u);
    EXPECT_FALSE(image.compressed);
    EXPECT_EQ(image.pixels, SmallImage().pixels);
}

TEST(TgaMemory, ShortDataIsNeverReadPast) {
    bool complete = true;
    // Uncompressed, both row orders: missing bytes are zero.
    const Bytes flat = Concat(Header(kUncompressed, 2, 2, 24), {1, 2, 3, 4, 5, 6, 7});
    EXPECT_THAT(FromMemory(flat, true, &complete).pixels, ElementsAre(1, 2, 3, 4, 5, 6, 7, 0, 0, 0, 0, 0, 0, 0, 0, 0));
    EXPECT_FALSE(complete);
    complete = true;
    EXPECT_THAT(FromMemory(flat, false, &complete).pixels, ElementsAre(7, 0, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 0, 0, 0, 0));
    EXPECT_FALSE(complete);

    // Run-length streams ending before a control byte, inside a run pixel and
    // inside a raw packet.
    const Bytes header = Header(kCompressed, 4, 1, 32);
    for (const Bytes& data : {Concat(header, {129, 1, 2, 3, 4}), Concat(header, {129, 1, 2, 3, 4, 130, 9}),
                              Concat(header, {129, 1, 2, 3, 4, 1, 5, 6, 7, 8, 9})}) {
        complete = true;
        const quilo::Tga image = FromMemory(data, true, &complete);
        EXPECT_FALSE(complete);
        EXPECT_EQ(image.pixels.size(), 16u);
        EXPECT_THAT(Bytes(image.pixels.begin(), image.pixels.begin() + 8), ElementsAre(3, 2, 1, 4, 3, 2, 1, 4));
    }
}

TEST(TgaMemory, StbEncodedImagesRoundTrip) {
    // A 150 x 5 image with a flat stretch of 140 pixels a row (run packets,
    // split at 128 pixels) and noise (raw packets).
    for (int comp : {3, 4}) {
        const int w = 150, h = 5;
        Bytes rgb(w * h * comp);
        std::uint32_t seed = 12345;
        for (std::size_t i = 0; i < rgb.size(); ++i) {
            seed = seed * 1664525u + 1013904223u;
            rgb[i] = (i / comp) % w < 140 ? static_cast<std::uint8_t>(i % comp * 40) : seed >> 24;
        }
        for (int rle : {0, 1}) {
            SCOPED_TRACE(comp * 10 + rle);
            stbi_write_tga_with_rle = rle;
            const Bytes encoded = EncodeWithStb(w, h, comp, rgb.data());

            // stb stores rows bottom-up: reversing them (uncompressed) gives
            // the image top-down; run-length images stay bottom-up.
            bool complete = false;
            quilo::Tga image = FromMemory(encoded, false, &complete);
            EXPECT_TRUE(complete);
            EXPECT_EQ(image.compressed, rle == 1);
            EXPECT_EQ(image.bitsPerPixel, 8u * comp);
            if (!rle) image.SwapRedAndBlue();
            for (int y = 0; y < h; ++y) {
                const int row = rle ? h - 1 - y : y;
                const auto begin = rgb.begin() + y * w * comp;
                EXPECT_THAT(Bytes(image.pixels.begin() + row * w * comp, image.pixels.begin() + (row + 1) * w * comp),
                            ElementsAreArray(begin, begin + w * comp));
            }
            // The file loader decodes what the memory loader does in kept order.
            const quilo::Tga fromFile(WriteFile("stb.tga", encoded).c_str());
            EXPECT_EQ(fromFile.pixels, FromMemory(encoded, true).pixels);
        }
    }
    stbi_write_tga_with_rle = 1;
}

TEST(TgaEdit, RemoveColorSetsAlphaOnThirtyTwoBitImagesOnly) {
    quilo::Tga image = FromMemory(Concat(Header(kUncompressed, 3, 1, 32), {1, 2, 3, 77, 1, 2, 4, 0, 3, 2, 1, 9}));
    image.RemoveColor(3, 2, 1);  // red 3, green 2, blue 1: stored as (1, 2, 3)
    EXPECT_THAT(image.pixels, ElementsAre(1, 2, 3, 0, 1, 2, 4, 255, 3, 2, 1, 255));

    quilo::Tga rgb = FromMemory(Concat(Header(kUncompressed, 4, 1, 24), {1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3}));
    const quilo::Tga before = rgb;
    rgb.RemoveColor(3, 2, 1);
    ExpectUnchanged(rgb, before);
}

TEST(TgaEdit, ResizeTakesTheNearestSourcePixel) {
    Bytes data = Header(kUncompressed, 4, 4, 24);
    for (std::uint8_t row = 0; row < 4; ++row)
        for (std::uint8_t column = 0; column < 4; ++column) data.insert(data.end(), {row, column, 7});
    quilo::Tga image = FromMemory(data);
    image.Resize(2, 2);
    EXPECT_EQ(image.width, 2u);
    EXPECT_EQ(image.height, 2u);
    EXPECT_EQ(image.size, 12u);
    EXPECT_THAT(image.pixels, ElementsAre(0, 0, 7, 0, 2, 7, 2, 0, 7, 2, 2, 7));

    // Enlarging a 32-bit image repeats pixels and keeps alpha; the new size is
    // exact, not rounded.
    quilo::Tga wide = SmallImage();
    wide.Resize(3, 2);
    EXPECT_EQ(wide.size, 24u);
    EXPECT_THAT(wide.pixels, ElementsAre(1, 2, 3, 4, 1, 2, 3, 4, 5, 6, 7, 8, 1, 2, 3, 4, 1, 2, 3, 4, 5, 6, 7, 8));
}

TEST(TgaEdit, ResizeLeavesImagesItCannotResizeUnharmed) {
    auto expectUnchanged = [](quilo::Tga image, int w, int h) {
        const quilo::Tga before = image;
        image.Resize(w, h);
        ExpectUnchanged(image, before);
    };
    for (auto [w, h] : {std::pair{-1, 2}, {2, -5}, {-1, 0}, {40000, 40000}, {65536 * 4, 65536}}) {
        SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
        expectUnchanged(SmallImage(), w, h);
    }
    // Depth 16, an empty image, and pixels too few for the claimed size.
    quilo::Tga depth16 = FromMemory(Concat(Header(kUncompressed, 3, 2, 16), {}));
    depth16.pixels.assign(depth16.size, 5);
    expectUnchanged(depth16, 2, 2);
    expectUnchanged(quilo::Tga(), 2, 2);
    quilo::Tga shortPixels = SmallImage();
    shortPixels.height = 2;
    expectUnchanged(shortPixels, 2, 2);
}

TEST(TgaEdit, ResizeToAZeroSideGivesAnEmptyImage) {
    for (auto [w, h] : {std::pair{0, 2}, {2, 0}, {0, 0}}) {
        SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
        quilo::Tga image = SmallImage();
        image.Resize(w, h);
        EXPECT_EQ(image.width, static_cast<std::uint32_t>(w));
        EXPECT_EQ(image.height, static_cast<std::uint32_t>(h));
        EXPECT_EQ(image.size, 0u);
        EXPECT_TRUE(image.pixels.empty());
        EXPECT_EQ(image.bitsPerPixel, 32u);
    }
}

TEST(TgaEdit, SwapRedAndBlueExchangesBytesOfCompletePixels) {
    // 3 x 1 at 24 bits: 12 bytes are four complete 3-byte pixels, padding
    // included.
    quilo::Tga rgb = FromMemory(Concat(Header(kUncompressed, 3, 1, 24), {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
    rgb.SwapRedAndBlue();
    EXPECT_THAT(rgb.pixels, ElementsAre(3, 2, 1, 6, 5, 4, 9, 8, 7, 12, 11, 10));

    quilo::Tga rgba = SmallImage();
    rgba.pixels.push_back(99);  // a trailing partial pixel stays
    rgba.SwapRedAndBlue();
    EXPECT_THAT(rgba.pixels, ElementsAre(3, 2, 1, 4, 7, 6, 5, 8, 99));

    quilo::Tga other = SmallImage();
    other.bitsPerPixel = 16;
    other.SwapRedAndBlue();
    EXPECT_EQ(other.pixels, SmallImage().pixels);
}
