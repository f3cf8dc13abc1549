#include "common/assetManager.h"

namespace quilo {

AssetManager::~AssetManager() = default;

}  // namespace quilo
