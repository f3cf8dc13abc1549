#include "tools/replay/sequence.h"

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
#include <nlohmann/json.hpp>
#include <stb_image.h>
#include <stb_image_write.h>

// Exported by Debian's libstb, declared by the header in its implementation
// part only: the deflate compressor of the PNG writer, for 16-bit PNGs,
// which stbi_write_png does not write. The result is freed with free().
extern "C" unsigned char* stbi_zlib_compress(unsigned char* data, int data_len, int* out_len, int quality);

#include "headTracking/common/transforms.h"

namespace quilo::replay {

namespace {

using nlohmann::json;

[[noreturn]] void Fail(const std::filesystem::path& file, const std::string& what) {
    throw SequenceError(fmt::format("{}: {}", file.string(), what));
}

// The member `key` of `object`, which must exist and be of the type `T` reads
// as; `where` names the object in messages.
template <typename T>
T Get(const json& object, const char* key, const std::string& where,
      const std::filesystem::path& file) {
    const auto member = object.find(key);
    if (member == object.end()) Fail(file, fmt::format("{} has no \"{}\"", where, key));
    if constexpr (std::is_same_v<T, std::string>) {
        if (!member->is_string()) Fail(file, fmt::format("{}: \"{}\" is not a text", where, key));
    } else if constexpr (std::is_same_v<T, bool>) {
        if (!member->is_boolean()) Fail(file, fmt::format("{}: \"{}\" is not true or false", where, key));
    } else {
        if (!member->is_number()) Fail(file, fmt::format("{}: \"{}\" is not a number", where, key));
    }
    return member->get<T>();
}

glm::dvec3 GetPoint(const json& object, const char* key, const std::string& where,
                    const std::filesystem::path& file) {
    const auto member = object.find(key);
    if (member == object.end()) Fail(file, fmt::format("{} has no \"{}\"", where, key));
    if (!member->is_array() || member->size() != 3 ||
        !std::all_of(member->begin(), member->end(), [](const json& v) { return v.is_number(); })) {
        Fail(file, fmt::format("{}: \"{}\" is not a list of three numbers", where, key));
    }
    const glm::dvec3 point((*member)[0].get<double>(), (*member)[1].get<double>(),
                           (*member)[2].get<double>());
    if (!std::isfinite(point.x) || !std::isfinite(point.y) || !std::isfinite(point.z)) {
        Fail(file, fmt::format("{}: \"{}\" is not finite", where, key));
    }
    return point;
}

// Whether `name` is a plain relative path that stays inside the folder.
bool StaysInside(const std::string& name) {
    const std::filesystem::path path(name);
    if (name.empty() || path.is_absolute() || path.has_root_name()) return false;
    for (const auto& part : path) {
        if (part == "..") return false;
    }
    return true;
}

json ToJson(const glm::dvec3& point) { return json::array({point.x, point.y, point.z}); }

// Throws, with `missing` when there is nothing there, unless `path` is a
// regular file (after symbolic links): reading a FIFO or a device would
// block or never end.
void CheckRegularFile(const std::filesystem::path& path, const char* missing) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (status.type() == std::filesystem::file_type::not_found) Fail(path, missing);
    if (error) Fail(path, fmt::format("cannot be examined ({})", error.message()));
    if (status.type() != std::filesystem::file_type::regular) Fail(path, "not a regular file");
}

// Enough of an image's start for its header: PNG's size is in its first 33
// bytes, a PGM header with comments rarely needs more than a few lines.
constexpr uintmax_t kHeaderBytes = 4096;

// Up to `limit` bytes from the start of the image file `path`, and its size.
std::vector<uint8_t> ReadImageBytes(const std::filesystem::path& path, uintmax_t limit,
                                    uintmax_t* fileSize = nullptr) {
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
ImageHeader ParsePnmHeader(const std::filesystem::path& path, const std::vector<uint8_t>& bytes,
                           uintmax_t fileSize) {
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
ImageHeader ParseImageHeader(const std::filesystem::path& path, const std::vector<uint8_t>& bytes,
                             uintmax_t fileSize) {
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
void CheckSize(const std::filesystem::path& path, const ImageHeader& header,
               const Sequence& sequence) {
    if (header.width != sequence.intrinsics.width || header.height != sequence.intrinsics.height) {
        Fail(path, fmt::format("the image is {} x {} pixels, the sequence's intrinsics say {} x {}",
                               header.width, header.height, sequence.intrinsics.width,
                               sequence.intrinsics.height));
    }
}

// Throws unless the PNG whose start is `bytes` holds 16-bit grey pixels:
// IHDR's bit depth (byte 24) 16 and colour type (byte 25) 0.
void CheckDepthKind(const std::filesystem::path& path, const ImageHeader& header,
                    const std::vector<uint8_t>& bytes) {
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
GreyImage Decode(const std::filesystem::path& path, const std::vector<uint8_t>& bytes,
                 const ImageHeader& header, ColourToGrey conversion) {
    if (header.kind == ImageKind::Png && !PngIsWhole(bytes)) {
        Fail(path, "not a readable PNG or PGM image (truncated PNG: no end chunk)");
    }
    if (bytes.size() > static_cast<size_t>(std::numeric_limits<int>::max())) {
        Fail(path, "not a readable PNG or PGM image (too large a file)");
    }
    const int wanted = conversion == ColourToGrey::ChannelMean ? 3 : 1;
    int width = 0, height = 0, channels = 0;
    std::unique_ptr<stbi_uc, void (*)(void*)> pixels(
        stbi_load_from_memory(bytes.data(), static_cast<int>(bytes.size()), &width, &height,
                              &channels, wanted),
        stbi_image_free);
    if (!pixels) {
        const char* reason = stbi_failure_reason();
        Fail(path, fmt::format("not a readable PNG or PGM image ({})",
                               reason != nullptr ? reason : "damaged image data"));
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

Sequence ReadSequence(const std::filesystem::path& folder) {
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error)) {
        throw SequenceError(fmt::format("{}: no such folder", folder.string()));
    }
    const std::filesystem::path file = folder / kManifestName;
    CheckRegularFile(file, "cannot be opened");
    std::ifstream in(file, std::ios::binary);
    if (!in) Fail(file, "cannot be opened");

    json manifest;
    try {
        manifest = json::parse(in);
    } catch (const json::parse_error& e) {
        Fail(file, fmt::format("not valid JSON ({})", e.what()));
    }
    if (!manifest.is_object()) Fail(file, "not a JSON object");
    if (Get<std::string>(manifest, "format", "the manifest", file) != kFormatName) {
        Fail(file, fmt::format("\"format\" is not \"{}\"", kFormatName));
    }
    const double version = Get<double>(manifest, "version", "the manifest", file);
    if (version != kFormatVersion) {
        Fail(file, fmt::format("version {} is not supported (only {})", version, kFormatVersion));
    }

    Sequence sequence;
    if (manifest.contains("description")) {
        sequence.description = Get<std::string>(manifest, "description", "the manifest", file);
    }

    const auto intrinsics = manifest.find("intrinsics");
    if (intrinsics == manifest.end() || !intrinsics->is_object()) {
        Fail(file, "\"intrinsics\" is missing or not an object");
    }
    CameraIntrinsics& camera = sequence.intrinsics;
    const std::string where = "\"intrinsics\"";
    const double width = Get<double>(*intrinsics, "width", where, file);
    const double height = Get<double>(*intrinsics, "height", where, file);
    if (!(width >= 1 && width <= 1 << 16 && height >= 1 && height <= 1 << 16) ||
        width != std::floor(width) || height != std::floor(height)) {
        Fail(file, "the intrinsics' width and height must be whole numbers from 1 to 65536");
    }
    camera.width = static_cast<int32_t>(width);
    camera.height = static_cast<int32_t>(height);
    camera.fx = Get<float>(*intrinsics, "fx", where, file);
    camera.fy = Get<float>(*intrinsics, "fy", where, file);
    camera.ppx = Get<float>(*intrinsics, "ppx", where, file);
    camera.ppy = Get<float>(*intrinsics, "ppy", where, file);
    if (!(camera.fx > 0.0f && camera.fy > 0.0f && std::isfinite(camera.fx) &&
          std::isfinite(camera.fy) && std::isfinite(camera.ppx) && std::isfinite(camera.ppy))) {
        Fail(file, "the intrinsics' focal lengths must be positive and every value finite");
    }
    if (intrinsics->contains("isMirrored")) {
        camera.isMirrored = Get<bool>(*intrinsics, "isMirrored", where, file);
    }
    if (manifest.contains("depthUnit")) {
        sequence.depthUnit = Get<double>(manifest, "depthUnit", "the manifest", file);
        if (!(sequence.depthUnit > 0.0) || !std::isfinite(sequence.depthUnit)) {
            Fail(file, "\"depthUnit\" must be a positive finite number of metres");
        }
    }

    const auto frames = manifest.find("frames");
    if (frames == manifest.end() || !frames->is_array()) {
        Fail(file, "\"frames\" is missing or not a list");
    }
    if (frames->empty()) Fail(file, "the sequence has no frames");
    sequence.frames.reserve(frames->size());
    for (size_t i = 0; i < frames->size(); ++i) {
        const json& entry = (*frames)[i];
        const std::string name = fmt::format("frame {}", i);
        if (!entry.is_object()) Fail(file, fmt::format("{} is not an object", name));
        SequenceFrame frame;
        frame.image = Get<std::string>(entry, "image", name, file);
        if (!StaysInside(frame.image)) {
            Fail(file, fmt::format("{}: image \"{}\" is not a file inside the folder", name,
                                   frame.image));
        }
        if (entry.contains("depth")) {
            frame.depth = Get<std::string>(entry, "depth", name, file);
            if (!StaysInside(*frame.depth)) {
                Fail(file, fmt::format("{}: depth image \"{}\" is not a file inside the folder", name,
                                       *frame.depth));
            }
        }
        frame.timestampMs = Get<double>(entry, "timestamp", name, file);
        if (!std::isfinite(frame.timestampMs)) {
            Fail(file, fmt::format("{}: the timestamp is not finite", name));
        }
        if (!sequence.frames.empty() && !(frame.timestampMs > sequence.frames.back().timestampMs)) {
            Fail(file, fmt::format("{}: timestamp {} ms does not come after {} ms", name,
                                   frame.timestampMs, sequence.frames.back().timestampMs));
        }
        if (const auto truth = entry.find("truth"); truth != entry.end()) {
            if (!truth->is_object()) Fail(file, fmt::format("{}: \"truth\" is not an object", name));
            const std::string truthName = name + " truth";
            frame.truth = EyeTruth{GetPoint(*truth, "rightEye", truthName, file),
                                   GetPoint(*truth, "leftEye", truthName, file)};
        }
        sequence.frames.push_back(std::move(frame));
    }
    return sequence;
}

void WriteSequence(const std::filesystem::path& folder, const Sequence& sequence) {
    json frames = json::array();
    for (const SequenceFrame& frame : sequence.frames) {
        json entry = {{"image", frame.image}, {"timestamp", frame.timestampMs}};
        if (frame.depth) entry["depth"] = *frame.depth;
        if (frame.truth) {
            entry["truth"] = {{"rightEye", ToJson(frame.truth->rightEye)},
                              {"leftEye", ToJson(frame.truth->leftEye)}};
        }
        frames.push_back(std::move(entry));
    }
    const CameraIntrinsics& camera = sequence.intrinsics;
    json manifest = {
        {"format", kFormatName},
        {"version", kFormatVersion},
        {"description", sequence.description},
        {"intrinsics",
         {{"width", camera.width},
          {"height", camera.height},
          {"fx", camera.fx},
          {"fy", camera.fy},
          {"ppx", camera.ppx},
          {"ppy", camera.ppy},
          {"isMirrored", camera.isMirrored}}},
        {"depthUnit", sequence.depthUnit},
        {"frames", std::move(frames)},
    };

    const std::filesystem::path file = folder / kManifestName;
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    if (!out) Fail(file, "cannot be created");
    out << manifest.dump(1) << '\n';
    out.close();
    if (!out) Fail(file, "could not be written completely");
}

GreyImage ReadGreyImage(const std::filesystem::path& path, ColourToGrey conversion) {
    const std::vector<uint8_t> bytes = ReadImageBytes(path, std::numeric_limits<uintmax_t>::max());
    const ImageHeader header = ParseImageHeader(path, bytes, bytes.size());
    return Decode(path, bytes, header, conversion);
}

std::filesystem::path FrameImagePath(const std::filesystem::path& folder,
                                     const SequenceFrame& frame) {
    const std::filesystem::path path = folder / frame.image;
    std::error_code error;
    const std::filesystem::path base = std::filesystem::canonical(folder, error);
    if (error) Fail(folder, fmt::format("cannot be resolved ({})", error.message()));
    // Resolves every symbolic link on the way that exists; a missing rest
    // stays as written and is then found missing.
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(path, error);
    if (error) Fail(path, fmt::format("cannot be resolved ({})", error.message()));
    if (std::mismatch(base.begin(), base.end(), resolved.begin(), resolved.end()).first !=
        base.end()) {
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

void CheckFrameImage(const std::filesystem::path& folder, const Sequence& sequence,
                     const SequenceFrame& frame) {
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

DepthImage ReadFrameDepth(const std::filesystem::path& folder, const Sequence& sequence,
                          const SequenceFrame& frame) {
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
        Fail(path, fmt::format("not a readable PNG depth image ({})",
                               reason != nullptr ? reason : "damaged image data"));
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

GreyImage ReadFrameImage(const std::filesystem::path& folder, const Sequence& sequence,
                         const SequenceFrame& frame) {
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
    if (stbi_write_png(path.string().c_str(), image.width, image.height, 1, image.pixels.data(),
                       image.width) == 0) {
        Fail(path, "the PNG could not be written");
    }
}

void WriteRgbPng(const std::filesystem::path& path, int32_t width, int32_t height,
                 const uint8_t* rgb) {
    if (width <= 0 || height <= 0 || rgb == nullptr) Fail(path, "the image to write has no pixels");
    if (stbi_write_png(path.string().c_str(), width, height, 3, rgb, width * 3) == 0) {
        Fail(path, "the PNG could not be written");
    }
}

glm::dvec2 ProjectToPixel(const CameraIntrinsics& intrinsics, const glm::dvec3& point) {
    return head::ProjectPinhole(point, intrinsics);
}

}  // namespace quilo::replay
