// The searches behind the presence helpers, with what they read passed in, so
// that they can run on a prepared device tree or monitor list. Internal: not
// part of the library's interface.
#pragma once

#include <filesystem>
#include <string_view>
#include <vector>

#include "common/platform/devices.h"
#include "common/presence.h"

namespace quilo::detail {

// FindDeviceInterface on the device tree below `deviceRoot`. May throw
// std::bad_alloc.
bool FindDeviceInterfaceIn(const std::filesystem::path& deviceRoot, const DeviceInterfaceClass& interfaceClass,
                           std::wstring_view needle);

// GetNonPrimaryDisplayTopLeftCoordinate on the monitor list `monitors`.
bool NonPrimaryTopLeft(const std::vector<os::DesktopMonitor>& monitors, int& x, int& y);

}  // namespace quilo::detail
