// The sandbox of a test made with quilo_add_sandbox_test: the folder of the
// test's own engine library, where the engine looks for plugins first.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "common/plugin.h"

namespace quilo::test {

// Empties the sandbox of everything but the engine library on construction
// and destruction, so every test starts from a plugin-free folder.
class Sandbox {
public:
    Sandbox() { Clear(); }
    ~Sandbox() { Clear(); }
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    // In the system's own spelling (backslashes on Windows), as the engine
    // reports the paths it finds beside itself.
    static std::filesystem::path Directory() { return std::filesystem::path(QUILO_TEST_SANDBOX_DIR).make_preferred(); }
    static std::filesystem::path PluginDirectory() {
        return std::filesystem::path(QUILO_TEST_PLUGIN_DIR).make_preferred();
    }

    // Copies the test plugin `plugin` (e.g. "quiloTestBlinkDetectorScripted")
    // into `directory` as "<name>.so" ("<name>.dll" on Windows); returns the
    // copy's path. An old copy is
    // removed first rather than overwritten, as a loaded library must never
    // change under the loader.
    static std::filesystem::path Install(const std::string& plugin, const std::string& name,
                                         const std::filesystem::path& directory = Directory()) {
        const auto target = directory / quilo::PluginLibrary::FileName(name);
        std::filesystem::remove(target);
        std::filesystem::copy_file(PluginDirectory() / quilo::PluginLibrary::FileName(plugin), target);
        return target;
    }

    // Writes `content` into `directory` under the library file name of `name`.
    static std::filesystem::path InstallFile(const std::string& name, const std::string& content,
                                             const std::filesystem::path& directory = Directory()) {
        const auto target = directory / quilo::PluginLibrary::FileName(name);
        std::filesystem::remove(target);
        std::ofstream(target, std::ios::binary) << content;
        return target;
    }

private:
    static void Clear() {
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(Directory(), ec)) {
            if (entry.path().filename() != QUILO_TEST_SANDBOX_ENGINE) std::filesystem::remove_all(entry.path(), ec);
        }
    }
};

}  // namespace quilo::test
