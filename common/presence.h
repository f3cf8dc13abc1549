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

#include "common/export.h"

namespace quilo {

// A class of device interfaces, identified by its GUID.
struct DeviceInterfaceClass {
    uint32_t data1 = 0;
    uint16_t data2 = 0;
    uint16_t data3 = 0;
    uint8_t data4[8] = {};
};

constexpr bool operator==(const DeviceInterfaceClass& a, const DeviceInterfaceClass& b) {
    for (int i = 0; i < 8; ++i)
        if (a.data4[i] != b.data4[i]) return false;
    return a.data1 == b.data1 && a.data2 == b.data2 && a.data3 == b.data3;
}
constexpr bool operator!=(const DeviceInterfaceClass& a, const DeviceInterfaceClass& b) { return !(a == b); }

// USB devices: {A5DCBF10-6530-11D2-901F-00C04FB951ED}.
inline constexpr DeviceInterfaceClass kUsbDeviceInterfaceClass{
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};
// Monitors: {E6F07B5F-EE97-4A90-B076-33F57BF4EAA7}.
inline constexpr DeviceInterfaceClass kMonitorInterfaceClass{
    0xE6F07B5F, 0xEE97, 0x4A90, {0xB0, 0x76, 0x33, 0xF5, 0x7B, 0xF4, 0xEA, 0xA7}};

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
