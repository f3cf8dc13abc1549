// The console program's exit codes: -1 without a camera, 0 after its ten
// iterations with the simulated device streaming.
#include <gtest/gtest.h>

#include "common/presence.h"
#include "support/process.h"
#include "support/system.h"

TEST(ConsoleProgram, ExitsWithMinusOneWithoutACamera) {
    if (quilo::isRealSenseConnected()) GTEST_SKIP() << "a RealSense camera is attached to this machine";
    // This build has no RealSense camera support, or no camera is attached.
    EXPECT_EQ(quilo::test::RunProgram(QUILO_DRIVER, {}, {}), quilo::test::ExitCodeOfMinusOne());
}

TEST(ConsoleProgram, RunsItsTenIterationsWithTheSimulatedDevice) {
    EXPECT_EQ(quilo::test::RunProgram(QUILO_DRIVER_SIMULATED, {}, {}), 0);
}
