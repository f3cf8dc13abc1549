// Rotation helpers on glm 3 x 3 float matrices (column-major).
#pragma once

#include <glm/glm.hpp>

#include "common/export.h"

namespace quilo {

// The matrix of a rotation vector whose length is an angle in degrees: it
// rotates by minus that angle about the vector's direction. Vectors whose
// components are all below 1e-6 in magnitude give the identity.
QUILO_API glm::mat3 GetRotationMatFromRodriguesNotation(const glm::vec3& r);

// True when every element differs by less than eps (a NaN difference does not
// count as a difference).
QUILO_API bool epsilonEqual(const glm::mat3& a, const glm::mat3& b, float eps);

}  // namespace quilo
