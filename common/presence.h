// Whether the hardware the engine is made for is present, and where a
// secondary monitor begins on the desktop.
//
// Every function reads the system's current device and monitor lists on each
// call: nothing is opened, cached or shared, so any thread may call them at
// any time. Every failure reads as absence; nothing is logged and nothing is
// thrown.
#pragma once

#include <cstdint>
#include <string_view>

#include "common/deviceInterfaceClass.h"
#include "common/export.h"

namespace quilo {

// Device paths have the form "\\?\<bus>#<hardware id>#<instance>#{<class GUID>}"
// in lower case where the system writes lower case, for example
// "\\?\usb#vid_8086&pid_0b07#<serial>#{a5dcbf10-6530-11d2-901f-00c04fb951ed}" for
// a USB device and "\\?\display#auo2e9a#<connector>#{e6f07b5f-...}" for a monitor.

// The needle of the RealSense camera (Intel vendor 8086, product 0b07).
inline constexpr std::wstring_view kRealSenseDeviceNeedle = L"vid_8086&pid_0b07";
// The needle of the display panel the system is made for.
inline constexpr std::wstring_view kDisplayPanelDeviceNeedle = L"#auo2e9a#";

// True when a present device interface of `interfaceClass` has a device path
// that contains `needle` as an exact, case-sensitive substring. An empty
// needle matches any interface. Classes the system cannot list have no
// interfaces.
QUILO_API bool FindDeviceInterface(const DeviceInterfaceClass& interfaceClass, std::wstring_view needle);

// A present USB device whose path contains kRealSenseDeviceNeedle.
QUILO_API bool isRealSenseConnected();
// A present monitor whose path contains kDisplayPanelDeviceNeedle.
QUILO_API bool isMonitorConnected();

// Walks the desktop's monitors in the system's order and takes the first one
// not flagged primary: true, with x and y set to its top-left corner in
// desktop coordinates (which may be negative). False, with x and y set to 0,
// when the desktop has fewer than two monitors, when every monitor is primary,
// or when no desktop can be reached. When no monitor is flagged primary, the
// first monitor is the first non-primary one.
QUILO_API bool GetNonPrimaryDisplayTopLeftCoordinate(int& x, int& y);

}  // namespace quilo
