#include "common/rotation.h"

#include <cmath>

namespace quilo {

glm::mat3 GetRotationMatFromRodriguesNotation(const glm::vec3& r) {
    constexpr float kTiny = 1e-6f;
    // Written as !(|x| >= tiny) so that a NaN component counts as tiny.
    if (!(std::fabs(r.x) >= kTiny) && !(std::fabs(r.y) >= kTiny) && !(std::fabs(r.z) >= kTiny)) {
        return glm::mat3(1.0f);
    }
    const float length = std::sqrt(r.x * r.x + r.y * r.y + r.z * r.z);
    const glm::vec3 u = r / length;
    const float theta = -length * 0.0174532924f;
    const float s = std::sin(theta);
    const float c = std::cos(theta);
    const float k = 1.0f - c;

    glm::mat3 m;  // m[column][row]
    m[0][0] = 1.0f - k * (u.y * u.y + u.z * u.z);
    m[0][1] = s * u.z + k * u.x * u.y;
    m[0][2] = -s * u.y + k * u.x * u.z;
    m[1][0] = -s * u.z + k * u.x * u.y;
    m[1][1] = 1.0f - k * (u.x * u.x + u.z * u.z);
    m[1][2] = s * u.x + k * u.y * u.z;
    m[2][0] = s * u.y + k * u.x * u.z;
    m[2][1] = -s * u.x + k * u.y * u.z;
    m[2][2] = 1.0f - k * (u.x * u.x + u.y * u.y);
    return m;
}

bool epsilonEqual(const glm::mat3& a, const glm::mat3& b, float eps) {
    for (int column = 0; column < 3; ++column) {
        for (int row = 0; row < 3; ++row) {
            if (std::fabs(a[column][row] - b[column][row]) >= eps) return false;
        }
    }
    return true;
}

}  // namespace quilo
