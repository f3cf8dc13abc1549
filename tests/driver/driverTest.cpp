// The console program's exit codes: -1 without a camera, 0 after its ten
// iterations with the simulated device streaming.
#include <gtest/gtest.h>

#include "common/presence.h"
#include "support/process.h"

TEST(ConsoleProgram, ExitsWithMinusOneWithoutACamera) {
    if (quilo::isRealSenseConnected()) GTEST_SKIP() << "a RealSense camera is attached to this machine";
    // This build has no RealSense camera support, or no camera is attached.
    EXPECT_EQ(quilo::test::RunProgram(QUILO_DRIVER, {}, {}), 255);
}

TEST(ConsoleProgram, RunsItsTenIterationsWithTheSimulatedDevice) {
    EXPECT_EQ(quilo::test::RunProgram(QUILO_DRIVER_SIMULATED, {}, {}), 0);
}
