#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/exception.h"
#include "headTracking/engine/core/kalmanFilter.h"

using quilo::head::KalmanCoeffs;
using quilo::head::KalmanFilter;
using quilo::head::MovingPoint;
using ::testing::HasSubstr;

TEST(KalmanFilter, FirstUpdateAfterResetMovesByTheRestGain) {
    KalmanFilter f;
    f.Reset({0, 0, 0});
    KalmanCoeffs k;  // b = 0.1 on every axis
    f.Update(k, {10, 20, -30}, 2.0f);
    EXPECT_TRUE(f.valid);
    EXPECT_FLOAT_EQ(f.position.x, 1.0f);
    EXPECT_FLOAT_EQ(f.position.y, 2.0f);
    EXPECT_FLOAT_EQ(f.position.z, -3.0f);
    EXPECT_FLOAT_EQ(f.velocity.x, 0.5f);
    EXPECT_FLOAT_EQ(f.velocity.y, 1.0f);
    EXPECT_FLOAT_EQ(f.velocity.z, -1.5f);
}

TEST(KalmanFilter, FastAxesFollowTheMeasurementClosely) {
    KalmanFilter f;
    f.Reset({0, 0, 0});
    f.velocity = {100.0f, 0.0f, 0.0f};  // far above a = 0.02
    KalmanCoeffs k;
    f.Update(k, {150.0f, 0.0f, 0.0f}, 1.0f);
    // predicted 100, measurement 150: gain close to 1.
    EXPECT_NEAR(f.position.x, 150.0f, 0.01f);
}

TEST(KalmanFilter, ZeroIntervalChangesNothingEvenWhenInvalid) {
    KalmanFilter invalid;
    EXPECT_NO_THROW(invalid.Update(KalmanCoeffs{}, {1, 2, 3}, 0.0f));
    EXPECT_FALSE(invalid.valid);
    EXPECT_EQ(invalid.position, glm::vec3(0.0f));

    KalmanFilter f;
    f.Reset({1, 2, 3});
    f.velocity = {1, 1, 1};
    f.Update(KalmanCoeffs{}, {9, 9, 9}, 0.0f);
    EXPECT_EQ(f.position, glm::vec3(1, 2, 3));
    EXPECT_EQ(f.velocity, glm::vec3(1, 1, 1));
}

TEST(KalmanFilter, InvalidFiltersThrowWithTheirMessages) {
    KalmanFilter f;
    try {
        f.Predict(0.0f);
        FAIL();
    } catch (const quilo::Exception& e) {
        EXPECT_THAT(e.what(),
                    HasSubstr("[KalmanFilter] Predict failed: invalid instance in "
                              "quilo::head::KalmanFilter::Predict headTracking/engine/core/kalmanFilter.cpp:"));
    }
    try {
        f.Update(KalmanCoeffs{}, {}, 1.0f);
        FAIL();
    } catch (const quilo::Exception& e) {
        EXPECT_THAT(e.what(), HasSubstr("[KalmanFilter] Update failed: invalid instance in "
                                        "quilo::head::KalmanFilter::Update "));
    }
    f.Reset({4, 5, 6});
    f.Invalidate();
    EXPECT_EQ(f.position, glm::vec3(4, 5, 6));
    EXPECT_THROW(f.Predict(1.0f), quilo::Exception);
}

TEST(KalmanFilter, Prediction) {
    KalmanFilter f;
    f.Reset({1, 2, 3});
    EXPECT_EQ(f.Predict(0.0f), glm::vec3(1, 2, 3));
    MovingPoint p{{1, 2, 3}, {0.5f, 0, -1}};
    EXPECT_EQ(KalmanFilter::Predict(p, 2.0f), glm::vec3(2, 2, 1));
}

TEST(KalmanFilter, CopiesKeepValidity) {
    KalmanFilter a;
    a.Reset({1, 1, 1});
    KalmanFilter b = a;
    EXPECT_TRUE(b.valid);
    b.Update(KalmanCoeffs{}, {2, 2, 2}, 1.0f);
    EXPECT_EQ(a.position, glm::vec3(1, 1, 1));
}
