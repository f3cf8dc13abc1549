#include "headTracking/engine/core/kalmanFilter.h"

#include "common/exception.h"

namespace quilo::head {

void KalmanFilter::Reset(const glm::vec3& point) {
    position = point;
    velocity = glm::vec3(0.0f);
    valid = true;
}

void KalmanFilter::Update(const KalmanCoeffs& coeffs, const glm::vec3& z, float dt) {
    if (dt == 0.0f) return;
    if (!valid) QUILO_THROW("[KalmanFilter] Update failed: invalid instance");
    for (int k = 0; k < 3; ++k) {
        const float p = position[k];
        const float v = velocity[k];
        const float a = coeffs.a[k];
        const float b = coeffs.b[k];
        const float predicted = v * dt + p;
        const float correction = ((a * b * a + v * v) * (z[k] - predicted)) / (a * a + v * v);
        position[k] = predicted + correction;
        velocity[k] = correction / dt + v;
    }
}

glm::vec3 KalmanFilter::Predict(float dt) const {
    if (!valid) QUILO_THROW("[KalmanFilter] Predict failed: invalid instance");
    return velocity * dt + position;
}

glm::vec3 KalmanFilter::Predict(const MovingPoint& point, float dt) { return point.velocity * dt + point.position; }

}  // namespace quilo::head
