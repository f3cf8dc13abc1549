// Follows one tracked point with a constant-velocity model and a per-axis,
// velocity-adaptive gain: the faster the point moves along an axis, the more a
// new measurement is trusted on that axis. Positions in mm, times in ms.
#pragma once

#include <glm/glm.hpp>

#include "common/export.h"
#include "headTracking/common/types.h"

namespace quilo::head {

// A plain value; the tracker copies filters between its lists. A
// default-constructed filter is invalid until Reset.
struct QUILO_API KalmanFilter {
    bool valid = false;
    glm::vec3 position{0.0f};
    glm::vec3 velocity{0.0f};

    // Starts at `point`, at rest.
    void Reset(const glm::vec3& point);
    // The position extrapolated by dt; throws quilo::Exception on an invalid filter.
    glm::vec3 Predict(float dt) const;
    // The same extrapolation for a point without a filter.
    static glm::vec3 Predict(const MovingPoint& point, float dt);
    // One correction step with measurement z. dt == 0 changes nothing; a
    // non-zero dt on an invalid filter throws quilo::Exception.
    void Update(const KalmanCoeffs& coeffs, const glm::vec3& z, float dt);
    void Invalidate() { valid = false; }
};

}  // namespace quilo::head
