#include "common/platform.h"

namespace quilo {

Platform::~Platform() = default;

}  // namespace quilo
