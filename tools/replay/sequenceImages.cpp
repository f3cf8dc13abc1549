#include "tools/replay/sequenceImages.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>

#include <fmt/format.h>
#include <fmt/std.h>
#include <stb_image.h>
#include <stb_image_write.h>

// Exported by Debian's libstb, declared by the header in its implementation
// part only: the deflate compressor of the PNG writer, for 16-bit PNGs,
// which stbi_write_png does not write. The result is freed with free().
extern "C" unsigned char* stbi_zlib_compress(unsigned char* data, int data_len, int* out_len, int quality);

#include "tools/replay/sequenceFiles.h"

namespace quilo::replay {

namespace {

using detail::CheckRegularFile;
using detail::Fail;

// Enough of an image's start for its header: PNG's size is in its first 33
// bytes, a PGM header with comments rarely needs more than a few lines.
constexpr uintmax_t kHeaderBytes = 4096;

// Up to `limit` bytes from the start of the image file `path`, and its size.
std::vector<uint8_t> ReadImageBytes(const std::filesystem::path& path, uintmax_t limit, uintmax_t* fileSize = nullptr) {
    CheckRegularFile(path, "no such image");
    std::error_code error;
    const uintmax_t size = std::filesystem::file_size(path, error);
    if (error) Fail(path, fmt::format("cannot be examined ({})", error.message()));
    if (fileSize != nullptr) *fileSize = size;
    std::ifstream in(path, std::ios::binary);
    if (!in) Fail(path, "cannot be opened");
    std::vector<uint8_t> bytes(static_cast<size_t>(std::min(size, limit)));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (in.gcount() != static_cast<std::streamsize>(bytes.size())) Fail(path, "cannot be read");
    return bytes;
}

enum class ImageKind { Png, Pnm };

// What an image's header declares.
struct ImageHeader {
    ImageKind kind = ImageKind::Png;
    int32_t width = 0;
    int32_t height = 0;
};

// The 4 bytes at `at`, most significant first, as PNG stores numbers.
uint32_t ReadBigEndian(const std::vector<uint8_t>& bytes, size_t at) {
    return uint32_t{bytes[at]} << 24 | uint32_t{bytes[at + 1]} << 16 | uint32_t{bytes[at + 2]} << 8 |
           uint32_t{bytes[at + 3]};
}

constexpr uint8_t kPngSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

// The header of a binary PGM (P5) or PPM (P6) image: the magic number, the
// width, the height and the maximum value, separated by white space and
// comments, then one white space character and the pixels. Throws when a
// field is missing or out of range, or when `fileSize` is too small for the
// pixels the header declares.
ImageHeader ParsePnmHeader(const std::filesystem::path& path, const std::vector<uint8_t>& bytes, uintmax_t fileSize) {
    size_t at = 2;
    const auto isSpace = [](uint8_t c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
    };
    const auto number = [&](const char* what) -> uint32_t {
        const size_t before = at;
        while (at < bytes.size()) {
            if (isSpace(bytes[at])) {
                ++at;
            } else if (bytes[at] == '#') {
                while (at < bytes.size() && bytes[at] != '\n' && bytes[at] != '\r') ++at;
            } else {
                break;
            }
        }
        if (at == before) Fail(path, fmt::format("damaged PGM header (no space before the {})", what));
        uint32_t value = 0;
        const size_t digits = at;
        while (at < bytes.size() && bytes[at] >= '0' && bytes[at] <= '9') {
            value = value * 10 + (bytes[at] - '0');
            if (value > 1u << 24) Fail(path, fmt::format("damaged PGM header (the {} is too large)", what));
            ++at;
        }
        if (at == digits) Fail(path, fmt::format("damaged PGM header (no {})", what));
        return value;
    };
    const uint32_t width = number("width");
    const uint32_t height = number("height");
    const uint32_t maximum = number("maximum value");
    if (at >= bytes.size() || !isSpace(bytes[at])) {
        Fail(path, "damaged PGM header (no space after the maximum value)");
    }
    ++at;
    if (width == 0 || height == 0) Fail(path, "the PGM header declares no pixels");
    if (maximum == 0 || maximum > 65535) {
        Fail(path, fmt::format("the PGM header's maximum value {} is not from 1 to 65535", maximum));
    }
    const uintmax_t channels = bytes[1] == '6' ? 3 : 1;
    const uintmax_t pixelBytes = uintmax_t{width} * height * channels * (maximum > 255 ? 2 : 1);
    if (fileSize - at < pixelBytes) {
        Fail(path, fmt::format("truncated: the header declares {} x {} pixels, {} bytes, the file "
                               "holds {}",
                               width, height, pixelBytes, fileSize - at));
    }
    return {ImageKind::Pnm, static_cast<int32_t>(width), static_cast<int32_t>(height)};
}

// The header of a PNG or binary PGM image, without decoding its pixels.
// `bytes` holds the start of the file, or all of it, and `fileSize` its size.
ImageHeader ParseImageHeader(const std::filesystem::path& path, const std::vector<uint8_t>& bytes, uintmax_t fileSize) {
    if (bytes.size() >= 2 && bytes[0] == 'P' && (bytes[1] == '5' || bytes[1] == '6')) {
        return ParsePnmHeader(path, bytes, fileSize);
    }
    if (bytes.size() < sizeof kPngSignature ||
        !std::equal(std::begin(kPngSignature), std::end(kPngSignature), bytes.begin())) {
        Fail(path, "not a readable PNG or PGM image (neither signature)");
    }
    // The size opens the first chunk, IHDR: width and height, 4 bytes each,
    // most significant first.
    if (bytes.size() < 24 || std::memcmp(&bytes[12], "IHDR", 4) != 0) {
        Fail(path, "not a readable PNG or PGM image (damaged PNG header: no IHDR chunk)");
    }
    const uint32_t width = ReadBigEndian(bytes, 16), height = ReadBigEndian(bytes, 20);
    if (width == 0 || height == 0 || width > 1u << 24 || height > 1u << 24) {
        Fail(path, fmt::format("not a readable PNG or PGM image (damaged PNG header: {} x {} "
                               "pixels)",
                               width, height));
    }
    return {ImageKind::Png, static_cast<int32_t>(width), static_cast<int32_t>(height)};
}

// Throws unless the image declares the size of the sequence's intrinsics.
void CheckSize(const std::filesystem::path& path, const ImageHeader& header, const Sequence& sequence) {
    if (header.width != sequence.intrinsics.width || header.height != sequence.intrinsics.height) {
        Fail(path, fmt::format("the image is {} x {} pixels, the sequence's intrinsics say {} x {}", header.width,
                               header.height, sequence.intrinsics.width, sequence.intrinsics.height));
    }
}

// Throws unless the PNG whose start is `bytes` holds 16-bit grey pixels:
// IHDR's bit depth (byte 24) 16 and colour type (byte 25) 0.
void CheckDepthKind(const std::filesystem::path& path, const ImageHeader& header, const std::vector<uint8_t>& bytes) {
    if (header.kind != ImageKind::Png || bytes.size() < 26 || bytes[24] != 16 || bytes[25] != 0) {
        Fail(path, "not a 16-bit grey PNG depth image");
    }
}

// Whether the PNG file `bytes` is whole: its chunks follow each other to
// the closing IEND chunk. The decoder does not notice a file that ends
// inside its pixel data.
bool PngIsWhole(const std::vector<uint8_t>& bytes) {
    size_t at = sizeof kPngSignature;
    while (bytes.size() - at >= 12) {
        const uint32_t length = ReadBigEndian(bytes, at);
        if (std::memcmp(&bytes[at + 4], "IEND", 4) == 0) return true;
        if (length > bytes.size() - at - 12) return false;
        at += 12 + size_t{length};
    }
    return false;
}

// Decodes the whole image file `bytes`, whose header is `header`, as grey.
GreyImage Decode(const std::filesystem::path& path, const std::vector<uint8_t>& bytes, const ImageHeader& header,
                 ColourToGrey conversion) {
    if (header.kind == ImageKind::Png && !PngIsWhole(bytes)) {
        Fail(path, "not a readable PNG or PGM image (truncated PNG: no end chunk)");
    }
    if (bytes.size() > static_cast<size_t>(std::numeric_limits<int>::max())) {
        Fail(path, "not a readable PNG or PGM image (too large a file)");
    }
    const int wanted = conversion == ColourToGrey::ChannelMean ? 3 : 1;
    int width = 0, height = 0, channels = 0;
    std::unique_ptr<stbi_uc, void (*)(void*)> pixels(
        stbi_load_from_memory(bytes.data(), static_cast<int>(bytes.size()), &width, &height, &channels, wanted),
        stbi_image_free);
    if (!pixels) {
        const char* reason = stbi_failure_reason();
        Fail(path,
             fmt::format("not a readable PNG or PGM image ({})", reason != nullptr ? reason : "damaged image data"));
    }
    if (width != header.width || height != header.height) {
        Fail(path, "not a readable PNG or PGM image (decoded size differs from the header's)");
    }
    GreyImage image;
    image.width = width;
    image.height = height;
    const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
    if (wanted == 1) {
        image.pixels.assign(pixels.get(), pixels.get() + count);
    } else {
        image.pixels.resize(count);
        for (size_t i = 0; i < count; ++i) {
            const stbi_uc* p = pixels.get() + 3 * i;
            image.pixels[i] = static_cast<uint8_t>((p[0] + p[1] + p[2]) / 3);
        }
    }
    return image;
}

}  // namespace

GreyImage ReadGreyImage(const std::filesystem::path& path, ColourToGrey conversion) {
    const std::vector<uint8_t> bytes = ReadImageBytes(path, std::numeric_limits<uintmax_t>::max());
    const ImageHeader header = ParseImageHeader(path, bytes, bytes.size());
    return Decode(path, bytes, header, conversion);
}

std::filesystem::path FrameImagePath(const std::filesystem::path& folder, const SequenceFrame& frame) {
    const std::filesystem::path path = folder / frame.image;
    std::error_code error;
    const std::filesystem::path base = std::filesystem::canonical(folder, error);
    if (error) Fail(folder, fmt::format("cannot be resolved ({})", error.message()));
    // Resolves every symbolic link on the way that exists; a missing rest
    // stays as written and is then found missing.
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(path, error);
    if (error) Fail(path, fmt::format("cannot be resolved ({})", error.message()));
    if (std::mismatch(base.begin(), base.end(), resolved.begin(), resolved.end()).first != base.end()) {
        Fail(path, "leads outside the sequence folder through a symbolic link");
    }
    return path;
}

namespace {

// The frame's depth image, after the same checks as its image.
std::filesystem::path FrameDepthPath(const std::filesystem::path& folder, const SequenceFrame& frame) {
    SequenceFrame depth;
    depth.image = *frame.depth;
    return FrameImagePath(folder, depth);
}

// The CRC of PNG chunks (ISO 3309), over a chunk's type and data.
uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0xffffffffu) {
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return crc;
}

void AppendBigEndian(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

void AppendChunk(std::vector<uint8_t>& out, const char* type, const uint8_t* data, size_t size) {
    AppendBigEndian(out, static_cast<uint32_t>(size));
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data, data + size);
    AppendBigEndian(out, Crc32(&out[start], out.size() - start) ^ 0xffffffffu);
}

}  // namespace

