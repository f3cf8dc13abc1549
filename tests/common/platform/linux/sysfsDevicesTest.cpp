// Device interfaces read from prepared sysfs trees.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/platform/devices.h"
#include "common/presence.h"
#include "common/presenceDetail.h"
#include "support/tempFolder.h"

using namespace quilo;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace fs = std::filesystem;

namespace {

const std::wstring kUsbSuffix = L"#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
const std::wstring kMonitorSuffix = L"#{e6f07b5f-ee97-4a90-b076-33f57bf4eaa7}";

void WriteFile(const fs::path& file, const std::string& content) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << content;
}

// A USB device entry as the kernel writes it; an empty serial leaves the
// attribute out.
void AddUsbDevice(const fs::path& dir, const std::string& vendor, const std::string& product,
                  const std::string& serial = "") {
    WriteFile(dir / "idVendor", vendor + "\n");
    WriteFile(dir / "idProduct", product + "\n");
    if (!serial.empty()) WriteFile(dir / "serial", serial + "\n");
}

// A 128-byte EDID base block for manufacturer `maker` (three capitals) and
// `product`, cut to `size` bytes.
std::string Edid(const char* maker, uint16_t product, size_t size = 128) {
    std::string edid(128, '\0');
    const std::string header("\x00\xFF\xFF\xFF\xFF\xFF\xFF\x00", 8);
    edid.replace(0, 8, header);
    const unsigned code = ((maker[0] - 'A' + 1) << 10) | ((maker[1] - 'A' + 1) << 5) | (maker[2] - 'A' + 1);
    edid[8] = static_cast<char>(code >> 8);
    edid[9] = static_cast<char>(code & 0xFF);
    edid[10] = static_cast<char>(product & 0xFF);
    edid[11] = static_cast<char>(product >> 8);
    return edid.substr(0, size);
}

void AddConnector(const fs::path& drm, const std::string& name, const std::string& status, const std::string& edid) {
    WriteFile(drm / name / "status", status + "\n");
    WriteFile(drm / name / "edid", edid);
}

std::vector<std::wstring> UsbPaths(const fs::path& root) {
    return os::ListDeviceInterfaces(kUsbDeviceInterfaceClass, root);
}
std::vector<std::wstring> MonitorPaths(const fs::path& root) {
    return os::ListDeviceInterfaces(kMonitorInterfaceClass, root);
}

// Several USB devices as a machine shows them: entries are links into the
// device hierarchy, hubs and device interfaces sit beside the devices.
class UsbTree : public ::testing::Test {
protected:
    void SetUp() override {
        AddUsbDevice(pci / "usb2", "1d6b", "0003", "0000:00:14.0");
        AddUsbDevice(pci / "usb2/2-3", "8086", "0b07", "841612070512");
        WriteFile(pci / "usb2/2-3/2-3:1.0/bInterfaceClass", "0e\n");  // an interface: no identifiers
        fs::create_directories(devices);
        fs::create_directory_symlink(pci / "usb2", devices / "usb2");
        fs::create_directory_symlink(pci / "usb2/2-3", devices / "2-3");
        fs::create_directory_symlink(pci / "usb2/2-3/2-3:1.0", devices / "2-3:1.0");
        AddUsbDevice(devices / "1-4", "046d", "085b", "AB CD");  // a blank: not an instance identifier
        AddUsbDevice(devices / "1-2", "0bda", "5411");           // no serial number
    }

    test::TempFolder tree;
    fs::path devices = tree / "sys/bus/usb/devices";
    fs::path pci = tree / "sys/devices/pci0000:00/0000:00:14.0";
};

TEST_F(UsbTree, EveryDeviceGetsAPathInEntryOrder) {
    EXPECT_THAT(UsbPaths(tree.path()), ElementsAre(L"\\\\?\\usb#vid_0bda&pid_5411#1-2" + kUsbSuffix,
                                                   L"\\\\?\\usb#vid_046d&pid_085b#1-4" + kUsbSuffix,
                                                   L"\\\\?\\usb#vid_8086&pid_0b07#841612070512" + kUsbSuffix,
                                                   L"\\\\?\\usb#vid_1d6b&pid_0003#0000:00:14.0" + kUsbSuffix));
}

TEST_F(UsbTree, TheCameraIsFoundByItsNeedle) {
    EXPECT_TRUE(detail::FindDeviceInterfaceIn(tree.path(), kUsbDeviceInterfaceClass, kRealSenseDeviceNeedle));
    // The needle is searched among USB devices only.
    EXPECT_FALSE(detail::FindDeviceInterfaceIn(tree.path(), kMonitorInterfaceClass, kRealSenseDeviceNeedle));
    EXPECT_TRUE(detail::FindDeviceInterfaceIn(tree.path(), kUsbDeviceInterfaceClass, L"#841612070512#"));
    EXPECT_FALSE(detail::FindDeviceInterfaceIn(tree.path(), kUsbDeviceInterfaceClass, L"vid_8086&pid_0b08"));
}

TEST_F(UsbTree, UpperCaseIdentifiersDoNotMatch) {
    fs::remove_all(devices / "2-3");
    AddUsbDevice(devices / "3-1", "8086", "0B07", "841612070512");
    EXPECT_FALSE(detail::FindDeviceInterfaceIn(tree.path(), kUsbDeviceInterfaceClass, kRealSenseDeviceNeedle));
    EXPECT_TRUE(detail::FindDeviceInterfaceIn(tree.path(), kUsbDeviceInterfaceClass, L"vid_8086&pid_0B07"));
    // Nor does an upper-case needle find the lower-case identifiers sysfs writes.
    EXPECT_FALSE(detail::FindDeviceInterfaceIn(tree.path(), kUsbDeviceInterfaceClass, L"VID_046D"));
}

