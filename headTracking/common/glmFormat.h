// fmt formatters for the glm types the engine prints in its own log lines,
// in the records' text form. Internal: a host may format glm its own way, so
// these specialisations never reach an installed header.
#pragma once

#include <glm/glm.hpp>

#include "headTracking/common/format.h"

QUILO_DECLARE_FORMATTER(glm::vec3);
QUILO_DECLARE_FORMATTER(glm::mat3);
