#include "common/presence.h"

#include <exception>

#include "common/presenceDetail.h"

namespace quilo {
namespace detail {

bool FindDeviceInterfaceIn(const std::filesystem::path& deviceRoot, const DeviceInterfaceClass& interfaceClass,
                           std::wstring_view needle) {
    for (const std::wstring& path : os::ListDeviceInterfaces(interfaceClass, deviceRoot))
        if (path.find(needle) != std::wstring::npos) return true;
    return false;
}

bool NonPrimaryTopLeft(const std::vector<os::DesktopMonitor>& monitors, int& x, int& y) {
    x = 0;
    y = 0;
    if (monitors.size() < 2) return false;
    for (const os::DesktopMonitor& monitor : monitors) {
        if (monitor.primary) continue;
        x = monitor.left;
        y = monitor.top;
        return true;
    }
    return false;
}

}  // namespace detail

// The lists are read into memory; running out of it reads as absence.

bool FindDeviceInterface(const DeviceInterfaceClass& interfaceClass, std::wstring_view needle) {
    try {
        return detail::FindDeviceInterfaceIn(os::SystemDeviceRoot(), interfaceClass, needle);
    } catch (const std::exception&) {
        return false;
    }
}

bool isRealSenseConnected() { return FindDeviceInterface(kUsbDeviceInterfaceClass, kRealSenseDeviceNeedle); }

bool isMonitorConnected() { return FindDeviceInterface(kMonitorInterfaceClass, kDisplayPanelDeviceNeedle); }

bool GetNonPrimaryDisplayTopLeftCoordinate(int& x, int& y) {
    try {
        return detail::NonPrimaryTopLeft(os::ListDesktopMonitors(), x, y);
    } catch (const std::exception&) {
        x = 0;
        y = 0;
        return false;
    }
}

}  // namespace quilo
