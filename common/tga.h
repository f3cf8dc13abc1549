// A small holder for true-colour TGA images (24 or 32 bits per pixel,
// uncompressed or run-length encoded), loaded from a file or from memory, with
// three in-place edits. Not thread-safe: one thread at a time per object.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/export.h"

namespace quilo {

class QUILO_API Tga {
public:
    // Pixel bytes, row after row in the order the loader produced them.
    // Uncompressed images keep the stored blue-green-red(-alpha) order;
    // run-length encoded ones come out red-green-blue(-alpha).
    std::vector<std::uint8_t> pixels;
    // True when the image was decoded from a run-length encoded file.
    bool compressed = false;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    // Byte count: after loading, height rows of width * bitsPerPixel bits
    // rounded up to a multiple of 4 bytes; after Resize, the exact byte count.
    std::uint32_t size = 0;
    // 24 or 32 for a usable image.
    std::uint32_t bitsPerPixel = 0;
    // The path given to the file constructor; empty otherwise.
    std::string filePath;

    // Headers whose pixel buffer would exceed this many bytes are not read.
    static constexpr std::uint64_t kMaxBytes = std::uint64_t{1} << 30;

    // An empty image.
    Tga();

    // Loads a TGA file. Only headers with no image ID, no colour map, type 2
    // (uncompressed) or 10 (run-length encoded) and zero origin are read; any
    // other header leaves the image empty, as does one whose pixel buffer would
    // exceed kMaxBytes. With such a header and a depth other than 24 or 32 the
    // header fields are set and `pixels` is all zero. Bytes the file lacks read
    // as zero. Throws std::invalid_argument "File Not Found." when the file
    // cannot be opened or read.
    explicit Tga(const char* filePath);

    // Loads a TGA image from memory (header first), replacing the pixel data.
    // The caller provides the 18 header bytes and all the pixel data the header
    // describes. Uncompressed images with `keepRowOrder` false have their rows
    // reversed and packed without padding; run-length encoded images ignore it.
    // An unreadable header changes nothing; a depth other than 24 or 32 sets
    // only the header fields (width, height, size, bitsPerPixel).
    void ReadFromData(const void* data, bool keepRowOrder);

    // The same, reading at most `length` bytes from `data`: bytes past the end
    // read as zero, and a run-length stream that ends early leaves the
    // remaining pixels zero. Returns true when the image was read in full;
    // false when the header was not read (nothing changed), its depth is not
    // 24 or 32 (header fields set), or the data ended before the image did.
    bool ReadFromData(const void* data, std::size_t length, bool keepRowOrder);

    // 32-bit images only: sets the alpha of every pixel stored as (blue,
    // green, red) to 0 and of every other pixel to 255. Other depths are left
    // unchanged.
    void RemoveColor(std::uint8_t red, std::uint8_t green, std::uint8_t blue);

    // Nearest-neighbour resize of a 24- or 32-bit image whose pixels are packed
    // rows; afterwards `size` is the exact byte count. A zero width or height
    // gives an empty image of that shape (size 0, no pixels). Leaves the image
    // unchanged for a negative size, another depth, fewer pixel bytes than
    // width * height pixels, or a result above kMaxBytes.
    void Resize(int newWidth, int newHeight);

    // Exchanges bytes 0 and 2 of every complete pixel (3 bytes at 24 bits, 4
    // at 32), turning blue-green-red into red-green-blue and back. Other
    // depths are left unchanged.
    void SwapRedAndBlue();
};

}  // namespace quilo
