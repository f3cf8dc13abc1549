#include "headTracking/camera/snapshot.h"

#include <cstdint>
#include <cstdio>
#include <limits>
#include <memory>
#include <vector>

#include <stb_image_write.h>

namespace quilo::head {
namespace {

// Collects the encoder's output, which it hands over in one piece.
void AppendToBuffer(void* context, void* data, int size) {
    auto* buffer = static_cast<std::vector<unsigned char>*>(context);
    const auto* bytes = static_cast<const unsigned char*>(data);
    buffer->insert(buffer->end(), bytes, bytes + size);
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

bool SaveCameraFrame(const CameraFrame& frame, const char* path) {
    if (path == nullptr) return false;
    const Slice<ImageDesc> images = frame.imageDescs();
    if (images.empty() || images[0].data == nullptr) return false;
    const ImageDesc& image = images[0];
    if (image.width <= 0 || image.height <= 0) return false;
    // The encoder sizes its buffers in int; leave room for its filter bytes
    // and compressed output.
    if ((int64_t{image.width} + 1) * image.height > std::numeric_limits<int>::max() / 2) return false;

    // Encoded in memory first, so that a failed encoding leaves no file.
    std::vector<unsigned char> png;
    if (!stbi_write_png_to_func(AppendToBuffer, &png, image.width, image.height, 1, image.data, image.width) ||
        png.empty())
        return false;

    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "wb"));
    if (!file) return false;
    const bool written = std::fwrite(png.data(), 1, png.size(), file.get()) == png.size();
    // Closing flushes what the stream still buffers; its failure is a failed write.
    return std::fclose(file.release()) == 0 && written;
}

}  // namespace quilo::head
