// The operating system's device and monitor lists, as the presence helpers
// read them. Each OS implements these in its own folder
// (common/platform/<os>/devices.cpp and desktopMonitors.cpp). Internal: not
// part of the library's interface.
//
// Every function reads the system anew, keeps no state, never throws for a
// system failure and may be called from any thread. Failures read as absence:
// a list that cannot be read is empty, an entry whose details cannot be read
// is left out.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "common/deviceInterfaceClass.h"

namespace quilo::os {

// The folder the running system's device tree is read from; empty where the
// system lists its devices through calls rather than files.
std::filesystem::path SystemDeviceRoot();

// Device paths of the present device interfaces of `interfaceClass`, in the
// system's enumeration order, read from the device tree below `deviceRoot`
// (SystemDeviceRoot() for the running system; tests pass a prepared tree).
// Where the system lists devices through calls, `deviceRoot` is not read.
// A device tree yields the USB device and monitor classes only; other
// classes have none there.
std::vector<std::wstring> ListDeviceInterfaces(const DeviceInterfaceClass& interfaceClass,
                                               const std::filesystem::path& deviceRoot);

// One monitor of the desktop, in desktop coordinates; right and bottom are
// exclusive.
struct DesktopMonitor {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    bool primary = false;
};

// The desktop's monitors in the system's enumeration order; empty when no
// desktop can be reached.
std::vector<DesktopMonitor> ListDesktopMonitors();

}  // namespace quilo::os