void CheckFrameImage(const std::filesystem::path& folder, const Sequence& sequence, const SequenceFrame& frame) {
    const std::filesystem::path path = FrameImagePath(folder, frame);
    uintmax_t fileSize = 0;
    const std::vector<uint8_t> start = ReadImageBytes(path, kHeaderBytes, &fileSize);
    CheckSize(path, ParseImageHeader(path, start, fileSize), sequence);
    if (frame.depth) {
        const std::filesystem::path depthPath = FrameDepthPath(folder, frame);
        const std::vector<uint8_t> depthStart = ReadImageBytes(depthPath, kHeaderBytes, &fileSize);
        const ImageHeader header = ParseImageHeader(depthPath, depthStart, fileSize);
        CheckDepthKind(depthPath, header, depthStart);
        CheckSize(depthPath, header, sequence);
    }
}

DepthImage ReadFrameDepth(const std::filesystem::path& folder, const Sequence& sequence, const SequenceFrame& frame) {
    const std::filesystem::path path = FrameDepthPath(folder, frame);
    const std::vector<uint8_t> bytes = ReadImageBytes(path, std::numeric_limits<uintmax_t>::max());
    const ImageHeader header = ParseImageHeader(path, bytes, bytes.size());
    CheckDepthKind(path, header, bytes);
    CheckSize(path, header, sequence);
    if (!PngIsWhole(bytes)) Fail(path, "not a readable PNG depth image (truncated PNG: no end chunk)");
    if (bytes.size() > static_cast<size_t>(std::numeric_limits<int>::max())) {
        Fail(path, "not a readable PNG depth image (too large a file)");
    }
    int width = 0, height = 0, channels = 0;
    std::unique_ptr<stbi_us, void (*)(void*)> values(
        stbi_load_16_from_memory(bytes.data(), static_cast<int>(bytes.size()), &width, &height, &channels, 1),
        stbi_image_free);
    if (!values) {
        const char* reason = stbi_failure_reason();
        Fail(path,
             fmt::format("not a readable PNG depth image ({})", reason != nullptr ? reason : "damaged image data"));
    }
    if (width != header.width || height != header.height) {
        Fail(path, "not a readable PNG depth image (decoded size differs from the header's)");
    }
    DepthImage depth;
    depth.width = width;
    depth.height = height;
    depth.values.assign(values.get(), values.get() + static_cast<size_t>(width) * static_cast<size_t>(height));
    return depth;
}

