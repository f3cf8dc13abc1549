// Read-only access to the data files ("assets") that lie in the "assets"
// folder beside a module. The face detector plugin reads its model files
// through it. Part of the plugin contract: slot order and signatures are fixed.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "common/export.h"

namespace quilo {

class Platform;

struct AssetBuffer {
    int64_t size = 0;
    std::unique_ptr<uint8_t[]> data;
};

// Where assets lie: `assetsDirectory` is filled on first use and cached;
// `moduleAddress` is any address inside the module beside which the assets
// lie, null meaning the engine library.
struct AssetLocation {
    std::filesystem::path assetsDirectory;
    const void* moduleAddress = nullptr;
};

// Not thread-safe: one manager is used by one thread at a time. A null
// location means the manager's own.
class QUILO_API AssetManager {
public:
    virtual ~AssetManager();
    // The asset's bytes; throws quilo::Exception when it is missing, empty or unreadable.
    virtual AssetBuffer ReadBytes(const std::string& name, AssetLocation* location) = 0;
    // The asset's bytes as a string, unchanged; throws like ReadBytes.
    virtual std::string ReadText(const std::string& name, AssetLocation* location) = 0;
    // The file-system path of the asset.
    virtual std::filesystem::path GetAssetPath(const std::string& name, AssetLocation* location) = 0;

    static std::unique_ptr<AssetManager> Create(Platform* platform);
};

}  // namespace quilo
