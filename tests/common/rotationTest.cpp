#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "common/rotation.h"

using quilo::epsilonEqual;
using quilo::GetRotationMatFromRodriguesNotation;

TEST(Rotation, TinyVectorsGiveTheIdentity) {
    EXPECT_EQ(GetRotationMatFromRodriguesNotation({0, 0, 0}), glm::mat3(1.0f));
    EXPECT_EQ(GetRotationMatFromRodriguesNotation({5e-7f, -5e-7f, 0}), glm::mat3(1.0f));
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(GetRotationMatFromRodriguesNotation({nan, 0, 0}), glm::mat3(1.0f));
    // 1e-6 is not below the threshold: the general formula runs (and still
    // gives the identity up to rounding, not by the shortcut).
    auto m = GetRotationMatFromRodriguesNotation({1e-6f, 0, 0});
    EXPECT_TRUE(epsilonEqual(m, glm::mat3(1.0f), 1e-6f));
}

TEST(Rotation, NinetyDegreesAboutZRotatesByMinusNinety) {
    auto m = GetRotationMatFromRodriguesNotation({0, 0, 90});
    const glm::mat3 expected(glm::vec3(0, -1, 0), glm::vec3(1, 0, 0), glm::vec3(0, 0, 1));
    EXPECT_TRUE(epsilonEqual(m, expected, 1e-6f));
    // Applied to x it yields -y.
    glm::vec3 v = m * glm::vec3(1, 0, 0);
    EXPECT_NEAR(v.y, -1.0f, 1e-6f);
}

TEST(Rotation, PlusAndMinusHalfTurnAgree) {
    auto a = GetRotationMatFromRodriguesNotation({0, 0, 180});
    auto b = GetRotationMatFromRodriguesNotation({0, 0, -180});
    EXPECT_TRUE(epsilonEqual(a, b, 1e-6f));
    EXPECT_TRUE(epsilonEqual(a, glm::mat3(glm::vec3(-1, 0, 0), glm::vec3(0, -1, 0), glm::vec3(0, 0, 1)), 1e-6f));
}

TEST(Rotation, GeneralAxisIsOrthonormal) {
    auto m = GetRotationMatFromRodriguesNotation({10, -20, 30});
    EXPECT_TRUE(epsilonEqual(glm::transpose(m) * m, glm::mat3(1.0f), 1e-5f));
    EXPECT_NEAR(glm::determinant(m), 1.0f, 1e-5f);
}

TEST(EpsilonEqual, Bounds) {
    glm::mat3 a(1.0f);
    EXPECT_TRUE(epsilonEqual(a, a, 1e-9f));
    EXPECT_FALSE(epsilonEqual(a, a, 0.0f));
    glm::mat3 b = a;
    b[2][1] = 0.5f;
    EXPECT_FALSE(epsilonEqual(a, b, 0.5f));  // a difference equal to eps counts
    EXPECT_TRUE(epsilonEqual(a, b, 0.5001f));
    glm::mat3 n = a;
    n[1][1] = std::numeric_limits<float>::quiet_NaN();
    EXPECT_TRUE(epsilonEqual(a, n, 0.1f));
}
