#include "common/tga.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <stdexcept>
#include <utility>

namespace quilo {

namespace {

constexpr std::size_t kHeaderBytes = 18;
constexpr std::size_t kSignatureBytes = 12;
// ID length 0, no colour map, image type 2 or 10, then nine zeros: empty
// colour-map fields, origin (0, 0).
constexpr std::uint8_t kUncompressedSignature[kSignatureBytes] = {0, 0, 2};
constexpr std::uint8_t kCompressedSignature[kSignatureBytes] = {0, 0, 10};

enum class Kind { Unreadable, Uncompressed, Compressed };

struct Header {
    Kind kind = Kind::Unreadable;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t bitsPerPixel = 0;
    std::uint32_t size = 0;
    // What the loaders allocate for `pixels`: `size` bytes uncompressed, four
    // bytes per pixel run-length encoded.
    std::size_t bufferBytes = 0;

    bool HasSupportedDepth() const { return bitsPerPixel == 24 || bitsPerPixel == 32; }
    std::size_t BytesPerPixel() const { return bitsPerPixel / 8; }
    std::size_t PixelCount() const { return std::size_t{width} * height; }
};

Header ParseHeader(const std::uint8_t (&bytes)[kHeaderBytes]) {
    Header header;
    Kind kind = Kind::Unreadable;
    if (std::memcmp(bytes, kUncompressedSignature, kSignatureBytes) == 0) kind = Kind::Uncompressed;
    if (std::memcmp(bytes, kCompressedSignature, kSignatureBytes) == 0) kind = Kind::Compressed;
    if (kind == Kind::Unreadable) return header;

    const std::uint64_t width = bytes[12] | (bytes[13] << 8);
    const std::uint64_t height = bytes[14] | (bytes[15] << 8);
    const std::uint64_t bitsPerPixel = bytes[16];
    // Rows are rounded up to whole 32-bit words. Computed in 64 bits: with
    // 16-bit dimensions and an 8-bit depth nothing here can overflow.
    const std::uint64_t size = height * ((width * bitsPerPixel + 31) / 32) * 4;
    const std::uint64_t bufferBytes = kind == Kind::Compressed ? width * height * 4 : size;
    if (size > Tga::kMaxBytes || bufferBytes > Tga::kMaxBytes) return header;

    header.kind = kind;
    header.width = static_cast<std::uint32_t>(width);
    header.height = static_cast<std::uint32_t>(height);
    header.bitsPerPixel = static_cast<std::uint32_t>(bitsPerPixel);
    header.size = static_cast<std::uint32_t>(size);
    header.bufferBytes = static_cast<std::size_t>(bufferBytes);
    return header;
}

// A block of memory that is read by offset and never past its length.
struct Bytes {
    const std::uint8_t* data;
    std::size_t length;