void WriteDepthPng(const std::filesystem::path& path, const DepthImage& depth) {
    if (depth.width <= 0 || depth.height <= 0 ||
        depth.values.size() != static_cast<size_t>(depth.width) * static_cast<size_t>(depth.height)) {
        Fail(path, "the depth image to write has no values or the wrong number of them");
    }
    // Rows of big-endian values, each after filter type 0.
    const size_t width = static_cast<size_t>(depth.width);
    std::vector<uint8_t> rows;
    rows.reserve((2 * width + 1) * static_cast<size_t>(depth.height));
    for (int32_t y = 0; y < depth.height; ++y) {
        rows.push_back(0);
        for (size_t x = 0; x < width; ++x) {
            const uint16_t v = depth.values[static_cast<size_t>(y) * width + x];
            rows.push_back(static_cast<uint8_t>(v >> 8));
            rows.push_back(static_cast<uint8_t>(v & 0xff));
        }
    }
    int compressedSize = 0;
    std::unique_ptr<unsigned char, void (*)(void*)> compressed(
        stbi_zlib_compress(rows.data(), static_cast<int>(rows.size()), &compressedSize, 8), std::free);
    if (!compressed) Fail(path, "the depth PNG could not be compressed");

    std::vector<uint8_t> png(std::begin(kPngSignature), std::end(kPngSignature));
    std::vector<uint8_t> header;
    AppendBigEndian(header, static_cast<uint32_t>(depth.width));
    AppendBigEndian(header, static_cast<uint32_t>(depth.height));
    header.insert(header.end(), {16, 0, 0, 0, 0});  // 16 bits, grey, deflate, no filter set, no interlace
    AppendChunk(png, "IHDR", header.data(), header.size());
    AppendChunk(png, "IDAT", compressed.get(), static_cast<size_t>(compressedSize));
    AppendChunk(png, "IEND", nullptr, 0);

    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) Fail(path, "cannot be created");
    out.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
    out.close();
    if (!out) Fail(path, "the depth PNG could not be written completely");
}

