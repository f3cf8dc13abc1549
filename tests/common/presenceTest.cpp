// The choice of the secondary monitor, and the helpers' agreement on the
// running machine.
#include <gtest/gtest.h>

#include <vector>

#include "common/presence.h"
#include "common/presenceDetail.h"
#include "headTracking/camera/cameraPresence.h"

using namespace quilo;
using os::DesktopMonitor;

namespace {

struct Corner {
    bool found;
    int x;
    int y;
};

Corner Choose(const std::vector<DesktopMonitor>& monitors) {
    Corner corner{false, 123, 456};  // stale values the call must overwrite
    corner.found = detail::NonPrimaryTopLeft(monitors, corner.x, corner.y);
    return corner;
}

const DesktopMonitor kPrimary{0, 0, 1920, 1080, true};

TEST(NonPrimaryMonitor, FewerThanTwoMonitorsGiveFalseAndTheOrigin) {
    for (const auto& monitors : {std::vector<DesktopMonitor>{}, std::vector<DesktopMonitor>{kPrimary},
                                 std::vector<DesktopMonitor>{{-800, 40, 0, 640, false}}}) {
        Corner corner = Choose(monitors);
        EXPECT_FALSE(corner.found);
        EXPECT_EQ(corner.x, 0);
        EXPECT_EQ(corner.y, 0);
    }
}

TEST(NonPrimaryMonitor, TheFirstNonPrimaryInListOrderIsTaken) {
    // A secondary left of and above the primary, listed before it.
    Corner corner = Choose({{-1280, -200, 0, 824, false}, kPrimary, {1920, 0, 3840, 1080, false}});
    EXPECT_TRUE(corner.found);
    EXPECT_EQ(corner.x, -1280);
    EXPECT_EQ(corner.y, -200);

    corner = Choose({kPrimary, {1920, 0, 3840, 1080, false}, {-1280, -200, 0, 824, false}});
    EXPECT_TRUE(corner.found);
    EXPECT_EQ(corner.x, 1920);
    EXPECT_EQ(corner.y, 0);
}

TEST(NonPrimaryMonitor, WithoutAPrimaryTheFirstMonitorIsTaken) {
    Corner corner = Choose({{1920, 0, 3840, 1080, false}, {0, 0, 1920, 1080, false}});
    EXPECT_TRUE(corner.found);
    EXPECT_EQ(corner.x, 1920);
    EXPECT_EQ(corner.y, 0);
}

TEST(NonPrimaryMonitor, OnlyPrimariesGiveFalseAndTheOrigin) {
    Corner corner = Choose({kPrimary, {1920, 10, 3840, 1090, true}});
    EXPECT_FALSE(corner.found);
    EXPECT_EQ(corner.x, 0);
    EXPECT_EQ(corner.y, 0);
}

TEST(Presence, TheCameraHelpersAgreeOnThisMachine) {
    const bool connected = isRealSenseConnected();
    EXPECT_EQ(head::IsRealsenseCameraConnected(), connected);
    EXPECT_EQ(head::IsCameraConnected(), connected);
    EXPECT_EQ(FindDeviceInterface(kUsbDeviceInterfaceClass, kRealSenseDeviceNeedle), connected);
    EXPECT_EQ(FindDeviceInterface(kMonitorInterfaceClass, kDisplayPanelDeviceNeedle), isMonitorConnected());
}

}  // namespace
