// Device interfaces from SetupAPI: the present interfaces of a class with
// their device paths, read into buffers from the process heap.
#include "common/platform/devices.h"

#include "common/platform/windows/windowsHeaders.h"
#include <setupapi.h>

namespace quilo::os {
namespace {

GUID ToGuid(const DeviceInterfaceClass& c) {
    GUID guid{};
    guid.Data1 = c.data1;
    guid.Data2 = c.data2;
    guid.Data3 = c.data3;
    for (int i = 0; i < 8; ++i) guid.Data4[i] = c.data4[i];
    return guid;
}

// The device path of one interface; nothing when its detail record cannot
// be read or its buffer cannot be had.
bool ReadDevicePath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* interfaceData, std::wstring* path) {
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailW(set, interfaceData, nullptr, 0, &size, nullptr);
    if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) return false;
    auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size));
    if (detail == nullptr) return false;
    // The size field holds the size of the fixed part, not of the buffer.
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    SP_DEVINFO_DATA deviceInfo{};
    deviceInfo.cbSize = sizeof(deviceInfo);
    const bool read = SetupDiGetDeviceInterfaceDetailW(set, interfaceData, detail, size, nullptr, &deviceInfo);
    if (read) *path = detail->DevicePath;
    HeapFree(GetProcessHeap(), 0, detail);
    return read;
}

}  // namespace

std::filesystem::path SystemDeviceRoot() { return {}; }

std::vector<std::wstring> ListDeviceInterfaces(const DeviceInterfaceClass& interfaceClass,
                                               const std::filesystem::path& /*deviceRoot: the system's own*/) {
    std::vector<std::wstring> paths;
    const GUID guid = ToGuid(interfaceClass);
    HDEVINFO set = SetupDiGetClassDevsW(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return paths;
    try {
        for (DWORD index = 0;; ++index) {
            SP_DEVICE_INTERFACE_DATA interfaceData{};
            interfaceData.cbSize = sizeof(interfaceData);
            if (!SetupDiEnumDeviceInterfaces(set, nullptr, &guid, index, &interfaceData)) {
                if (GetLastError() == ERROR_NO_MORE_ITEMS) break;
                continue;
            }
            std::wstring path;
            if (ReadDevicePath(set, &interfaceData, &path)) paths.push_back(std::move(path));
        }
    } catch (...) {
        SetupDiDestroyDeviceInfoList(set);
        throw;
    }
    SetupDiDestroyDeviceInfoList(set);
    return paths;
}

}  // namespace quilo::os
