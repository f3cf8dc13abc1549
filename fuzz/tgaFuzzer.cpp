// Fuzz target for both TGA loaders. Every input is loaded from memory through
// the bounded overload (in both row orders) and from a file; the results must
// agree with each other, and the edits then run on what was loaded. Any
// disagreement aborts, which the fuzzer reports like a crash.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>

#include "common/tga.h"

namespace {

// Inputs whose header asks for more pixels are skipped: the loaders
// zero-fill the whole buffer up front, and megabytes per input would leave
// the fuzzer few runs. The size limit itself has unit tests.
constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 12;

// One scratch file per process, removed at exit.
struct ScratchFile {
    std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("quiloTgaFuzzer-" + std::to_string(std::random_device{}()) + ".tga");
    ~ScratchFile() {
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
    }
};

void Require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "TGA loaders disagree: %s\n", what);
        std::abort();
    }
}

bool SameHeaderFields(const quilo::Tga& a, const quilo::Tga& b) {
    return a.width == b.width && a.height == b.height && a.size == b.size && a.bitsPerPixel == b.bitsPerPixel;
}

void LoadFromFile(const std::uint8_t* data, std::size_t size, quilo::Tga& out) {
    static ScratchFile scratch;
    // A new file each time: rewriting a truncated one makes some file systems
    // flush it to disk on close, which slows fuzzing down a hundredfold.
    std::error_code ignored;
    std::filesystem::remove(scratch.path, ignored);
    std::FILE* file = std::fopen(scratch.path.c_str(), "wb");
    Require(file != nullptr, "cannot write the scratch file");
    Require(std::fwrite(data, 1, size, file) == size, "cannot write the scratch file");
    std::fclose(file);
    out = quilo::Tga(scratch.path.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size >= 16) {
        const std::uint64_t width = data[12] | (data[13] << 8);
        const std::uint64_t height = data[14] | (data[15] << 8);
        if (width * height > kMaxPixels) return 0;
    }

    quilo::Tga kept;
    kept.ReadFromData(data, size, true);
    quilo::Tga reversed;
    reversed.ReadFromData(data, size, false);
    quilo::Tga fromFile;
    LoadFromFile(data, size, fromFile);

    Require(SameHeaderFields(kept, fromFile) && SameHeaderFields(kept, reversed), "header fields");
    const bool usable = kept.bitsPerPixel == 24 || kept.bitsPerPixel == 32;
    if (usable) {
        Require(kept.pixels == fromFile.pixels && kept.compressed == fromFile.compressed, "memory and file");
        if (kept.compressed) {
            Require(reversed.pixels == kept.pixels, "row order of a run-length image");
        } else {
            // Packed rows in reverse order; the padding after them is zero.
            const std::size_t rowBytes = std::size_t{kept.width} * (kept.bitsPerPixel / 8);
            for (std::uint32_t r = 0; r < kept.height; ++r) {
                Require(
                    rowBytes == 0 || std::memcmp(reversed.pixels.data() + r * rowBytes,
                                                 kept.pixels.data() + (kept.height - 1 - r) * rowBytes, rowBytes) == 0,
                    "reversed rows");
            }
            for (std::size_t i = rowBytes * kept.height; i < reversed.pixels.size(); ++i) {
                Require(reversed.pixels[i] == 0, "padding after reversed rows");
            }
        }
    }

    // The edits, with parameters taken from the input's last bytes.
    const std::uint8_t* tail = size >= 3 ? data + size - 3 : data;
    const std::uint8_t a = size >= 3 ? tail[0] : 1, b = size >= 3 ? tail[1] : 2, c = size >= 3 ? tail[2] : 3;
    const auto before = kept.pixels;
    kept.SwapRedAndBlue();
    kept.SwapRedAndBlue();
    Require(kept.pixels == before, "swapping twice");
    kept.RemoveColor(a, b, c);
    kept.Resize(static_cast<int>(a % 70) - 4, static_cast<int>(b % 70) - 4);
    fromFile.Resize(static_cast<int>(c) - 128, 3);
    return 0;
}
