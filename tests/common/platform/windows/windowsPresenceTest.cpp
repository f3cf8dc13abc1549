// The device-interface and monitor lists as Windows gives them, checked
// against the presence helpers built on them. What is attached differs between
// machines, so every case holds for any machine; a machine with nothing
// attached (a build server, Wine) takes the "no device" and "one monitor" paths.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/platform/devices.h"
#include "common/presence.h"
#include "common/presenceDetail.h"

using namespace quilo;
using ::testing::StartsWith;

namespace {

// A class no device registers interfaces of.
constexpr DeviceInterfaceClass kUnknownClass{
    0x0BADF00D, 0x1234, 0x5678, {0x9A, 0xBC, 0xDE, 0xF0, 0x12, 0x34, 0x56, 0x78}};

TEST(WindowsDevices, DevicePathsAndTheSearchAgree) {
    for (const auto& interfaceClass : {kUsbDeviceInterfaceClass, kMonitorInterfaceClass, kUnknownClass}) {
        const auto paths = os::ListDeviceInterfaces(interfaceClass, os::SystemDeviceRoot());
        for (const std::wstring& path : paths) {
            EXPECT_THAT(path, StartsWith(LR"(\\?\)"));
        }
        // An empty needle matches any present interface, a needle in no path none.
        EXPECT_EQ(FindDeviceInterface(interfaceClass, L""), !paths.empty());
        EXPECT_FALSE(FindDeviceInterface(interfaceClass, L"#no-such-device#"));
    }
    EXPECT_TRUE(os::ListDeviceInterfaces(kUnknownClass, os::SystemDeviceRoot()).empty());
    EXPECT_FALSE(FindDeviceInterface(kUnknownClass, L""));
}

TEST(WindowsDevices, TheCameraAndPanelAnswersFollowTheLists) {
    auto listed = [](const DeviceInterfaceClass& c, std::wstring_view needle) {
        for (const std::wstring& path : os::ListDeviceInterfaces(c, os::SystemDeviceRoot()))
            if (path.find(needle) != std::wstring::npos) return true;
        return false;
    };
    EXPECT_EQ(isRealSenseConnected(), listed(kUsbDeviceInterfaceClass, kRealSenseDeviceNeedle));
    EXPECT_EQ(isMonitorConnected(), listed(kMonitorInterfaceClass, kDisplayPanelDeviceNeedle));
}

TEST(WindowsMonitors, TheDesktopHasOnePrimaryAndTheCornerFollowsTheList) {
    const auto monitors = os::ListDesktopMonitors();
    ASSERT_FALSE(monitors.empty()) << "a desktop always has a monitor";
    int primaries = 0;
    for (const auto& monitor : monitors) {
        primaries += monitor.primary ? 1 : 0;
        EXPECT_LT(monitor.left, monitor.right);
        EXPECT_LT(monitor.top, monitor.bottom);
        if (monitor.primary) {
            // The primary monitor's top-left corner is the desktop's origin.
            EXPECT_EQ(monitor.left, 0);
            EXPECT_EQ(monitor.top, 0);
        }
    }
    EXPECT_EQ(primaries, 1);

    int x = 123, y = 456;
    int expectedX = 0, expectedY = 0;
    const bool expected = detail::NonPrimaryTopLeft(monitors, expectedX, expectedY);
    EXPECT_EQ(GetNonPrimaryDisplayTopLeftCoordinate(x, y), expected);
    EXPECT_EQ(x, expectedX);
    EXPECT_EQ(y, expectedY);
    if (monitors.size() == 1) {
        EXPECT_FALSE(expected);
        EXPECT_EQ(x, 0);
        EXPECT_EQ(y, 0);
    }
}

}  // namespace
