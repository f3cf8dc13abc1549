// The desktop's monitors from the window manager's monitor enumeration.
#include "common/platform/devices.h"

#include "common/platform/windows/windowsHeaders.h"

namespace quilo::os {
namespace {

BOOL CALLBACK AddMonitor(HMONITOR monitor, HDC /*dc*/, LPRECT /*clip*/, LPARAM list) {
    MONITORINFOEXW info{};
    info.cbSize = sizeof(info);
    if (!GetMonitorInfoW(monitor, &info)) return TRUE;  // every monitor, whatever happened to this one
    const RECT& r = info.rcMonitor;
    try {
        reinterpret_cast<std::vector<DesktopMonitor>*>(list)->push_back(
            {r.left, r.top, r.right, r.bottom, (info.dwFlags & MONITORINFOF_PRIMARY) != 0});
    } catch (...) {
        // No exception may unwind through the system's enumeration; a monitor
        // that cannot be kept is left out.
    }
    return TRUE;
}

}  // namespace

std::vector<DesktopMonitor> ListDesktopMonitors() {
    std::vector<DesktopMonitor> monitors;
    const int count = GetSystemMetrics(SM_CMONITORS);
    monitors.reserve(count > 0 ? static_cast<size_t>(count) : 0);
    EnumDisplayMonitors(nullptr, nullptr, AddMonitor, reinterpret_cast<LPARAM>(&monitors));
    return monitors;
}

}  // namespace quilo::os
