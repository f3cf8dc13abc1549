// Command-line settings of the replay tool that need more than a number.
#pragma once

#include <string>
#include <vector>

#include <glm/glm.hpp>

#include "headTracking/common/types.h"

namespace quilo::replay {

// Applies one "KEY=VALUE" setting to `filter`. Keys are the filter's field
// names (restartThreshold, maxTrackGap, velDampingTime, minFitDist,
// maxFitDist, angleYMax, interocularDistanceMin, interocularDistanceMax,
// bufferLim) with one number each, and mainFaceSkew, mainFaceScale,
// kalman.a and kalman.b with three numbers separated by commas. Throws
// std::invalid_argument naming the setting when the key is unknown or the
// value is not the expected count of finite numbers; `filter` is then unchanged.
void ApplyFilterSetting(head::FilterProperties& filter, const std::string& setting);

// The camera rotation given on the command line: three numbers, a rotation
// vector whose length is an angle in degrees (as the engine's camera
// transform takes it), or nine, the matrix column by column. Throws
// std::invalid_argument for any other count or a value that is not finite.
glm::mat3 CameraRotationFromValues(const std::vector<float>& values);

// The camera position given on the command line: three finite numbers, mm.
// Throws std::invalid_argument for any other count or a value that is not
// finite.
glm::vec3 CameraPositionFromValues(const std::vector<float>& values);

// The names of the keys ApplyFilterSetting knows, for the help text.
std::string FilterSettingKeys();

}  // namespace quilo::replay
