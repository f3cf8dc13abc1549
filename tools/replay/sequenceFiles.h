// File checks shared by the reading of a sequence's manifest and of its
// images. Internal to the sequence files.
#pragma once

#include <filesystem>
#include <string>
#include <system_error>

#include <fmt/format.h>

#include "tools/replay/sequenceManifest.h"

namespace quilo::replay::detail {

[[noreturn]] inline void Fail(const std::filesystem::path& file, const std::string& what) {
    throw SequenceError(fmt::format("{}: {}", file.string(), what));
}

// Throws, with `missing` when there is nothing there, unless `path` is a
// regular file (after symbolic links): reading a FIFO or a device would
// block or never end.
inline void CheckRegularFile(const std::filesystem::path& path, const char* missing) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (status.type() == std::filesystem::file_type::not_found) Fail(path, missing);
    if (error) Fail(path, fmt::format("cannot be examined ({})", error.message()));
    if (status.type() != std::filesystem::file_type::regular) Fail(path, "not a regular file");
}

}  // namespace quilo::replay::detail