    // Copies up to n bytes from `offset` to dst; returns how many it copied.
    std::size_t CopyOut(std::size_t offset, std::uint8_t* dst, std::size_t n) const {
        if (offset >= length || n == 0) return 0;
        n = std::min(n, length - offset);
        std::memcpy(dst, data + offset, n);
        return n;
    }
};

// Decodes run-length packets starting at `offset` into `pixels`, which holds
// at least PixelCount() * BytesPerPixel() bytes. Pixels are packed, pixel i at
// byte i * BytesPerPixel(), each written red-green-blue(-alpha). A packet that
// runs past the last pixel is cut; a stream that ends early leaves the
// remaining pixels as they are. Returns true when every pixel was decoded.
bool DecodeRunLength(const Bytes& in, std::size_t offset, const Header& header, std::vector<std::uint8_t>& pixels) {
    const std::size_t bytesPerPixel = header.BytesPerPixel();
    const std::size_t total = header.PixelCount();
    std::uint8_t pixel[4] = {};
    std::size_t done = 0;
    while (done < total) {
        std::uint8_t control = 0;
        if (in.CopyOut(offset, &control, 1) != 1) return false;
        ++offset;
        const bool run = control >= 128;
        const std::size_t count = std::min<std::size_t>(run ? control - 127u : control + 1u, total - done);
        for (std::size_t i = 0; i < count; ++i, ++done) {
            // A run packet stores its pixel once, a raw packet every pixel.
            if (!run || i == 0) {
                if (in.CopyOut(offset, pixel, bytesPerPixel) != bytesPerPixel) return false;
                offset += bytesPerPixel;
            }
            std::uint8_t* out = &pixels[done * bytesPerPixel];
            out[0] = pixel[2];
            out[1] = pixel[1];
            out[2] = pixel[0];
            if (bytesPerPixel == 4) out[3] = pixel[3];
        }
    }
    return true;
}

[[noreturn]] void ThrowFileNotFound() { throw std::invalid_argument("File Not Found."); }

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Reads up to n bytes; fewer only at the end of the file. Throws
// "File Not Found." on a read error (a folder, an I/O failure).
std::size_t ReadFile(const File& file, std::uint8_t* dst, std::size_t n) {
    const std::size_t got = std::fread(dst, 1, n, file.get());
    if (got < n && std::ferror(file.get())) ThrowFileNotFound();
    return got;
}

// The rest of the file, but no more than `limit` bytes.
std::vector<std::uint8_t> ReadRest(const File& file, std::size_t limit) {
    constexpr std::size_t kChunk = std::size_t{1} << 20;
    std::vector<std::uint8_t> out;
    while (out.size() < limit) {
        const std::size_t used = out.size();
        const std::size_t chunk = std::min(kChunk, limit - used);
        out.resize(used + chunk);
        const std::size_t got = ReadFile(file, out.data() + used, chunk);
        out.resize(used + got);
        if (got < chunk) break;
    }
    return out;
}

void SetHeaderFields(Tga& image, const Header& header) {
    image.width = header.width;
    image.height = header.height;
    image.size = header.size;
    image.bitsPerPixel = header.bitsPerPixel;
}

}  // namespace

Tga::Tga() = default;

Tga::Tga(const char* path) {
    if (path == nullptr) ThrowFileNotFound();
    filePath = path;
    File file(std::fopen(path, "rb"));
    if (!file) ThrowFileNotFound();

    std::uint8_t headerBytes[kHeaderBytes] = {};
    ReadFile(file, headerBytes, kHeaderBytes);
    const Header header = ParseHeader(headerBytes);
    if (header.kind == Kind::Unreadable) return;

    SetHeaderFields(*this, header);
    compressed = header.kind == Kind::Compressed;
    pixels.assign(header.bufferBytes, 0);
    if (!header.HasSupportedDepth()) return;

    if (!compressed) {
        ReadFile(file, pixels.data(), size);
        return;
    }
    // The longest useful stream stores every pixel in its own raw packet.
    const std::vector<std::uint8_t> stream = ReadRest(file, header.PixelCount() * (header.BytesPerPixel() + 1));
    DecodeRunLength(Bytes{stream.data(), stream.size()}, 0, header, pixels);
}

void Tga::ReadFromData(const void* data, bool keepRowOrder) {
    // The caller vouches for the length: the image is read as far as its
    // header says.
    ReadFromData(data, std::numeric_limits<std::size_t>::max(), keepRowOrder);
}

bool Tga::ReadFromData(const void* data, std::size_t length, bool keepRowOrder) {
    const Bytes in{static_cast<const std::uint8_t*>(data), data == nullptr ? 0 : length};
    std::uint8_t headerBytes[kHeaderBytes] = {};
    in.CopyOut(0, headerBytes, kHeaderBytes);
    const Header header = ParseHeader(headerBytes);
    if (header.kind == Kind::Unreadable) return false;

    SetHeaderFields(*this, header);
    if (!header.HasSupportedDepth()) return false;

    std::vector<std::uint8_t> loaded(header.bufferBytes, 0);
    bool complete = true;
    if (header.kind == Kind::Compressed) {
        complete = DecodeRunLength(in, kHeaderBytes, header, loaded);
    } else if (keepRowOrder) {
        const std::size_t copied = in.CopyOut(kHeaderBytes, loaded.data(), loaded.size());
        complete = copied >= header.PixelCount() * header.BytesPerPixel();
    } else {
        // Stored rows are packed; destination row r comes from stored row
        // height - 1 - r, and the padding at the end stays zero.
        const std::size_t rowBytes = std::size_t{width} * header.BytesPerPixel();
        for (std::uint32_t r = 0; r < height; ++r) {
            const std::size_t source = kHeaderBytes + std::size_t{height - 1 - r} * rowBytes;
            complete &= in.CopyOut(source, loaded.data() + r * rowBytes, rowBytes) == rowBytes;
        }
    }
    pixels = std::move(loaded);
    compressed = header.kind == Kind::Compressed;
    return complete;
}

void Tga::RemoveColor(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    if (bitsPerPixel != 32) return;
    const std::size_t count = std::min<std::size_t>(size, pixels.size()) / 4;
    for (std::size_t i = 0; i < count; ++i) {
        std::uint8_t* p = &pixels[i * 4];
        const bool match = p[2] == red && p[1] == green && p[0] == blue;
        p[3] = match ? 0 : 255;
    }
}

void Tga::Resize(int newWidth, int newHeight) {
    if (newWidth < 0 || newHeight < 0) return;
    if (bitsPerPixel != 24 && bitsPerPixel != 32) return;
    if (newWidth == 0 || newHeight == 0) {
        // newWidth * b * newHeight = 0 bytes: an empty image of that shape.
        pixels.clear();
        pixels.shrink_to_fit();
        width = static_cast<std::uint32_t>(newWidth);
        height = static_cast<std::uint32_t>(newHeight);
        size = 0;
        return;
    }
    if (width == 0 || height == 0) return;  // nothing to sample from
    const std::size_t bytesPerPixel = bitsPerPixel / 8;
    if (pixels.size() / bytesPerPixel < std::uint64_t{width} * height) return;
    const std::uint64_t newBytes = std::uint64_t(newWidth) * bytesPerPixel * std::uint64_t(newHeight);
    if (newBytes > kMaxBytes) return;

    std::vector<std::uint8_t> resized(static_cast<std::size_t>(newBytes), 0);
    const double sx = static_cast<double>(width) / newWidth;
    const double sy = static_cast<double>(height) / newHeight;
    for (int i = 0; i < newHeight; ++i) {
        // sy * i < height in exact arithmetic; the clamp guards rounding.
        const std::size_t row = std::min<std::size_t>(static_cast<std::size_t>(sy * i), height - 1);
        for (int j = 0; j < newWidth; ++j) {
            const std::size_t column = std::min<std::size_t>(static_cast<std::size_t>(sx * j), width - 1);
            const std::uint8_t* src = &pixels[(std::size_t{width} * row + column) * bytesPerPixel];
            std::uint8_t* dst = &resized[(std::size_t(newWidth) * i + j) * bytesPerPixel];
            std::memcpy(dst, src, bytesPerPixel);
        }
    }
    width = static_cast<std::uint32_t>(newWidth);
    height = static_cast<std::uint32_t>(newHeight);
    size = static_cast<std::uint32_t>(newBytes);
    pixels = std::move(resized);
}

void Tga::SwapRedAndBlue() {
    if (bitsPerPixel != 24 && bitsPerPixel != 32) return;
    const std::size_t bytesPerPixel = bitsPerPixel / 8;
    for (std::size_t i = 0; i + bytesPerPixel <= pixels.size(); i += bytesPerPixel) {
        std::swap(pixels[i], pixels[i + 2]);
    }
}

}  // namespace quilo
