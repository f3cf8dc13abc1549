// Command-line settings and the progress bar's text.
#include "tools/replay/options.h"

#include <cmath>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/rotation.h"
#include "tools/replay/progressBar.h"

namespace quilo::replay {
namespace {

using ::testing::HasSubstr;

TEST(FilterSetting, ScalarAndVectorKeysChangeOnlyTheirField) {
    head::FilterProperties filter;
    ApplyFilterSetting(filter, "maxTrackGap=250.5");
    ApplyFilterSetting(filter, "angleYMax=-0.25");
    ApplyFilterSetting(filter, "kalman.b=0.2,0.3,1e-1");
    ApplyFilterSetting(filter, "mainFaceSkew=-10,0,5");
    EXPECT_EQ(filter.maxTrackGap, 250.5f);
    EXPECT_EQ(filter.angleYMax, -0.25f);
    EXPECT_EQ(filter.kalman.b, glm::vec3(0.2f, 0.3f, 0.1f));
    EXPECT_EQ(filter.mainFaceSkew, glm::vec3(-10.0f, 0.0f, 5.0f));
    const head::FilterProperties defaults;
    EXPECT_EQ(filter.bufferLim, defaults.bufferLim);
    EXPECT_EQ(filter.kalman.a, defaults.kalman.a);
    EXPECT_EQ(filter.mainFaceScale, defaults.mainFaceScale);
}

TEST(FilterSetting, MalformedSettingsThrowAndChangeNothing) {
    const struct {
        const char* setting;
        const char* message;
    } cases[] = {
        {"maxTrackGap", "expected KEY=VALUE"},
        {"maxTrackGap=", "\"\" is not a number"},
        {"maxTrackGap=fast", "\"fast\" is not a number"},
        {"maxTrackGap=12ms", "\"12ms\" is not a number"},
        {"maxTrackGap=1,2", "expected 1 number"},
        {"maxTrackGap=nan", "is not a number"},
        {"maxTrackGap=inf", "is not a number"},
        {"kalman.a=1,2", "expected 3 numbers"},
        {"kalman.a=1,,2", "\"\" is not a number"},
        {"speed=3", "unknown key \"speed\""},
    };
    for (const auto& c : cases) {
        head::FilterProperties filter;
        try {
            ApplyFilterSetting(filter, c.setting);
            ADD_FAILURE() << c.setting << " was taken";
        } catch (const std::invalid_argument& e) {
            EXPECT_THAT(e.what(), HasSubstr(c.message)) << c.setting;
        }
        EXPECT_EQ(filter.maxTrackGap, head::FilterProperties().maxTrackGap);
        EXPECT_EQ(filter.kalman.a, head::FilterProperties().kalman.a);
    }
}

TEST(CameraRotation, RotationVectorsAndMatrices) {
    EXPECT_EQ(CameraRotationFromValues({0, 0, 90}), GetRotationMatFromRodriguesNotation(glm::vec3(0, 0, 90)));
    // Nine values fill the matrix column by column.
    const glm::mat3 m = CameraRotationFromValues({1, 2, 3, 4, 5, 6, 7, 8, 9});
    EXPECT_EQ(m[0], glm::vec3(1, 2, 3));
    EXPECT_EQ(m[2], glm::vec3(7, 8, 9));
    EXPECT_THROW(CameraRotationFromValues({1, 2}), std::invalid_argument);
    EXPECT_THROW(CameraRotationFromValues({1, 2, 3, 4}), std::invalid_argument);
    EXPECT_THROW(CameraRotationFromValues({1, std::nanf(""), 3}), std::invalid_argument);
}

TEST(CameraPosition, ThreeFiniteNumbers) {
    EXPECT_EQ(CameraPositionFromValues({0, 150.5f, -2}), glm::vec3(0, 150.5f, -2));
    for (const std::vector<float>& values :
         {std::vector<float>{1, 2}, {1, 2, 3, 4}, {0, INFINITY, 0}, {-INFINITY, 0, 0}, {0, 0, NAN}}) {
        EXPECT_THROW(CameraPositionFromValues(values), std::invalid_argument) << values.size();
    }
}

TEST(ProgressBar, RendersShareOfFramesDone) {
    EXPECT_EQ(ProgressBar::Render("replay", 0, 4, 8), "replay [........] 0/4 (0 %)");
    EXPECT_EQ(ProgressBar::Render("replay", 1, 4, 8), "replay [##......] 1/4 (25 %)");
    EXPECT_EQ(ProgressBar::Render("replay", 4, 4, 8), "replay [########] 4/4 (100 %)");
    // More done than announced, or nothing to do, never overflows the bar.
    EXPECT_EQ(ProgressBar::Render("x", 9, 4, 4), "x [####] 9/4 (100 %)");
    EXPECT_EQ(ProgressBar::Render("x", 0, 0, 4), "x [####] 0/0 (100 %)");
}

}  // namespace
}  // namespace quilo::replay