GreyImage ReadFrameImage(const std::filesystem::path& folder, const Sequence& sequence, const SequenceFrame& frame) {
    const std::filesystem::path path = FrameImagePath(folder, frame);
    const std::vector<uint8_t> bytes = ReadImageBytes(path, std::numeric_limits<uintmax_t>::max());
    const ImageHeader header = ParseImageHeader(path, bytes, bytes.size());
    CheckSize(path, header, sequence);
    return Decode(path, bytes, header, ColourToGrey::Luminance);
}

void WriteGreyPng(const std::filesystem::path& path, const GreyImage& image) {
    if (image.width <= 0 || image.height <= 0 ||
        image.pixels.size() != static_cast<size_t>(image.width) * image.height) {
        Fail(path, "the image to write has no pixels or the wrong number of them");
    }
    if (stbi_write_png(path.string().c_str(), image.width, image.height, 1, image.pixels.data(), image.width) == 0) {
        Fail(path, "the PNG could not be written");
    }
}

void WriteRgbPng(const std::filesystem::path& path, int32_t width, int32_t height, const uint8_t* rgb) {
    if (width <= 0 || height <= 0 || rgb == nullptr) Fail(path, "the image to write has no pixels");
    if (stbi_write_png(path.string().c_str(), width, height, 3, rgb, width * 3) == 0) {
        Fail(path, "the PNG could not be written");
    }
}

}  // namespace quilo::replay