TEST_F(UsbTree, ADeviceWhoseDetailsCannotBeReadIsSkipped) {
    fs::remove(devices / "1-2/idProduct");
    fs::create_directory(devices / "1-2/idProduct");  // reading it fails
    WriteFile(devices / "1-4/idVendor", "");          // empty
    fs::remove(pci / "usb2/2-3/idVendor");            // missing behind the link
    EXPECT_THAT(UsbPaths(tree.path()), ElementsAre(L"\\\\?\\usb#vid_1d6b&pid_0003#0000:00:14.0" + kUsbSuffix));
    EXPECT_FALSE(detail::FindDeviceInterfaceIn(tree.path(), kUsbDeviceInterfaceClass, kRealSenseDeviceNeedle));
}

TEST_F(UsbTree, AnEmptyNeedleMatchesAnyDevice) {
    EXPECT_TRUE(detail::FindDeviceInterfaceIn(tree.path(), kUsbDeviceInterfaceClass, L""));
    fs::remove_all(tree / "sys");
    fs::create_directories(devices);
    EXPECT_FALSE(detail::FindDeviceInterfaceIn(tree.path(), kUsbDeviceInterfaceClass, L""));
}

TEST(DeviceTree, AMissingTreeOrAnUnknownClassHasNoInterfaces) {
    test::TempFolder tree;
    EXPECT_THAT(UsbPaths(tree / "absent"), IsEmpty());
    EXPECT_THAT(MonitorPaths(tree / "absent"), IsEmpty());
    AddUsbDevice(tree / "sys/bus/usb/devices/1-1", "8086", "0b07");
    const DeviceInterfaceClass unknown{0x4D36E96C, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
    EXPECT_THAT(os::ListDeviceInterfaces(unknown, tree.path()), IsEmpty());
    EXPECT_FALSE(detail::FindDeviceInterfaceIn(tree.path(), unknown, L""));
}

// Connectors of two graphics cards beside the cards' own entries.
class DrmTree : public ::testing::Test {
protected:
    void SetUp() override {
        AddConnector(drm, "card0-eDP-1", "connected", Edid("AUO", 0x2E9A));
        AddConnector(drm, "card0-HDMI-A-1", "disconnected", "");
        AddConnector(drm, "card1-DP-2", "connected", Edid("DEL", 0xA0C4) + std::string(128, '\x01'));
        WriteFile(drm / "card0/dev", "226:0\n");
        WriteFile(drm / "renderD128/dev", "226:128\n");
        WriteFile(drm / "version", "drm 1.1.0 20060810\n");
    }

    test::TempFolder tree;
    fs::path drm = tree / "sys/class/drm";
};

TEST_F(DrmTree, ConnectedMonitorsAreNamedByTheirEdid) {
    EXPECT_THAT(MonitorPaths(tree.path()), ElementsAre(L"\\\\?\\display#auo2e9a#card0-eDP-1" + kMonitorSuffix,
                                                       L"\\\\?\\display#dela0c4#card1-DP-2" + kMonitorSuffix));
    EXPECT_TRUE(detail::FindDeviceInterfaceIn(tree.path(), kMonitorInterfaceClass, kDisplayPanelDeviceNeedle));
    EXPECT_FALSE(detail::FindDeviceInterfaceIn(tree.path(), kUsbDeviceInterfaceClass, kDisplayPanelDeviceNeedle));
}

TEST_F(DrmTree, ThePanelIsMissedWhenDisconnectedOrUnreadable) {
    AddConnector(drm, "card0-eDP-1", "disconnected", Edid("AUO", 0x2E9A));
    EXPECT_FALSE(detail::FindDeviceInterfaceIn(tree.path(), kMonitorInterfaceClass, kDisplayPanelDeviceNeedle));

    AddConnector(drm, "card0-eDP-1", "connected", Edid("AUO", 0x2E9A, 100));  // truncated
    EXPECT_FALSE(detail::FindDeviceInterfaceIn(tree.path(), kMonitorInterfaceClass, kDisplayPanelDeviceNeedle));

    std::string corrupt = Edid("AUO", 0x2E9A);
    corrupt[3] = '\0';  // not an EDID header
    AddConnector(drm, "card0-eDP-1", "connected", corrupt);
    EXPECT_FALSE(detail::FindDeviceInterfaceIn(tree.path(), kMonitorInterfaceClass, kDisplayPanelDeviceNeedle));

    fs::remove(drm / "card0-eDP-1/edid");
    EXPECT_FALSE(detail::FindDeviceInterfaceIn(tree.path(), kMonitorInterfaceClass, kDisplayPanelDeviceNeedle));
    // The other monitor is still listed.
    EXPECT_THAT(MonitorPaths(tree.path()), ElementsAre(L"\\\\?\\display#dela0c4#card1-DP-2" + kMonitorSuffix));
}

TEST_F(DrmTree, AnotherPanelOfTheSameMakerDoesNotMatch) {
    AddConnector(drm, "card0-eDP-1", "connected", Edid("AUO", 0x2E9B));
    EXPECT_FALSE(detail::FindDeviceInterfaceIn(tree.path(), kMonitorInterfaceClass, kDisplayPanelDeviceNeedle));
    AddConnector(drm, "card0-eDP-1", "connected", Edid("AUO", 0x02E9));  // four digits, leading zero
    EXPECT_THAT(MonitorPaths(tree.path())[0], ::testing::HasSubstr(L"#auo02e9#"));
}

}  // namespace
