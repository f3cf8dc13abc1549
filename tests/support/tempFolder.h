// A fresh, empty folder below the system's temporary folder, removed with
// everything in it when the object goes.
#pragma once

#include <filesystem>
#include <random>
#include <string>
#include <system_error>

#include <fmt/format.h>

namespace quilo::test {

class TempFolder {
public:
    TempFolder() {
        std::random_device random;
        const auto base = std::filesystem::temp_directory_path();
        for (;;) {
            path_ = base / fmt::format("quilo-test-{:08x}{:08x}", random(), random());
            if (std::filesystem::create_directory(path_)) break;  // an existing name is taken again
        }
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::filesystem::path& relative) const { return path_ / relative; }

private:
    std::filesystem::path path_;
};

}  // namespace quilo::test
