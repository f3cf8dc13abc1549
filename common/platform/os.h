// The operating-system corner of the engine. Everything the engine needs from
// the OS goes through these functions; each OS has one implementation file in
// its own folder (common/platform/linux/), and nothing else includes OS
// headers. Internal: not installed as part of the interface.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace quilo::os {

// Canonical path of the loaded module containing `address`; empty on failure,
// with `error` set to the system's text.
std::filesystem::path ModulePath(const void* address, std::string* error);

// An address inside the engine library.
const void* AddressInThisLibrary();

}  // namespace quilo::os
