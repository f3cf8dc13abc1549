// Polls an engine's latest frame through the C interface and reads its
// tracking result, expecting both calls to succeed.
#pragma once

#include <gtest/gtest.h>

#include "headTracking/capi/quiloHeadTracking.h"

namespace quilo::test {

inline quilo_head_tracking_result_t PollResult(quilo_head_tracking_engine* engine) {
    quilo_head_tracking_frame* frame = nullptr;
    EXPECT_EQ(quiloHeadTrackingEngineGetLatestFrame(engine, &frame), 0);
    quilo_head_tracking_result_t result{};
    EXPECT_EQ(quiloHeadTrackingFrameGetTrackingResult(frame, &result), 0);
    quiloHeadTrackingFrameRelease(frame);
    return result;
}

}  // namespace quilo::test
