#include "common/assetManager.h"

#include <fstream>
#include <system_error>

#include "common/exception.h"
#include "common/paths.h"
#include "common/platform/os.h"

namespace quilo {

namespace {

// Reads assets as plain files. Nothing here depends on the OS: std::filesystem
// and the standard streams do the work.
class FileAssetManager final : public AssetManager {
public:
    AssetBuffer ReadBytes(const std::string& name, AssetLocation* location) override {
        AssetBuffer buffer;
        auto bytes = Read<std::unique_ptr<uint8_t[]>>(name, location, __PRETTY_FUNCTION__, &buffer.size);
        buffer.data = std::move(bytes);
        return buffer;
    }

    std::string ReadText(const std::string& name, AssetLocation* location) override {
        return Read<std::string>(name, location, __PRETTY_FUNCTION__, nullptr);
    }

    std::filesystem::path GetAssetPath(const std::string& name, AssetLocation* location) override {
        AssetLocation& where = location ? *location : own_;
        if (where.assetsDirectory.empty()) {
            where.assetsDirectory = GetLibraryPath(where.moduleAddress).parent_path() / "assets";
        }
        return where.assetsDirectory / os::PathFromNarrow(name);
    }

private:
    // Both reads: the whole file, or quilo::Exception naming `function`, the
    // public reading function.
    template <typename Container>
    Container Read(const std::string& name, AssetLocation* location, const char* function, int64_t* size) {
        const auto path = GetAssetPath(name, location);
        const auto fail = [&](std::string message, int line) {
            return Exception(std::move(message),
                             SourceLocation{__FILE__, line, detail::QualifiedFunctionName(function).c_str()});
        };

        // A folder opens as a stream on some systems but is never an asset.
        std::error_code ec;
        std::ifstream file;
        if (!std::filesystem::is_directory(path, ec)) {
            file.open(path, std::ios::binary | std::ios::ate);
        }
        if (!file.is_open()) {
            throw fail(fmt::format("failed to open asset \"{}\" (\"{}\")", name, path.string()), __LINE__);
        }
        const int64_t position = static_cast<int64_t>(file.tellg());
        if (position < 1) {
            throw fail(fmt::format("invalid asset \"{}\" (\"{}\"): pos={}", name, path.string(), position), __LINE__);
        }

        Container bytes = Allocate<Container>(position);
        file.seekg(0);
        file.read(reinterpret_cast<char*>(&bytes[0]), position);
        if (!file) {
            throw fail(fmt::format("failed to read asset \"{}\" (\"{}\")", name, path.string()), __LINE__);
        }
        if (size) *size = position;
        return bytes;
    }

    template <typename Container>
    static Container Allocate(int64_t size) {
        if constexpr (std::is_same_v<Container, std::string>) {
            return std::string(static_cast<size_t>(size), '\0');
        } else {
            return std::make_unique<uint8_t[]>(static_cast<size_t>(size));  // zero-filled
        }
    }

    AssetLocation own_;  // used when a call passes no location
};

}  // namespace

AssetManager::~AssetManager() = default;

std::unique_ptr<AssetManager> AssetManager::Create(Platform* /*platform: not needed here*/) {
    return std::make_unique<FileAssetManager>();
}

}  // namespace quilo
