// A class of device interfaces, identified by its GUID: the record the
// presence helpers and the operating system's device lists share.
#pragma once

#include <cstdint>

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

}  // namespace quilo
